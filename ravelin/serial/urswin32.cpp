// Opening, closing and line set-up of a serial port (POSIX termios).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ravelin/serial/urs_internal.h"
#include "ravelin/serial/urs_names.h"
#include "ravelin/serial/urswin32.h"
#include "ravelin/support/log.h"

namespace {

// The open leaves the port at this speed; protocols switch with urs_SetUart.
const speed_t kOpenSpeed = B19200;

struct SpeedEntry {
    std::uint32_t nBaud;
    speed_t nCode;
};

const SpeedEntry kSpeeds[] = {
    {300, B300},     {600, B600},     {1200, B1200},     {2400, B2400},     {4800, B4800},
    {9600, B9600},   {19200, B19200}, {38400, B38400},   {57600, B57600},   {115200, B115200},
    {230400, B230400},
};

bool SpeedCode(std::uint32_t nBaud, speed_t *pCode)
{
    for (const SpeedEntry &entry : kSpeeds) {
        if (entry.nBaud == nBaud) {
            *pCode = entry.nCode;
            return true;
        }
    }
    return false;
}

// The system's own text for an error number (thread-safe).
const char *ErrorText(int nError, char *pszBuffer, std::size_t nCapacity)
{
    return strerror_r(nError, pszBuffer, nCapacity);
}

// Raises or lowers a modem control line. Pseudo-terminals and some adapters do not have them
// (ENOTTY); callers log that and go on.
bool SetModemLine(int hPort, int nLine, bool bRaise)
{
    return ioctl(hPort, bRaise ? TIOCMBIS : TIOCMBIC, &nLine) == 0;
}

// Raw 8N1 at the opening speed, receiver on, modem status lines ignored, no flow control of any kind:
// the device dialogues are binary, and with the defaults the line discipline would swallow
// XON/XOFF, turn CR into LF, echo, and flush on some control bytes.
bool SetOpeningLineState(int hPort)
{
    struct termios tio;
    if (tcgetattr(hPort, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, kOpenSpeed) != 0 || cfsetospeed(&tio, kOpenSpeed) != 0)
        return false;
    return tcsetattr(hPort, TCSANOW, &tio) == 0;
}

// The closing sequence: each step is tried even when an earlier one failed, and the log is flushed
// after each, so that a hanging close still shows how far it got.
void RunClosingSequence(UrsPort *pPort)
{
    int hPort = pPort->hPort;

    // Line events are never waited for on this system, so there is no event mask to clear.
    log_Write(__LINE__, URS_MODULE, "urs_ClosePort: Set comm mask");
    log_Flush();

    if (SetModemLine(hPort, TIOCM_DTR, false))
        log_Write(__LINE__, URS_MODULE, "urs_ClosePort: Lowered DTR");
    else
        log_Write(__LINE__, URS_MODULE, "urs_ClosePort: Unable to lower DTR");
    log_Flush();

    // What was read ahead is part of the input queue and goes with it, even if the purge fails:
    // the record is closed from here on.
    urs_EmptyInput(pPort);
    if (tcflush(hPort, TCIOFLUSH) == 0)
        log_Write(__LINE__, URS_MODULE, "urs_ClosePort: Purged comm");
    else
        log_Write(__LINE__, URS_MODULE, "urs_ClosePort: Unable to purge comm");
    log_Flush();

    urs_RestoreLatency(pPort);

    // Give up exclusive use, so that a program without root rights can open the port after us.
    ioctl(hPort, TIOCNXCL);
    close(hPort);
    // The descriptor's number is free for reuse by any later open in the process: forget it, so a
    // stray transfer on a closed record cannot reach some other file.
    pPort->hPort = -1;
    log_Write(__LINE__, URS_MODULE, "Port closed");
    log_Flush();
}

// Opens the port's device for our exclusive use; -1 with errno set on failure.
int OpenExclusive(const char *pszPath)
{
    int hPort = open(pszPath, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (hPort < 0)
        return -1;
    // flock first: it holds against every process, root included, which TIOCEXCL does not.
    if (flock(hPort, LOCK_EX | LOCK_NB) != 0 || ioctl(hPort, TIOCEXCL) != 0) {
        int nError = errno;
        close(hPort);
        errno = nError;
        return -1;
    }
    // Transfers stay non-blocking: each waits in poll() for its own allowance, so that a full output
    // buffer cannot hold a write beyond its time-out.
    return hPort;
}

}  // namespace

int urs_OpenPort(UrsPort *pPort, const char *pszDevicePath)
{
    DBG_ASSERT(pPort != nullptr && pszDevicePath != nullptr, URS_MODULE);
    if (pPort == nullptr || pszDevicePath == nullptr)
        return URS_OPEN_FAILED;

    char szName[urs_kNameLen + 1];
    urs_LogNameOf(pszDevicePath, szName, sizeof szName);
    pPort->bLineLost = 0;
    pPort->bLowLatencySet = 0;
    // A record may be reused: nothing read on an earlier open belongs to this one.
    urs_EmptyInput(pPort);

    char szPath[4096];
    if (!urs_ResolvePortPath(szName, szPath, sizeof szPath)) {
        pPort->hPort = -1;
        log_Write(__LINE__, URS_MODULE, "urs_OpenPort: <%s>, Invalid Handle Error, GetLastError = %8.8lx",
                  szName, static_cast<unsigned long>(ENAMETOOLONG));
        return URS_OPEN_FAILED;
    }

    pPort->hPort = OpenExclusive(szPath);
    if (pPort->hPort < 0) {
        log_Write(__LINE__, URS_MODULE, "urs_OpenPort: <%s>, Invalid Handle Error, GetLastError = %8.8lx",
                  szName, static_cast<unsigned long>(errno));
        return URS_OPEN_FAILED;
    }
    // From here on every way out of a failed open runs the closing sequence, which undoes this.
    urs_RequestLowLatency(pPort, szName);

    // The driver's queue sizes cannot be chosen here; the kernel's buffers serve, so that step succeeds.
    bool bOk = true;
    if (tcflush(pPort->hPort, TCIOFLUSH) != 0) {
        log_Write(__LINE__, URS_MODULE, "urs_OpenPort: <%s>, Unable to purge comm buffers", szName);
        bOk = false;
    }
    // The port's time-outs are set afresh before every transfer (a poll() allowance); nothing to set
    // on the device itself.

    char szError[256];
    if (bOk && !SetModemLine(pPort->hPort, TIOCM_RTS, true))
        log_Write(__LINE__, URS_MODULE, "urs_OpenPort: <%s>, Unable to set RTS high\n\t%s", szName,
                  ErrorText(errno, szError, sizeof szError));
    if (bOk && !SetModemLine(pPort->hPort, TIOCM_DTR, true))
        log_Write(__LINE__, URS_MODULE, "urs_OpenPort: <%s>, Unable to set DTR high\n\t%s", szName,
                  ErrorText(errno, szError, sizeof szError));
    if (bOk && !SetOpeningLineState(pPort->hPort)) {
        log_Write(__LINE__, URS_MODULE, "urs_OpenPort: <%s> Unable to set comm state", szName);
        bOk = false;
    }
    if (!bOk) {
        RunClosingSequence(pPort);
        return URS_OPEN_FAILED;
    }

    pPort->tsDeadlineStart.nSeconds = 0;
    pPort->tsDeadlineStart.nMilliseconds = 0;
    pPort->nDeadlineMs = 0;
    log_Write(__LINE__, URS_MODULE, "Port opened <%s>", szName);
    std::memcpy(pPort->szName, szName, sizeof pPort->szName);
    pPort->nPortNumber = urs_PortNumberOf(pszDevicePath);
    return URS_OK;
}

int urs_ClosePort(UrsPort *pPort)
{
    DBG_ASSERT(pPort != nullptr, URS_MODULE);
    if (pPort != nullptr)
        RunClosingSequence(pPort);
    return URS_OK;
}

int urs_SetUart(UrsPort *pPort, std::uint32_t nBaudRate, int nDataBits, int nParity, int nStopBits,
                int nFlowControl)
{
    DBG_ASSERT(pPort != nullptr, URS_MODULE);
    if (pPort == nullptr)
        return URS_IO_ERROR;

    struct termios tio;
    if (tcgetattr(pPort->hPort, &tio) != 0) {
        log_Write(__LINE__, URS_MODULE, "urs_SetUart: Unable to GetCommState");
        return URS_IO_ERROR;
    }

    // Only speed, framing and CTS flow control change; every other setting stays as it is.
    speed_t nSpeed = 0;
    tcflag_t nSize = 0;
    bool bValid = SpeedCode(nBaudRate, &nSpeed);
    switch (nDataBits) {
        case 5: nSize = CS5; break;
        case 6: nSize = CS6; break;
        case 7: nSize = CS7; break;
        case 8: nSize = CS8; break;
        default: bValid = false; break;
    }
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= nSize;
    switch (nParity) {
        case 0: break;
        case 1: tio.c_cflag |= PARENB | PARODD; break;
        case 2: tio.c_cflag |= PARENB; break;
        case 3: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
        case 4: tio.c_cflag |= PARENB | CMSPAR; break;
        default: bValid = false; break;
    }
    switch (nStopBits) {
        case 0: break;
        case 1:  // one and a half stop bits exist only as two here
        case 2: tio.c_cflag |= CSTOPB; break;
        default: bValid = false; break;
    }
    if (nFlowControl & 1)
        tio.c_cflag |= CRTSCTS;

    if (!bValid || cfsetispeed(&tio, nSpeed) != 0 || cfsetospeed(&tio, nSpeed) != 0 ||
        tcsetattr(pPort->hPort, TCSANOW, &tio) != 0) {
        log_Write(__LINE__, URS_MODULE, "urs_SetUart: Unable to SetCommState");
        return URS_IO_ERROR;
    }

    char szRate[16];
    std::snprintf(szRate, sizeof szRate, "%lu", static_cast<unsigned long>(nBaudRate));
    log_Write(__LINE__, URS_MODULE, "Uart setup at baud rate %s", szRate);
    return URS_OK;
}
