// The Lucent/Agere steps of `ravelin-cli flash` around the protocol itself.
#pragma once

#include "ravelin/flash/flsh.h"

// Before a Lucent/Agere device is updated: checks the image (and the loader of a full flash) as the
// protocol does, so that a bad file ends the update before the device is asked anything; reads the
// device's flash facts and command variant (devid_IdentifyLucentPort), derives the flash mode from
// them (a record already set to full flash keeps it), and compares the image's header with the
// device. Returns 0 when the update may go on, else the update result that ends it before anything
// is programmed (FR_HEX_OPEN_FAILED or FR_BAD_HEX for a file that cannot be opened or sent, or an
// image whose header cannot be read; FR_PORT_OPEN_FAILED when the facts could not be read;
// FR_SECTOR_SIZES, FR_TYPES). Does nothing and returns 0 for other families.
int cli_PrepareLucentUpdate(DeviceUpdate *pUpdate);

// Tells the user once, on stderr, to switch the device off and on when the update is waiting for that
// (status flsh_cReboot). *pbShown remembers that the request was shown.
void cli_ShowPowerCycleRequest(DeviceUpdate *pUpdate, bool *pbShown);
