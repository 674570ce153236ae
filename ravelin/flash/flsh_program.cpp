// Programming the sorted image: cutting it into blocks the loader can program directly, sending
// them with "ATFLP", and the check of the whole image before the device is touched.
#include <algorithm>
#include <cstring>
#include <new>

#include "ravelin/flash/flsh.h"
#include "ravelin/support/log.h"

namespace {

constexpr int kPromptTimeoutS = 10;
constexpr int kBlockTimeoutS = 10;
constexpr int kAttemptsPerBlock = 3;
constexpr long kEndPauseMs = 500;
constexpr long kPiecePauseMs = 35;   // multi-port cards need a pause between pieces

// Reads the next record of the sorted image into the work area's pending bytes. Returns 1 with a
// data record pending (or the end record seen: pending count -1), 0 on a bad image.
int readPending(FlshWork *pWork, osfl_Handle hImage)
{
    for (;;) {
        char szLine[flsh_kImageLineLen];
        int nRead = os_ReadTextLine(hImage, szLine, flsh_kImageLineLen, &pWork->lineBuffer);
        if (nRead < 0)
            return 0;
        if (nRead == 0)
            szLine[0] = '\0';  // end of file without an end record: no record, a bad image
        if (!parseHexRecord(&pWork->addressState, szLine, &pWork->record))
            return 0;
        if (pWork->record.nType == hex_kEndOfFile) {
            pWork->nPendingCount = -1;
            return 1;
        }
        if (pWork->record.nType != hex_kData || pWork->record.nCount == 0)
            continue;
        pWork->nPendingCount = pWork->record.nCount;
        pWork->nPendingAddress = pWork->record.nAddress;
        pWork->nPendingPosition = 0;
        return 1;
    }
}

// Position of the next unread byte of the image (what the progress percentage is taken from).
long consumedPosition(const FlshWork *pWork, osfl_Handle hImage)
{
    long nPosition = osfl_Tell(hImage);
    return nPosition < 0 ? 0 : nPosition - pWork->lineBuffer.nRemaining;
}

bool cancelled(ProgressCallback pfnProgress, DeviceUpdate *pUpdate, int nStatus, std::int32_t nValue,
               std::uint32_t nAddress)
{
    return pfnProgress(pUpdate, nStatus, nValue, static_cast<std::intptr_t>(nAddress)) == 0;
}

// Waits up to 10 s for the loader's "G"; other bytes are skipped.
bool waitForPrompt(UrsPort *pPort)
{
    urs_StartTimer(pPort, kPromptTimeoutS);
    bool bPrompt = false;
    for (;;) {
        int nByte = urs_GetChar(pPort);
        if (nByte == 'G') {
            bPrompt = true;
            break;
        }
        if (nByte == URS_TIMEOUT || (nByte == URS_IO_ERROR && urs_TimerExpired(pPort)))
            break;
        if (nByte == URS_IO_ERROR)
            urs_SleepMs(10);
    }
    urs_StopTimer(pPort);
    return bPrompt;
}

} // namespace

void flsh_ResetImageReader(FlshWork *pWork)
{
    pWork->nPendingCount = 0;
    pWork->nPendingAddress = 0;
    pWork->nPendingPosition = 0;
    pWork->addressState = HexAddressState{0, 0};
    pWork->lineBuffer.nRemaining = 0;
    pWork->lineBuffer.nPosition = 0;
    pWork->nBlockLength = 0;
    pWork->nBlockAddress = 0;
    pWork->nBlockChecksum = 0;
}

