// The two callback types through which protocols, the HEX sorter and identification report into a
// device's update record. Kept apart from flsh.h so that the HEX image code can name them without
// pulling in the whole update record.
#pragma once

#include <cstdint>

#include "ravelin/ident/devid.h"  // IdentifyCallback: identification calls the engine's callback

struct DeviceUpdate;

// Called with (owner, status code, value, detail); answers nonzero to go on, 0 once the user cancelled.
typedef int (*ProgressCallback)(DeviceUpdate *pOwner, int nStatus, std::int32_t nValue, std::intptr_t nDetail);
