// The HEX sorter against golden files and against a reference sorter written here, and its failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>

#include "flash_test_util.h"
#include "ravelin/flash/flsh.h"
#include "ravelin/flash/hex_image.h"

using flashtest::crlfLines;
using flashtest::hexRecord;
using flashtest::readFile;
using flashtest::writeFile;

namespace {

const std::string kEndRecord = ":00000001FF";

std::vector<std::uint8_t> pattern(std::uint32_t seed, std::size_t n)
{
    std::vector<std::uint8_t> data(n);
    for (std::size_t i = 0; i < n; ++i)
        data[i] = static_cast<std::uint8_t>(seed * 7 + i * 13);
    return data;
}

struct Sorter {
    std::unique_ptr<SortWork> work = std::make_unique<SortWork>();
    std::vector<int> progressValues;

    static int record(DeviceUpdate *, int status, std::int32_t value, std::intptr_t)
    {
        if (current != nullptr && status == flsh_cSorting)
            current->progressValues.push_back(value);
        return 1;
    }
    static Sorter *current;

    int sort(const std::string &in, const std::string &out)
    {
        current = this;
        work->pOwner = nullptr;
        int result = sortHexFile(in.c_str(), out.c_str(), work.get(), &Sorter::record);
        current = nullptr;
        return result;
    }
};
Sorter *Sorter::current = nullptr;

class HexSortGolden : public ::testing::TestWithParam<std::string> {};

TEST_P(HexSortGolden, OutputMatchesExpectedFile)
{
    std::string dir = std::string(SUITE_SOURCE_DIR) + "/tests/ravelin/flash/data/sort/" + GetParam();
    flashtest::TempDir tmp;
    std::string out = tmp.file("sorted.hex");
    Sorter sorter;
    ASSERT_EQ(0, sorter.sort(dir + "/input.hex", out));
    std::string expected = readFile(dir + "/expected.hex");
    ASSERT_FALSE(expected.empty());
    std::string actual = readFile(out);
    EXPECT_EQ(expected, actual) << flashtest::lineDiff(expected, actual);
    ASSERT_FALSE(sorter.progressValues.empty());
    EXPECT_EQ(0, sorter.progressValues.front());
    EXPECT_EQ(100, sorter.progressValues.back());
}

INSTANTIATE_TEST_SUITE_P(Examples, HexSortGolden,
                         ::testing::Values("base0_in_order", "segment_after_data", "linear_bases_out_of_order",
                                           "descending_addresses", "start_records_dropped", "equal_addresses",
                                           "segment_and_case_kept"));

// Reference: the data records grouped by base, bases ascending, records ascending by address
// (addresses are unique in the generated images, so the order is fully determined).
std::string referenceSort(const std::vector<std::string> &lines)
{
    std::map<std::uint32_t, std::map<std::uint32_t, std::string>> byBase;
    std::uint32_t base = 0;
    for (const std::string &line : lines) {
        int type = std::stoi(line.substr(7, 2), nullptr, 16);
        std::uint32_t value = line.size() >= 13 ? std::stoul(line.substr(9, 4), nullptr, 16) : 0;
        if (type == 2) base = (value << 4) & 0xFFFFF;
        if (type == 4) base = value << 16;
        if (type == 0) byBase[base][base + std::stoul(line.substr(3, 4), nullptr, 16)] = line;
    }
    std::vector<std::string> out;
    for (const auto &entry : byBase) {
        if (entry.first < 0x100000)
            out.push_back(hexRecord(2, 0, {static_cast<std::uint8_t>(entry.first >> 12),
                                           static_cast<std::uint8_t>(entry.first >> 4)}));
        else
            out.push_back(hexRecord(4, 0, {static_cast<std::uint8_t>(entry.first >> 24),
                                           static_cast<std::uint8_t>(entry.first >> 16)}));
        for (const auto &record : entry.second)
            out.push_back(record.second);
    }
    out.push_back(kEndRecord);
    return crlfLines(out);
}

TEST(HexSort, GeneratedImagesMatchTheReference)
{
    std::mt19937 rng(20261208);
    flashtest::TempDir tmp;
    for (int round = 0; round < 25; ++round) {
        // Segment bases below 1 MiB and linear bases from 1 MiB up never name the same addresses, so
        // every absolute address is unique and the sorted order is fully determined.
        int nBases = 1 + static_cast<int>(rng() % 12);
        std::vector<std::pair<int, std::uint16_t>> bases;
        for (int i = 0; i < nBases; ++i) {
            if (rng() % 2 == 0)
                bases.push_back({4, static_cast<std::uint16_t>(0x10 + rng() % 0x30)});
            else
                bases.push_back({2, static_cast<std::uint16_t>((rng() % 16) << 12)});
        }
        std::vector<std::string> lines;
        std::set<std::uint32_t> used;
        int nChunks = 1 + static_cast<int>(rng() % 30);
        for (int c = 0; c < nChunks; ++c) {
            const auto &base = bases[rng() % bases.size()];
            std::uint32_t baseAddress = base.first == 4 ? std::uint32_t(base.second) << 16 : std::uint32_t(base.second) << 4;
            lines.push_back(hexRecord(base.first, 0, {static_cast<std::uint8_t>(base.second >> 8),
                                                      static_cast<std::uint8_t>(base.second)}));
            int nRecords = static_cast<int>(rng() % 40);
            for (int r = 0; r < nRecords; ++r) {
                std::uint32_t offset = (rng() % 0x1000) * 16;
                if (!used.insert(baseAddress + offset).second)
                    continue;
                lines.push_back(hexRecord(0, offset, pattern(rng(), 1 + rng() % 16)));
            }
            if (rng() % 5 == 0)
                lines.push_back(hexRecord(5, 0, {0, 0, 0x12, 0x34}));
        }
        lines.push_back(kEndRecord);
        std::string in = tmp.file("in.hex"), out = tmp.file("out.hex");
        writeFile(in, crlfLines(lines));
        std::string expected = referenceSort(lines);
        Sorter sorter;
        ASSERT_EQ(0, sorter.sort(in, out)) << "round " << round;
        std::string actual = readFile(out);
        EXPECT_EQ(expected, actual) << "round " << round << "\n" << flashtest::lineDiff(expected, actual);
    }
}

// A file with only the given data records in base 0.
std::vector<std::string> recordsInBase0(int count)
{
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i)
        lines.push_back(hexRecord(0, static_cast<std::uint32_t>(count - 1 - i) * 2 % 0x10000, {0x11, 0x22}));
    return lines;
}

