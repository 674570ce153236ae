// The registry that maps a chip family to its download protocol.
//
// The chip protocols (Lucent/Agere, Rockwell, Siemens, dot/upload) live above the flash core and
// register themselves here; the core only knows the generic loader protocol. A family whose
// protocol is not registered is flashed with the generic protocol.
#pragma once

#include <cstdint>

#include "ravelin/flash/flsh_callbacks.h"

typedef int (*FlashProtocol)(ProgressCallback pfnProgress, DeviceUpdate *pUpdate);

// Registers the protocol of one family bit (FLF_LUCENT, FLF_ROCKWELL, FLF_SIEMENS or FLF_DOT);
// nullptr removes it. Returns 1, or 0 for any other bit.
int flsh_RegisterChipProtocol(std::uint32_t nFamilyBit, FlashProtocol pfnProtocol);

// The protocol for a flags word: that of the first family bit set, in the order Lucent/Agere,
// Rockwell, Siemens, dot/upload; the generic flsh_Update when no family bit is set or that
// family's protocol is not registered (yet).
FlashProtocol flsh_ChooseProtocol(std::uint32_t flags);
