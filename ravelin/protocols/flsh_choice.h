// Which download protocol flashes a device, chosen from its family flags, and the flash thread body
// that runs it. The order of the families is fixed in one table (flsh_choice.cpp).
#pragma once

#include <cstdint>

#include "ravelin/flash/flsh.h"

// A download protocol: reports through the callback into the record and returns an update result.
typedef int (*FlashProtocol)(ProgressCallback pfnProgress, DeviceUpdate *pUpdate);

// The protocol of the first family bit set in the flags, in the order Lucent/Agere, Rockwell, Siemens,
// dot/upload; the maker's own loader protocol (flsh_Update) when no family bit is set.
FlashProtocol flsh_ChooseProtocol(std::uint32_t flags);

// Name of the protocol the flags choose, for logs and front ends ("generic" for flsh_Update).
const char *flsh_ProtocolName(std::uint32_t flags);

// Flash thread: runs the protocol the record's flags choose and stores its result. Returns 0.
int flsh_RunProtocol(DeviceUpdate *pUpdate);
