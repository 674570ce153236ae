// Whole device updates with the generic loader protocol against simulated devices: what the device
// holds afterwards, the dialogue options, and every way an update ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "fixtures/sim_bank_fixture.h"
#include "flash_test_util.h"
#include "ravelin/flash/card_reset.h"
#include "ravelin/flash/flsh.h"
#include "ravelin/support/osclock.h"

using flashtest::crlfLines;
using flashtest::hexRecord;

namespace {

// Time scale of these tests: the real dialogue with every sleep and time-out a fifth as long.
constexpr double kScale = 0.2;

struct ImageRecord {
    std::uint32_t address;
    std::vector<std::uint8_t> data;
};

// An image as address -> byte, for checking the device.
using ByteMap = std::map<std::uint32_t, std::uint8_t>;

class FlashUpdateTest : public SimBankTest {
protected:
    void SetUp() override
    {
        setenv("SUITE_TIME_SCALE", "0.2", 1);
        os_SetTimeScaleForTesting(kScale);
        SimBankTest::SetUp();
        tmpEnv = std::make_unique<modemsim_testing::ScopedEnv>("TMPDIR", sortDir.path());
        ASSERT_EQ(1, flsh_InitDeviceUpdate(&update, portName(3).c_str()));
        update.keepBootSector = 1;
        update.restoreDefaults = 0;
    }
    void TearDown() override
    {
        SimBankTest::TearDown();
        tmpEnv.reset();
        flsh_FreeDeviceUpdate(&update);
        flsh_ClearCancelForTesting();
        flsh_SetCardDriver(nullptr);
        os_SetTimeScaleForTesting(1.0);
        unsetenv("SUITE_TIME_SCALE");
    }

    modemsim::Device &loader(const std::string &keys = "", int port = 3)
    {
        return addDevice("port = " + std::to_string(port) +
                         "\nspeed = 19200\nthrottle = off\nfamily = loader\nloader.version = 2.00\n" + keys);
    }

    // Writes the records in a shuffled order (the engine sorts them), each after the linear base
    // record it needs.
    void writeImage(std::vector<ImageRecord> records, unsigned seed = 1)
    {
        image.clear();
        std::shuffle(records.begin(), records.end(), std::mt19937(seed));
        std::vector<std::string> lines;
        for (const ImageRecord &r : records) {
            lines.push_back(hexRecord(4, 0, {static_cast<std::uint8_t>(r.address >> 24),
                                             static_cast<std::uint8_t>(r.address >> 16)}));
            lines.push_back(hexRecord(0, r.address & 0xFFFF, r.data));
            for (std::size_t i = 0; i < r.data.size(); ++i)
                image[r.address + static_cast<std::uint32_t>(i)] = r.data[i];
        }
        lines.push_back(":00000001FF");
        setImageText(crlfLines(lines));
    }
    void setImageText(const std::string &text)
    {
        std::string path = imageDir.file("IMAGE.HEX");
        flashtest::writeFile(path, text);
        std::snprintf(update.szImagePath, sizeof update.szImagePath, "%s", path.c_str());
    }

    // A contiguous run of records of 16 bytes with random contents.
    static std::vector<ImageRecord> run(std::uint32_t from, std::uint32_t bytes, unsigned seed)
    {
        std::mt19937 rng(seed);
        std::vector<ImageRecord> out;
        for (std::uint32_t a = from; a < from + bytes; a += 16) {
            ImageRecord r{a, std::vector<std::uint8_t>(16)};
            for (auto &b : r.data) b = static_cast<std::uint8_t>(rng());
            out.push_back(r);
        }
        return out;
    }

    int flash(ProgressCallback callback = flsh_ProgressCallback) { return flsh_Update(callback, &update); }

