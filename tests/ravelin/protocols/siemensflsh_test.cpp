// The Siemens download against the simulated module: what the module holds, its speeds, every
// answer it may give to the mode command and to a block, the file check and every way out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chip_test_util.h"
#include "ravelin/protocols/siemensflsh.h"

using chiptest::byteRun;

namespace {

// A download file: each block as its length byte and its data.
std::string blockFile(const std::vector<std::vector<std::uint8_t>> &blocks)
{
    std::string out;
    for (const auto &block : blocks) {
        out += static_cast<char>(block.size());
        out.append(block.begin(), block.end());
    }
    return out;
}

class SiemensTest : public ChipFlashTest {
protected:
    void SetUp() override
    {
        ChipFlashTest::SetUp();
        blocks = {byteRun(0x10, 5), byteRun(0x80, 127), byteRun(0x00, 1)};
        file = blockFile(blocks);
        setImage("MCFIRM.BIN", file);
        update.flags = FLF_SIEMENS;
    }
    modemsim::Device &module(const std::string &keys = "", int port = 3)
    {
        return addDevice("port = " + std::to_string(port) + "\nspeed = 115200\nthrottle = off\nfamily = siemens\n" +
                         keys);
    }
    // *pnSpeed: the record's speed afterwards.
    int flash(int port = 3, std::int32_t *pnSpeed = nullptr)
    {
        DeviceUpdate one;
        EXPECT_EQ(1, flsh_InitDeviceUpdate(&one, portName(port).c_str()));
        std::snprintf(one.szImagePath, sizeof one.szImagePath, "%s", update.szImagePath);
        one.flags = update.flags;
        one.noProgramming = update.noProgramming;
        int result = siemensflsh_Flash(chiptest::ProgressLog::callback, &one);
        if (pnSpeed != nullptr) *pnSpeed = one.nSpeed;
        flsh_FreeDeviceUpdate(&one);
        return result;
    }

    std::vector<std::vector<std::uint8_t>> blocks;
    std::string file;
};

TEST_F(SiemensTest, TheModuleHoldsTheFileBlockByBlock)
{
    modemsim::Device &dev = module();
    int fdsBefore = openDescriptors();
    std::int32_t nSpeed = 0;
    ASSERT_EQ(FR_SUCCESSFUL, flash(3, &nSpeed));
    EXPECT_EQ(115200, nSpeed) << "asked for 38400, downloaded at the module's 115200";
    EXPECT_EQ(fdsBefore, openDescriptors());
    EXPECT_EQ(file, value(3, "siemens.file"));
    EXPECT_EQ("3", value(3, "siemens.blocks"));
    EXPECT_EQ(std::vector<std::string>{"AT^SFDL"}, dev.state().commands());
    EXPECT_EQ("on", value(3, "siemens.flow"));
    EXPECT_EQ("115200", value(3, "siemens.speed"));
    EXPECT_EQ((std::vector<int>{flsh_cProgramStart, flsh_cProgramming, flsh_cProgramDone}), progress().statuses());
    EXPECT_EQ(3, progress().count(flsh_cProgramming));
    EXPECT_EQ(100, progress().calls.back().second);
    expectPortFree();
}

TEST_F(SiemensTest, TheModeCommandIsTriedAgainAt57600)
{
    struct Case {
        const char *keys;
        int result;
        const char *entrySpeed;  // the host's speed at the module's last "AT^SFDL"
    };
    const Case cases[] = {
        {"fault.siemens.at_115200 = busy", FR_SUCCESSFUL, "57600"},
        {"speed = 57600\nsiemens.speeds = 57600", FR_SUCCESSFUL, "57600"},  // deaf at 115200
        {"fault.siemens.at_115200 = busy\nfault.siemens.at_57600 = retry", FR_ABORTED, "57600"},
        {"fault.siemens.at_115200 = fatal\nfault.siemens.at_57600 = fatal", FR_BAD_HEX, "57600"},
        {"fault.siemens.at_115200 = busy\nfault.siemens.at_57600 = busy", FR_VERIFY_FAILED, "57600"},
        {"fault.siemens.at_115200 = silent\nfault.siemens.at_57600 = silent", FR_PORT_OPEN_FAILED, "57600"},
    };
    int port = 3;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.keys);
        module(c.keys, port);
        std::int32_t nSpeed = 0;
        EXPECT_EQ(c.result, flash(port, &nSpeed));
        EXPECT_EQ(c.entrySpeed, value(port, "siemens.speed"));
        EXPECT_EQ(c.entrySpeed, std::to_string(nSpeed)) << "the record tells the speed the download ran at";
        EXPECT_EQ(c.result == FR_SUCCESSFUL ? file : "", value(port, "siemens.file"));
        ++port;
    }
}

TEST_F(SiemensTest, EveryBlockAnswer)
{
    std::string withoutSecond = blockFile({blocks[0], blocks[2]});
    struct Case {
        const char *script;     // the module's answers to the second block
        int result;
        const char *heard;      // blocks the module heard
        std::string kept;       // what it accepted
        int rejected;
    };
    const Case cases[] = {
        {"04,04,01", FR_SUCCESSFUL, "3", file, 0},         // sent once, accepted after two waits
        {"02,01", FR_SUCCESSFUL, "4", file, 0},            // sent again, length byte included
        {"02,02,01", FR_SUCCESSFUL, "5", file, 0},
        // A block the module failed, or never answered, does not stop the transfer, but the
        // update must not end as a success.
        {"03", FR_VERIFY_FAILED, "3", withoutSecond, 0},
        {"--", FR_VERIFY_FAILED, "3", withoutSecond, 0},
    };
    int port = 3;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.script);
        module(std::string("fault.siemens.block.2 = ") + c.script, port);
        progress() = chiptest::ProgressLog();
        EXPECT_EQ(c.result, flash(port));
        EXPECT_EQ(c.heard, value(port, "siemens.blocks"));
        EXPECT_EQ(c.kept, value(port, "siemens.file"));
        EXPECT_EQ(c.result == FR_SUCCESSFUL, progress().count(flsh_cProgramDone) == 1);
        ++port;
    }
}

