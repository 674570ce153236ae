// Writes and reads. Each OS transfer waits in poll() for at most its allowance (the rest of the
// running deadline, or a fixed allowance without one) and is then logged with a dump of its bytes.
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>

#include "ravelin/serial/urs_dump.h"
#include "ravelin/serial/urs_internal.h"
#include "ravelin/serial/urswin32.h"
#include "ravelin/support/log.h"

namespace {

// How long urs_CharsWaiting blocks when nothing is waiting. A byte that arrives ends the wait at once,
// so the slice only sets how often a caller's loop turns while the line is silent. Without a deadline
// that is a few milliseconds. While a deadline runs the loop can only end with a byte or with the
// deadline, and the slice never runs past the deadline, so a longer one delays nothing; it is what
// keeps 36 ports waiting for answers from costing processor time (every turn is a thread wake-up).
const int kIdleSliceMs = 5;
const int kDeadlineSliceMs = 100;

int PollTimeout(std::int64_t nLeftMs)
{
    if (nLeftMs <= 0)
        return 0;
    return nLeftMs > INT_MAX ? INT_MAX : static_cast<int>(nLeftMs);
}

// The line's error query: whether the driver answers at all (1/0) and its error mask. Line errors
// (framing, parity, overrun) arrive in the data stream on this system, so the mask is always 0.
int QueryLineErrors(int hPort, unsigned long *pnMask)
{
    int nWaiting = 0;
    *pnMask = 0;
    return ioctl(hPort, FIONREAD, &nWaiting) == 0 ? 1 : 0;
}

// One OS write: writes as many of the nCount bytes as the line takes before nEndMs. Returns false
// with *pnError set when the write fails (a hung-up line gives EIO); *pnWritten counts the bytes
// written either way.
bool WriteUntil(int hPort, const unsigned char *pData, long nCount, std::int64_t nEndMs, long *pnWritten,
                int *pnError)
{
    *pnWritten = 0;
    // The port is non-blocking and a line of a dialogue nearly always fits the driver's buffer at
    // once: write first and poll only when the line backs up.
    bool bTryFirst = true;
    while (*pnWritten < nCount) {
        if (!bTryFirst) {
            struct pollfd pfd = {hPort, POLLOUT, 0};
            int nReady = poll(&pfd, 1, PollTimeout(nEndMs - urs_NowMs()));
            if (nReady < 0) {
                if (errno == EINTR)
                    continue;
                *pnError = errno;
                return false;
            }
            if (nReady == 0)
                return true;  // the allowance ran out: a partial (or empty) write
            if (pfd.revents & POLLNVAL) {
                *pnError = EBADF;
                return false;
            }
        }
        bTryFirst = false;
        // Writable, or hung up: the write itself tells which.
        ssize_t nDone = write(hPort, pData + *pnWritten, static_cast<std::size_t>(nCount - *pnWritten));
        if (nDone > 0) {
            *pnWritten += nDone;
            bTryFirst = true;  // the driver took bytes: it may take the rest at once too
        } else if (nDone < 0 && errno != EAGAIN && errno != EINTR) {
            *pnError = errno;
            return false;
        } else if (urs_NowMs() >= nEndMs) {
            return true;
        }
    }
    return true;
}

enum ReadOutcome { kReadByte, kReadTimedOut, kReadFailed };

// One OS read into the port's empty read-ahead: outcome of a read that takes whatever is waiting.
// kReadTimedOut when nothing is waiting (EAGAIN).
ReadOutcome ReadAhead(UrsPort *pPort, int *pnError)
{
    ssize_t nDone;
    do
        nDone = read(pPort->hPort, pPort->achInput, sizeof pPort->achInput);
    while (nDone < 0 && errno == EINTR);
    if (nDone > 0) {
        pPort->nInputNext = 0;
        pPort->nInputEnd = static_cast<int>(nDone);
        return kReadByte;
    }
    if (nDone == 0) {
        *pnError = EIO;  // end of file: the other side of the line has gone
        return kReadFailed;
    }
    if (errno == EAGAIN)
        return kReadTimedOut;
    *pnError = errno;
    return kReadFailed;
}

// Fills the port's empty read-ahead with what the line brings first, waiting at most until nEndMs.
ReadOutcome FillInputUntil(UrsPort *pPort, std::int64_t nEndMs, int *pnError)
{
    // An answer usually arrives whole while the reader is still busy with what came before: try the
    // read before polling. One read then takes the whole answer.
    ReadOutcome outcome = ReadAhead(pPort, pnError);
    while (outcome == kReadTimedOut) {
        struct pollfd pfd = {pPort->hPort, POLLIN, 0};
        int nReady = poll(&pfd, 1, PollTimeout(nEndMs - urs_NowMs()));
        if (nReady < 0) {
            if (errno == EINTR)
                continue;
            *pnError = errno;
            return kReadFailed;
        }
        if (nReady == 0)
            return kReadTimedOut;
        if (pfd.revents & POLLNVAL) {
            *pnError = EBADF;
            return kReadFailed;
        }
        outcome = ReadAhead(pPort, pnError);
        if (outcome == kReadTimedOut && urs_NowMs() >= nEndMs)
            return kReadTimedOut;
    }
    return outcome;
}

bool InputBuffered(const UrsPort *pPort)
{
    return pPort->nInputNext < pPort->nInputEnd;
}

// Errors that mean the line itself has gone (a hang-up, an unplugged adapter), not one failed
// transfer. End of file on a read is reported as EIO.
bool IsHangUp(int nError)
{
    return nError == EIO || nError == ENXIO || nError == ENODEV;
}

void NoteLineLost(UrsPort *pPort, int nError)
{
    if (!IsHangUp(nError) || pPort->bLineLost)
        return;
    pPort->bLineLost = 1;
    log_Write(__LINE__, URS_MODULE, "<%s>: the line was lost (hung up)", pPort->szName);
    log_Flush();
}

}  // namespace

