// Cutting a sorted image into loader blocks: alignment, the 16 KiB limit, the gap rule, filling,
// the boot jump and the block checksum; and the whole-image check made before a device is touched.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "flash_test_util.h"
#include "ravelin/flash/flsh.h"

using flashtest::crlfLines;
using flashtest::hexRecord;

namespace {

struct Block {
    std::uint32_t address;
    std::vector<std::uint8_t> bytes;
    std::uint8_t checksum;
};

std::vector<std::uint8_t> bytesFrom(std::uint8_t first, std::size_t n)
{
    std::vector<std::uint8_t> data(n);
    for (std::size_t i = 0; i < n; ++i)
        data[i] = static_cast<std::uint8_t>(first + i);
    return data;
}

class BlockTest : public ::testing::Test {
protected:
    // Builds every block of an image given as record lines (already in address order).
    std::vector<Block> blocks(const std::vector<std::string> &lines, int blockSize, std::uint32_t flags = 0,
                              int *failure = nullptr)
    {
        std::string path = tmp.file("image.hex");
        flashtest::writeFile(path, crlfLines(lines));
        osfl_Handle h = osfl_Open(path.c_str(), osfl_kRead);
        EXPECT_NE(osfl_kInvalidHandle, h);
        auto work = std::make_unique<FlshWork>();
        flsh_ResetImageReader(work.get());
        std::vector<Block> out;
        for (int guard = 0; guard < 1000; ++guard) {
            int length = flsh_BuildBlock(work.get(), h, blockSize, flags);
            if (failure != nullptr) *failure = length < 0;
            if (length <= 0) break;
            out.push_back({work->nBlockAddress,
                           std::vector<std::uint8_t>(work->abBlock, work->abBlock + length),
                           static_cast<std::uint8_t>(work->nBlockChecksum)});
        }
        osfl_Close(h);
        return out;
    }
    flashtest::TempDir tmp;
};

TEST_F(BlockTest, BlocksStopAtSixteenKiBBoundaries)
{
    auto result = blocks({":020000020000FC", hexRecord(0, 0x3F80, bytesFrom(1, 16)), hexRecord(0, 0x4010, bytesFrom(0x40, 16)),
                          ":00000001FF"},
                         flsh_kBlockSize);
    ASSERT_EQ(2u, result.size());
    EXPECT_EQ(0x3F80u, result[0].address);
    ASSERT_EQ(128u, result[0].bytes.size());
    EXPECT_EQ(1, result[0].bytes[0]);
    EXPECT_EQ(16, result[0].bytes[15]);
    EXPECT_EQ(0xFF, result[0].bytes[16]);
    EXPECT_EQ(0x4000u, result[1].address);
    ASSERT_EQ(128u, result[1].bytes.size());
    EXPECT_EQ(0xFF, result[1].bytes[0x0F]);
    EXPECT_EQ(0x40, result[1].bytes[0x10]);
}

TEST_F(BlockTest, GapsOfMoreThan128BytesStartANewBlock)
{
    auto split = blocks({hexRecord(0, 0x0000, bytesFrom(1, 16)), hexRecord(0, 0x0100, bytesFrom(2, 16)), ":00000001FF"},
                        flsh_kBlockSize);
    ASSERT_EQ(2u, split.size());
    EXPECT_EQ(0x0000u, split[0].address);
    EXPECT_EQ(128u, split[0].bytes.size());
    EXPECT_EQ(0x0100u, split[1].address);
    EXPECT_EQ(128u, split[1].bytes.size());

    // A gap of exactly 128 bytes after the block's end keeps the block going, 0xFF-filled.
    auto joined = blocks({hexRecord(0, 0x0000, bytesFrom(1, 16)), hexRecord(0, 0x0090, bytesFrom(2, 16)), ":00000001FF"},
                         flsh_kBlockSize);
    ASSERT_EQ(1u, joined.size());
    EXPECT_EQ(256u, joined[0].bytes.size());
    EXPECT_EQ(0xFF, joined[0].bytes[0x8F]);
    EXPECT_EQ(2, joined[0].bytes[0x90]);
}

TEST_F(BlockTest, RecordsSpanningBlocksContinueInTheNext)
{
    std::vector<std::string> lines;
    for (std::uint32_t a = 0; a < 0x300; a += 32)
        lines.push_back(hexRecord(0, 0x1F0 + a, bytesFrom(static_cast<std::uint8_t>(a), 32)));
    lines.push_back(":00000001FF");
    auto result = blocks(lines, flsh_kSmallBlockSize);
    ASSERT_FALSE(result.empty());
    std::vector<std::uint8_t> image(0x600, 0xFF), rebuilt(0x600, 0xFF);
    for (std::uint32_t a = 0; a < 0x300; a += 32)
        for (std::uint32_t i = 0; i < 32; ++i)
            image[0x1F0 + a + i] = static_cast<std::uint8_t>(a + i);
    for (const Block &b : result) {
        EXPECT_EQ(0u, b.address % 128);
        EXPECT_EQ(128u, b.bytes.size());
        std::uint8_t x = 0;
        for (std::size_t i = 0; i < b.bytes.size(); ++i) {
            rebuilt[b.address + i] = b.bytes[i];
            x ^= b.bytes[i];
        }
        EXPECT_EQ(x, b.checksum);
    }
    EXPECT_EQ(image, rebuilt);
}

TEST_F(BlockTest, OverlappingRecordsStayInOneBlockAndTheLaterWins)
{
    // 0x70-0x8F, then 8 bytes again at 0x70 (equal addresses), then 4 bytes inside at 0x80. Sent as
    // blocks of their own, the later records would wipe 0x00-0x7F of the line with 0xFF.
    auto result = blocks({hexRecord(0, 0x70, bytesFrom(0x10, 32)), hexRecord(0, 0x70, bytesFrom(0xA0, 8)),
                          hexRecord(0, 0x80, bytesFrom(0xC0, 4)), ":00000001FF"},
                         flsh_kBlockSize);
    ASSERT_EQ(1u, result.size());
    EXPECT_EQ(0x00u, result[0].address);
    ASSERT_EQ(256u, result[0].bytes.size()) << "the overlap must not shorten the block";
    std::vector<std::uint8_t> want(256, 0xFF);
    for (int i = 0; i < 32; ++i) want[0x70 + i] = static_cast<std::uint8_t>(0x10 + i);
    for (int i = 0; i < 8; ++i) want[0x70 + i] = static_cast<std::uint8_t>(0xA0 + i);
    for (int i = 0; i < 4; ++i) want[0x80 + i] = static_cast<std::uint8_t>(0xC0 + i);
    EXPECT_EQ(want, result[0].bytes);
    std::uint8_t x = 0;
    for (std::uint8_t b : want) x ^= b;
    EXPECT_EQ(x, result[0].checksum);

    // A record below the block's start (a later base reaching back) still starts a block of its own.
    auto back = blocks({":020000021000EC", hexRecord(0, 0x0000, bytesFrom(1, 16)), ":020000020000FC",
                        hexRecord(0, 0x0100, bytesFrom(2, 16)), ":00000001FF"},
                       flsh_kBlockSize);
    ASSERT_EQ(2u, back.size());
    EXPECT_EQ(0x10000u, back[0].address);
    EXPECT_EQ(0x0100u, back[1].address);
}

TEST_F(BlockTest, BootJumpReplacesTheFirstThreeBytesAtAddressZero)
{
    auto result = blocks({hexRecord(0, 0, bytesFrom(0x10, 8)), ":00000001FF"}, flsh_kBlockSize, FLF_BOOT_JUMP);
    ASSERT_EQ(1u, result.size());
    EXPECT_EQ(0xC3, result[0].bytes[0]);
    EXPECT_EQ(0x00, result[0].bytes[1]);
    EXPECT_EQ(0x01, result[0].bytes[2]);
    EXPECT_EQ(0x13, result[0].bytes[3]);
    auto elsewhere = blocks({hexRecord(0, 0x80, bytesFrom(0x10, 8)), ":00000001FF"}, flsh_kBlockSize, FLF_BOOT_JUMP);
    ASSERT_EQ(1u, elsewhere.size());
    EXPECT_EQ(0x10, elsewhere[0].bytes[0]);
}

TEST_F(BlockTest, ExtendedAddressesPlaceBlocksHigh)
{
    auto result = blocks({":020000040012E8", hexRecord(0, 0x0040, bytesFrom(5, 4)), ":00000001FF"}, flsh_kBlockSize);
    ASSERT_EQ(1u, result.size());
    EXPECT_EQ(0x120000u, result[0].address);
    EXPECT_EQ(5, result[0].bytes[0x40]);
}

TEST_F(BlockTest, AMalformedRecordFailsTheBlock)
{
    int failed = 0;
    blocks({hexRecord(0, 0, bytesFrom(1, 4)), ":0400100001", ":00000001FF"}, flsh_kBlockSize, 0, &failed);
    EXPECT_TRUE(failed);
}

TEST_F(BlockTest, ImageCheckFindsBadChecksumsAndMissingEnds)
{
    auto check = [this](const std::vector<std::string> &lines) {
        std::string path = tmp.file("check.hex");
        flashtest::writeFile(path, crlfLines(lines));
        osfl_Handle h = osfl_Open(path.c_str(), osfl_kRead);
        bool ok = flsh_CheckImage(h);
        osfl_Close(h);
        return ok;
    };
    std::string good = hexRecord(0, 0x10, bytesFrom(1, 16));
    std::string bad = good;
    bad[bad.size() - 1] = bad.back() == '0' ? '1' : '0';
    EXPECT_TRUE(check({":020000020000FC", good, ":00000001FF"}));
    EXPECT_FALSE(check({":020000020000FC", bad, ":00000001FF"}));
    EXPECT_FALSE(check({":020000020000FC", good}));
    EXPECT_FALSE(check({":020000020000FC", ":10001000ZZ", ":00000001FF"}));
    // A line holds one record and nothing else; a line ended by LF alone is a line of its own.
    std::string next = hexRecord(0, 0x20, bytesFrom(2, 16));
    EXPECT_FALSE(check({":020000020000FC", good + next, ":00000001FF"}));
    EXPECT_FALSE(check({":020000020000FC", good + "  ", ":00000001FF"}));
    EXPECT_TRUE(check({":020000020000FC", good + "\n" + next, ":00000001FF"}));
}

} // namespace
