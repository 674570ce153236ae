// Answer waits of identification: one command and its answer up to "OK\r\n" (devid_SendCommand),
// and the multi-line "ATI1\r" answer (devid_ReadATI1).
#include <cstring>

#include "ravelin/ident/devid.h"
#include "ravelin/ident/devid_answer.h"
#include "ravelin/serial/urswin32.h"
#include "ravelin/support/oswin32.h"

using devid_detail::Ati1Answer;
using devid_detail::CommandAnswer;

namespace {

// A read error does not end an answer wait (the device may recover within the deadline); pausing a
// moment keeps a line that keeps failing from turning the wait into a busy loop.
constexpr long kReadErrorPauseMs = 10;

// What one pass of an answer wait gives besides a byte (0-255).
constexpr int kNothingYet = -100; // nothing waiting, or a read error that was paused over
constexpr int kAborted = -101;    // the callback asked to stop
constexpr int kExpired = -102;    // the deadline ran out
constexpr int kReadTimeout = -103;

// One pass of an answer wait: the callback for its stage, the deadline, then one byte when one is
// waiting. urs_CharsWaiting blocks for a few milliseconds when nothing is waiting, so a loop over
// this does not spin.
int NextAnswerByte(UrsPort *pPort, IdentifyCallback pfnCallback, DeviceUpdate *pUser, int nStage)
{
    os_yield();
    if (pfnCallback && pfnCallback(pUser, nStage) == 0) return kAborted;
    if (urs_TimerExpired(pPort)) return kExpired;
    if (!urs_CharsWaiting(pPort)) return kNothingYet;
    int nByte = urs_GetChar(pPort);
    if (nByte == URS_TIMEOUT) return kReadTimeout;
    if (nByte < 0) {
        urs_SleepMs(kReadErrorPauseMs);
        return kNothingYet;
    }
    return nByte;
}

} // namespace

void devid_detail::AppendBounded(char *pszText, int nSize, const char *pszTail)
{
    if (nSize <= 0) return;
    std::size_t nLength = std::strlen(pszText);
    while (*pszTail && nLength + 1 < static_cast<std::size_t>(nSize)) pszText[nLength++] = *pszTail++;
    pszText[nLength] = '\0';
}

int devid_SendCommand(UrsPort *pPort, char *pszAnswer, int nAnswerSize, int nTimeout, IdentifyCallback pfnCallback,
                      DeviceUpdate *pUser, const char *pszCommand, int bFirstLineOnly)
{
    CommandAnswer answer(pszAnswer, nAnswerSize, bFirstLineOnly != 0);
    urs_StartTimer(pPort, nTimeout);
    if (urs_PutString(pPort, pszCommand) != URS_OK) {
        urs_StopTimer(pPort);
        return 0;
    }

    while (!answer.Done()) {
        int nByte = NextAnswerByte(pPort, pfnCallback, pUser, devid_kStageWaiting);
        if (nByte == kNothingYet) continue;
        if (nByte < 0) {
            urs_StopTimer(pPort);
            // A full answer is whatever came before the time ran out (devices that end it without OK).
            return (nByte == kExpired && !bFirstLineOnly) ? 1 : 0;
        }
        answer.Feed(nByte);
    }
    urs_StopTimer(pPort);
    if (nAnswerSize > 0) os_TrimInPlace(pszAnswer);
    return 1;
}

int devid_ReadATI1(UrsPort *pPort, char *pszVersion, char *pszCountry, char *pszSpecialBuild, int nTimeout,
                   IdentifyCallback pfnCallback, DeviceUpdate *pUser)
{
    Ati1Answer answer(pszVersion, pszCountry, pszSpecialBuild);
    urs_StartTimer(pPort, nTimeout);
    if (urs_PutString(pPort, "ATI1\r") != URS_OK) {
        urs_StopTimer(pPort);
        return 0;
    }
    while (!answer.Done()) {
        int nByte = NextAnswerByte(pPort, pfnCallback, pUser, devid_kStageAti1);
        if (nByte == kNothingYet) continue;
        if (nByte < 0) {
            urs_StopTimer(pPort);
            return 0;
        }
        answer.Feed(nByte);
    }
    urs_StopTimer(pPort);
    os_TrimInPlace(pszVersion);
    os_TrimInPlace(pszCountry);
    os_TrimInPlace(pszSpecialBuild);
    return 1;
}