    // The device holds the image; every other byte of a 128-byte line the image touches reads 0xFF
    // (the loader got it as filling); lines the image does not touch keep what was there before.
    void expectDeviceHoldsImage(modemsim::Device &dev, std::uint8_t before = 0xFF)
    {
        std::map<std::uint32_t, bool> lines;
        for (const auto &entry : image) lines[entry.first & ~0x7Fu] = true;
        std::size_t wrong = 0;
        for (const auto &line : lines) {
            for (std::uint32_t a = line.first; a < line.first + 128; ++a) {
                auto it = image.find(a);
                std::uint8_t want = it != image.end() ? it->second : 0xFF;
                if (dev.state().flash.byte(a) != want && ++wrong <= 5)
                    ADD_FAILURE() << std::hex << "byte at 0x" << a << " is 0x" << int(dev.state().flash.byte(a))
                                  << ", want 0x" << int(want);
            }
        }
        EXPECT_EQ(0u, wrong);
        if (before != 0xFF && !lines.empty()) {
            std::uint32_t past = std::prev(lines.end())->first + 0x400;
            EXPECT_EQ(before, dev.state().flash.byte(past)) << "beyond the image";
        }
    }

    std::vector<std::string> blocksOf(modemsim::Device &dev)
    {
        std::vector<std::string> out;
        std::string all = dev.state().value("loader.blocks");
        std::size_t start = 0;
        for (std::size_t end; (end = all.find(';', start)) != std::string::npos; start = end + 1)
            out.push_back(all.substr(start, end - start));
        return out;
    }

