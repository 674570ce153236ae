// The one table that maps family flags to download protocols.
//
// The protocols are called directly from this table. They must not register themselves: an object
// file of a static library that nothing references is dropped by the linker, and its devices would
// silently be flashed with the wrong protocol.
#include "ravelin/protocols/flsh_choice.h"

#include "ravelin/protocols/cfflsh.h"
#include "ravelin/protocols/lucflsh.h"
#include "ravelin/protocols/rockflsh.h"
#include "ravelin/protocols/siemensflsh.h"
#include "ravelin/support/log.h"

namespace {

struct ProtocolEntry {
    std::uint32_t nFamilyBit;  // 0: matches every flags word
    FlashProtocol pfnFlash;
    const char *pszName;
};

// Tested top to bottom: a device whose flags carry two family bits gets the first one's protocol.
// The last row catches every device without a chip family bit.
const ProtocolEntry kProtocols[] = {
    {FLF_LUCENT, lucflsh_Flash, "Lucent/Agere"},
    {FLF_ROCKWELL, rockflsh_Flash, "Rockwell"},
    {FLF_SIEMENS, siemensflsh_Flash, "Siemens"},
    {FLF_DOT, cfflsh_Flash, "dot/upload"},
    {0, flsh_Update, "generic"},
};

const ProtocolEntry &entryFor(std::uint32_t flags)
{
    for (const ProtocolEntry &entry : kProtocols)
        if (entry.nFamilyBit == 0 || (flags & entry.nFamilyBit) != 0)
            return entry;
    return kProtocols[sizeof kProtocols / sizeof kProtocols[0] - 1];
}

} // namespace

FlashProtocol flsh_ChooseProtocol(std::uint32_t flags)
{
    return entryFor(flags).pfnFlash;
}

const char *flsh_ProtocolName(std::uint32_t flags)
{
    return entryFor(flags).pszName;
}

int flsh_RunProtocol(DeviceUpdate *pUpdate)
{
    const ProtocolEntry &entry = entryFor(pUpdate->flags);
    log_Write(__LINE__, "flsh", "%s: %s protocol (flags 0x%08X)", pUpdate->szPortPath, entry.pszName,
              static_cast<unsigned>(pUpdate->flags));
    pUpdate->nResult = entry.pfnFlash(flsh_ProgressCallback, pUpdate);
    return 0;
}
