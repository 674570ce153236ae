#include "country/PortWriter/UrsLite.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "country/PortWriter/CountryClock.h"

namespace UrsLite {

void urs_ClosePort(UrsPort* pPort)
{
    if (pPort == nullptr || pPort->nPortNumber == 0)
        return;
    // The same steps as the update program's close, each tried whatever became of the one before:
    // there is no event mask to clear here; pseudo-terminals and some adapters have no DTR (ENOTTY).
    int nDtr = TIOCM_DTR;
    ioctl(pPort->hPort, TIOCMBIC, &nDtr);
    tcflush(pPort->hPort, TCIOFLUSH);
    ioctl(pPort->hPort, TIOCNXCL);
    close(pPort->hPort);
    // The descriptor's number may be reused by any later open: never touch it again.
    pPort->hPort = -1;
    pPort->nPortNumber = 0;
}

void urs_ForgetPort(UrsPort* pPort)
{
    if (pPort != nullptr)
        pPort->nPortNumber = 0;
}

void urs_Sleep(int nSeconds)
{
    CClock::SleepMs(static_cast<int64_t>(nSeconds) * 1000);
}

}  // namespace UrsLite
