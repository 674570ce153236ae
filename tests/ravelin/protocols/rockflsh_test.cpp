// The Rockwell download against the simulated boot code and loader: what the device holds, the
// dialogue and its speeds, the loader look-up, and every way the download ends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chip_test_util.h"
#include "ravelin/catalogue/catalogue.h"
#include "ravelin/protocols/rockflsh.h"

using chiptest::byteRun;
using chiptest::crlfLines;
using chiptest::hexRecord;

namespace {

class RockwellTest : public ChipFlashTest {
protected:
    void SetUp() override
    {
        ChipFlashTest::SetUp();
        os_SetExeDirForTesting(dir.path().c_str());
        ModelEntry rc;
        std::snprintf(rc.szName, sizeof rc.szName, "RW56-C-2");
        std::snprintf(rc.szImagePrefix, sizeof rc.szImagePrefix, "RC");
        std::snprintf(rc.szLoader, sizeof rc.szLoader, "RCLOAD.S37");
        rc.flags = 0x4A00;
        ModelEntry c7 = rc;
        std::snprintf(c7.szName, sizeof c7.szName, "RW-C7");
        std::snprintf(c7.szImagePrefix, sizeof c7.szImagePrefix, "C7");
        std::snprintf(c7.szLoader, sizeof c7.szLoader, "C7LOAD.S37");
        ModelEntry byModel = rc;
        std::snprintf(byModel.szName, sizeof byModel.szName, "RW-M");
        std::snprintf(byModel.szImagePrefix, sizeof byModel.szImagePrefix, "RM");
        std::snprintf(byModel.szLoader, sizeof byModel.szLoader, "MODEL.S37");
        cat_Install({rc, c7, byModel});

        loader = crlfLines({"S0030000FC", "S2140000000102030405060708090A0B0C0D0E0F1043", "S9030000FC"});
        chiptest::writeFile(dir.file("RCLOAD.S37"), loader);
        imageText = crlfLines({hexRecord(4, 0, {0x00, 0x01}), hexRecord(0, 0x0100, byteRun(0x40, 16)),
                               hexRecord(0, 0x0110, byteRun(0x80, 16)), ":00000001FF"});
        setImage("RCIMAGE.HEX", imageText);
        update.flags = 0x4A00;  // Rockwell, download at 115200
    }
    void TearDown() override
    {
        cat_Free();
        os_SetExeDirForTesting(nullptr);
        ChipFlashTest::TearDown();
    }
    modemsim::Device &rockwell(const std::string &keys = "", long speed = 115200)
    {
        return addDevice("port = 3\nthrottle = off\nfamily = rockwell-loader\nspeed = " + std::to_string(speed) +
                         "\n" + keys);
    }
    int flash() { return rockflsh_Flash(chiptest::ProgressLog::callback, &update); }

