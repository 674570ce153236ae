#include "ravelin/protocols/cfflsh.h"

#include <cstring>

#include "ravelin/protocols/proto_answers.h"
#include "ravelin/protocols/proto_port.h"
#include "ravelin/support/log.h"

namespace {

const char *const kModule = "cfflsh";
const char kEnterDownload[] = "AT**\r";
constexpr long kAfterBlockMs = 35;
constexpr long kAroundEndMs = 500;
constexpr int kUploadSeconds = 10;

struct CfSession {
    UrsPort port{};
    DeviceUpdate *pUpdate = nullptr;
    osfl_Handle hImage = osfl_kInvalidHandle;
    CfWork work{};

    int finish(int nResult)
    {
        if (hImage != osfl_kInvalidHandle)
            osfl_Close(hImage);
        if (pUpdate != nullptr)
            flsh_NoteLineLost(pUpdate, &port);
        urs_ClosePort(&port);
        return nResult;
    }
};

int blockSizeOf(std::uint32_t flags)
{
    return (flags & FLF_DOT_BLOCK_128) != 0 ? cfflsh_kLargeBlock : cfflsh_kSmallBlock;
}

// Reads the whole image once the way the transfer will and rewinds it. The device programs blocks as
// they come, so a record found unreadable half-way would leave it with half an image.
bool imageReadable(CfWork *pWork, osfl_Handle hImage, int nBlockSize)
{
    cfflsh_ResetReader(pWork);
    int nFilled;
    while ((nFilled = cfflsh_FillBlock(pWork, hImage, nBlockSize)) > 0) {
    }
    osfl_Seek(hImage, 0, osfl_kSeekStart);
    return nFilled == 0;
}

// Download mode by a power cycle: the user is asked to switch the device off and on, and its boot
// code says a dot. 0, or the result that ends the update.
int enterByPowerCycle(UrsPort *pPort, DeviceUpdate *pUpdate, ProgressCallback pfnProgress)
{
    log_Write(__LINE__, kModule, "Tell the user to cycle power");
    if (!pfnProgress(pUpdate, flsh_cReboot, 0, 0))
        return FR_ABORTED;
    log_Write(__LINE__, kModule, "Try to get the dot");
    int nAnswer = GetDot(pPort, cfflsh_kPowerCycleSeconds);
    if (nAnswer != CF_DOT)
        return nAnswer;
    log_Write(__LINE__, kModule, "We GOT the dot");
    return pfnProgress(pUpdate, flsh_cProgramStart, 0, 0) ? 0 : FR_ABORTED;
}

// Download mode by command: "AT**\r", the banner and the boot code's dot (only the dot at a fixed
// speed). 0, or the result that ends the update.
int enterByCommand(UrsPort *pPort, DeviceUpdate *pUpdate, ProgressCallback pfnProgress)
{
    if (!pfnProgress(pUpdate, flsh_cProgramStart, 0, 0))
        return FR_ABORTED;
    if (!pUpdate->fixedSpeed) {
        int nWritten = urs_PutString(pPort, kEnterDownload);
        if (nWritten != URS_OK)
            return nWritten;
        if (cfflsh_WaitUpload(pPort) != CF_BANNER)
            return FR_PORT_OPEN_FAILED;
    }
    int nAnswer = GetDot(pPort, cfflsh_kBlockDotSeconds);
    return nAnswer == CF_DOT ? 0 : nAnswer;
}

} // namespace

int GetDot(UrsPort *pPort, int nSeconds)
{
    const char *const apszAnswers[] = {".", "ERROR"};
    switch (proto_WaitForAnswer(pPort, nSeconds, apszAnswers, 2)) {
    case 0:
        log_Write(__LINE__, kModule, "Got the DOT");
        return CF_DOT;
    case 1:
        log_Write(__LINE__, kModule, "Error in GetDot");
        return CF_ERROR;
    default:
        log_Write(__LINE__, kModule, "Timeout in GetDot");
        return CF_NO_ANSWER;
    }
}

