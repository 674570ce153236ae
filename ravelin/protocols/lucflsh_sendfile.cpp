// lucflsh_SendFile: one loader or image file, line by line, each line acknowledged before the next.
#include <cstring>

#include "ravelin/protocols/lucflsh.h"
#include "ravelin/support/log.h"

namespace {

const char kModule[] = "lucflsh";

// Lines between two calls of os_yield.
constexpr long kYieldEvery = 1000;
// Pause between writing a line and waiting for its answer.
constexpr long kLinePauseMs = 8;

// Room for the longest prefix, a line and its CR LF.
constexpr int kSendCapacity = lucflsh_kLineCapacity + 8;

const char *answerName(int nAnswer)
{
    switch (nAnswer) {
    case lucflsh_cNok1: return "NOK1";
    case lucflsh_cNok2: return "NOK2";
    case lucflsh_cNok3: return "NOK3";
    case lucflsh_cNok4: return "NOK4";
    default: return "?";
    }
}

// Writes one line; on a failure reports status 7. Returns 0 when written, 1 when the write failed,
// FR_ABORTED when the user cancelled at that report.
int writeLine(UrsPort *pPort, const char *pszLine, int nLength, DeviceUpdate *pOwner, ProgressCallback pfnProgress,
              int nPercent, long nLine)
{
    log_Write(__LINE__, kModule, "Before urs_PutBlock, nBytesToWrite %d", nLength);
    int nRet = urs_PutBlock(pPort, pszLine, nLength);
    log_Write(__LINE__, kModule, "After urs_PutBlock, nRet %d", nRet);
    if (nRet == URS_OK)
        return 0;
    log_Write(__LINE__, kModule, "Error:  PutBlock <%s>\n", pPort->szName);
    if (!pfnProgress(pOwner, flsh_cBlockRejected, nPercent, static_cast<std::intptr_t>(nLine)))
        return FR_ABORTED;
    return 1;
}

// What recoverRejectedLine returns for a line the device gave up (NOK1, NOK4): the transfer goes on
// as the device expects, but the device does not hold that line.
constexpr int kLineGivenUp = -1;

// The device rejected an image line. After NOK2 and NOK3 it wants the line again: up to four writes,
// each followed by a wait for a plain "OK". After NOK1 and NOK4 the transfer goes on with the next
// line. Returns 0 to go on, kLineGivenUp, FR_VERIFY_FAILED or FR_ABORTED.
int recoverRejectedLine(UrsPort *pPort, const char *pszLine, int nLength, long nLine, int nAnswer,
                        DeviceUpdate *pOwner, ProgressCallback pfnProgress, int nPercent)
{
    if (!pfnProgress(pOwner, flsh_cBlockRejected, nPercent, static_cast<std::intptr_t>(nLine)))
        return FR_ABORTED;
    if (nAnswer == lucflsh_cNok1 || nAnswer == lucflsh_cNok4) {
        log_Write(__LINE__, kModule, "Line %ld answered %s, going on with the next line", nLine, answerName(nAnswer));
        return kLineGivenUp;
    }
    log_Write(__LINE__, kModule, "Line %ld answered %s, sending it again", nLine, answerName(nAnswer));
    for (int nTry = 1; nTry <= lucflsh_kResendTries; ++nTry) {
        int nWrite = writeLine(pPort, pszLine, nLength, pOwner, pfnProgress, nPercent, nLine);
        if (nWrite == FR_ABORTED)
            return FR_ABORTED;
        if (nWrite != 0) {
            log_Write(__LINE__, kModule, "Line %ld could not be sent again", nLine);
            return FR_VERIFY_FAILED;
        }
        urs_SleepMs(kLinePauseMs);
        if (lucflsh_WaitOK(pPort, lucflsh_kResendTimeout) == 0) {
            log_Write(__LINE__, kModule, "Line %ld accepted after %d resend(s)", nLine, nTry);
            return 0;
        }
        log_Write(__LINE__, kModule, "Line %ld not accepted on resend %d", nLine, nTry);
    }
    log_Write(__LINE__, kModule, "Line %ld still rejected after %d resends", nLine, lucflsh_kResendTries);
    return FR_VERIFY_FAILED;
}

// Waits for a loader line's answer; on time-out the line goes out again (at most three times).
// Returns 0 when acknowledged, FR_TIMEOUT when not, FR_ABORTED.
int awaitLoaderLine(UrsPort *pPort, const char *pszLine, int nLength, long nLine, char *pszVersion,
                    DeviceUpdate *pOwner, ProgressCallback pfnProgress, int nPercent)
{
    int nResult = GetOKorNOKx(pPort, lucflsh_kLoaderLineTimeout, pszVersion);
    log_Write(__LINE__, kModule, "After GetOKorNOKx, nResult %d", nResult);
    for (int nTry = 0; nResult == lucflsh_cNoAnswer && nTry < lucflsh_kLoaderRetries; ++nTry) {
        log_Write(__LINE__, kModule, "Timeout sending the block try again.");
        if (writeLine(pPort, pszLine, nLength, pOwner, pfnProgress, nPercent, nLine) == FR_ABORTED)
            return FR_ABORTED;
        urs_SleepMs(kLinePauseMs);
        nResult = GetOKorNOKx(pPort, lucflsh_kLoaderLineTimeout, pszVersion);
        log_Write(__LINE__, kModule, "After GetOKorNOKx, nResult %d", nResult);
    }
    if (nResult != lucflsh_cAcknowledged) {
        log_Write(__LINE__, kModule, "Loader line %ld not acknowledged (%d)", nLine, nResult);
        return FR_TIMEOUT;
    }
    return 0;
}

// Waits for an image line's answer, once more after a time-out, and recovers a rejected line.
// Returns 0, kLineGivenUp, or the result that ends the transfer.
int awaitImageLine(UrsPort *pPort, const char *pszLine, int nLength, long nLine, int nTimeout, char *pszVersion,
                   DeviceUpdate *pOwner, ProgressCallback pfnProgress, int nPercent)
{
    int nResult = GetOKorNOKx(pPort, nTimeout, pszVersion);
    log_Write(__LINE__, kModule, "After GetOKorNOKx, nResult %d", nResult);
    if (nResult == lucflsh_cNoAnswer) {
        log_Write(__LINE__, kModule, "Timeout getting response for %s, Try again.", pszLine);
        nResult = GetOKorNOKx(pPort, nTimeout, pszVersion);
        log_Write(__LINE__, kModule, "After GetOKorNOKx, nResult %d", nResult);
        if (nResult == lucflsh_cNoAnswer) {
            log_Write(__LINE__, kModule, "Timeout getting response for %s.", pszLine);
            return FR_TIMEOUT;
        }
    }
    if (nResult == lucflsh_cAcknowledged)
        return 0;
    return recoverRejectedLine(pPort, pszLine, nLength, nLine, nResult, pOwner, pfnProgress, nPercent);
}

} // namespace

