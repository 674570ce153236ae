// The generic loader dialogue around programming: entering the loader with "AT*FS" and agreeing a
// speed, the loader version, the boot-sector and mode commands, answer waits and the check after
// the flash.
#include <cstdio>

#include "ravelin/flash/card_reset.h"
#include "ravelin/flash/flsh.h"
#include "ravelin/support/log.h"

namespace {

const char *const kModule = "flsh";

// Synchronisation: polls every 300 ms (10 ms for fast-poll families); the card port is reset once
// after 7.5 s of polling; the attempt is given up after 15 s. Only the poll sleeps count.
constexpr long kSlowPollMs = 300;
constexpr long kFastPollMs = 10;
constexpr long kResetAfterMs = 7500;
constexpr long kGiveUpAfterMs = 15000;

constexpr int kSpeedQueries = 3;
constexpr int kAnswerTimeoutS = 20;
constexpr int kEchoTimeoutS = 15;
constexpr int kVersionTimeoutS = 3;

struct SpeedLetter {
    std::int32_t nBaud;
    char chLetter;
};
const SpeedLetter kSpeedLetters[] = {{9600, 'I'}, {19200, 'J'}, {38400, 'K'}, {57600, 'L'}, {115200, 'M'}};

// The device's maximum speed as it answers "D": J, K or M only.
std::int32_t deviceSpeedOf(int nByte)
{
    switch (nByte) {
    case 'J': return 19200;
    case 'K': return 38400;
    case 'M': return 115200;
    default: return 0;
    }
}

char letterOf(std::int32_t nBaud)
{
    for (const SpeedLetter &entry : kSpeedLetters)
        if (entry.nBaud == nBaud)
            return entry.chLetter;
    return '\0';
}

void setLine(UrsPort *pPort, std::int32_t nBaud)
{
    urs_SetUart(pPort, static_cast<std::uint32_t>(nBaud), 8, 0, 0, 0);
}

bool isDigit(int nByte) { return nByte >= '0' && nByte <= '9'; }

// The next byte under the running deadline. A broken line must not make the wait spin until the
// deadline: after a read error pause briefly before trying again.
int nextByte(UrsPort *pPort)
{
    for (;;) {
        int nByte = urs_GetChar(pPort);
        if (nByte != URS_IO_ERROR)
            return nByte;
        if (urs_TimerExpired(pPort))
            return URS_TIMEOUT;
        urs_SleepMs(10);
    }
}

// Synchronising with the loader: "M" polls until it answers "U". 0 done, 1 not synchronised,
// 2 cancelled.
int synchronise(UrsPort *pPort, DeviceUpdate *pUpdate, ProgressCallback pfnProgress)
{
    long nPollMs = (pUpdate->flags & FLF_FAST_POLL) ? kFastPollMs : kSlowPollMs;
    long nElapsed = 0;
    bool bResetDone = false;
    bool bSynchronised = false;
    do {
        urs_PutChar(pPort, 'M');
        urs_SleepMs(nPollMs);
        nElapsed += nPollMs;
        while (urs_CharsWaiting(pPort)) {
            int nByte = urs_GetCharTimed(pPort, 1);
            bSynchronised = nByte == 'U';
            if (!pfnProgress(pUpdate, flsh_cHandshaking, 0, 0))
                return 2;
            if (nByte == URS_IO_ERROR)
                break;  // a dead line: try again with the next poll
        }
        if (nElapsed > kResetAfterMs && !bResetDone) {
            bResetDone = true;
            if (!pfnProgress(pUpdate, flsh_cResetting, 0, 0))
                return 2;
            if (pUpdate->flags & (FLF_CARD_128 | FLF_CARD_256))
                flsh_ResetCardPort(pUpdate);
        }
    } while (!bSynchronised && nElapsed < kGiveUpAfterMs);
    return bSynchronised ? 0 : 1;
}

} // namespace

int flsh_WaitOkOrError(UrsPort *pPort)
{
    ResponseWatcher error, ok;
    urs_ResetWatcher(&error, "ERROR\r\n");
    urs_ResetWatcher(&ok, "OK\r\n");
    urs_StartTimer(pPort, kAnswerTimeoutS);
    int nOutcome = 1;
    for (;;) {
        int nByte = nextByte(pPort);
        if (nByte < 0)
            break;
        if (urs_FeedWatcher(&error, nByte)) {
            nOutcome = 3;
            break;
        }
        if (urs_FeedWatcher(&ok, nByte)) {
            nOutcome = 0;
            break;
        }
    }
    urs_StopTimer(pPort);
    return nOutcome;
}

