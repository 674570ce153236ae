// Reading single HEX records: fields, the running address base, malformed lines, checksums.
#include <gtest/gtest.h>

#include "flash_test_util.h"
#include "ravelin/flash/hex_image.h"

namespace {

TEST(HexRecord, DataRecordFieldsAndAddressUnderEachBaseKind)
{
    HexAddressState state{0, 0};
    HexRecord record{};
    ASSERT_EQ(1, parseHexRecord(&state, ":0401000011223344AA", &record));
    EXPECT_EQ(0, record.nType);
    EXPECT_EQ(4, record.nCount);
    EXPECT_EQ(0x100u, record.nAddress);
    EXPECT_EQ(0x11, record.abData[0]);
    EXPECT_EQ(0x44, record.abData[3]);
    EXPECT_EQ(0xAA, record.nChecksum);

    state = HexAddressState{0x1000, 2};
    ASSERT_EQ(1, parseHexRecord(&state, ":0401000011223344AA", &record));
    EXPECT_EQ(0x10100u, record.nAddress);

    state = HexAddressState{0x0012, 4};
    ASSERT_EQ(1, parseHexRecord(&state, ":0401000011223344AA", &record));
    EXPECT_EQ(0x120100u, record.nAddress);
}

TEST(HexRecord, ExtendedRecordsSetTheBaseForThemselvesAndWhatFollows)
{
    HexAddressState state{0, 0};
    HexRecord record{};
    ASSERT_EQ(1, parseHexRecord(&state, ":020000021000EC", &record));
    EXPECT_EQ(2, state.nKind);
    EXPECT_EQ(0x1000, state.nValue);
    EXPECT_EQ(0x10000u, record.nAddress);
    ASSERT_EQ(1, parseHexRecord(&state, ":020000040010EA", &record));
    EXPECT_EQ(4, state.nKind);
    EXPECT_EQ(0x100000u, record.nAddress);
    // Lower-case digits are read too by the parser.
    ASSERT_EQ(1, parseHexRecord(&state, ":02001000abcd76", &record));
    EXPECT_EQ(0x100010u, record.nAddress);
    EXPECT_EQ(0xAB, record.abData[0]);
}

TEST(HexRecord, MalformedLinesAreNoRecords)
{
    HexAddressState state{0, 0};
    HexRecord record{};
    const char *bad[] = {
        "",                       // nothing
        "0401000011223344AA",     // no colon
        ":04010000",              // header only, not longer than 9
        ":040100001122",          // fewer data bytes than the count
        ":0401000011223344",      // no checksum
        ":04010000112233G4AA",    // a data byte that is no hex
        ":0G010000",              // bad count
        ":+4010000112233446AA",   // a sign is no digit
        ": 4010000112233446AA",   // nor is a blank
        ":0401000011223344AA ",   // anything after the checksum
        ":0401000011223344AA\r",  // a lone CR is text
        ":0401000011223344AA:00000001FF",  // two records whose line end was lost
        ":00000001FFFF",          // an end record with more than its checksum
    };
    for (const char *line : bad)
        EXPECT_EQ(0, parseHexRecord(&state, line, &record)) << line;
}

TEST(HexRecord, ChecksumCheckUsesTheRawOffset)
{
    HexAddressState state{0, 0};
    HexRecord record{};
    std::string good = flashtest::hexRecord(0, 0x1234, {1, 2, 3});
    ASSERT_EQ(1, parseHexRecord(&state, good.c_str(), &record));
    EXPECT_TRUE(hexRecordChecksumOk(&state, &record));

    std::string seg = flashtest::hexRecord(2, 0, {0x23, 0x40});
    ASSERT_EQ(1, parseHexRecord(&state, seg.c_str(), &record));
    EXPECT_TRUE(hexRecordChecksumOk(&state, &record));
    ASSERT_EQ(1, parseHexRecord(&state, good.c_str(), &record));
    EXPECT_TRUE(hexRecordChecksumOk(&state, &record));

    std::string broken = good;
    broken[10] = broken[10] == '0' ? '1' : '0';  // one data digit changed
    ASSERT_EQ(1, parseHexRecord(&state, broken.c_str(), &record));
    EXPECT_FALSE(hexRecordChecksumOk(&state, &record));
    EXPECT_TRUE(parseHexRecord(&state, ":00000001FF", &record) && hexRecordChecksumOk(&state, &record));
}

TEST(HexRecord, DigitsReadWithoutRegardToCase)
{
    struct Case {
        char ch;
        int value;
    } cases[] = {{'0', 0}, {'9', 9}, {'A', 10}, {'a', 10}, {'F', 15}, {'f', 15}, {'G', 'G'}, {'g', 'g'}, {':', ':'}};
    for (const Case &c : cases)
        EXPECT_EQ(c.value, hexDigitValue(c.ch)) << c.ch;
}

TEST(HexImageCheck, EveryLineIsJudgedAndTheFirstFaultNamesItsLine)
{
    // What the line-by-line downloads send must be sound as a whole before the first line goes out.
    const std::string a = flashtest::hexRecord(0, 0x0100, {1, 2, 3, 4});
    const std::string b = flashtest::hexRecord(0, 0x0104, {5, 6});
    std::string badSum = b;
    badSum.back() = badSum.back() == '0' ? '1' : '0';
    const std::string longest = flashtest::hexRecord(0, 0, std::vector<std::uint8_t>(57, 0xA5));  // 125 characters
    struct Case {
        const char *what;
        std::string text;
        int problem;
        long line;
    };
    const Case cases[] = {
        {"sound", flashtest::crlfLines({a, b, ":00000001FF"}), hex_kImageSound, 0},
        {"empty", "", hex_kImageSound, 0},
        {"no line end at the end", a + "\r\n" + b, hex_kImageSound, 0},
        {"blank lines and Ctrl-Z at the end", flashtest::crlfLines({a, ":00000001FF", "", ""}) + "\x1A\x1A", hex_kImageSound, 0},
        {"the longest line that fits", flashtest::crlfLines({longest}), hex_kImageSound, 0},
        {"one character too many", flashtest::crlfLines({a, longest + "00"}), hex_kImageLineTooLong, 2},
        {"a checksum", flashtest::crlfLines({a, badSum, ":00000001FF"}), hex_kImageBadChecksum, 2},
        {"no record", flashtest::crlfLines({a, b, "garbage"}), hex_kImageNotARecord, 3},
        {"a blank line before more", flashtest::crlfLines({a, "", b}), hex_kImageNotARecord, 2},
        {"a line feed alone", a + "\n" + b + "\r\n", hex_kImageNotARecord, 1},
        {"after the end record", flashtest::crlfLines({a, ":00000001FF", badSum}), hex_kImageBadChecksum, 3},
    };
    flashtest::TempDir dir;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        flashtest::writeFile(dir.file("IMAGE.HEX"), c.text);
        osfl_Handle hImage = osfl_Open(dir.file("IMAGE.HEX").c_str(), osfl_kRead);
        ASSERT_NE(osfl_kInvalidHandle, hImage);
        long nLine = -1;
        EXPECT_EQ(c.problem, hex_CheckImageLines(hImage, 128, &nLine)) << hex_ImageProblemText(c.problem);
        EXPECT_EQ(c.line, nLine);
        EXPECT_EQ(0, osfl_Tell(hImage)) << "the download reads the file from its start again";
        osfl_Close(hImage);
    }
}

} // namespace
