// The HEX sorter against golden files and against a reference sorter written here, and its failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
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
    std::vector<std::pair<std::uint32_t, int>> warnings;  // line, warning

    static void warned(void *context, std::uint32_t line, int warning)
    {
        static_cast<Sorter *>(context)->warnings.push_back({line, warning});
    }

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
        work->pfnWarning = &Sorter::warned;
        work->pWarningContext = this;
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
    EXPECT_EQ(hex_kSortTooManyRecords, tooMany.work->nFailure);
    EXPECT_EQ(8176u, tooMany.work->nFailureLine) << "the record that did not fit";
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
    EXPECT_EQ(hex_kSortTooManyBases, more.work->nFailure);
    EXPECT_EQ(static_cast<std::uint32_t>(extra.size() - 1), more.work->nFailureLine);
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

TEST(HexSort, RejectedInputsSayWhatAndWhere)
{
    flashtest::TempDir tmp;
    std::string in = tmp.file("in.hex"), out = tmp.file("out.hex");
    std::string data = hexRecord(0, 0, {1, 2, 3, 4});
    struct Case {
        const char *what;
        std::string text;
        int failure;
        std::uint32_t line;
    } cases[] = {
        {"record type 06", crlfLines({data, hexRecord(6, 0, {1}), kEndRecord}), hex_kSortNotARecord, 2},
        {"lower-case type 0a", crlfLines({data, ":0100000a01F4", kEndRecord}), hex_kSortNotARecord, 2},
        {"type that is no number", crlfLines({data, ":010000G001F4", kEndRecord}), hex_kSortNotARecord, 2},
        {"offset that is no number", crlfLines({data, ":0100X00001F4", kEndRecord}), hex_kSortNotARecord, 2},
        {"base value that is no number", crlfLines({data, ":020000040X10EA", kEndRecord}), hex_kSortNotARecord, 2},
        {"line over 100 characters", crlfLines({data, hexRecord(0, 0x10, pattern(1, 48)), kEndRecord}),
         hex_kSortLineTooLong, 2},
        {"line shorter than a header", crlfLines({data, ":0000", kEndRecord}), hex_kSortNotARecord, 2},
        {"empty line before more records", crlfLines({data, "", "", kEndRecord}), hex_kSortNotARecord, 2},
        {"Ctrl-Z before more records", crlfLines({data, "\x1a", kEndRecord}), hex_kSortNotARecord, 2},
        {"empty file", "", hex_kSortNoRecords, 0},
        {"only empty lines", "\r\n\n\x1a", hex_kSortNoRecords, 0},
        {"extended record without its value", crlfLines({data, ":02000004", kEndRecord}), hex_kSortNotARecord, 2},
    };
    for (const Case &c : cases) {
        writeFile(in, c.text);
        std::filesystem::remove(out);
        Sorter sorter;
        EXPECT_EQ(-1, sorter.sort(in, out)) << c.what;
        EXPECT_EQ(c.failure, sorter.work->nFailure) << c.what;
        EXPECT_EQ(hex_kSortInput, sorter.work->nFailureFile) << c.what;
        EXPECT_EQ(c.line, sorter.work->nFailureLine) << c.what;
        // Input errors are found before the output is made.
        EXPECT_FALSE(flashtest::fileExists(out)) << c.what;
    }
    Sorter longPath;
    EXPECT_EQ(-1, longPath.sort(in, tmp.path() + "/" + std::string(300, 'x') + ".hex"));
    EXPECT_EQ(hex_kSortPathTooLong, longPath.work->nFailure);
    EXPECT_EQ(hex_kSortOutput, longPath.work->nFailureFile);
    Sorter missing;
    EXPECT_EQ(-1, missing.sort(tmp.file("no-such.hex"), out));
    EXPECT_EQ(hex_kSortCannotOpen, missing.work->nFailure);
    EXPECT_EQ(ENOENT, missing.work->nFailureError);
    writeFile(in, crlfLines({data, kEndRecord}));
    Sorter noOutput;
    EXPECT_EQ(-1, noOutput.sort(in, tmp.file("no-such-dir/out.hex")));
    EXPECT_EQ(hex_kSortCannotWrite, noOutput.work->nFailure);
    EXPECT_EQ(hex_kSortOutput, noOutput.work->nFailureFile);
    EXPECT_EQ(ENOENT, noOutput.work->nFailureError);
}