    // The device's command lines once it has heard `count` of them (the last one may still be on
    // its way when the update returns), or after a generous wait.
    static std::vector<std::string> commandsOf(modemsim::Device &dev, std::size_t count)
    {
        for (int i = 0; i < 1000 && dev.state().commands().size() < count; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return dev.state().commands();
    }

    bool sortDirEmpty() const { return std::filesystem::is_empty(sortDir.path()); }

    DeviceUpdate update;
    ByteMap image;
    flashtest::TempDir imageDir, sortDir;
    std::unique_ptr<modemsim_testing::ScopedEnv> tmpEnv;
};

TEST_F(FlashUpdateTest, ProgramsTheImageIn4096ByteBlocks)
{
    modemsim::Device &dev = loader();
    dev.state().flash.program(0, std::vector<std::uint8_t>(0x5000, 0x00));
    auto records = run(0x0000, 0x2400, 1);
    auto more = run(0x2480, 0x300, 2);  // a 128-byte hole the loader fills
    records.insert(records.end(), more.begin(), more.end());
    writeImage(records);
    EXPECT_EQ(FR_SUCCESSFUL, flash());
    expectDeviceHoldsImage(dev, 0x00);
    EXPECT_EQ((std::vector<std::string>{"0:1000", "1000:1000", "2000:780"}), blocksOf(dev));
    EXPECT_STREQ("2.0", update.szLoaderVersion);
    EXPECT_EQ(38400, update.nSpeed);
    EXPECT_EQ("38400", dev.state().value("loader.speed"));
    EXPECT_EQ(0x2000u, update.nHighestBlockAddress);
    EXPECT_STREQ("P 100", update.szShortCode);
    EXPECT_STREQ("Programming Done", update.szStatusText);
    EXPECT_EQ(0, update.nRejectedBlocks);
    EXPECT_EQ((std::vector<std::string>{"AT*FS", "ATI1", "ATFLP", "ATFLP", "ATFLP", "ATFLEND"}), commandsOf(dev, 6));
    EXPECT_TRUE(sortDirEmpty()) << "the sorted image must be deleted";
}

TEST_F(FlashUpdateTest, OldLoadersGet128ByteBlocks)
{
    modemsim::Device &dev = loader("loader.version = 1.07\n");
    writeImage(run(0x1000, 0x600, 3));
    EXPECT_EQ(FR_SUCCESSFUL, flash());
    EXPECT_STREQ("1.7", update.szLoaderVersion);
    auto blocks = blocksOf(dev);
    ASSERT_EQ(12u, blocks.size());
    for (const std::string &b : blocks) EXPECT_EQ(":80", b.substr(b.find(':')));
    expectDeviceHoldsImage(dev);
}

TEST_F(FlashUpdateTest, FourByteHeadersReachHighAddresses)
{
    modemsim::Device &dev = loader("loader.addr32 = on\n");
    update.flags = FLF_ADDR32;
    dev.state().flash.program(0x1230000, std::vector<std::uint8_t>(0x2000, 0x5A));
    writeImage(run(0x1230100, 0x1000, 4));
    EXPECT_EQ(FR_SUCCESSFUL, flash());
    expectDeviceHoldsImage(dev, 0x5A);
    EXPECT_EQ(0x1230100u, update.nHighestBlockAddress);
}

TEST_F(FlashUpdateTest, ThreeByteHeadersCarryBits23To0)
{
    modemsim::Device &dev = loader();
    writeImage(run(0x0A0000, 0x200, 5));
    EXPECT_EQ(FR_SUCCESSFUL, flash());
    expectDeviceHoldsImage(dev);
    EXPECT_EQ((std::vector<std::string>{"A0000:200"}), blocksOf(dev));
}

TEST_F(FlashUpdateTest, CardPortsSendDataInPieces)
{
    for (std::uint32_t flags : {FLF_CARD_128, FLF_CARD_256, FLF_CARD_128 | FLF_CARD_256}) {
        SCOPED_TRACE(flags);
        int port = flags == FLF_CARD_128 ? 3 : flags == FLF_CARD_256 ? 4 : 5;
        modemsim::Device &dev = loader("", port);
        DeviceUpdate card;
        ASSERT_EQ(1, flsh_InitDeviceUpdate(&card, portName(port).c_str()));
        card.flags = flags;
        card.restoreDefaults = 0;
        writeImage(run(0x0000, 0x1100, 6 + port));
        std::snprintf(card.szImagePath, sizeof card.szImagePath, "%s", update.szImagePath);
        EXPECT_EQ(FR_SUCCESSFUL, flsh_Update(flsh_ProgressCallback, &card));
        EXPECT_EQ(0, card.nDataSendErrors);
        expectDeviceHoldsImage(dev);
        flsh_FreeDeviceUpdate(&card);
    }
}

TEST_F(FlashUpdateTest, BlocksKeepToSixteenKiBAndStartAfterGaps)
{
    modemsim::Device &dev = loader();
    dev.state().flash.program(0, std::vector<std::uint8_t>(0x8000, 0x00));
    writeImage({{0x0000, std::vector<std::uint8_t>(16, 0x11)},
                {0x0100, std::vector<std::uint8_t>(16, 0x22)},
                {0x3F80, std::vector<std::uint8_t>(16, 0x33)},
                {0x4010, std::vector<std::uint8_t>(16, 0x44)}});
    EXPECT_EQ(FR_SUCCESSFUL, flash());
    EXPECT_EQ((std::vector<std::string>{"0:80", "100:80", "3F80:80", "4000:80"}), blocksOf(dev));
    expectDeviceHoldsImage(dev, 0x00);
    EXPECT_EQ(0x00, dev.state().flash.byte(0x0080)) << "the gap was not sent";
    EXPECT_EQ(0xFF, dev.state().flash.byte(0x3F90));
}

TEST_F(FlashUpdateTest, RecordsRepeatingAddressesDoNotWipeTheirLine)
{
    // A record at 0x70-0x8F, then its first 8 bytes again at the same address: the device must end
    // up holding all 32 bytes, not 0xFF after 0x77 from a second block over the same line.
    modemsim::Device &dev = loader();
    std::vector<std::uint8_t> data(32);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(0x40 + i);
    setImageText(crlfLines({hexRecord(0, 0x70, data),
                            hexRecord(0, 0x70, std::vector<std::uint8_t>(data.begin(), data.begin() + 8)),
                            ":00000001FF"}));
    image.clear();
    for (std::size_t i = 0; i < data.size(); ++i) image[0x70 + static_cast<std::uint32_t>(i)] = data[i];
    EXPECT_EQ(FR_SUCCESSFUL, flash());
    EXPECT_EQ((std::vector<std::string>{"0:100"}), blocksOf(dev));
    expectDeviceHoldsImage(dev);
}

TEST_F(FlashUpdateTest, BootJumpFamiliesStartWithTheJump)
{
    modemsim::Device &dev = loader();
    update.flags = FLF_BOOT_JUMP;
    writeImage(run(0x0000, 0x100, 9));
    EXPECT_EQ(FR_SUCCESSFUL, flash());
    image[0] = 0xC3;
    image[1] = 0x00;
    image[2] = 0x01;
    expectDeviceHoldsImage(dev);
}

TEST_F(FlashUpdateTest, SpeedIsLoweredToTheDevicesAndKeptWhenBelow)
{
    modemsim::Device &slow = loader("loader.max_speed = 38400\n", 3);
    modemsim::Device &fast = loader("", 4);
    writeImage(run(0x0000, 0x400, 10));

    update.nSpeed = 115200;
    EXPECT_EQ(FR_SUCCESSFUL, flash());
    EXPECT_EQ(38400, update.nSpeed);
    EXPECT_EQ("38400", slow.state().value("loader.speed"));
    expectDeviceHoldsImage(slow);

    DeviceUpdate low;
    ASSERT_EQ(1, flsh_InitDeviceUpdate(&low, portName(4).c_str()));
    std::snprintf(low.szImagePath, sizeof low.szImagePath, "%s", update.szImagePath);
    low.restoreDefaults = 0;
    low.nSpeed = 9600;
    EXPECT_EQ(FR_SUCCESSFUL, flsh_Update(flsh_ProgressCallback, &low));
    EXPECT_EQ(9600, low.nSpeed);
    EXPECT_EQ("9600", fast.state().value("loader.speed"));
    expectDeviceHoldsImage(fast);
    flsh_FreeDeviceUpdate(&low);
}

TEST_F(FlashUpdateTest, FastStartFamiliesEnterTheLoaderAt115200)
{
    // The start speed matters only for the few milliseconds "AT*FS" is on the line: give the device
    // all the time the real protocol gives it.
    os_SetTimeScaleForTesting(1.0);
    setenv("SUITE_TIME_SCALE", "1", 1);
    modemsim::Device &dev = addDevice("port = 3\nspeed = 115200\nthrottle = off\nfamily = loader\n");
    update.flags = FLF_FAST_START | FLF_FAST_POLL;
    writeImage(run(0x0000, 0x100, 11));
    EXPECT_EQ(FR_SUCCESSFUL, flash());
    expectDeviceHoldsImage(dev);
}

TEST_F(FlashUpdateTest, RestoresDefaultsFirstWhenAsked)
{
    modemsim::Device &dev = loader();
    writeImage(run(0x0000, 0x100, 12));
    update.restoreDefaults = 1;
    EXPECT_EQ(FR_SUCCESSFUL, flash());
    ASSERT_FALSE(dev.state().commands().empty());
    EXPECT_EQ("AT&F&W&W1Z", dev.state().commands().front());
    EXPECT_EQ("1", dev.state().value("loader.defaults"));
}

TEST_F(FlashUpdateTest, PreparationCommandsAndTheCheckAfterTheFlash)
{
    modemsim::Device &dev = loader();
    writeImage(run(0x0000, 0x100, 13));
    update.flags = FLF_UNPROTECT | FLF_MODE_CMD;
    update.keepBootSector = 0;
    update.afterFlash = 1;
    EXPECT_EQ(FR_SUCCESSFUL, flash());
    EXPECT_EQ((std::vector<std::string>{"AT*FS", "ATI1", "ATDPOFF", "ATN", "ATFLP", "ATFLEND", "AT*FS", "ATC",
                                        "ATFLEND"}),
              commandsOf(dev, 9));
    EXPECT_EQ("2", dev.state().value("loader.entries"));
    expectDeviceHoldsImage(dev);

    modemsim::Device &other = loader("", 4);
    DeviceUpdate mode2;
    ASSERT_EQ(1, flsh_InitDeviceUpdate(&mode2, portName(4).c_str()));
    std::snprintf(mode2.szImagePath, sizeof mode2.szImagePath, "%s", update.szImagePath);
    mode2.flags = FLF_UNPROTECT | FLF_MODE_CMD;
    mode2.keepBootSector = 1;
    mode2.afterFlash = 2;
    mode2.restoreDefaults = 0;
    EXPECT_EQ(FR_SUCCESSFUL, flsh_Update(flsh_ProgressCallback, &mode2));
    EXPECT_EQ((std::vector<std::string>{"AT*FS", "ATI1", "ATC", "ATFLP", "ATFLEND"}), commandsOf(other, 5));
    flsh_FreeDeviceUpdate(&mode2);
}

TEST_F(FlashUpdateTest, WithoutProgrammingOnlyTheDialogueRuns)
{
    modemsim::Device &dev = loader();
    std::snprintf(update.szImagePath, sizeof update.szImagePath, "%s", imageDir.file("NOT-THERE.HEX").c_str());
    update.noProgramming = 1;
    update.flags = FLF_MODE_CMD;
    update.keepBootSector = 0;
    EXPECT_EQ(FR_SUCCESSFUL, flash());
    EXPECT_EQ((std::vector<std::string>{"AT*FS", "ATI1", "ATN"}), commandsOf(dev, 3));
    EXPECT_TRUE(blocksOf(dev).empty());
    EXPECT_STREQ("H 100", update.szShortCode);
}

TEST_F(FlashUpdateTest, FixedSpeedProgramsALoaderThatIsAlreadyRunning)
{
    // A run without programming leaves the device in its loader at the agreed speed; a fixed-speed
    // run then programs it without a handshake, in 4096-byte blocks even on an old loader.
    modemsim::Device &dev = loader("loader.version = 1.07\nloader.max_speed = 38400\n");
    update.noProgramming = 1;
    update.nSpeed = 38400;
    ASSERT_EQ(FR_SUCCESSFUL, flash());
    writeImage(run(0x0000, 0x1400, 23));
    update.noProgramming = 0;
    update.fixedSpeed = 1;
    EXPECT_EQ(FR_SUCCESSFUL, flash());
    EXPECT_EQ((std::vector<std::string>{"0:1000", "1000:400"}), blocksOf(dev));
    EXPECT_EQ("1", dev.state().value("loader.entries"));
    expectDeviceHoldsImage(dev);
}

TEST_F(FlashUpdateTest, RejectedBlocksAreRetriedThenGiveUp)
{
    modemsim::Device &dev = loader("loader.error_block = 2\nloader.error_count = 2\n", 3);
    writeImage(run(0x0000, 0x3000, 14));
    EXPECT_EQ(FR_SUCCESSFUL, flash());
    EXPECT_EQ(2, update.nRejectedBlocks);
    expectDeviceHoldsImage(dev);

    loader("loader.error_block = 2\nloader.error_count = 3\n", 4);
    DeviceUpdate failing;
    ASSERT_EQ(1, flsh_InitDeviceUpdate(&failing, portName(4).c_str()));
    std::snprintf(failing.szImagePath, sizeof failing.szImagePath, "%s", update.szImagePath);
    failing.restoreDefaults = 0;
    EXPECT_EQ(FR_VERIFY_FAILED, flsh_Update(flsh_ProgressCallback, &failing));
    EXPECT_EQ(3, failing.nRejectedBlocks);
    EXPECT_STREQ("Failure to verify update", flsh_ResultText(FR_VERIFY_FAILED));
    flsh_FreeDeviceUpdate(&failing);
}

TEST_F(FlashUpdateTest, NoPromptIsATimeout)
{
    modemsim::Device &dev = loader("loader.no_prompt_block = 2\n");
    writeImage(run(0x0000, 0x2000, 15));
    EXPECT_EQ(FR_TIMEOUT, flash());
    EXPECT_EQ(1, update.nMissingPrompts);
    EXPECT_EQ(1u, blocksOf(dev).size());
    EXPECT_TRUE(sortDirEmpty());
}

TEST_F(FlashUpdateTest, SilenceAfterABlockIsATimeout)
{
    loader("loader.silent_block = 1\n");
    writeImage(run(0x0000, 0x200, 16));
    EXPECT_EQ(FR_TIMEOUT, flash());
}

TEST_F(FlashUpdateTest, LatePromptsAndAnswersCountOnlyWithinTheirWaits)
{
    // The prompt is waited for 10 s and a block's answer 20 s: half of each is waited out, one and a
    // half are a time-out. Two blocks; the second one's prompt or answer is late.
    const struct {
        const char *keys;
        int result;
        size_t blocks;  // blocks the device programmed
    } cases[] = {
        {"loader.late_prompt = 2:5000\n", FR_SUCCESSFUL, 2},
        {"loader.late_prompt = 2:15000\n", FR_TIMEOUT, 1},
        {"loader.late_block = 2:10000\n", FR_SUCCESSFUL, 2},
        {"loader.late_block = 2:30000\n", FR_TIMEOUT, 2},
    };
    int port = 3;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.keys);
        modemsim::Device &dev = loader(c.keys, port);
        writeImage(run(0x0000, 0x1080, 18));
        DeviceUpdate one;
        ASSERT_EQ(1, flsh_InitDeviceUpdate(&one, portName(port).c_str()));
        std::snprintf(one.szImagePath, sizeof one.szImagePath, "%s", update.szImagePath);
        one.keepBootSector = 1;
        one.restoreDefaults = 0;
        EXPECT_EQ(c.result, flsh_Update(flsh_ProgressCallback, &one));
        EXPECT_EQ(c.blocks, blocksOf(dev).size());
        if (c.result == FR_SUCCESSFUL)
            expectDeviceHoldsImage(dev);
        flsh_FreeDeviceUpdate(&one);
        ++port;
    }
}