TEST_F(SiemensTest, ALateBlockAnswerCountsOnlyWithinItsWait)
{
    // The wait for a block's answer is 30 s: half of it is waited out, one and a half are not.
    const struct {
        const char *late;
        int result;
    } cases[] = {{"2:15000", FR_SUCCESSFUL}, {"2:45000", FR_VERIFY_FAILED}};
    int port = 3;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.late);
        module(std::string("fault.siemens.late_block = ") + c.late, port);
        EXPECT_EQ(c.result, flash(port));
        EXPECT_EQ("3", value(port, "siemens.blocks")) << "each block sent once";
        ++port;
    }
}

TEST_F(SiemensTest, TheFileIsCheckedBeforeTheModuleIsTouched)
{
    struct Case {
        const char *what;
        std::string content;
        int result;
        std::string kept;
    };
    std::string lastLengthOnly = file + std::string(1, '\x05');
    std::string cutShort = file + std::string(1, '\x05') + "ab";
    std::vector<std::uint8_t> big(128, 0x55);
    const Case cases[] = {
        {"a length byte without its data", lastLengthOnly, FR_SUCCESSFUL, file},
        {"a last block cut short", cutShort, FR_SUCCESSFUL, file},
        {"a block of 128 bytes", blockFile({blocks[0], big}), FR_BAD_HEX, ""},
        {"a length byte 0xFF", file + std::string(1, '\xFF') + std::string(255, 'x'), FR_BAD_HEX, ""},
    };
    int port = 3;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        modemsim::Device &dev = module("", port);
        setImage("MCFIRM.BIN", c.content);
        progress() = chiptest::ProgressLog();
        EXPECT_EQ(c.result, flash(port));
        EXPECT_EQ(c.kept, value(port, "siemens.file"));
        if (c.result == FR_BAD_HEX) {
            EXPECT_TRUE(dev.state().commands().empty()) << "the module must be left untouched";
            EXPECT_TRUE(progress().calls.empty());
        } else {
            EXPECT_EQ(1, progress().count(flsh_cProgramDone));
        }
        ++port;
    }
    setImage("MCNONE.BIN", "");
    std::filesystem::remove(update.szImagePath);
    EXPECT_EQ(FR_HEX_OPEN_FAILED, flash(3));
}

TEST_F(SiemensTest, AModuleThatNeverGetsReadyGivesUpWith7)
{
    setScale(0.02);
    module("fault.siemens.no_ready = on");
    EXPECT_EQ(FR_PORT_OPEN_FAILED, flash());
    EXPECT_EQ("", value(3, "siemens.file"));
    EXPECT_EQ(4, progress().count(flsh_cProgramStart)) << "the cancel is asked between the four waits";
    expectPortFree();
}

TEST_F(SiemensTest, CancelAtEachStage)
{
    struct Case {
        int status, occurrence;
        std::vector<std::string> commands;
        const char *heard;
    };
    const Case cases[] = {
        {flsh_cProgramStart, 1, {}, ""},
        {flsh_cProgramStart, 2, {"AT^SFDL"}, ""},      // while waiting for the module to get ready
        {flsh_cProgramming, 1, {"AT^SFDL"}, "1"},
    };
    setScale(0.02);
    int port = 3;
    for (const Case &c : cases) {
        SCOPED_TRACE(port);
        modemsim::Device &dev = module(c.status == flsh_cProgramStart && c.occurrence == 2
                                           ? "fault.siemens.no_ready = on" : "",
                                       port);
        progress() = chiptest::ProgressLog();
        cancelAt(c.status, c.occurrence);
        int fdsBefore = openDescriptors();
        EXPECT_EQ(FR_ABORTED, flash(port));
        EXPECT_EQ(fdsBefore, openDescriptors());
        EXPECT_EQ(c.commands, dev.state().commands());
        EXPECT_EQ(c.heard, value(port, "siemens.blocks"));
        flsh_ClearCancelForTesting();
        ++port;
    }
}

TEST_F(SiemensTest, WithoutProgrammingTheModuleIsLeftInCommandMode)
{
    update.noProgramming = 1;
    std::filesystem::remove(update.szImagePath);
    modemsim::Device &dev = module();
    EXPECT_EQ(FR_SUCCESSFUL, flash());
    EXPECT_TRUE(dev.state().commands().empty());
    EXPECT_EQ(FR_PORT_OPEN_FAILED, flash(9));
}

} // namespace

namespace {

// A module unplugged half-way: the protocol sees only time-outs, the result's detail says what happened.
TEST_F(SiemensTest, AModuleUnpluggedMidDownloadIsReportedAsALostLine)
{
    module("fault.disconnect_after = 40\n");
    EXPECT_NE(0, siemensflsh_Flash(chiptest::ProgressLog::callback, &update));
    EXPECT_STREQ("the line was lost", update.szResultDetail);
}

} // namespace