int cfflsh_WaitUpload(UrsPort *pPort)
{
    const char *const apszAnswers[] = {"UPLOAD FILE\r\n"};
    if (proto_WaitForAnswer(pPort, kUploadSeconds, apszAnswers, 1) != 0)
        return CF_NO_ANSWER;
    log_Write(__LINE__, kModule, "Got UPLOAD FILE");
    return CF_BANNER;
}

void cfflsh_ResetReader(CfWork *pWork)
{
    pWork->lineBuffer.nRemaining = 0;
    pWork->lineBuffer.nPosition = 0;
    pWork->addressState.nValue = 0;
    pWork->addressState.nKind = 0;
    pWork->nPending = 0;
    pWork->nPendingPosition = 0;
    pWork->bEnded = false;
}

int cfflsh_FillBlock(CfWork *pWork, osfl_Handle hImage, int nBlockSize)
{
    if (nBlockSize != cfflsh_kSmallBlock && nBlockSize != cfflsh_kLargeBlock)
        return -1;
    std::memset(pWork->abBlock, 0, sizeof pWork->abBlock);
    int nFilled = 0;
    while (nFilled < nBlockSize) {
        if (pWork->nPending == 0) {
            if (pWork->bEnded)
                break;
            char szLine[cfflsh_kLineLen];
            int nRead = os_ReadNextLine(hImage, szLine, sizeof szLine, &pWork->lineBuffer);
            if (nRead < 0)
                return -1;
            if (nRead == 0) {
                pWork->bEnded = true;
                break;
            }
            HexRecord *pRecord = &pWork->record;
            // A record whose checksum does not add up would go to the device as wrong firmware.
            if (!parseHexRecord(&pWork->addressState, szLine, pRecord) ||
                !hexRecordChecksumOk(&pWork->addressState, pRecord) || pRecord->nType > 5)
                return -1;
            if (pRecord->nType == 1) {
                pWork->bEnded = true;
                break;
            }
            // Only data records carry image bytes: addresses (2, 4) and start addresses (3, 5) do not.
            if (pRecord->nType != 0 || pRecord->nCount <= 0)
                continue;
            pWork->nPending = pRecord->nCount;
            pWork->nPendingPosition = 0;
        }
        int nTake = nBlockSize - nFilled;
        if (nTake > pWork->nPending)
            nTake = pWork->nPending;
        std::memcpy(pWork->abBlock + nFilled, pWork->record.abData + pWork->nPendingPosition,
                    static_cast<std::size_t>(nTake));
        nFilled += nTake;
        pWork->nPending -= nTake;
        pWork->nPendingPosition += nTake;
    }
    return nFilled == 0 ? 0 : nBlockSize;
}