int cancelAfterFirstBlock(DeviceUpdate *owner, int status, std::int32_t value, std::intptr_t detail)
{
    if (status == flsh_cProgramming)
        flsh_SetCancel();
    return flsh_ProgressCallback(owner, status, value, detail);
}

int cancelWhileSynchronising(DeviceUpdate *owner, int status, std::int32_t value, std::intptr_t detail)
{
    if (status == flsh_cHandshaking)
        flsh_SetCancel();
    return flsh_ProgressCallback(owner, status, value, detail);
}

TEST_F(FlashUpdateTest, CancelDuringProgrammingAbortsAtTheNextBlock)
{
    modemsim::Device &dev = loader();
    writeImage(run(0x0000, 0x3000, 17));
    EXPECT_EQ(FR_ABORTED, flash(cancelAfterFirstBlock));
    EXPECT_EQ(1u, blocksOf(dev).size());
    EXPECT_TRUE(sortDirEmpty());
}

TEST_F(FlashUpdateTest, CancelDuringSynchronisationIsAHandshakeFailure)
{
    modemsim::Device &dev = loader();
    writeImage(run(0x0000, 0x100, 18));
    EXPECT_EQ(FR_HANDSHAKE_FAILURE, flash(cancelWhileSynchronising));
    EXPECT_TRUE(blocksOf(dev).empty());
}