TEST(HexSort, BaseHoldsAtMost8175Records)
{
    flashtest::TempDir tmp;
    std::string in = tmp.file("in.hex"), out = tmp.file("out.hex");
    writeFile(in, crlfLines(recordsInBase0(8175)));
    Sorter ok;
    EXPECT_EQ(0, ok.sort(in, out));
    std::string sorted = readFile(out);
    EXPECT_EQ(8175u + 2u, static_cast<std::size_t>(std::count(sorted.begin(), sorted.end(), '\n')));
    EXPECT_EQ(0u, sorted.find(":020000020000FC\r\n" + hexRecord(0, 0, {0x11, 0x22}) + "\r\n"));

    writeFile(in, crlfLines(recordsInBase0(8176)));
    Sorter tooMany;
    EXPECT_EQ(-1, tooMany.sort(in, out));
}

TEST(HexSort, FailureInALaterBaseLeavesEarlierBasesWritten)
{
    flashtest::TempDir tmp;
    std::vector<std::string> lines = {hexRecord(0, 0x40, {1, 2, 3})};
    lines.push_back(hexRecord(4, 0, {0x00, 0x20}));
    std::vector<std::string> many = recordsInBase0(8176);
    lines.insert(lines.end(), many.begin(), many.end());
    std::string in = tmp.file("in.hex"), out = tmp.file("out.hex");
    writeFile(in, crlfLines(lines));
    Sorter sorter;
    EXPECT_EQ(-1, sorter.sort(in, out));
    EXPECT_EQ(crlfLines({":020000020000FC", hexRecord(0, 0x40, {1, 2, 3})}), readFile(out));
}

TEST(HexSort, SixtyFourBasesAndNoMore)
{
    flashtest::TempDir tmp;
    std::string in = tmp.file("in.hex"), out = tmp.file("out.hex");
    std::vector<std::string> lines;
    // Base 0 is entered first (the file starts with data), then 63 linear bases: 64 in all.
    lines.push_back(hexRecord(0, 0, {0xAA}));
    for (int b = 1; b < 64; ++b) {
        lines.push_back(hexRecord(4, 0, {0, static_cast<std::uint8_t>(b)}));
        lines.push_back(hexRecord(0, 0, {static_cast<std::uint8_t>(b)}));
    }
    lines.push_back(kEndRecord);
    writeFile(in, crlfLines(lines));
    Sorter full;
    ASSERT_EQ(0, full.sort(in, out));

    // Any further extended address record fails, even one naming a base already held.
    std::vector<std::string> repeated = lines;
    repeated.insert(repeated.end() - 1, hexRecord(4, 0, {0, 1}));
    writeFile(in, crlfLines(repeated));
    Sorter again;
    EXPECT_EQ(-1, again.sort(in, out));

    std::vector<std::string> extra = lines;
    extra.insert(extra.end() - 1, hexRecord(4, 0, {0, 99}));
    writeFile(in, crlfLines(extra));
    Sorter more;
    EXPECT_EQ(-1, more.sort(in, out));
}