    std::string loader, imageText;
};

TEST_F(RockwellTest, TheDeviceHoldsTheLoaderAndTheImageAsSent)
{
    setScale(0.2);
    update.restoreDefaults = 1;
    modemsim::Device &dev = rockwell();
    int fdsBefore = openDescriptors();
    ASSERT_EQ(FR_SUCCESSFUL, flash());
    EXPECT_EQ(fdsBefore, openDescriptors()) << "files or port left open";
    EXPECT_EQ(loader, value(3, "rockwell.loader"));
    EXPECT_EQ(imageText, value(3, "rockwell.image"));
    EXPECT_EQ(byteRun(0x40, 16), dev.state().flash.read(0x10100, 16));
    EXPECT_EQ(byteRun(0x80, 16), dev.state().flash.read(0x10110, 16));
    EXPECT_EQ((std::vector<std::string>{"AT&F&W&W1Z", "AT**", "AT&F&W&W1Z"}), dev.state().commands());
    EXPECT_EQ("on", value(3, "rockwell.flow")) << "lines are paced by CTS flow control";
    EXPECT_EQ("115200", value(3, "rockwell.speed"));
    // Defaults, start, the loader's lines, its end, the image's lines, its end, defaults again.
    EXPECT_EQ((std::vector<int>{flsh_cRestoreDefaults, flsh_cProgramStart, flsh_cProgramming, flsh_cProgramDone,
                                flsh_cProgramming, flsh_cProgramDone, flsh_cRestoreDefaults}),
              progress().statuses());
    EXPECT_EQ(7, progress().count(flsh_cProgramming)) << "one report per line sent: 3 loader, 4 image lines";
    expectPortFree();
}

TEST_F(RockwellTest, SpeedAndDefaultsFollowTheFamilyFlags)
{
    struct Case {
        std::uint32_t flags;
        std::int32_t recordSpeed;
        long deviceSpeed;
        std::vector<std::string> commands;
    };
    const Case cases[] = {
        {0x00000200, 38400, 38400, {"AT&F&W&W1Z", "AT**", "AT&F&W&W1Z"}},   // the record's speed
        {0x00004A00, 9600, 115200, {"AT&F&W&W1Z", "AT**", "AT&F&W&W1Z"}},   // 0x4000: 115200 whatever asked
        {0x00204A00, 38400, 115200, {"AT**"}},                               // 0x200000: no defaults
    };
    int port = 3;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.flags);
        rockwell("port = " + std::to_string(port), c.deviceSpeed);
        DeviceUpdate one;
        ASSERT_EQ(1, flsh_InitDeviceUpdate(&one, portName(port).c_str()));
        std::snprintf(one.szImagePath, sizeof one.szImagePath, "%s", update.szImagePath);
        one.flags = c.flags;
        one.nSpeed = c.recordSpeed;
        one.restoreDefaults = 1;
        EXPECT_EQ(FR_SUCCESSFUL, rockflsh_Flash(flsh_ProgressCallback, &one));
        EXPECT_EQ(c.commands, device(port).state().commands());
        EXPECT_EQ(std::to_string(c.deviceSpeed), value(port, "rockwell.speed"));
        EXPECT_EQ(c.deviceSpeed, one.nSpeed) << "the record tells the speed the download ran at";
        EXPECT_EQ(imageText, value(port, "rockwell.image"));
        flsh_FreeDeviceUpdate(&one);
        ++port;
    }
}

TEST_F(RockwellTest, EveryConfirmationTheDeviceMayGiveAndTheMissingOnes)
{
    struct Case {
        const char *keys;
        int result;
        bool imageSent;
    };
    const Case cases[] = {
        {"fault.rockwell.ok_banner = on", FR_SUCCESSFUL, true},  // "OK" is watched first
        {"rockwell.banner_capital = on", FR_SUCCESSFUL, true},
        {"fault.rockwell.nvram = on", FR_SUCCESSFUL, true},      // "Upload NV_Ram Data" also means ready
        {"rockwell.final_upload = on", FR_SUCCESSFUL, true},
        {"fault.rockwell.no_banner = on", FR_HANDSHAKE_FAILURE, false},
        {"fault.rockwell.no_flash_code = on", FR_HANDSHAKE_FAILURE, false},
        {"fault.rockwell.no_final = on", FR_VERIFY_FAILED, true},
    };
    int port = 3;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.keys);
        rockwell("port = " + std::to_string(port) + "\n" + c.keys);
        DeviceUpdate one;
        ASSERT_EQ(1, flsh_InitDeviceUpdate(&one, portName(port).c_str()));
        std::snprintf(one.szImagePath, sizeof one.szImagePath, "%s", update.szImagePath);
        one.flags = update.flags;
        one.restoreDefaults = 0;
        EXPECT_EQ(c.result, rockflsh_Flash(flsh_ProgressCallback, &one));
        EXPECT_EQ(c.imageSent ? imageText : "", value(port, "rockwell.image"));
        flsh_FreeDeviceUpdate(&one);
        ++port;
    }
}