TEST_F(FlashUpdateTest, ABadImageLeavesTheDeviceUntouched)
{
    modemsim::Device &dev = loader();
    std::string good = hexRecord(0, 0x0000, std::vector<std::uint8_t>(16, 0x11));
    std::string bad = hexRecord(0, 0x1000, std::vector<std::uint8_t>(16, 0x22));
    bad[bad.size() - 2] = bad[bad.size() - 2] == '0' ? '1' : '0';  // checksum off by 16
    setImageText(crlfLines({good, bad, ":00000001FF"}));
    update.restoreDefaults = 1;
    EXPECT_EQ(FR_BAD_HEX, flash());
    EXPECT_TRUE(dev.state().commands().empty());
    EXPECT_EQ("", dev.state().value("loader.entries"));
    EXPECT_EQ(0u, dev.state().flash.extent());
    EXPECT_TRUE(sortDirEmpty());
}

std::string lowerCase(std::string text)
{
    for (char &c : text)
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

TEST_F(FlashUpdateTest, ALowerCaseImageProgramsExactlyAsItsUpperCaseTwin)
{
    // Offsets such as 00a0 against 0100 and a base value such as 001a only sort right when every
    // digit is read without regard to case; the records come in descending order, so the sorter
    // must place each of them. The end record is lower-case too.
    std::vector<std::string> upper = {hexRecord(4, 0, {0x00, 0x1A})};
    image.clear();
    for (std::uint32_t a = 0x200; a > 0; a -= 16) {
        std::vector<std::uint8_t> data(16);
        for (std::uint32_t i = 0; i < 16; ++i) {
            data[i] = static_cast<std::uint8_t>(0xA0 + a / 16 + i);
            image[0x1A0000 + a - 16 + i] = data[i];
        }
        upper.push_back(hexRecord(0, a - 16, data));
    }
    upper.push_back(":00000001FF");
    std::vector<std::string> lower;
    for (const std::string &line : upper) lower.push_back(lowerCase(line));
    ASSERT_NE(upper, lower);

    modemsim::Device &lowerDev = loader("", 3);
    setImageText(crlfLines(lower));
    ASSERT_EQ(FR_SUCCESSFUL, flash());
    expectDeviceHoldsImage(lowerDev);
    EXPECT_EQ(0x1A0000u, update.nHighestBlockAddress);

    modemsim::Device &upperDev = loader("", 4);
    flsh_FreeDeviceUpdate(&update);
    ASSERT_EQ(1, flsh_InitDeviceUpdate(&update, portName(4).c_str()));
    update.keepBootSector = 1;
    update.restoreDefaults = 0;
    setImageText(crlfLines(upper));
    ASSERT_EQ(FR_SUCCESSFUL, flash());
    expectDeviceHoldsImage(upperDev);
    EXPECT_EQ(blocksOf(upperDev), blocksOf(lowerDev)) << "the same blocks, in the same order";
    EXPECT_TRUE(sortDirEmpty());
}

TEST_F(FlashUpdateTest, LineEndsOfCrLfAndLfAloneProgramEveryRecord)
{
    // One LF-ended line among CR LF lines, a trailing empty line and a final Ctrl-Z: the record
    // after the lone LF is the one at 0xF000, which a CR LF-only reader would have joined to the
    // line before and left out, and the update would still have reported success.
    modemsim::Device &dev = loader();
    std::vector<std::uint8_t> low(16, 0x5A), high(16, 0xC3);
    image.clear();
    for (std::uint32_t i = 0; i < 16; ++i) {
        image[0x0000 + i] = low[i];
        image[0xF000 + i] = high[i];
    }
    setImageText(hexRecord(0, 0x0000, low) + "\n" + hexRecord(0, 0xF000, high) + "\r\n:00000001FF\r\n\r\n\x1a");
    ASSERT_EQ(FR_SUCCESSFUL, flash());
    expectDeviceHoldsImage(dev);
    EXPECT_EQ(0xF000u, update.nHighestBlockAddress);

    // The same image with LF alone everywhere.
    setImageText(hexRecord(0, 0xF000, high) + "\n" + hexRecord(0, 0x0000, low) + "\n:00000001FF\n");
    ASSERT_EQ(FR_SUCCESSFUL, flash());
    expectDeviceHoldsImage(dev);
    EXPECT_EQ(0xF000u, update.nHighestBlockAddress);
}

TEST_F(FlashUpdateTest, ALineWithMoreThanItsRecordLeavesTheDeviceUntouched)
{
    // Two records on one line (a line end lost on the way, here a lone CR) or text after the
    // checksum: the line holds more than its byte count gives, and the device gets nothing.
    modemsim::Device &dev = loader();
    std::string low = hexRecord(0, 0x0000, std::vector<std::uint8_t>(16, 0x11));
    std::string high = hexRecord(0, 0xF000, std::vector<std::uint8_t>(16, 0x22));
    for (const std::string &joined : {low + "\r" + high, low + " "}) {
        setImageText(crlfLines({joined, ":00000001FF"}));
        EXPECT_EQ(FR_BAD_HEX, flash()) << joined;
        EXPECT_TRUE(dev.state().commands().empty()) << joined;
        EXPECT_EQ(0u, dev.state().flash.extent()) << joined;
        EXPECT_TRUE(sortDirEmpty());
    }
}

TEST_F(FlashUpdateTest, ImagesThatCannotBeSortedOrOpened)
{
    modemsim::Device &dev = loader();
    setImageText(crlfLines({hexRecord(0, 0, {1, 2}), hexRecord(6, 0, {1}), ":00000001FF"}));
    EXPECT_EQ(FR_SORT_FAILED, flash());
    EXPECT_TRUE(sortDirEmpty());

    std::snprintf(update.szImagePath, sizeof update.szImagePath, "%s", imageDir.file("MISSING.HEX").c_str());
    EXPECT_EQ(FR_HEX_OPEN_FAILED, flash());
    EXPECT_TRUE(dev.state().commands().empty());
}

TEST_F(FlashUpdateTest, APortThatCannotBeOpened)
{
    writeImage(run(0x0000, 0x100, 19));
    DeviceUpdate nowhere;
    ASSERT_EQ(1, flsh_InitDeviceUpdate(&nowhere, portName(9).c_str()));
    std::snprintf(nowhere.szImagePath, sizeof nowhere.szImagePath, "%s", update.szImagePath);
    EXPECT_EQ(FR_PORT_OPEN_FAILED, flsh_Update(flsh_ProgressCallback, &nowhere));
    EXPECT_TRUE(sortDirEmpty());
    flsh_FreeDeviceUpdate(&nowhere);
}

TEST_F(FlashUpdateTest, AWrongSpeedLetterFailsTheHandshake)
{
    modemsim::Device &dev = loader("loader.speed_letter = X\n");
    writeImage(run(0x0000, 0x100, 20));
    EXPECT_EQ(FR_HANDSHAKE_FAILURE, flash());
    EXPECT_TRUE(blocksOf(dev).empty());
}

struct ResetRecorder {
    static int open(void *ctx, const char *, std::uint32_t *)
    {
        ++static_cast<ResetRecorder *>(ctx)->opens;
        return 1;
    }
    static int control(void *ctx, std::uint32_t code, const void *, std::uint32_t, void *out, std::uint32_t outLen,
                       std::uint32_t *)
    {
        auto *self = static_cast<ResetRecorder *>(ctx);
        self->codes.push_back(code);
        std::vector<std::uint8_t> answer(outLen, 0);
        if (code == flsh_kCardListCards && outLen >= 5) {
            answer[0] = 1;      // one card
            answer[1] = 2;      // card number 2
            answer[3] = 8;      // 8 ports
        } else if (code == flsh_kCardListPorts && outLen >= 12 * 4) {
            answer[12 * 3] = 3; // COM3 is its fourth port
        }
        if (out != nullptr) std::copy(answer.begin(), answer.end(), static_cast<std::uint8_t *>(out));
        return 1;
    }
    static void close(void *) {}
    int opens = 0;
    std::vector<std::uint32_t> codes;
    flsh_CardDriver driver{this, &ResetRecorder::open, &ResetRecorder::control, &ResetRecorder::close};
};

TEST_F(FlashUpdateTest, ASilentCardPortIsResetOnceAndTheHandshakeGoesOn)
{
    ResetRecorder recorder;
    flsh_SetCardDriver(&recorder.driver);
    // The loader answers only after 30 polls: past the 7.5 s reset point, before the 15 s limit.
    modemsim::Device &dev = loader("loader.sync_after = 30\n");
    update.flags = FLF_CARD_256;
    writeImage(run(0x0000, 0x100, 21));
    EXPECT_EQ(FR_SUCCESSFUL, flash());
    EXPECT_EQ(1, recorder.opens);
    EXPECT_EQ((std::vector<std::uint32_t>{flsh_kCardListCards, flsh_kCardListPorts, flsh_kCardResetPort}),
              recorder.codes);
    expectDeviceHoldsImage(dev);
}

TEST_F(FlashUpdateTest, ALoaderThatNeverAnswersFailsTheHandshake)
{
    ResetRecorder recorder;
    flsh_SetCardDriver(&recorder.driver);
    loader("loader.sync_after = -1\n");
    writeImage(run(0x0000, 0x100, 22));
    EXPECT_EQ(FR_HANDSHAKE_FAILURE, flash());
    EXPECT_EQ(0, recorder.opens) << "only card devices reset their port";
    EXPECT_STREQ("R    ", update.szShortCode);
}

} // namespace