int flsh_BuildBlock(FlshWork *pWork, osfl_Handle hImage, int nBlockSize, std::uint32_t flags)
{
    const std::uint32_t nSize = static_cast<std::uint32_t>(std::min(nBlockSize, flsh_kBlockSize));
    std::memset(pWork->abBlock, 0xFF, nSize);
    std::uint32_t nLength = 0;
    std::uint32_t nLimit = nSize;

    while (pWork->nPendingCount != -1 && nLength < nLimit) {
        if (pWork->nPendingCount == 0) {
            if (!readPending(pWork, hImage))
                return -1;
            if (pWork->nPendingCount == -1)
                break;
        }
        std::uint32_t nStart = pWork->nPendingAddress;
        if (nLength == 0) {
            pWork->nBlockAddress = nStart & ~(flsh_kBlockAlign - 1);
            std::uint32_t nToBoundary = flsh_kSectorSpan - (pWork->nBlockAddress % flsh_kSectorSpan);
            nLimit = std::min(nSize, nToBoundary);
        } else {
            // Bytes below the block start end the block (a later base reaching back). Bytes that
            // start inside what the block already holds (records with equal or overlapping
            // addresses) stay in it: sent as a block of their own they would wipe the rest of
            // that 128-byte line on the device with 0xFF.
            if (nStart < pWork->nBlockAddress)
                break;
            std::uint32_t nFromStart = nStart - pWork->nBlockAddress;
            std::uint32_t nEnd = pWork->nBlockAddress + nLength;
            if (nFromStart > nSize || (nStart > nEnd && nStart - nEnd > flsh_kBlockAlign))
                break;
            if (nFromStart >= nLimit) {
                nLength = nLimit;
                break;
            }
        }
        std::uint32_t nOffset = nStart - pWork->nBlockAddress;
        std::uint32_t nCopy = std::min(static_cast<std::uint32_t>(pWork->nPendingCount), nLimit - nOffset);
        std::memcpy(pWork->abBlock + nOffset, pWork->record.abData + pWork->nPendingPosition, nCopy);
        // An overlapping record must not shorten the block: the bytes past it are still to be sent.
        nLength = std::max(nLength, nOffset + nCopy);
        pWork->nPendingAddress += nCopy;
        pWork->nPendingPosition += static_cast<std::int32_t>(nCopy);
        pWork->nPendingCount -= static_cast<std::int32_t>(nCopy);
    }

    nLength = (nLength + flsh_kBlockAlign - 1) & ~(flsh_kBlockAlign - 1);
    if ((flags & FLF_BOOT_JUMP) && nLength > 0 && pWork->nBlockAddress == 0) {
        pWork->abBlock[0] = 0xC3;
        pWork->abBlock[1] = 0x00;
        pWork->abBlock[2] = 0x01;
    }
    std::uint8_t nChecksum = 0;
    for (std::uint32_t i = 0; i < nLength; ++i)
        nChecksum ^= pWork->abBlock[i];
    pWork->nBlockChecksum = nChecksum;
    pWork->nBlockLength = static_cast<std::int32_t>(nLength);
    return static_cast<int>(nLength);
}