TEST_F(RockwellTest, ALateFinalConfirmationCountsOnlyWithinItsWait)
{
    // The final confirmation is waited for 30 s: half of it is waited out, one and a half are not.
    const struct {
        const char *late;
        int result;
    } cases[] = {{"15000", FR_SUCCESSFUL}, {"45000", FR_VERIFY_FAILED}};
    int port = 3;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.late);
        modemsim::Device &dev = rockwell("port = " + std::to_string(port) + "\nfault.rockwell.late_final = " + c.late);
        DeviceUpdate one;
        ASSERT_EQ(1, flsh_InitDeviceUpdate(&one, portName(port).c_str()));
        std::snprintf(one.szImagePath, sizeof one.szImagePath, "%s", update.szImagePath);
        one.flags = update.flags;
        one.restoreDefaults = 0;
        EXPECT_EQ(c.result, rockflsh_Flash(flsh_ProgressCallback, &one));
        EXPECT_EQ(byteRun(0x80, 16), dev.state().flash.read(0x10110, 16)) << "programmed either way";
        flsh_FreeDeviceUpdate(&one);
        ++port;
    }
}

TEST_F(RockwellTest, AnImageLineDamagedOnTheWayIsNoSuccess)
{
    // The 100th byte the device hears lies in the image's second line: "AT**\r" is 5 bytes, the
    // loader 70, the first image line 17. The loader refuses that record and, since it does not
    // hold the image, never confirms it; the host's wait for the confirmation ends the update.
    modemsim::Device &dev = rockwell("fault.corrupt_every = 100\nfault.direction = from_host");
    EXPECT_EQ(FR_VERIFY_FAILED, flash());
    EXPECT_EQ("1", value(3, "rockwell.bad_lines"));
    EXPECT_EQ(std::vector<std::uint8_t>(16, 0xFF), dev.state().flash.read(0x10100, 16));
    EXPECT_EQ(byteRun(0x80, 16), dev.state().flash.read(0x10110, 16)) << "the lines after it still went out";
    expectPortFree();
}

TEST_F(RockwellTest, TheLoaderComesFromTheImagePrefixThenTheModelThenTheDefault)
{
    chiptest::writeFile(dir.file("c7load.s37"), "S9030000FC\r\n");  // found without regard to case
    struct Case {
        const char *image;
        const char *model;
        const char *loader;
        int found;
    };
    const Case cases[] = {
        {"/some/where/c7image.hex", "", "c7load.s37", 1},          // lower-case "c7" is the prefix C7
        {"RCIMAGE.HEX", "RW-M", "RCLOAD.S37", 1},                   // the prefix wins over the model
        {"XXIMAGE.HEX", "RW-M", "MODEL.S37", 0},                    // no prefix entry: the model's
        {"XXIMAGE.HEX", "Unknown", "F35Aload.s37", 0},              // neither: the default
    };
    for (const Case &c : cases) {
        char path[os_kPathLen];
        EXPECT_EQ(c.found, rockflsh_LoaderPath(c.image, c.model, path, sizeof path)) << c.image;
        EXPECT_EQ(dir.file(c.loader), path) << c.image;
    }
}

TEST_F(RockwellTest, FilesThatCannotBeSentLeaveTheDeviceUntouched)
{
    struct Case {
        const char *what;
        int result;
    };
    const Case cases[] = {
        {"no loader", FR_HEX_OPEN_FAILED},
        {"no image", FR_HEX_OPEN_FAILED},
        {"a 127-character image line", FR_BAD_HEX},
        {"a 127-character loader line", FR_BAD_HEX},
    };
    modemsim::Device &dev = rockwell();
    update.restoreDefaults = 1;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string what = c.what;
        chiptest::writeFile(dir.file("RCLOAD.S37"), what == "a 127-character loader line"
                                                         ? crlfLines({"S2" + std::string(125, '0')})
                                                         : loader);
        if (what == "no loader")
            std::filesystem::remove(dir.file("RCLOAD.S37"));
        if (what == "no image") {
            setImage("RCMISSING.HEX", "");
            std::filesystem::remove(update.szImagePath);
        }
        if (what == "a 127-character image line") {
            std::string line = hexRecord(0, 0, byteRun(0, 58));  // 11 + 116 characters
            ASSERT_EQ(127u, line.size());
            setImage("RCLONG.HEX", crlfLines({hexRecord(0, 0, {1}), line, ":00000001FF"}));
        }
        int fdsBefore = openDescriptors();
        EXPECT_EQ(c.result, flash());
        EXPECT_EQ(fdsBefore, openDescriptors());
        expectPortFree();
    }
    EXPECT_TRUE(dev.state().commands().empty()) << "nothing may reach a device whose files cannot be sent";
}

