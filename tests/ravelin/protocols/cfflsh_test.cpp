// The dot/upload download against the simulated boot code: the bytes on the wire, what the device
// holds, the two ways into download mode, every answer to a block, and every way out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chip_test_util.h"
#include "ravelin/protocols/cfflsh.h"

using chiptest::byteRun;
using chiptest::crlfLines;
using chiptest::hexRecord;

namespace {

using Direction = modemsim::Transcript::Direction;

std::string bytesOf(const std::vector<std::uint8_t> &data) { return std::string(data.begin(), data.end()); }

class DotTest : public ChipFlashTest {
protected:
    void SetUp() override
    {
        ChipFlashTest::SetUp();
        // 100 data bytes in records of 16 (and a last of 4), with address and start records between
        // them that must change nothing in the byte stream.
        std::vector<std::string> lines;
        for (int i = 0; i < 7; ++i) {
            std::size_t count = i < 6 ? 16 : 4;
            std::vector<std::uint8_t> part = byteRun(static_cast<std::uint8_t>(1 + 16 * i), count);
            data.insert(data.end(), part.begin(), part.end());
            if (i == 3)
                lines.push_back(hexRecord(4, 0, {0x00, 0x02}));
            if (i == 5)
                lines.push_back(hexRecord(2, 0, {0x10, 0x00}));
            lines.push_back(hexRecord(0, static_cast<std::uint32_t>(0x100 * i), part));
        }
        lines.push_back(hexRecord(5, 0, {0x00, 0x00, 0x01, 0x00}));
        lines.push_back(":00000001FF");
        setImage("DAIMAGE.HEX", crlfLines(lines));
        update.flags = 0x00010000;  // dot/upload, 64-byte blocks, "AT**"
    }
    modemsim::Device &boot(const std::string &keys = "", int port = 3)
    {
        return addDevice("port = " + std::to_string(port) + "\nspeed = 115200\nthrottle = off\nfamily = dot\n" + keys);
    }
    int flash(int port = 3, int fixedSpeed = 0)
    {
        DeviceUpdate one;
        EXPECT_EQ(1, flsh_InitDeviceUpdate(&one, portName(port).c_str()));
        std::snprintf(one.szImagePath, sizeof one.szImagePath, "%s", update.szImagePath);
        one.flags = update.flags;
        one.noProgramming = update.noProgramming;
        one.fixedSpeed = fixedSpeed;
        int result = cfflsh_Flash(chiptest::ProgressLog::callback, &one);
        rejected = one.nRejectedBlocks;
        flsh_FreeDeviceUpdate(&one);
        return result;
    }
    // The image's data bytes padded with zero bytes to whole blocks.
    std::string padded(std::size_t blockSize) const
    {
        std::string out = bytesOf(data);
        out.append((blockSize - out.size() % blockSize) % blockSize, '\0');
        return out;
    }

    std::vector<std::uint8_t> data;
    int rejected = 0;
};

TEST_F(DotTest, HundredDataBytesGoOutAsTwoBlocksThenE)
{
    modemsim::Device &dev = boot();
    int fdsBefore = openDescriptors();
    ASSERT_EQ(FR_SUCCESSFUL, flash());
    EXPECT_EQ(fdsBefore, openDescriptors());
    std::string wire = "AT**\r";
    wire += "W" + bytesOf(data).substr(0, 64);
    wire += "W" + bytesOf(data).substr(64) + std::string(28, '\0');
    wire += "E" + std::string(64, '\0');
    EXPECT_EQ(modemsim::Transcript::readable(wire), modemsim::Transcript::readable(dev.transcript().bytes(Direction::kFromHost)));
    EXPECT_EQ(padded(64), value(3, "dot.data"));
    const std::string held = padded(64);
    EXPECT_EQ(std::vector<std::uint8_t>(held.begin(), held.end()), dev.state().flash.read(0, 128));
    EXPECT_EQ("on", value(3, "dot.flow"));
    EXPECT_EQ("115200", value(3, "dot.speed"));
    EXPECT_EQ((std::vector<int>{flsh_cProgramStart, flsh_cProgramming, flsh_cProgramDone}), progress().statuses());
    EXPECT_EQ(2, progress().count(flsh_cProgramming));
    expectPortFree();
}

TEST_F(DotTest, EveryFamilyGetsItsBlockSizeTrailerAndEntry)
{
    struct Case {
        std::uint32_t flags;
        const char *keys;
        std::size_t block;
        bool powerCycle;
    };
    const Case cases[] = {
        {0x00010080, "dot.block = 128", 128, false},                                   // CF
        {0x00070000, "dot.power_cycle_ms = 300", 64, true},                            // CF2
        {0x00030080, "dot.block = 128\ndot.power_cycle_ms = 300", 128, true},          // CF3
        {0x00170000, "dot.trailer = on\ndot.power_cycle_ms = 300", 64, true},          // CF4
    };
    int port = 3;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.flags);
        modemsim::Device &dev = boot(c.keys, port);
        update.flags = c.flags;
        progress() = chiptest::ProgressLog();
        EXPECT_EQ(FR_SUCCESSFUL, flash(port));
        EXPECT_EQ(padded(c.block), value(port, "dot.data"));
        EXPECT_EQ(std::string(c.block, '\0'), value(port, "dot.end"));
        EXPECT_EQ(c.powerCycle, dev.state().commands().empty()) << "a power-cycle family never sends AT**";
        std::vector<int> expected{flsh_cProgramStart, flsh_cProgramming, flsh_cProgramDone};
        if (c.powerCycle)
            expected.insert(expected.begin(), flsh_cReboot);
        EXPECT_EQ(expected, progress().statuses());
        ++port;
    }
}

