#include "ravelin/protocols/siemensflsh.h"

#include "ravelin/protocols/proto_answers.h"
#include "ravelin/protocols/proto_port.h"
#include "ravelin/support/log.h"

namespace {

const char *const kModule = "siemensflsh";
const char kEnterDownload[] = "AT^SFDL\r";

struct SiemensSession {
    UrsPort port{};
    DeviceUpdate *pUpdate = nullptr;
    osfl_Handle hFile = osfl_kInvalidHandle;

    int finish(int nResult)
    {
        if (hFile != osfl_kInvalidHandle)
            osfl_Close(hFile);
        if (pUpdate != nullptr)
            flsh_NoteLineLost(pUpdate, &port);
        urs_ClosePort(&port);
        return nResult;
    }
};

// Reads up to nCount bytes; the count read (fewer only at the end of the file), or -1.
int readBytes(osfl_Handle hFile, std::uint8_t *pBuffer, int nCount)
{
    int nDone = 0;
    while (nDone < nCount) {
        int nRead = osfl_Read(hFile, pBuffer + nDone, nCount - nDone);
        if (nRead < 0)
            return -1;
        if (nRead == 0)
            break;
        nDone += nRead;
    }
    return nDone;
}

// Sends "AT^SFDL\r" at one speed and waits for the module's answer: a SIEMENS_MODE_ code, or the
// serial layer's negative result when the command could not be written.
int enterDownloadMode(UrsPort *pPort, DeviceUpdate *pUpdate, std::uint32_t nBaud)
{
    urs_SetUart(pPort, nBaud, 8, 0, 0, 1);
    // The module downloads at the speed it entered download mode at, whatever was asked for: the
    // record tells the speed the update really ran at.
    pUpdate->nSpeed = static_cast<std::int32_t>(nBaud);
    int nWritten = urs_PutString(pPort, kEnterDownload);
    if (nWritten != URS_OK)
        return nWritten;
    return siemensflsh_WaitMode(pPort);
}

// After download mode was entered the module says 0x01 once it is ready for the first block. A
// module that never does must not hold the update for ever: a few long waits, with the user's cancel
// honoured between them. 0, FR_ABORTED or SIEMENS_NO_ANSWER.
int waitReady(UrsPort *pPort, DeviceUpdate *pUpdate, ProgressCallback pfnProgress)
{
    for (int nWait = 0; nWait < siemensflsh_kReadyWaits; ++nWait) {
        if (nWait > 0 && !pfnProgress(pUpdate, flsh_cProgramStart, 0, 0))
            return FR_ABORTED;
        if (siemensflsh_WaitBlock(pPort) == SIEMENS_BLOCK_OK)
            return 0;
    }
    log_Write(__LINE__, kModule, "<%s> The module did not get ready for the download", flsh_PortDisplayName(pUpdate));
    return SIEMENS_NO_ANSWER;
}

} // namespace

int siemensflsh_WaitMode(UrsPort *pPort)
{
    const char *const apszAnswers[] = {"OK\r\n", "RETRY", "FATAL", "BUSY"};
    int nSeen = proto_WaitForAnswer(pPort, siemensflsh_kModeSeconds, apszAnswers, 4);
    return nSeen < 0 ? SIEMENS_NO_ANSWER : nSeen + 1;
}

int siemensflsh_WaitBlock(UrsPort *pPort)
{
    const char *const apszAnswers[] = {"\x01", "\x02", "\x03", "\x04"};
    int nSeen = proto_WaitForAnswer(pPort, siemensflsh_kBlockSeconds, apszAnswers, 4);
    return nSeen < 0 ? SIEMENS_NO_ANSWER : nSeen + 1;
}

bool siemensflsh_CheckFile(osfl_Handle hFile)
{
    bool bSound = true;
    std::uint8_t abBlock[siemensflsh_kBlockBuffer];
    for (;;) {
        std::uint8_t nLength = 0;
        int nRead = readBytes(hFile, &nLength, 1);
        if (nRead <= 0) {
            bSound = nRead == 0;
            break;
        }
        if (nLength >= siemensflsh_kBlockBuffer) {
            bSound = false;
            break;
        }
        nRead = readBytes(hFile, abBlock, nLength);
        if (nRead < 0)
            bSound = false;
        if (nRead < nLength)
            break;
    }
    osfl_Seek(hFile, 0, osfl_kSeekStart);
    return bSound;
}