int urs_LineLost(const UrsPort *pPort)
{
    return pPort != nullptr && pPort->bLineLost ? 1 : 0;
}

int urs_PutBlock(UrsPort *pPort, const void *pData, long nCount)
{
    DBG_ASSERT(pPort != nullptr, URS_MODULE);
    DBG_ASSERT(nCount >= 0 && (pData != nullptr || nCount == 0), URS_MODULE);
    if (pPort == nullptr || nCount < 0 || (pData == nullptr && nCount != 0))
        return URS_IO_ERROR;

    const unsigned char *pBytes = static_cast<const unsigned char *>(pData);
    long nLeft = nCount;
    char szDump[urs_kDumpCapacity];
    for (;;) {
        long nAllowance = 0;
        if (!urs_SetTransferTimeouts(pPort, &nAllowance)) {
            log_Write(__LINE__, URS_MODULE, "Timeout when setting comm timeouts");
            log_Flush();
            return URS_TIMEOUT;
        }

        long nWritten = 0;
        int nError = 0;
        if (!WriteUntil(pPort->hPort, pBytes, nLeft, urs_NowMs() + nAllowance, &nWritten, &nError)) {
            unsigned long nMask = 0;
            int nQueried = QueryLineErrors(pPort->hPort, &nMask);
            log_Write(__LINE__, URS_MODULE, "<%s>:  Write File Error (%d, %8.8lx, %8.8lx)", pPort->szName,
                      nQueried, nMask, static_cast<unsigned long>(nError));
            log_Write(__LINE__, URS_MODULE, "<%s>:  Write File Error %ld of %ld bytes written", pPort->szName,
                      nWritten, nLeft);
            log_Flush();
            NoteLineLost(pPort, nError);
            return URS_IO_ERROR;
        }

        if (log_IsEnabled()) {
            log_Write(__LINE__, URS_MODULE, "<%s>:[%ld, %ld], Data = [%s]", pPort->szName, nLeft, nWritten,
                      urs_DumpBytes(pBytes, nLeft, szDump));
            log_Flush();
        }
        if (nWritten == nLeft)
            return URS_OK;

        // Nothing at all went out in a whole allowance without a deadline (flow control held, or
        // nobody reads the other end): retrying would wait forever, so the write fails instead.
        if (nWritten == 0 && !urs_DeadlineRunning(pPort)) {
            log_Write(__LINE__, URS_MODULE, "<%s>:  Write File Error (%d, %8.8lx, %8.8lx)", pPort->szName, 1,
                      0UL, static_cast<unsigned long>(ETIMEDOUT));
            log_Write(__LINE__, URS_MODULE, "<%s>:  Write File Error %ld of %ld bytes written", pPort->szName,
                      0L, nLeft);
            log_Flush();
            return URS_IO_ERROR;
        }
        pBytes += nWritten;
        nLeft -= nWritten;
    }
}

int urs_PutChar(UrsPort *pPort, std::uint8_t nByte)
{
    return urs_PutBlock(pPort, &nByte, 1);
}

int urs_PutString(UrsPort *pPort, const char *pszText)
{
    DBG_ASSERT(pszText != nullptr, URS_MODULE);
    if (pszText == nullptr)
        return URS_IO_ERROR;
    return urs_PutBlock(pPort, pszText, static_cast<long>(std::strlen(pszText)));
}