int flsh_ProgramImage(UrsPort *pPort, FlshWork *pWork, osfl_Handle hImage, int nBlockSize,
                      ProgressCallback pfnProgress)
{
    DeviceUpdate *pUpdate = pWork->pOwner;
    const std::uint32_t flags = pUpdate->flags;
    long nFileSize = osfl_Size(hImage);
    if (nFileSize <= 0)
        nFileSize = 1;
    flsh_ResetImageReader(pWork);
    std::int32_t nPercent = 0;

    for (;;) {
        int nLength = flsh_BuildBlock(pWork, hImage, nBlockSize, flags);
        if (nLength < 0)
            return FR_BAD_HEX;
        std::uint32_t nAddress = pWork->nBlockAddress;
        if (nLength == 0) {
            urs_SleepMs(kEndPauseMs);
            urs_PutString(pPort, "ATFLEND\r");
            urs_SleepMs(kEndPauseMs);
            pUpdate->nHighestBlockAddress = nAddress;
            return cancelled(pfnProgress, pUpdate, flsh_cProgramDone, 100, nAddress) ? FR_ABORTED : FR_SUCCESSFUL;
        }

        int nRejected = 0;
        for (;;) {
            urs_PutString(pPort, "ATFLP\r");
            if (!waitForPrompt(pPort)) {
                if (cancelled(pfnProgress, pUpdate, flsh_cNoPrompt, nPercent, nAddress))
                    return FR_ABORTED;
                return FR_TIMEOUT;
            }

            urs_StartTimer(pPort, kBlockTimeoutS);
            std::uint8_t abHeader[6];
            int nHeader = 0;
            abHeader[nHeader++] = static_cast<std::uint8_t>(nLength >> 8);
            abHeader[nHeader++] = static_cast<std::uint8_t>(nLength);
            if (flags & FLF_ADDR32)
                abHeader[nHeader++] = static_cast<std::uint8_t>(nAddress >> 24);
            abHeader[nHeader++] = static_cast<std::uint8_t>(nAddress >> 16);
            abHeader[nHeader++] = static_cast<std::uint8_t>(nAddress >> 8);
            abHeader[nHeader++] = static_cast<std::uint8_t>(nAddress);
            if (urs_PutBlock(pPort, abHeader, nHeader) != URS_OK) {
                if (cancelled(pfnProgress, pUpdate, flsh_cHeaderSendError, nPercent, nAddress))
                    return FR_ABORTED;
            } else {
                const bool bPieces = (flags & (FLF_CARD_128 | FLF_CARD_256)) != 0;
                const int nPiece = (flags & FLF_CARD_128) ? 128 : (flags & FLF_CARD_256) ? 256 : nLength;
                int nWrite = URS_OK;
                for (int nSent = 0; nSent < nLength; nSent += nPiece) {
                    nWrite = urs_PutBlock(pPort, pWork->abBlock + nSent, std::min(nPiece, nLength - nSent));
                    if (!bPieces)
                        break;
                    urs_SleepMs(kPiecePauseMs);
                    if (nWrite != URS_OK && cancelled(pfnProgress, pUpdate, flsh_cDataSendError, nPercent, nAddress))
                        return FR_ABORTED;
                }
                if (nWrite == URS_OK) {
                    urs_PutChar(pPort, static_cast<std::uint8_t>(pWork->nBlockChecksum));
                    urs_StopTimer(pPort);
                } else if (cancelled(pfnProgress, pUpdate, flsh_cDataSendError, nPercent, nAddress)) {
                    return FR_ABORTED;
                }
            }

            int nAnswer = flsh_WaitOkOrError(pPort);
            if (nAnswer == 0) {
                nPercent = static_cast<std::int32_t>(static_cast<long long>(consumedPosition(pWork, hImage)) * 100 /
                                                     nFileSize);
                if (cancelled(pfnProgress, pUpdate, flsh_cProgramming, nPercent, nAddress))
                    return FR_ABORTED;
                break;
            }
            if (nAnswer == 1)
                return FR_TIMEOUT;
            if (cancelled(pfnProgress, pUpdate, flsh_cBlockRejected, nPercent, nAddress))
                return FR_ABORTED;
            if (++nRejected == kAttemptsPerBlock)
                return FR_VERIFY_FAILED;
        }
    }
}

bool flsh_CheckImage(osfl_Handle hImage)
{
    os_LineBuffer *pBuffer = new os_LineBuffer;
    pBuffer->nRemaining = 0;
    pBuffer->nPosition = 0;
    HexAddressState state{0, 0};
    HexRecord record{};
    bool bSound = false;
    for (;;) {
        char szLine[flsh_kImageLineLen];
        int nRead = os_ReadTextLine(hImage, szLine, flsh_kImageLineLen, pBuffer);
        if (nRead <= 0)
            break;  // a read error, an over-long line, or no end record before the end of the file
        if (hex_CheckRecordLine(&state, szLine, &record) != hex_kImageSound)
            break;
        if (record.nType == hex_kEndOfFile) {
            bSound = true;
            break;
        }
    }
    delete pBuffer;
    return bSound;
}