int cfflsh_SendImage(CfWork *pWork, UrsPort *pPort, osfl_Handle hImage, std::uint32_t flags,
                     ProgressCallback pfnProgress)
{
    DeviceUpdate *pOwner = pWork->pOwner;
    const int nBlockSize = blockSizeOf(flags);
    const long nImageSize = osfl_Size(hImage);
    cfflsh_ResetReader(pWork);
    std::int32_t nPercent = 0;
    int nLastLength = 0;
    bool bLastAcknowledged = false;
    std::uint8_t abWire[1 + cfflsh_kLargeBlock + 1];

    for (;;) {
        int nFilled = cfflsh_FillBlock(pWork, hImage, nBlockSize);
        if (nFilled < 0)
            return FR_BAD_HEX;
        if (nFilled == 0)
            break;
        nLastLength = nFilled;
        bLastAcknowledged = false;
        long nWire = 0;
        abWire[nWire++] = 'W';
        std::memcpy(abWire + nWire, pWork->abBlock, static_cast<std::size_t>(nFilled));
        nWire += nFilled;
        if ((flags & FLF_DOT_TRAILER) != 0)
            abWire[nWire++] = cfflsh_kTrailer;

        for (int nTry = 0; nTry < cfflsh_kTries && !bLastAcknowledged; ++nTry) {
            if (urs_PutBlock(pPort, abWire, nWire) == URS_OK)
                urs_SleepMs(kAfterBlockMs);
            else if (!pfnProgress(pOwner, flsh_cDataSendError, nPercent, 0))
                return FR_ABORTED;
            int nAnswer = GetDot(pPort, cfflsh_kBlockDotSeconds);
            if (nAnswer == CF_NO_ANSWER)
                return FR_TIMEOUT;
            if (nAnswer == CF_DOT) {
                long nPosition = osfl_Tell(hImage);
                if (nImageSize > 0 && nPosition >= 0)
                    nPercent = static_cast<std::int32_t>(nPosition * 100 / nImageSize);
                if (!pfnProgress(pOwner, flsh_cProgramming, nPercent, 0))
                    return FR_ABORTED;
                bLastAcknowledged = true;
            } else if (!pfnProgress(pOwner, flsh_cBlockRejected, 0, 0)) {
                return FR_ABORTED;
            }
            os_yield();
        }
        if (!bLastAcknowledged)
            return FR_VERIFY_FAILED;
    }

    urs_SleepMs(kAroundEndMs);
    abWire[0] = 'E';
    std::memcpy(abWire + 1, pWork->abBlock, static_cast<std::size_t>(nLastLength));
    urs_PutBlock(pPort, abWire, 1 + nLastLength);
    urs_SleepMs(kAroundEndMs);
    if (!bLastAcknowledged) {
        log_Write(__LINE__, kModule, "<%s> The image holds no data", flsh_PortDisplayName(pOwner));
        return FR_VERIFY_FAILED;
    }
    return pfnProgress(pOwner, flsh_cProgramDone, 100, 0) ? FR_SUCCESSFUL : FR_ABORTED;
}

int cfflsh_Flash(ProgressCallback pfnProgress, DeviceUpdate *pUpdate)
{
    const char *pszPort = flsh_PortDisplayName(pUpdate);
    CfSession session;
    session.pUpdate = pUpdate;
    session.work.pOwner = pUpdate;
    if (proto_OpenPort(&session.port, pUpdate, kModule) != 0)
        return FR_PORT_OPEN_FAILED;

    if (!pUpdate->noProgramming) {
        session.hImage = osfl_Open(pUpdate->szImagePath, osfl_kRead);
        if (session.hImage == osfl_kInvalidHandle)
            return session.finish(FR_HEX_OPEN_FAILED);
        log_Write(__LINE__, kModule, "<%s> File opened", pUpdate->szImagePath);
        if (!imageReadable(&session.work, session.hImage, blockSizeOf(pUpdate->flags))) {
            log_Write(__LINE__, kModule, "<%s> Bad record in %s", pszPort, pUpdate->szImagePath);
            return session.finish(FR_BAD_HEX);
        }
    }
    urs_SetUart(&session.port, 115200, 8, 0, 0, 1);
    // The boot code always downloads at 115200 baud: the record tells the speed the update ran at.
    pUpdate->nSpeed = 115200;
    // Without programming there is no image to send: download mode is not entered, the device would
    // be left waiting in it.
    if (pUpdate->noProgramming)
        return session.finish(FR_SUCCESSFUL);

    int nResult = (pUpdate->flags & FLF_POWER_CYCLE) != 0 ? enterByPowerCycle(&session.port, pUpdate, pfnProgress)
                                                          : enterByCommand(&session.port, pUpdate, pfnProgress);
    if (nResult != 0)
        return session.finish(nResult);
    log_Write(__LINE__, kModule, "Download the file");
    return session.finish(cfflsh_SendImage(&session.work, &session.port, session.hImage, pUpdate->flags, pfnProgress));
}