namespace {

// An unplugged device is reported as such, not only as the time-out its dialogue ran into.
TEST_F(FlashUpdateTest, ALineThatHangsUpIsReportedAsLost)
{
    loader("fault.disconnect_after = 3000\n");
    writeImage(run(0x0000, 0x3000, 23));
    int nResult = flash();
    EXPECT_NE(FR_SUCCESSFUL, nResult);
    EXPECT_STREQ("the line was lost", update.szResultDetail) << flsh_ResultText(nResult);
    EXPECT_TRUE(sortDirEmpty());
}

TEST_F(FlashUpdateTest, APortThatCannotBeOpenedSaysWhy)
{
    writeImage(run(0x0000, 0x100, 25));
    DeviceUpdate nowhere;
    ASSERT_EQ(1, flsh_InitDeviceUpdate(&nowhere, portName(9).c_str()));
    std::snprintf(nowhere.szImagePath, sizeof nowhere.szImagePath, "%s", update.szImagePath);
    EXPECT_EQ(FR_PORT_OPEN_FAILED, flsh_Update(flsh_ProgressCallback, &nowhere));
    EXPECT_EQ(0, std::string(nowhere.szResultDetail).rfind("no such port: " + bank().dir() + "/COM9 does not exist", 0))
        << nowhere.szResultDetail;
    flsh_FreeDeviceUpdate(&nowhere);
}

} // namespace