int siemensflsh_SendFile(SiemensWork *pWork, UrsPort *pPort, osfl_Handle hFile, ProgressCallback pfnProgress)
{
    DeviceUpdate *pOwner = pWork->pOwner;
    const long nSize = osfl_Size(hFile);
    std::int32_t nPercent = 0;
    long nNotAccepted = 0;
    for (long nBlock = 0;; ++nBlock) {
        if (nBlock % 1000 == 0)
            os_yield();
        std::uint8_t nLength = 0;
        int nRead = readBytes(hFile, &nLength, 1);
        if (nRead < 0)
            return FR_BAD_HEX;
        if (nRead == 0)
            break;
        if (nLength >= siemensflsh_kBlockBuffer)
            return FR_BAD_HEX;  // the file changed since it was checked
        nRead = readBytes(hFile, pWork->abBlock, nLength);
        if (nRead < 0)
            return FR_BAD_HEX;
        if (nRead < nLength)
            break;  // a last length byte without its data ends the file

        int nAnswer;
        do {
            if (urs_PutBlock(pPort, &nLength, 1) != URS_OK ||
                (nLength > 0 && urs_PutBlock(pPort, pWork->abBlock, nLength) != URS_OK)) {
                log_Write(__LINE__, kModule, "Error:  PutBlock <block %ld, %d bytes>", nBlock + 1, nLength);
                return pfnProgress(pOwner, flsh_cBlockRejected, nPercent, 0) ? FR_VERIFY_FAILED : FR_ABORTED;
            }
            while ((nAnswer = siemensflsh_WaitBlock(pPort)) == SIEMENS_BLOCK_WAIT) {
                // A module that keeps asking for time must not keep a cancelled update.
                if (!pfnProgress(pOwner, flsh_cProgramming, nPercent, 0))
                    return FR_ABORTED;
            }
            if (nAnswer == SIEMENS_BLOCK_AGAIN && !pfnProgress(pOwner, flsh_cProgramming, nPercent, 0))
                return FR_ABORTED;
        } while (nAnswer == SIEMENS_BLOCK_AGAIN);

        if (nAnswer != SIEMENS_BLOCK_OK) {
            // The next block follows as the module expects, but the update cannot end as a success.
            ++nNotAccepted;
            log_Write(__LINE__, kModule, "<%s> Block %ld not accepted (%s)", flsh_PortDisplayName(pOwner), nBlock + 1,
                      nAnswer == SIEMENS_BLOCK_FAILED ? "0x03" : "no answer");
        }
        long nPosition = osfl_Tell(hFile);
        if (nSize > 0 && nPosition >= 0)
            nPercent = static_cast<std::int32_t>(nPosition * 100 / nSize);
        if (!pfnProgress(pOwner, flsh_cProgramming, nPercent, 0))
            return FR_ABORTED;
    }
    if (nNotAccepted > 0) {
        log_Write(__LINE__, kModule, "<%s> %ld blocks were not accepted", flsh_PortDisplayName(pOwner), nNotAccepted);
        return FR_VERIFY_FAILED;
    }
    return pfnProgress(pOwner, flsh_cProgramDone, 100, 0) ? FR_SUCCESSFUL : FR_ABORTED;
}

int siemensflsh_Flash(ProgressCallback pfnProgress, DeviceUpdate *pUpdate)
{
    const char *pszPort = flsh_PortDisplayName(pUpdate);
    SiemensSession session;
    session.pUpdate = pUpdate;
    if (proto_OpenPort(&session.port, pUpdate, kModule) != 0)
        return FR_PORT_OPEN_FAILED;

    if (!pUpdate->noProgramming) {
        session.hFile = osfl_Open(pUpdate->szImagePath, osfl_kRead);
        if (session.hFile == osfl_kInvalidHandle)
            return session.finish(FR_HEX_OPEN_FAILED);
        log_Write(__LINE__, kModule, "<%s> File opened", pUpdate->szImagePath);
        // The module takes blocks as they are read: a block the buffer cannot hold, found half-way,
        // would leave it with half a firmware.
        if (!siemensflsh_CheckFile(session.hFile)) {
            log_Write(__LINE__, kModule, "<%s> %s is unreadable or holds a block of 128 bytes or more", pszPort,
                      pUpdate->szImagePath);
            return session.finish(FR_BAD_HEX);
        }
    }
    urs_SetUart(&session.port, 115200, 8, 0, 0, 1);
    // Without programming there is no file to send: download mode is not entered, the module would
    // be left waiting in it.
    if (pUpdate->noProgramming)
        return session.finish(FR_SUCCESSFUL);

    if (!pfnProgress(pUpdate, flsh_cProgramStart, 0, 0))
        return session.finish(FR_ABORTED);
    int nMode = enterDownloadMode(&session.port, pUpdate, 115200);
    if (nMode < 0)
        return session.finish(nMode);
    if (nMode != SIEMENS_MODE_OK) {
        log_Write(__LINE__, kModule, "<%s> Answer %d at 115200 baud, trying 57600", pszPort, nMode);
        nMode = enterDownloadMode(&session.port, pUpdate, 57600);
        if (nMode < 0)
            return session.finish(nMode);
        if (nMode != SIEMENS_MODE_OK)
            return session.finish(nMode);
    }
    int nResult = waitReady(&session.port, pUpdate, pfnProgress);
    if (nResult != 0)
        return session.finish(nResult);
    SiemensWork work;
    work.pOwner = pUpdate;
    return session.finish(siemensflsh_SendFile(&work, &session.port, session.hFile, pfnProgress));
}