const char *lucflsh_LoaderPrefix(int nVariant)
{
    switch (nVariant) {
    case 1: return "at&&w";
    case 2: return "at&&z";
    default: return "at&&f";
    }
}

int lucflsh_SendFile(DeviceUpdate *pOwner, UrsPort *pPort, proto_LineFile *pFile, int nKind, char *pszVersion,
                     ProgressCallback pfnProgress, int nVariant)
{
    const bool bLoader = nKind == lucflsh_kLoaderFile;
    const int nStatus = bLoader ? flsh_cProgramLoader : flsh_cProgramming;
    const char *pszPrefix = bLoader ? lucflsh_LoaderPrefix(nVariant) : "";

    log_Write(__LINE__, kModule, "Timeout time %d\n", bLoader ? lucflsh_kLoaderLineTimeout : lucflsh_kEraseTimeout);
    log_Write(__LINE__, kModule, "FileLength %ld\n", pFile->nSize);
    if (!pfnProgress(pOwner, nStatus, 0, 0))
        return FR_ABORTED;
    if (!proto_RewindLineFile(pFile))
        return FR_BAD_HEX;

    int nPercent = 0;
    long nLine = 0;
    long nGivenUp = 0;
    for (;;) {
        if (nLine % kYieldEvery == 0) {
            log_Write(__LINE__, kModule, "Call os_yield");
            os_yield();
        }
        char szRead[lucflsh_kLineCapacity];
        std::memset(szRead, 0, sizeof szRead);
        log_Write(__LINE__, kModule, "Before os_ReadNextLine");
        int nRead = proto_ReadLine(pFile, szRead, lucflsh_kLineCapacity);
        if (nRead < 0)
            return FR_BAD_HEX;
        if (nRead == 0)
            break;
        log_Write(__LINE__, kModule, "After os_ReadNextLine, nRead %d", nRead);
        ++nLine;

        char *pLineFeed = std::strchr(szRead, '\n');
        if (pLineFeed != nullptr)
            *pLineFeed = '\0';
        char szLine[kSendCapacity];
        int nLength = std::snprintf(szLine, sizeof szLine, "%s%s\r\n", pszPrefix, szRead);
        if (nLength < 0 || nLength >= static_cast<int>(sizeof szLine))
            return FR_BAD_HEX;  // cannot happen: the buffer holds the longest line the reader hands out

        int nWrite = writeLine(pPort, szLine, nLength, pOwner, pfnProgress, nPercent, nLine);
        if (nWrite == FR_ABORTED)
            return FR_ABORTED;
        urs_SleepMs(kLinePauseMs);

        int nAnswer;
        if (bLoader) {
            nAnswer = awaitLoaderLine(pPort, szLine, nLength, nLine, pszVersion, pOwner, pfnProgress, nPercent);
        } else {
            int nTimeout = nLine <= 2 ? lucflsh_kEraseTimeout : lucflsh_kImageLineTimeout;
            nAnswer = awaitImageLine(pPort, szLine, nLength, nLine, nTimeout, pszVersion, pOwner, pfnProgress, nPercent);
        }
        if (nAnswer == kLineGivenUp)
            ++nGivenUp;
        else if (nAnswer != 0)
            return nAnswer;

        nPercent = proto_LinePercent(pFile);
        log_Write(__LINE__, kModule, "Percent Done %d", nPercent);
        if (!pfnProgress(pOwner, nStatus, nPercent, 0))
            return FR_ABORTED;
        log_Flush();
    }

    log_Write(__LINE__, kModule, "**** We are done reading the file ****");
    // The device went on after each line it gave up, but it does not hold them: the image is not
    // in its flash as sent, and that must not read as a success.
    if (nGivenUp > 0) {
        log_Write(__LINE__, kModule, "%ld line(s) given up by the device: the update failed", nGivenUp);
        return FR_VERIFY_FAILED;
    }
    log_Write(__LINE__, kModule, "**** Percent %d ****", nPercent);
    log_Write(__LINE__, kModule, "We are done, set percent to 100 and status to flsh_cProgramDone");
    if (!pfnProgress(pOwner, flsh_cProgramDone, 100, 0))
        return FR_ABORTED;
    log_Write(__LINE__, kModule, "The device is flashed");
    os_yield();
    return 0;
}
