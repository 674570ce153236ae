// Low latency at open, the driver's own flags back at close (see urs_latency.h).
#include "ravelin/serial/urs_latency.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

#include "ravelin/serial/urs_internal.h"
#include "ravelin/support/log.h"

namespace {

int SystemGetFlags(int hPort, int *pnFlags)
{
    struct serial_struct serial;
    std::memset(&serial, 0, sizeof serial);
    if (ioctl(hPort, TIOCGSERIAL, &serial) != 0)
        return -1;
    *pnFlags = serial.flags;
    return 0;
}

// The driver takes the whole record back: everything but the flags stays as it reads it now.
int SystemSetFlags(int hPort, int nFlags)
{
    struct serial_struct serial;
    std::memset(&serial, 0, sizeof serial);
    if (ioctl(hPort, TIOCGSERIAL, &serial) != 0)
        return -1;
    serial.flags = nFlags;
    return ioctl(hPort, TIOCSSERIAL, &serial);
}

const UrsSerialFlagsOps kSystemOps = {SystemGetFlags, SystemSetFlags};
const UrsSerialFlagsOps *g_pOps = &kSystemOps;

}  // namespace

void urs_SetSerialFlagsOpsForTesting(const UrsSerialFlagsOps *pOps)
{
    g_pOps = pOps != nullptr ? pOps : &kSystemOps;
}

void urs_RequestLowLatency(UrsPort *pPort, const char *pszName)
{
    pPort->bLowLatencySet = 0;
    char szError[256];
    int nFlags = 0;
    if (g_pOps->pfnGetFlags(pPort->hPort, &nFlags) != 0) {
        // Pseudo-terminals and drivers without serial settings: nothing to ask for, no error.
        if (errno == ENOTTY)
            log_Write(__LINE__, URS_MODULE, "urs_OpenPort: <%s>, No low latency setting on this driver",
                      pszName);
        else
            log_Write(__LINE__, URS_MODULE, "urs_OpenPort: <%s>, Unable to set low latency\n\t%s",
                      pszName, strerror_r(errno, szError, sizeof szError));
        return;
    }
    if (nFlags & ASYNC_LOW_LATENCY) {
        log_Write(__LINE__, URS_MODULE, "urs_OpenPort: <%s>, Low latency already on", pszName);
        return;
    }
    if (g_pOps->pfnSetFlags(pPort->hPort, nFlags | ASYNC_LOW_LATENCY) != 0) {
        log_Write(__LINE__, URS_MODULE, "urs_OpenPort: <%s>, Unable to set low latency\n\t%s", pszName,
                  strerror_r(errno, szError, sizeof szError));
        return;
    }
    pPort->bLowLatencySet = 1;
    pPort->nSavedSerialFlags = nFlags;
    log_Write(__LINE__, URS_MODULE, "urs_OpenPort: <%s>, Low latency set", pszName);
}

void urs_RestoreLatency(UrsPort *pPort)
{
    if (!pPort->bLowLatencySet)
        return;
    pPort->bLowLatencySet = 0;
    if (g_pOps->pfnSetFlags(pPort->hPort, pPort->nSavedSerialFlags) == 0)
        log_Write(__LINE__, URS_MODULE, "urs_ClosePort: Restored latency");
    else
        log_Write(__LINE__, URS_MODULE, "urs_ClosePort: Unable to restore latency");
    log_Flush();
}
