// The Lucent/Agere steps of `ravelin-cli flash` (see cli_flash_lucent.h).
#include "tools/ravelin-cli/cli_flash_lucent.h"

#include <cstdio>

#include "ravelin/flash/flsh_lucent_image.h"
#include "ravelin/protocols/lucflsh.h"
#include "ravelin/support/log.h"

int cli_PrepareLucentUpdate(DeviceUpdate *pUpdate)
{
    if ((pUpdate->flags & FLF_LUCENT) == 0)
        return 0;
    const bool bFullFlash = pUpdate->flashMode == flsh_kFullFlash;
    // The flash-facts query already talks to the device: a bad image must end the update before it.
    int nFiles = lucflsh_CheckFiles(pUpdate);
    if (nFiles != 0) {
        log_Write(__LINE__, "cli", "<%s> the image or loader cannot be sent (%d): the device is not asked",
                  flsh_PortDisplayName(pUpdate), nFiles);
        return nFiles;
    }
    int nStatus = devid_IdentifyLucentPort(&pUpdate->identity, pUpdate->szPortPath);
    log_Write(__LINE__, "cli", "<%s> Lucent/Agere facts: status %d, variant %d, type %d, sector size %d, flash version %04X",
              flsh_PortDisplayName(pUpdate), nStatus, pUpdate->identity.nLucentVariant,
              pUpdate->identity.lucent.nType, pUpdate->identity.lucent.nSectorSize,
              static_cast<unsigned>(pUpdate->identity.lucent.nFlashVersion));
    if (bFullFlash)
        return 0;  // a full flash replaces the loader whatever the device holds

    int nFlashMode = flsh_FlashModeForStatus(nStatus);
    int nResult = flsh_CheckLucentImage(pUpdate->szImagePath, &pUpdate->identity.lucent, &nFlashMode);
    pUpdate->flashMode = nFlashMode;
    if (nResult == FR_PORT_OPEN_FAILED)
        std::fprintf(stderr, "%s: the device did not tell its Lucent/Agere flash facts (identification status %d)\n",
                     flsh_PortDisplayName(pUpdate), nStatus);
    log_Write(__LINE__, "cli", "<%s> image check %d, flash mode %d", flsh_PortDisplayName(pUpdate), nResult,
              nFlashMode);
    return nResult;
}

void cli_ShowPowerCycleRequest(DeviceUpdate *pUpdate, bool *pbShown)
{
    if (*pbShown)
        return;
    os_LockMutex(pUpdate->hLock);
    int nStatus = pUpdate->nLastStatus;
    os_UnlockMutex(pUpdate->hLock);
    if (nStatus != flsh_cReboot)
        return;
    std::fprintf(stderr, "\n%s: switch the device off and on again now; the update goes on once it is back\n",
                 flsh_PortDisplayName(pUpdate));
    std::fflush(stderr);
    *pbShown = true;
}