int urs_GetChar(UrsPort *pPort)
{
    DBG_ASSERT(pPort != nullptr, URS_MODULE);
    if (pPort == nullptr)
        return URS_IO_ERROR;

    // A passed deadline refuses the read even when bytes were read ahead: they stay for a later
    // read, as they would in the driver's queue.
    long nAllowance = 0;
    if (!urs_SetTransferTimeouts(pPort, &nAllowance))
        return URS_TIMEOUT;

    ReadOutcome outcome = kReadByte;
    std::int64_t nEnd = 0;
    if (!InputBuffered(pPort)) {
        nEnd = urs_NowMs() + nAllowance;
        int nError = 0;
        outcome = FillInputUntil(pPort, nEnd, &nError);
        if (outcome == kReadFailed) {
            unsigned long nMask = 0;
            int nQueried = QueryLineErrors(pPort->hPort, &nMask);
            log_Write(__LINE__, URS_MODULE, "Read File Error (%d, %8.8lx, %8.8lx)", nQueried, nMask,
                      static_cast<unsigned long>(nError));
            log_Flush();
            NoteLineLost(pPort, nError);
            // A hung-up line fails every read at once, and answer loops go on reading after an I/O
            // error until their deadline. Waiting out the allowance here turns what would be
            // thousands of failing reads and log lines into one.
            urs_WaitUntil(nEnd);
            return URS_IO_ERROR;
        }
    }

    unsigned char nByte = 0;
    if (outcome == kReadByte)
        nByte = pPort->achInput[pPort->nInputNext++];
    if (log_IsEnabled()) {
        char szDump[urs_kDumpCapacity];
        log_Write(__LINE__, URS_MODULE, "<%s>, [%ld], pData [%s]", pPort->szName, 1L,
                  urs_DumpBytes(&nByte, 1, szDump));
        log_Flush();
    }
    return outcome == kReadByte ? static_cast<int>(nByte) : URS_TIMEOUT;
}

int urs_GetBlock(UrsPort *pPort, void *pBuffer, long nCount)
{
    DBG_ASSERT(pBuffer != nullptr && nCount >= 0, URS_MODULE);
    if (pBuffer == nullptr || nCount < 0)
        return URS_IO_ERROR;
    unsigned char *pBytes = static_cast<unsigned char *>(pBuffer);
    for (long i = 0; i < nCount; ++i) {
        int nResult = urs_GetChar(pPort);
        if (nResult < 0) {
            pBytes[i] = '\0';
            return nResult;
        }
        pBytes[i] = static_cast<unsigned char>(nResult);
    }
    pBytes[nCount] = '\0';
    return URS_OK;
}

int urs_GetCharTimed(UrsPort *pPort, int nSeconds)
{
    urs_StartTimer(pPort, nSeconds);
    int nResult = urs_GetChar(pPort);
    urs_StopTimer(pPort);
    return nResult;
}

int urs_GetBlockTimed(UrsPort *pPort, void *pBuffer, long nCount, int nSeconds)
{
    urs_StartTimer(pPort, nSeconds);
    int nResult = urs_GetBlock(pPort, pBuffer, nCount);
    urs_StopTimer(pPort);
    return nResult;
}

int urs_CharsWaiting(UrsPort *pPort)
{
    DBG_ASSERT(pPort != nullptr, URS_MODULE);
    if (pPort == nullptr)
        return 0;
    if (InputBuffered(pPort))
        return 1;

    // Whatever the driver holds is read ahead at once, so that the urs_GetChar that follows costs
    // no system call. A failed read says nothing here: the next urs_GetChar reports it.
    int nError = 0;
    if (pPort->hPort >= 0 && ReadAhead(pPort, &nError) == kReadByte)
        return 1;

    // Nothing yet: wait a slice for a byte, ending no later than the running deadline so that the
    // caller sees the expiry on time (one millisecond past it, as expiry is "elapsed > length").
    std::int64_t nSlice = kIdleSliceMs;
    if (urs_DeadlineRunning(pPort)) {
        std::int64_t nLeft = pPort->nDeadlineMs - urs_ElapsedMs(pPort) + 1;
        if (nLeft > 0)
            nSlice = nLeft < kDeadlineSliceMs ? nLeft : kDeadlineSliceMs;
    }
    std::int64_t nEnd = urs_NowMs() + nSlice;
    if (pPort->hPort >= 0) {
        struct pollfd pfd = {pPort->hPort, POLLIN, 0};
        int nReady = poll(&pfd, 1, PollTimeout(nSlice));
        if (nReady > 0 && (pfd.revents & POLLIN) && ReadAhead(pPort, &nError) == kReadByte)
            return 1;
    }
    // A hung-up or closed port makes poll() return at once; the slice is waited out all the same, so
    // that a caller looping on this call never spins.
    urs_WaitUntil(nEnd);
    return 0;
}