// An extended address record of one byte has its checksum where the base's low byte belongs. The
// sorter once took that checksum as part of the base and placed the data at 0xAB500000, where the
// record parser (and so the image check) reads the base as 0xAB00: found by the sorter's fuzz target.
TEST(HexSort, ExtendedRecordTooShortForABaseIsRefused)
{
    flashtest::TempDir tmp;
    std::string in = tmp.file("in.hex"), out = tmp.file("out.hex");
    const unsigned char kInput[] = {
        ':', '0', '1', '0', '0', '0', '0', '0', '4', 'A', 'B', '5', '0', '\r', '\n',
        ':', '0', '1', '0', '0', '0', '0', '0', '0', '1', '1', 'E', 'E', '\r', '\n',
    };
    writeFile(in, std::string(reinterpret_cast<const char *>(kInput), sizeof kInput));
    Sorter sorter;
    EXPECT_EQ(-1, sorter.sort(in, out));
    EXPECT_EQ(hex_kSortNotARecord, sorter.work->nFailure);
    EXPECT_EQ(1u, sorter.work->nFailureLine);
    EXPECT_FALSE(flashtest::fileExists(out));

    // Two bytes or more carry the base; extra bytes after them change nothing.
    writeFile(in, crlfLines({":03000004AB50CC32", hexRecord(0, 0x10, {0x11}), kEndRecord}));
    Sorter longer;
    ASSERT_EQ(0, longer.sort(in, out));
    EXPECT_EQ(crlfLines({":02000004AB50FF", hexRecord(0, 0x10, {0x11}), kEndRecord}), readFile(out));
}

TEST(HexSort, LinesPassedOnWithoutBeingUnderstoodAreWarnedAbout)
{
    flashtest::TempDir tmp;
    std::string in = tmp.file("in.hex"), out = tmp.file("out.hex");
    std::string a = hexRecord(0, 0x10, {1, 2}), b = hexRecord(0, 0x00, {3});
    std::string badSum = a;
    badSum.back() = badSum.back() == '0' ? '1' : '0';
    using W = std::vector<std::pair<std::uint32_t, int>>;
    struct Case {
        const char *what;
        std::vector<std::string> lines;
        W warnings;
    } cases[] = {
        {"a clean image", {b, a, kEndRecord}, {}},
        {"bad checksum", {b, badSum, kEndRecord}, {{2, hex_kWarnChecksum}}},
        {"no colon", {b, a.substr(1) + "0", kEndRecord}, {{2, hex_kWarnNotARecord}}},
        {"text after the checksum", {b, a + " ", kEndRecord}, {{2, hex_kWarnNotARecord}}},
        {"start addresses", {hexRecord(3, 0, {0, 0, 1, 2}), b, hexRecord(5, 0, {0, 0, 1, 2}), kEndRecord},
         {{1, hex_kWarnStartDropped}, {3, hex_kWarnStartDropped}}},
        {"records after the end", {b, kEndRecord, a, kEndRecord}, {{3, hex_kWarnAfterEnd}, {4, hex_kWarnExtraEnd}}},
    };
    for (const Case &c : cases) {
        writeFile(in, crlfLines(c.lines));
        Sorter sorter;
        ASSERT_EQ(0, sorter.sort(in, out)) << c.what;
        EXPECT_EQ(c.warnings, sorter.warnings) << c.what;
        EXPECT_EQ(c.warnings.size(), sorter.work->nWarnings) << c.what;
    }
    // Lines warned about still go where they always went: the record with the bad checksum and the
    // one after the end record are sorted in.
    writeFile(in, crlfLines({badSum, kEndRecord, b}));
    Sorter sorter;
    ASSERT_EQ(0, sorter.sort(in, out));
    EXPECT_EQ(crlfLines({":020000020000FC", b, badSum, kEndRecord}), readFile(out));
}