TEST_F(RockwellTest, TheLongestRecordGoesOutWholeAndA126CharacterLineIsRefused)
{
    // A record of 57 data bytes is 125 characters, the longest record a 126-character line holds:
    // it goes out whole and the device holds its bytes.
    std::string longest = hexRecord(0, 0x0200, byteRun(0, 57));
    ASSERT_EQ(125u, longest.size());
    setImage("RCIMAGE.HEX", crlfLines({longest, ":00000001FF"}));
    modemsim::Device &dev = rockwell();
    EXPECT_EQ(FR_SUCCESSFUL, flash());
    EXPECT_EQ(crlfLines({longest, ":00000001FF"}), value(3, "rockwell.image"));
    EXPECT_EQ(byteRun(0, 57), dev.state().flash.read(0x0200, 57));

    // One more character still fits the line reader, but is no record: refused before anything goes out.
    std::string line = hexRecord(0, 0, byteRun(0, 57)) + "F";
    ASSERT_EQ(126u, line.size());
    setImage("RCIMAGE.HEX", crlfLines({line, ":00000001FF"}));
    modemsim::Device &other = rockwell("port = 4");
    std::snprintf(update.szPortPath, sizeof update.szPortPath, "%s", portName(4).c_str());
    EXPECT_EQ(FR_BAD_HEX, flash());
    EXPECT_TRUE(other.transcript().bytes(modemsim::Transcript::Direction::kFromHost).empty());
}

TEST_F(RockwellTest, ABadImageIsRefusedBeforeTheDeviceHearsAnything)
{
    // The loader takes the image line by line and refuses a bad record only when it comes: by then
    // the device holds the records before it. Each of these ends with 3, and the device (defaults
    // restore included) hears nothing.
    std::string badSum = hexRecord(0, 0x0110, byteRun(0x80, 16));
    badSum.back() = badSum.back() == '0' ? '1' : '0';
    const std::string first = hexRecord(4, 0, {0x00, 0x01});
    const std::string data = hexRecord(0, 0x0100, byteRun(0x40, 16));
    struct Case {
        const char *what;
        std::string image;
    };
    const Case cases[] = {
        {"a checksum that does not add up", crlfLines({first, data, badSum, ":00000001FF"})},
        {"a line that is no record", crlfLines({first, data, "0110000080818283", ":00000001FF"})},
        {"two records run together", crlfLines({first, data + hexRecord(0, 0x0110, {1}), ":00000001FF"})},
        {"a blank line before more records", crlfLines({first, data, "", ":00000001FF"})},
        {"a bad record after the end record", crlfLines({first, data, ":00000001FF", badSum})},
        {"a line feed alone between records", first + "\r\n" + data + "\n" + ":00000001FF\r\n"},
    };
    update.restoreDefaults = 1;
    int port = 3;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        modemsim::Device &dev = rockwell("port = " + std::to_string(port));
        std::snprintf(update.szPortPath, sizeof update.szPortPath, "%s", portName(port).c_str());
        setImage("RCBAD.HEX", c.image);
        progress() = chiptest::ProgressLog();
        EXPECT_EQ(FR_BAD_HEX, flash());
        EXPECT_EQ("", dev.transcript().bytes(modemsim::Transcript::Direction::kFromHost)) << "bytes the device heard";
        EXPECT_EQ("", value(port, "rockwell.loader"));
        EXPECT_EQ(std::vector<std::uint8_t>(16, 0xFF), dev.state().flash.read(0x10100, 16)) << "flash unchanged";
        EXPECT_TRUE(progress().calls.empty());
        expectPortFree();
        ++port;
    }

    // Blank lines and an old editor's Ctrl-Z at the very end are no records, and no fault either.
    modemsim::Device &dev = rockwell("port = " + std::to_string(port));
    std::snprintf(update.szPortPath, sizeof update.szPortPath, "%s", portName(port).c_str());
    setImage("RCTAIL.HEX", imageText + "\r\n\r\n\x1A");
    EXPECT_EQ(FR_SUCCESSFUL, flash());
    EXPECT_EQ(byteRun(0x80, 16), dev.state().flash.read(0x10110, 16));
}