TEST(HexSort, RepeatedBaseRecordsEnterNothingNew)
{
    flashtest::TempDir tmp;
    std::string in = tmp.file("in.hex"), out = tmp.file("out.hex");
    std::string seg = hexRecord(2, 0, {0x10, 0x00});
    std::string a = hexRecord(0, 0x20, {1}), b = hexRecord(0, 0x10, {2});
    writeFile(in, crlfLines({seg, a, seg, b, kEndRecord}));
    Sorter sorter;
    ASSERT_EQ(0, sorter.sort(in, out));
    EXPECT_EQ(crlfLines({":020000021000EC", b, a, kEndRecord}), readFile(out));
}

TEST(HexSort, RejectedInputs)
{
    flashtest::TempDir tmp;
    std::string in = tmp.file("in.hex"), out = tmp.file("out.hex");
    std::string data = hexRecord(0, 0, {1, 2, 3, 4});
    struct Case {
        const char *what;
        std::string text;
    } cases[] = {
        {"record type 06", crlfLines({data, hexRecord(6, 0, {1}), kEndRecord})},
        {"lower-case type 0a", crlfLines({data, ":0100000a01F4", kEndRecord})},
        {"line over 100 characters", crlfLines({data, hexRecord(0, 0x10, pattern(1, 48)), kEndRecord})},
        {"line shorter than a header", crlfLines({data, ":0000", kEndRecord})},
        {"empty line", crlfLines({data, "", kEndRecord})},
        {"empty file", ""},
        {"extended record without its value", crlfLines({data, ":02000004", kEndRecord})},
    };
    for (const Case &c : cases) {
        writeFile(in, c.text);
        std::filesystem::remove(out);
        Sorter sorter;
        EXPECT_EQ(-1, sorter.sort(in, out)) << c.what;
        // Input errors are found before the output is made.
        EXPECT_FALSE(flashtest::fileExists(out)) << c.what;
    }
    Sorter longPath;
    EXPECT_EQ(-1, longPath.sort(in, tmp.path() + "/" + std::string(300, 'x') + ".hex"));
    Sorter missing;
    EXPECT_EQ(-1, missing.sort(tmp.file("no-such.hex"), out));
    writeFile(in, crlfLines({data, kEndRecord}));
    Sorter noOutput;
    EXPECT_EQ(-1, noOutput.sort(in, tmp.file("no-such-dir/out.hex")));
}

TEST(HexSort, LastLineNeedsNoLineEndAndLoneLineFeedsStayText)
{
    flashtest::TempDir tmp;
    std::string in = tmp.file("in.hex"), out = tmp.file("out.hex");
    std::string a = hexRecord(0, 0x10, {1}), b = hexRecord(0, 0x00, {2});
    writeFile(in, a + "\r\n" + b);
    Sorter sorter;
    ASSERT_EQ(0, sorter.sort(in, out));
    EXPECT_EQ(crlfLines({":020000020000FC", b, a, kEndRecord}), readFile(out));

    // A file with LF line ends is one long line to a reader that only splits at CR LF.
    std::string lfOnly;
    for (int i = 0; i < 4; ++i)
        lfOnly += hexRecord(0, static_cast<std::uint32_t>(i) * 16, pattern(i, 16)) + "\n";
    writeFile(in, lfOnly);
    Sorter unix;
    EXPECT_EQ(-1, unix.sort(in, out));
}

TEST(HexSort, OutputReplacesAnExistingFile)
{
    flashtest::TempDir tmp;
    std::string in = tmp.file("in.hex"), out = tmp.file("out.hex");
    writeFile(out, std::string(5000, 'x'));
    std::string a = hexRecord(0, 0, {9});
    writeFile(in, crlfLines({a}));
    Sorter sorter;
    ASSERT_EQ(0, sorter.sort(in, out));
    EXPECT_EQ(crlfLines({":020000020000FC", a, kEndRecord}), readFile(out));
}

TEST(HexSort, EndRecordAppendsToTheOutput)
{
    flashtest::TempDir tmp;
    std::unique_ptr<SortWork> work = std::make_unique<SortWork>();
    std::snprintf(work->szOutputPath, sizeof work->szOutputPath, "%s", tmp.file("end.hex").c_str());
    EXPECT_EQ(-1, writeHexEndRecord(work.get()));
    writeFile(tmp.file("end.hex"), "abc\r\n");
    EXPECT_EQ(0, writeHexEndRecord(work.get()));
    EXPECT_EQ("abc\r\n:00000001FF\r\n", readFile(tmp.file("end.hex")));
}

} // namespace
