// The per-port deadline, the allowance of each transfer, and the layer's sleeps.
//
// Deadlines run on the monotonic clock, so that a system clock set backwards in the middle of a
// flash neither ends a wait early nor makes it endless. Lengths go through the clock module's time
// scale, so tests can run the real dialogues faster.
#include <poll.h>

#include <climits>
#include <cstdint>

#include "ravelin/serial/urs_internal.h"
#include "ravelin/serial/urswin32.h"
#include "ravelin/support/log.h"
#include "ravelin/support/osclock.h"

namespace {

// The stamp's clock starts one second before the monotonic origin, so that a real stamp never has
// whole seconds 0, which marks "no deadline".
const std::int64_t kStampOffsetMs = 1000;

}  // namespace

std::int64_t urs_NowMs(void)
{
    return os_MonotonicMs() + kStampOffsetMs;
}

std::int64_t urs_ElapsedMs(const UrsPort *pPort)
{
    std::int64_t nNow = urs_NowMs();
    std::int64_t nNowSeconds = nNow / 1000;
    std::int64_t nNowMs = nNow % 1000;
    return (nNowSeconds - pPort->tsDeadlineStart.nSeconds) * 1000 + nNowMs -
           pPort->tsDeadlineStart.nMilliseconds;
}

void urs_StartTimer(UrsPort *pPort, int nSeconds)
{
    DBG_ASSERT(pPort != nullptr, URS_MODULE);
    if (pPort == nullptr)
        return;
    std::int64_t nLength = os_ScaleMs(static_cast<std::int64_t>(nSeconds) * 1000);
    if (nLength > INT32_MAX)
        nLength = INT32_MAX;
    if (nLength < INT32_MIN)
        nLength = INT32_MIN;
    std::int64_t nNow = urs_NowMs();
    pPort->tsDeadlineStart.nSeconds = static_cast<std::int32_t>(nNow / 1000);
    pPort->tsDeadlineStart.nMilliseconds = static_cast<std::uint16_t>(nNow % 1000);
    pPort->nDeadlineMs = static_cast<std::int32_t>(nLength);
}

void urs_StopTimer(UrsPort *pPort)
{
    DBG_ASSERT(pPort != nullptr, URS_MODULE);
    if (pPort != nullptr)
        pPort->tsDeadlineStart.nSeconds = 0;
}

int urs_TimerExpired(UrsPort *pPort)
{
    DBG_ASSERT(pPort != nullptr, URS_MODULE);
    if (pPort == nullptr || !urs_DeadlineRunning(pPort))
        return 0;
    return urs_ElapsedMs(pPort) > pPort->nDeadlineMs ? 1 : 0;
}

bool urs_SetTransferTimeouts(UrsPort *pPort, long *pnAllowanceMs)
{
    std::int64_t nAllowance = os_ScaleMs(urs_kNoDeadlineAllowanceMs);
    if (urs_DeadlineRunning(pPort)) {
        nAllowance = pPort->nDeadlineMs - urs_ElapsedMs(pPort);
        if (nAllowance < 0)
            return false;  // the deadline has passed: refused, and nothing to log
    }
    // A port that is not open has no time-outs to set, as on the original platform.
    if (pPort->hPort < 0) {
        log_Write(__LINE__, URS_MODULE, "urs_OpenPort: Unable to setup time-outs");
        return false;
    }
    *pnAllowanceMs = static_cast<long>(nAllowance);
    return true;
}

void urs_WaitUntil(std::int64_t nEndMs)
{
    for (;;) {
        std::int64_t nLeft = nEndMs - urs_NowMs();
        if (nLeft <= 0)
            return;
        poll(nullptr, 0, nLeft > INT_MAX ? INT_MAX : static_cast<int>(nLeft));
    }
}

void urs_Sleep(int nSeconds)
{
    os_SleepMs(static_cast<std::int64_t>(nSeconds) * 1000);
}

void urs_SleepMs(long nMilliseconds)
{
    os_SleepMs(nMilliseconds);
}