int flsh_Handshake(UrsPort *pPort, DeviceUpdate *pUpdate, ProgressCallback pfnProgress)
{
    // The loader is entered at the family's start speed and always synchronises at 19200 baud.
    setLine(pPort, (pUpdate->flags & FLF_FAST_START) ? 115200 : 19200);
    urs_Sleep(2);
    urs_PutString(pPort, "AT*FS\r");
    urs_SleepMs(30);
    setLine(pPort, 19200);
    urs_SleepMs(100);
    if (!pfnProgress(pUpdate, flsh_cHandshaking, 0, 0))
        return 2;

    int nOutcome = synchronise(pPort, pUpdate, pfnProgress);
    if (nOutcome != 0)
        return nOutcome;

    std::int32_t nDeviceSpeed = 0;
    for (int nTry = 0; nTry < kSpeedQueries && nDeviceSpeed == 0; ++nTry) {
        urs_PutChar(pPort, 'D');
        nDeviceSpeed = deviceSpeedOf(urs_GetCharTimed(pPort, 1));
        if (!pfnProgress(pUpdate, flsh_cHandshaking, 50, 0))
            return 2;
    }
    if (nDeviceSpeed == 0)
        return 1;

    if (pUpdate->nSpeed > nDeviceSpeed)
        pUpdate->nSpeed = nDeviceSpeed;
    char chLetter = letterOf(pUpdate->nSpeed);
    if (chLetter == '\0') {
        // The loader knows only its five speeds; any other cannot be agreed.
        log_Write(__LINE__, kModule, "<%s> No loader speed for %d baud", flsh_PortDisplayName(pUpdate),
                  static_cast<int>(pUpdate->nSpeed));
        return 1;
    }
    urs_PutChar(pPort, static_cast<std::uint8_t>(chLetter));
    if (flsh_WaitOkOrError(pPort) != 0)
        return 1;

    log_Write(__LINE__, kModule, "Neogatiated Baud Rate: %d", static_cast<int>(pUpdate->nSpeed));
    setLine(pPort, pUpdate->nSpeed);
    urs_Sleep(2);
    return 0;
}

int flsh_GetLoaderVersion(UrsPort *pPort, DeviceUpdate *pUpdate, ProgressCallback pfnProgress, int *pnBlockSize)
{
    urs_PutString(pPort, "ATI1\r");

    ResponseWatcher echo;
    urs_ResetWatcher(&echo, "ATI1\r");
    urs_StartTimer(pPort, kEchoTimeoutS);
    bool bEchoed = false;
    for (;;) {
        int nByte = nextByte(pPort);
        if (nByte < 0)
            break;
        if (urs_FeedWatcher(&echo, nByte)) {
            bEchoed = true;
            break;
        }
    }
    urs_StopTimer(pPort);
    if (!bEchoed)
        return 1;

    // One or two digits, ".", exactly two digits, then "OK\r\n" somewhere after.
    urs_StartTimer(pPort, kVersionTimeoutS);
    ResponseWatcher error, ok;
    urs_ResetWatcher(&error, "\r\nERROR\r\n");
    urs_ResetWatcher(&ok, "OK\r\n");
    int nMajor = -1, nMinor = -1;
    int nByte = nextByte(pPort);
    while (nByte >= 0 && !isDigit(nByte)) {
        if (urs_FeedWatcher(&error, nByte))
            break;
        nByte = nextByte(pPort);
    }
    if (isDigit(nByte)) {
        nMajor = nByte - '0';
        nByte = nextByte(pPort);
        if (isDigit(nByte)) {
            nMajor = nMajor * 10 + (nByte - '0');
            nByte = nextByte(pPort);
        }
        int nFirst = nByte == '.' ? nextByte(pPort) : -1;
        int nSecond = isDigit(nFirst) ? nextByte(pPort) : -1;
        int nAfter = isDigit(nSecond) ? nextByte(pPort) : -1;
        if (isDigit(nFirst) && isDigit(nSecond) && nAfter >= 0 && !isDigit(nAfter)) {
            nMinor = (nFirst - '0') * 10 + (nSecond - '0');
            bool bOk = urs_FeedWatcher(&ok, nAfter) != 0;
            while (!bOk) {
                int nNext = nextByte(pPort);
                if (nNext < 0)
                    break;
                bOk = urs_FeedWatcher(&ok, nNext) != 0;
            }
            if (!bOk)
                nMinor = -1;
        }
    }
    urs_StopTimer(pPort);
    if (nMajor < 0 || nMinor < 0)
        return 1;

    std::snprintf(pUpdate->szLoaderVersion, sizeof pUpdate->szLoaderVersion, "%d.%d", nMajor, nMinor);
    // Loaders before 1.08 take 128-byte blocks only.
    if (nMajor == 1 && nMinor < 8)
        *pnBlockSize = flsh_kSmallBlockSize;
    if (!pfnProgress(pUpdate, flsh_cHandshakeDone, 0, 0))
        return 2;
    return 0;
}

int flsh_PrepareDevice(UrsPort *pPort, std::uint32_t flags, int keepBootSector, int afterFlash)
{
    if ((flags & FLF_UNPROTECT) && !keepBootSector) {
        urs_PutString(pPort, "ATDPOFF\r");
        if (flsh_WaitOkOrError(pPort) != 0)
            return FR_UNPROTECT_FAILED;
    }
    if ((flags & FLF_MODE_CMD) && (!keepBootSector || afterFlash != 0)) {
        urs_PutString(pPort, afterFlash == 2 ? "ATC\r" : "ATN\r");
        if (flsh_WaitOkOrError(pPort) != 0)
            return FR_UNPROTECT_FAILED;
    }
    return 0;
}

int flsh_CheckAfterFlash(UrsPort *pPort, DeviceUpdate *pUpdate, ProgressCallback pfnProgress)
{
    if (flsh_Handshake(pPort, pUpdate, pfnProgress) != 0)
        return FR_HANDSHAKE_FAILURE;
    urs_PutString(pPort, "ATC\r");
    if (flsh_WaitOkOrError(pPort) != 0)
        return FR_AFTER_FLASH_FAILED;
    urs_PutString(pPort, "ATFLEND\r");
    return 0;
}
