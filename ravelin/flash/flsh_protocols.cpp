// Protocol choice by family flags (see flsh_protocols.h).
#include <atomic>

#include "ravelin/flash/flsh.h"
#include "ravelin/flash/flsh_protocols.h"

namespace {

// Checked in this order: a device whose flags carry two family bits gets the first one's protocol.
const std::uint32_t kFamilyOrder[] = {FLF_LUCENT, FLF_ROCKWELL, FLF_SIEMENS, FLF_DOT};
constexpr int kFamilies = sizeof kFamilyOrder / sizeof kFamilyOrder[0];

std::atomic<FlashProtocol> g_aProtocols[kFamilies];

int familyIndex(std::uint32_t nFamilyBit)
{
    for (int i = 0; i < kFamilies; ++i)
        if (kFamilyOrder[i] == nFamilyBit)
            return i;
    return -1;
}

} // namespace

int flsh_RegisterChipProtocol(std::uint32_t nFamilyBit, FlashProtocol pfnProtocol)
{
    int nIndex = familyIndex(nFamilyBit);
    if (nIndex < 0)
        return 0;
    g_aProtocols[nIndex].store(pfnProtocol);
    return 1;
}

FlashProtocol flsh_ChooseProtocol(std::uint32_t flags)
{
    for (int i = 0; i < kFamilies; ++i) {
        if ((flags & kFamilyOrder[i]) == 0)
            continue;
        FlashProtocol pfnProtocol = g_aProtocols[i].load();
        if (pfnProtocol != nullptr)
            return pfnProtocol;
        // The chip protocols register themselves as they are built; until this family's has,
        // the generic loader protocol serves its devices.
        return flsh_Update;
    }
    return flsh_Update;
}
