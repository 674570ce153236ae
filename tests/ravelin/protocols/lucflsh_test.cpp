// The Lucent/Agere download protocol against simulated Lucent/Agere devices: what the device holds
// afterwards, the exact commands and lines, the line settings, every result code, rejected lines,
// cancel at each stage, and the port closed on every way out.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fixtures/sim_bank_fixture.h"
#include "lucent_test_util.h"
#include "ravelin/protocols/lucflsh.h"
#include "ravelin/support/osclock.h"

using lucenttest::Image;
using lucenttest::joined;
using lucenttest::makeImage;
using lucenttest::makeLoader;

namespace {

constexpr std::uint32_t kLucent = FLF_LUCENT;                                      // LUCENT family
constexpr std::uint32_t kAgere = FLF_LUCENT | FLF_FULL_FLASH | FLF_AGERE_LOADER | FLF_DOWNLOAD_115200;

// Cancel: the callback answers "stop" from the n-th call with a given status on.
struct CancelPoint {
    int nStatus = -1;
    int nCalls = 1;
};
CancelPoint g_cancel;
std::vector<int> g_statuses;

int recordingCallback(DeviceUpdate *pOwner, int nStatus, std::int32_t nValue, std::intptr_t nDetail)
{
    g_statuses.push_back(nStatus);
    int nGoOn = flsh_ProgressCallback(pOwner, nStatus, nValue, nDetail);
    if (nStatus == g_cancel.nStatus && --g_cancel.nCalls <= 0)
        return 0;
    return nGoOn;
}

class LucentFlashTest : public SimBankTest {
protected:
    void SetUp() override
    {
        setenv("SUITE_TIME_SCALE", "0.1", 1);
        os_SetTimeScaleForTesting(0.1);
        SimBankTest::SetUp();
        os_SetExeDirForTesting(dir.path().c_str());
        loader = makeLoader(4, 0x30);
        agereLoader = makeLoader(3, 0x90);
        lucenttest::writeFile(dir.file("NewFlashLdr.hex"), lucenttest::crlfLines(loader));
        lucenttest::writeFile(dir.file("OcmFldr.hex"), lucenttest::crlfLines(agereLoader));
        ASSERT_EQ(1, flsh_InitDeviceUpdate(&update, "\\\\.\\COM3"));
        update.nSpeed = 115200;
        update.flags = kLucent;
        update.flashMode = flsh_kGoFlash;
        update.restoreDefaults = 1;
        update.identity.nLucentVariant = 0;
        update.identity.lucent.nType = 0;
        g_cancel = CancelPoint();
        g_statuses.clear();
    }
    void TearDown() override
    {
        flsh_FreeDeviceUpdate(&update);
        os_SetExeDirForTesting(nullptr);
        SimBankTest::TearDown();
    }

    // A device at 115200 baud speaking command variant nVariant, with further device file lines.
    modemsim::Device &addLucent(int nVariant, const std::string &extra = "", int nPort = 3)
    {
        update.identity.nLucentVariant = nVariant;
        os_CopyBounded(update.szPortPath, ("\\\\.\\COM" + std::to_string(nPort)).c_str(), flsh_kPortPathLen);
        return addDevice("port = " + std::to_string(nPort) + "\nspeed = 115200\nthrottle = off\ndialogues = ident-lucent, lucent-loader\n"
                         "lucent.variant = " + std::to_string(nVariant) + "\n" + extra);
    }

    void useImage(const Image &image)
    {
        std::string path = dir.file("LA0100.HEX");
        lucenttest::writeFile(path, lucenttest::crlfLines(image.lines));
        os_CopyBounded(update.szImagePath, path.c_str(), os_kPathLen);
    }

    int flash() { return lucflsh_Flash(recordingCallback, &update); }

    // The flash holds the image from address 0, and nothing after it.
    void expectFlashHolds(modemsim::Device &dev, const Image &image)
    {
        EXPECT_EQ(image.bytes, dev.state().flash.read(0, static_cast<std::uint32_t>(image.bytes.size())));
        EXPECT_EQ(image.bytes.size(), dev.state().flash.extent());
    }

    // The program under test has closed the port, and it opens again at once.
    void expectPortClosed(modemsim::Device &dev)
    {
        EXPECT_TRUE(dev.waitForHostOpens(0, 5000));
        UrsPort port;
        ASSERT_EQ(URS_OK, urs_OpenPort(&port, update.szPortPath));
        urs_ClosePort(&port);
    }

    std::string hostBytes(modemsim::Device &dev)
    {
        return dev.transcript().bytes(modemsim::Transcript::Direction::kFromHost);
    }

    lucenttest::TempDir dir;
    std::vector<std::string> loader, agereLoader;
    DeviceUpdate update;
};

TEST_F(LucentFlashTest, EachVariantStartsTheResidentLoaderAndTheDeviceHoldsTheImage)
{
    struct Case {
        int nVariant;
        const char *pszGo;
    } const kCases[] = {{0, "AT&&FGO\r"}, {1, "AT&&WGO\r"}, {2, "AT&&ZGO\n"}};
    int nPort = 3;
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.pszGo);
        modemsim::Device &dev = addLucent(c.nVariant, "", nPort++);
        Image image = makeImage(6);
        useImage(image);
        ASSERT_EQ(FR_SUCCESSFUL, flash());
        expectFlashHolds(dev, image);
        EXPECT_EQ(joined(image.lines), dev.state().value("lucent.image_lines"));
        EXPECT_EQ("1", dev.state().value("lucent.go"));
        EXPECT_EQ("1", dev.state().value("lucent.defaults"));
        EXPECT_EQ("flashed", dev.state().value("lucent.state"));
        EXPECT_EQ("off", dev.state().value("lucent.flow_control"));
        EXPECT_EQ("115200", dev.state().value("lucent.host_speed"));
        EXPECT_STREQ("4.4", update.szLoaderVersion);
        // Exactly the defaults, the GO command and the image lines, each ending CR LF.
        EXPECT_EQ(std::string("AT&F&W&W1Z\r") + c.pszGo + lucenttest::crlfLines(image.lines), hostBytes(dev));
        expectPortClosed(dev);
        EXPECT_EQ(0, update.nRejectedBlocks);
    }
}

} // namespace