TEST_F(DotTest, EveryAnswerToABlock)
{
    struct Case {
        const char *script;  // the answers to the tries of the first block
        int result;
        const char *heard;
        int rejected;
    };
    const Case cases[] = {
        {"E,E,.", FR_SUCCESSFUL, "4", 2},
        {"E,.", FR_SUCCESSFUL, "3", 1},
        {"E,E,E", FR_VERIFY_FAILED, "3", 3},
        {"-", FR_TIMEOUT, "1", 0},
    };
    int port = 3;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.script);
        boot(std::string("fault.dot.block.1 = ") + c.script, port);
        EXPECT_EQ(c.result, flash(port));
        EXPECT_EQ(c.heard, value(port, "dot.blocks"));
        EXPECT_EQ(c.rejected, rejected);
        EXPECT_EQ(c.result == FR_SUCCESSFUL ? padded(64) : "", value(port, "dot.data"));
        ++port;
    }
}

TEST_F(DotTest, EnteringDownloadModeFails)
{
    struct Case {
        std::uint32_t flags;
        const char *keys;
        int result;
    };
    const Case cases[] = {
        {0x00010000, "fault.dot.no_banner = on", FR_PORT_OPEN_FAILED},
        {0x00010000, "fault.dot.no_ready = on", FR_PORT_OPEN_FAILED},
        {0x00010000, "fault.dot.ready_error = on", FR_TIMEOUT},
        {0x00070000, "dot.power_cycle_ms = 100\nfault.dot.no_ready = on", FR_PORT_OPEN_FAILED},
        {0x00070000, "dot.power_cycle_ms = 100\nfault.dot.ready_error = on", FR_TIMEOUT},
    };
    int port = 3;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.keys);
        boot(c.keys, port);
        update.flags = c.flags;
        EXPECT_EQ(c.result, flash(port));
        EXPECT_EQ("", value(port, "dot.blocks"));
        ++port;
    }
}

TEST_F(DotTest, AnImageWithoutDataSendsEAloneAndFails)
{
    setImage("DAEMPTY.HEX", crlfLines({hexRecord(4, 0, {0, 1}), ":00000001FF"}));
    modemsim::Device &dev = boot();
    EXPECT_EQ(FR_VERIFY_FAILED, flash());
    EXPECT_EQ("AT**\rE", dev.transcript().bytes(Direction::kFromHost));
    EXPECT_EQ(0, progress().count(flsh_cProgramDone));
}

TEST_F(DotTest, AnImageThatCannotBeReadLeavesTheDeviceUntouched)
{
    modemsim::Device &dev = boot();
    std::string bad = hexRecord(0, 0x10, {1, 2, 3});
    bad.back() = bad.back() == '0' ? '1' : '0';  // checksum no longer adds up
    const std::string images[] = {
        crlfLines({hexRecord(0, 0, byteRun(0, 16)), bad, ":00000001FF"}),
        crlfLines({hexRecord(0, 0, byteRun(0, 16)), "not a record", ":00000001FF"}),
        crlfLines({hexRecord(0, 0, byteRun(0, 16)), hexRecord(6, 0, {1}), ":00000001FF"}),
    };
    for (const std::string &image : images) {
        setImage("DABAD.HEX", image);
        EXPECT_EQ(FR_BAD_HEX, flash());
    }
    EXPECT_TRUE(dev.transcript().bytes(Direction::kFromHost).empty());
    std::filesystem::remove(update.szImagePath);
    EXPECT_EQ(FR_HEX_OPEN_FAILED, flash());
    EXPECT_EQ(FR_PORT_OPEN_FAILED, flash(9));
    expectPortFree();
}

TEST_F(DotTest, CancelAtEachStage)
{
    struct Case {
        std::uint32_t flags;
        const char *keys;
        int status;
        const char *sent;  // what the device heard
    };
    const Case cases[] = {
        {0x00070000, "dot.power_cycle_ms = 100", flsh_cReboot, ""},
        {0x00010000, "", flsh_cProgramStart, ""},
        {0x00010000, "", flsh_cProgramming, "1"},
    };
    int port = 3;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.status);
        boot(c.keys, port);
        update.flags = c.flags;
        progress() = chiptest::ProgressLog();
        cancelAt(c.status);
        int fdsBefore = openDescriptors();
        EXPECT_EQ(FR_ABORTED, flash(port));
        EXPECT_EQ(fdsBefore, openDescriptors());
        EXPECT_EQ(c.sent, value(port, "dot.blocks"));
        flsh_ClearCancelForTesting();
        ++port;
    }
}

TEST_F(DotTest, AtAFixedSpeedOnlyTheDotIsAwaited)
{
    // The device's boot code already waits (it says its dot by itself): no "AT**", no banner.
    modemsim::Device &dev = boot("dot.power_cycle_ms = 0");
    EXPECT_EQ(FR_SUCCESSFUL, flash(3, 1));
    EXPECT_TRUE(dev.state().commands().empty());
    EXPECT_EQ(padded(64), value(3, "dot.data"));
}

TEST_F(DotTest, WithoutProgrammingDownloadModeIsNotEntered)
{
    update.noProgramming = 1;
    std::filesystem::remove(update.szImagePath);
    modemsim::Device &dev = boot();
    EXPECT_EQ(FR_SUCCESSFUL, flash());
    EXPECT_TRUE(dev.transcript().bytes(Direction::kFromHost).empty());
}

} // namespace

namespace {

TEST_F(DotTest, ADeviceUnpluggedMidDownloadIsReportedAsALostLine)
{
    boot("fault.disconnect_after = 40\n");
    EXPECT_NE(0, cfflsh_Flash(chiptest::ProgressLog::callback, &update));
    EXPECT_STREQ("the line was lost", update.szResultDetail);
}

} // namespace