TEST(HexSort, LinesEndInCrLfOrLfAlone)
{
    flashtest::TempDir tmp;
    std::string in = tmp.file("in.hex"), out = tmp.file("out.hex");
    std::string a = hexRecord(0, 0x10, {1}), b = hexRecord(0, 0x00, {2}), c = hexRecord(0, 0x08, {3});
    std::string expected = crlfLines({":020000020000FC", b, c, a, kEndRecord});
    struct Case {
        const char *what;
        std::string text;
    } cases[] = {
        {"CR LF", a + "\r\n" + b + "\r\n" + c + "\r\n"},
        {"LF alone", a + "\n" + b + "\n" + c + "\n"},
        {"one LF among CR LF", a + "\r\n" + b + "\n" + c + "\r\n"},
        {"no line end on the last line", a + "\r\n" + b + "\r\n" + c},
        {"a trailing empty line", a + "\r\n" + b + "\r\n" + c + "\r\n\r\n"},
        {"trailing empty LF lines", a + "\n" + b + "\n" + c + "\n\n\n"},
        {"a final Ctrl-Z", a + "\r\n" + b + "\r\n" + c + "\r\n\x1a"},
        {"a Ctrl-Z right after the last record", a + "\n" + b + "\n" + c + "\x1a"},
        {"an empty line and a Ctrl-Z", a + "\r\n" + b + "\r\n" + c + "\r\n\r\n\x1a"},
    };
    for (const Case &k : cases) {
        writeFile(in, k.text);
        Sorter sorter;
        ASSERT_EQ(0, sorter.sort(in, out)) << k.what;
        EXPECT_EQ(expected, readFile(out)) << k.what;
        EXPECT_TRUE(sorter.warnings.empty()) << k.what;
        EXPECT_LE(sorter.progressValues.back(), 100) << k.what;
    }
    // A lone CR is text: the two records stay on one line, which is no record, kept as it is.
    writeFile(in, a + "\r" + b + "\r\n");
    Sorter sorter;
    ASSERT_EQ(0, sorter.sort(in, out));
    EXPECT_EQ((std::vector<std::pair<std::uint32_t, int>>{{1, hex_kWarnNotARecord}}), sorter.warnings);
}

std::string lowerCase(std::string text)
{
    for (char &ch : text)
        if (ch >= 'A' && ch <= 'F') ch = static_cast<char>(ch - 'A' + 'a');
    return text;
}

std::string upperCase(std::string text)
{
    for (char &ch : text)
        if (ch >= 'a' && ch <= 'f') ch = static_cast<char>(ch - 'a' + 'A');
    return text;
}

TEST(HexSort, ALowerCaseImageSortsAsItsUpperCaseTwin)
{
    flashtest::TempDir tmp;
    // 0x00A0 and 0x0100 (which a digit read by its character code would swap), a lower-case base
    // value (000a: base 0xA0000, written as segment A000), and a linear base above 1 MiB.
    std::vector<std::string> upper = {hexRecord(0, 0x0100, {1}),      hexRecord(0, 0x00A0, {2}),
                                      hexRecord(4, 0, {0x00, 0x0A}), hexRecord(0, 0xFFE0, {3}),
                                      hexRecord(0, 0x0ABC, {4}),      hexRecord(4, 0, {0x00, 0xAB}),
                                      hexRecord(0, 0xC0DE, {5}),      hexRecord(0, 0xBEEF, {6}),
                                      kEndRecord};
    std::vector<std::string> lower;
    for (const std::string &line : upper) lower.push_back(lowerCase(line));
    std::string upperIn = tmp.file("upper.hex"), lowerIn = tmp.file("lower.hex");
    std::string upperOut = tmp.file("upper.out"), lowerOut = tmp.file("lower.out");
    writeFile(upperIn, crlfLines(upper));
    writeFile(lowerIn, crlfLines(lower));
    Sorter upperSorter, lowerSorter;
    ASSERT_EQ(0, upperSorter.sort(upperIn, upperOut));
    ASSERT_EQ(0, lowerSorter.sort(lowerIn, lowerOut));
    EXPECT_TRUE(lowerSorter.warnings.empty());

    std::string expected = crlfLines({":020000020000FC", upper[1], upper[0], hexRecord(2, 0, {0xA0, 0x00}), upper[4],
                                      upper[3], hexRecord(4, 0, {0x00, 0xAB}), upper[7], upper[6], kEndRecord});
    EXPECT_EQ(expected, readFile(upperOut)) << flashtest::lineDiff(expected, readFile(upperOut));
    // The lower-case records are copied as they are, in the same places.
    EXPECT_EQ(expected, upperCase(readFile(lowerOut))) << flashtest::lineDiff(expected, upperCase(readFile(lowerOut)));
    EXPECT_NE(readFile(upperOut), readFile(lowerOut));
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