TEST_F(RockwellTest, AnEmptyImageEndsItsFileAtOnceAndWaitsForTheConfirmation)
{
    setImage("RCEMPTY.HEX", "");
    rockwell();
    EXPECT_EQ(FR_VERIFY_FAILED, flash()) << "the device never confirms an image it did not get";
    EXPECT_EQ("", value(3, "rockwell.image"));
    EXPECT_EQ(loader, value(3, "rockwell.loader"));
    EXPECT_EQ((std::vector<int>{flsh_cProgramStart, flsh_cProgramming, flsh_cProgramDone}), progress().statuses());
    EXPECT_EQ(2, progress().count(flsh_cProgramDone));
}

TEST_F(RockwellTest, CancelAtEachStageClosesFilesAndPort)
{
    struct Case {
        int status, occurrence;
        std::vector<std::string> commands;
        bool loaderDone;
    };
    const Case cases[] = {
        {flsh_cRestoreDefaults, 1, {}, false},
        {flsh_cProgramStart, 1, {"AT&F&W&W1Z"}, false},
        {flsh_cProgramming, 1, {"AT&F&W&W1Z", "AT**"}, false},   // during the loader
        {flsh_cProgramming, 4, {"AT&F&W&W1Z", "AT**"}, true},    // during the image
    };
    int port = 3;
    for (const Case &c : cases) {
        SCOPED_TRACE(port);
        rockwell("port = " + std::to_string(port));
        DeviceUpdate one;
        ASSERT_EQ(1, flsh_InitDeviceUpdate(&one, portName(port).c_str()));
        std::snprintf(one.szImagePath, sizeof one.szImagePath, "%s", update.szImagePath);
        one.flags = update.flags;
        one.restoreDefaults = 1;
        progress() = chiptest::ProgressLog();
        cancelAt(c.status, c.occurrence);
        int fdsBefore = openDescriptors();
        EXPECT_EQ(FR_ABORTED, rockflsh_Flash(chiptest::ProgressLog::callback, &one));
        EXPECT_EQ(fdsBefore, openDescriptors());
        EXPECT_EQ(c.commands, device(port).state().commands());
        EXPECT_EQ(c.loaderDone, value(port, "rockwell.loader") == loader);
        // What was written before the cancel may be purged with the port's queues on its close.
        EXPECT_NE(imageText, value(port, "rockwell.image"));
        EXPECT_EQ(c.loaderDone, progress().count(flsh_cProgramDone) == 1);
        flsh_FreeDeviceUpdate(&one);
        flsh_ClearCancelForTesting();
        ++port;
    }
}

TEST_F(RockwellTest, WithoutProgrammingOnlyTheDefaultsAreRestored)
{
    std::filesystem::remove(dir.file("RCLOAD.S37"));  // not needed: no file is opened
    update.noProgramming = 1;
    update.restoreDefaults = 1;
    modemsim::Device &dev = rockwell();
    EXPECT_EQ(FR_SUCCESSFUL, flash());
    EXPECT_EQ(std::vector<std::string>{"AT&F&W&W1Z"}, dev.state().commands());
    expectPortFree();
}

TEST_F(RockwellTest, ALineThatCannotBeWrittenEndsTheDownload)
{
    // The line drops in the middle of a loader longer than the line's buffers: a later write fails.
    std::vector<std::string> lines(1000, "S2140000000102030405060708090A0B0C0D0E0F1043");
    lines.push_back("S9030000FC");
    chiptest::writeFile(dir.file("RCLOAD.S37"), crlfLines(lines));
    modemsim::Device &dev = rockwell("fault.disconnect_after = 100");
    EXPECT_EQ(FR_VERIFY_FAILED, flash());
    EXPECT_EQ(1, progress().count(flsh_cBlockRejected));
    EXPECT_EQ(1, update.nRejectedBlocks);
    EXPECT_EQ(std::vector<std::string>{"AT**"}, dev.state().commands());
}

TEST_F(RockwellTest, APortThatCannotBeOpenedIs7)
{
    EXPECT_EQ(FR_PORT_OPEN_FAILED, flash());
    EXPECT_TRUE(progress().calls.empty());
}

} // namespace
