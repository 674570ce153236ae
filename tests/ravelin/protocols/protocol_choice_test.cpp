// Which protocol a device update runs, from its family flags.
#include <gtest/gtest.h>

#include <cstdlib>

#include "ravelin/protocols/cfflsh.h"
#include "ravelin/protocols/flsh_choice.h"
#include "ravelin/protocols/lucflsh.h"
#include "ravelin/protocols/rockflsh.h"
#include "ravelin/protocols/siemensflsh.h"

namespace {

struct ChoiceCase {
    std::uint32_t flags;
    FlashProtocol expected;
    const char *pszName;
};

// One row per family bit, alone and together with a later family's bit (the earlier bit wins).
const ChoiceCase kChoices[] = {
    {FLF_LUCENT, lucflsh_Flash, "Lucent/Agere"},
    {0x00007100, lucflsh_Flash, "Lucent/Agere"},
    {FLF_LUCENT | FLF_ROCKWELL | FLF_SIEMENS | FLF_DOT, lucflsh_Flash, "Lucent/Agere"},
    {0x00000000, flsh_Update, "generic"},
    {0x00000200, rockflsh_Flash, "Rockwell"},
    {0x00204A00, rockflsh_Flash, "Rockwell"},
    {FLF_ROCKWELL | FLF_SIEMENS | FLF_DOT, rockflsh_Flash, "Rockwell"},
    {0x00008000, siemensflsh_Flash, "Siemens"},
    {FLF_SIEMENS | FLF_DOT, siemensflsh_Flash, "Siemens"},
    {0x00010080, cfflsh_Flash, "dot/upload"},
    {0x00170000, cfflsh_Flash, "dot/upload"},
    {0x00000024, flsh_Update, "generic"},
    {FLF_BOOT_JUMP | FLF_FAST_START | FLF_ADDR32, flsh_Update, "generic"},
};

TEST(ProtocolChoice, FamilyBitsInTheirFixedOrderElseTheGenericProtocol)
{
    for (const ChoiceCase &c : kChoices) {
        EXPECT_EQ(c.expected, flsh_ChooseProtocol(c.flags)) << std::hex << c.flags;
        EXPECT_STREQ(c.pszName, flsh_ProtocolName(c.flags)) << std::hex << c.flags;
    }
}

TEST(ProtocolChoice, TheFlashThreadStoresTheProtocolsResult)
{
    DeviceUpdate update;
    ASSERT_EQ(1, flsh_InitDeviceUpdate(&update, "\\\\.\\COM35"));
    // The generic protocol on a port that does not exist.
    setenv("SERIAL_PORTS_DIR", "/nonexistent-ports-dir", 1);
    update.flags = 0x24;
    EXPECT_EQ(0, flsh_RunProtocol(&update));
    unsetenv("SERIAL_PORTS_DIR");
    EXPECT_EQ(FR_PORT_OPEN_FAILED, update.nResult);
    flsh_FreeDeviceUpdate(&update);
}

} // namespace
