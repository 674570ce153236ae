// The traffic log in its four modes, and two threads writing at once.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "country/PortWriter/TrafficLog.h"
#include "portwriter_test_util.h"

namespace {

using pw_testing::ReadFile;
using pw_testing::ScratchDir;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

const char* const kPrefix = "\\[[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\\.[0-9]{3}\\] ";

TEST(CTrafficLogTest, TextModeGivesAnEmptyLineAndAnOkLineForCrLfOkCrLf) {
    ScratchDir dir;
    const std::string path = dir.file("text.log");
    {
        CTrafficLog log(path, CTrafficLog::kText, "w");
        for (char c : std::string("\r\nOK\r\n"))
            log.WriteByte(static_cast<unsigned char>(c), false);
        log.WriteByte('X', true);  // sent bytes do not show in text mode
        log.WriteByte('\n', false);  // a lone LF ends a line as well
    }
    const auto lines = Lines(ReadFile(path));
    ASSERT_EQ(lines.size(), 3u) << ReadFile(path);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(std::string(kPrefix)))) << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(std::string(kPrefix) + "OK"))) << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(std::string(kPrefix)))) << lines[2];
}

TEST(CTrafficLogTest, TextModeSplitsLongLinesAfterTheSeventySixthCharacter) {
    ScratchDir dir;
    const std::string path = dir.file("long.log");
    {
        CTrafficLog log(path, CTrafficLog::kText, "w");
        log.Print("%s", std::string(80, 'a').c_str());
    }
    const auto lines = Lines(ReadFile(path));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(std::string(kPrefix) + "a{76}"))) << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(std::string(kPrefix) + "a{4}"))) << lines[1];
}

TEST(CTrafficLogTest, TextModeShowsUnprintableBytesAsHexAndCountsTheirWidth) {
    ScratchDir dir;
    const std::string path = dir.file("hexchars.log");
    {
        CTrafficLog log(path, CTrafficLog::kText, "w");
        log.WriteByte(0x01, false);
        log.WriteByte(0xe9, false);
        log.WriteByte('A', false);
        // Escapes count four characters each: 9 + 17 * 4 = 77 passes 75, so the line ends there.
        for (int i = 0; i < 17; ++i)
            log.WriteByte(0x7f, false);
        log.WriteByte('B', false);
    }
    const auto lines = Lines(ReadFile(path));
    ASSERT_EQ(lines.size(), 2u) << ReadFile(path);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(std::string(kPrefix) + "\\\\x01\\\\xe9A(\\\\x7f){17}")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(std::string(kPrefix) + "B"))) << lines[1];
}

TEST(CTrafficLogTest, HexModeWritesSixteenEntriesALineAndBreaksAfterCr) {
    ScratchDir dir;
    const std::string path = dir.file("hex.log");
    {
        CTrafficLog log(path, CTrafficLog::kHex, "w");
        for (int i = 0; i < 20; ++i)
            log.WriteByte(static_cast<unsigned char>('A' + i), false);
        log.WriteByte('\r', false);
        log.WriteByte('Z', true);
    }
    const auto lines = Lines(ReadFile(path));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "[41][42][43][44][45][46][47][48][49][4a][4b][4c][4d][4e][4f][50]");
    EXPECT_EQ(lines[1], "[51][52][53][54][0d]");
    EXPECT_EQ(lines[2], "[5a]");
}

TEST(CTrafficLogTest, ByteModeWritesOneLinePerByteWithDirectionTimeAndHex) {
    ScratchDir dir;
    const std::string path = dir.file("bytes.log");
    {
        CTrafficLog log(path, CTrafficLog::kByteByByte, "w");
        log.WriteByte('O', false);
        log.WriteByte('\r', false);
        log.WriteByte('A', true);
    }
    const auto lines = Lines(ReadFile(path));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("-->[0-9]+\\.[0-9]{3}: 'O' <4f>"))) << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex("-->[0-9]+\\.[0-9]{3}: '\\.' <0d>"))) << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex("<--[0-9]+\\.[0-9]{3}: 'A' <41>"))) << lines[2];
}

TEST(CTrafficLogTest, NoFileModeCreatesNothing) {
    ScratchDir dir;
    const std::string path = dir.file("none.log");
    {
        CTrafficLog log(path, CTrafficLog::kNoFile, "w");
        log.Print("anything\r\n");
        EXPECT_FALSE(log.HasFile());
    }
    EXPECT_FALSE(pw_testing::FileExists(path));
}

TEST(CTrafficLogTest, UnopenableFileIsIgnored) {
    CTrafficLog log("/nonexistent-dir/x/y.log", CTrafficLog::kText, "w");
    EXPECT_FALSE(log.HasFile());
    log.Print("still fine\r\n");
}

TEST(CTrafficLogTest, EveryByteIsOnDiskAtOnceAndAppendKeepsOldText) {
    ScratchDir dir;
    const std::string path = dir.file("append.log");
    {
        CTrafficLog first(path, CTrafficLog::kHex, "w");
        first.WriteByte('1', false);
        EXPECT_EQ(ReadFile(path), "[31]");  // flushed while the log is still open
    }
    CTrafficLog second(path, CTrafficLog::kHex, "a");
    second.WriteByte('2', false);
    EXPECT_EQ(ReadFile(path), "[31][32]");
}

TEST(CTrafficLogTest, TwoThreadsPrintingAtOnceNeverBreakALine) {
    ScratchDir dir;
    const std::string path = dir.file("threads.log");
    const int kLinesEach = 300;
    {
        CTrafficLog log(path, CTrafficLog::kText, "w");
        auto writer = [&log](char who) {
            for (int i = 0; i < kLinesEach; ++i)
                log.Print("line %c %04d of a fairly long trace text\r\n", who, i);
        };
        std::thread a(writer, 'A');
        std::thread b(writer, 'B');
        a.join();
        b.join();
    }
    const auto lines = Lines(ReadFile(path));
    ASSERT_EQ(lines.size(), 2u * kLinesEach);
    const std::regex whole(std::string(kPrefix) + "line [AB] [0-9]{4} of a fairly long trace text");
    int seenA = 0, seenB = 0;
    for (const std::string& line : lines) {
        ASSERT_TRUE(std::regex_match(line, whole)) << line;
        (line.find("line A") != std::string::npos ? seenA : seenB)++;
    }
    EXPECT_EQ(seenA, kLinesEach);
    EXPECT_EQ(seenB, kLinesEach);
}

}  // namespace
