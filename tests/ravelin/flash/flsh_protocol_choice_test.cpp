// Which protocol a device update runs, from its family flags.
#include <gtest/gtest.h>

#include "ravelin/flash/flsh.h"
#include "ravelin/flash/flsh_protocols.h"

namespace {

int lucentStandIn(ProgressCallback, DeviceUpdate *) { return 8; }
int rockwellStandIn(ProgressCallback, DeviceUpdate *) { return 9; }

class ProtocolChoice : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (std::uint32_t bit : {FLF_LUCENT, FLF_ROCKWELL, FLF_SIEMENS, FLF_DOT})
            flsh_RegisterChipProtocol(bit, nullptr);
    }
};

TEST_F(ProtocolChoice, FamilyBitsInTheirOrderElseTheGenericProtocol)
{
    EXPECT_EQ(&flsh_Update, flsh_ChooseProtocol(0x24));
    // Until a family's protocol is registered, its devices get the generic one.
    EXPECT_EQ(&flsh_Update, flsh_ChooseProtocol(FLF_ROCKWELL));
    ASSERT_EQ(1, flsh_RegisterChipProtocol(FLF_ROCKWELL, rockwellStandIn));
    EXPECT_EQ(&rockwellStandIn, flsh_ChooseProtocol(FLF_ROCKWELL | FLF_SIEMENS));
    // Lucent/Agere comes first; while it has no protocol its devices stay generic.
    EXPECT_EQ(&flsh_Update, flsh_ChooseProtocol(FLF_LUCENT | FLF_ROCKWELL));
    ASSERT_EQ(1, flsh_RegisterChipProtocol(FLF_LUCENT, lucentStandIn));
    EXPECT_EQ(&lucentStandIn, flsh_ChooseProtocol(FLF_LUCENT | FLF_ROCKWELL));
    EXPECT_EQ(0, flsh_RegisterChipProtocol(FLF_BOOT_JUMP, rockwellStandIn));
}

TEST_F(ProtocolChoice, TheFlashThreadStoresTheProtocolsResult)
{
    DeviceUpdate update;
    ASSERT_EQ(1, flsh_InitDeviceUpdate(&update, "\\\\.\\COM35"));
    flsh_RegisterChipProtocol(FLF_ROCKWELL, rockwellStandIn);
    update.flags = FLF_ROCKWELL;
    EXPECT_EQ(0, flsh_RunProtocol(&update));
    EXPECT_EQ(9, update.nResult);
    // The generic protocol on a port that does not exist.
    setenv("SERIAL_PORTS_DIR", "/nonexistent-ports-dir", 1);
    update.flags = 0x24;
    EXPECT_EQ(0, flsh_RunProtocol(&update));
    unsetenv("SERIAL_PORTS_DIR");
    EXPECT_EQ(FR_PORT_OPEN_FAILED, update.nResult);
    flsh_FreeDeviceUpdate(&update);
}

} // namespace
