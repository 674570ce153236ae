// The line readers: os_ReadNextLine (buffered, CR LF), os_ReadTextLine (buffered, CR LF or LF) and
// gn_ReadString (byte by byte).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ravelin/support/oswin32.h"
#include "support_test_util.h"

using support_test::TempDir;
using support_test::WriteFile;

namespace {

class LineReaderTest : public ::testing::Test {
protected:
    // Writes the bytes to a file and opens it for reading.
    osfl_Handle OpenWith(const std::string &bytes) {
        std::string path = m_dir.file("f" + std::to_string(m_nFiles++));
        WriteFile(path, bytes);
        osfl_Handle h = osfl_Open(path.c_str(), osfl_kRead);
        m_handles.push_back(h);
        return h;
    }
    void TearDown() override {
        for (osfl_Handle h : m_handles) osfl_Close(h);
    }

    TempDir m_dir;
    int m_nFiles = 0;
    std::vector<osfl_Handle> m_handles;
};

// ---------------------------------------------------------------------------------------------
// os_ReadNextLine

TEST_F(LineReaderTest, ReadNextLineCountsTheLineEndAndEndsWithZero) {
    osfl_Handle h = OpenWith("AB\r\nCD");
    ASSERT_NE(h, osfl_kInvalidHandle);
    os_LineBuffer lb;
    lb.nRemaining = 0;
    char sz[128];
    EXPECT_EQ(os_ReadNextLine(h, sz, 128, &lb), 4);
    EXPECT_STREQ(sz, "AB");
    EXPECT_EQ(os_ReadNextLine(h, sz, 128, &lb), 2);
    EXPECT_STREQ(sz, "CD");
    EXPECT_EQ(os_ReadNextLine(h, sz, 128, &lb), 0);
    EXPECT_STREQ(sz, "");
}

TEST_F(LineReaderTest, ReadNextLineKeepsLoneLfAndLoneCrInTheText) {
    osfl_Handle h = OpenWith(std::string("A\nB\r\nX\rY\r\n", 10));
    os_LineBuffer lb;
    lb.nRemaining = 0;
    char sz[128];
    EXPECT_EQ(os_ReadNextLine(h, sz, 128, &lb), 5);
    EXPECT_EQ(std::string(sz), "A\nB");
    EXPECT_EQ(os_ReadNextLine(h, sz, 128, &lb), 5);
    EXPECT_EQ(std::string(sz), "X\rY");
    EXPECT_EQ(os_ReadNextLine(h, sz, 128, &lb), 0);
}

TEST_F(LineReaderTest, ReadNextLineCapacityLimits) {
    char sz[8];
    {
        os_LineBuffer lb;
        lb.nRemaining = 0;
        osfl_Handle h = OpenWith("ABC\r\n");
        EXPECT_EQ(os_ReadNextLine(h, sz, 4, &lb), -1) << "three characters and CR LF do not fit 4";
    }
    {
        os_LineBuffer lb;
        lb.nRemaining = 0;
        osfl_Handle h = OpenWith("AB\r\n");
        EXPECT_EQ(os_ReadNextLine(h, sz, 4, &lb), 4);
        EXPECT_STREQ(sz, "AB");
    }
    {
        // A last line without line end may use capacity - 1 characters.
        os_LineBuffer lb;
        lb.nRemaining = 0;
        osfl_Handle h = OpenWith("ABC");
        EXPECT_EQ(os_ReadNextLine(h, sz, 4, &lb), 3);
        EXPECT_STREQ(sz, "ABC");
    }
    {
        os_LineBuffer lb;
        lb.nRemaining = 0;
        osfl_Handle h = OpenWith("AB\r\n");
        EXPECT_EQ(os_ReadNextLine(h, sz, 0, &lb), -1);
        EXPECT_EQ(os_ReadNextLine(h, sz, -3, &lb), -1);
    }
}

TEST_F(LineReaderTest, ReadNextLineOnEmptyFileAndReadError) {
    os_LineBuffer lb;
    lb.nRemaining = 0;
    char sz[16] = "garbage";
    osfl_Handle h = OpenWith("");
    EXPECT_EQ(os_ReadNextLine(h, sz, 16, &lb), 0);
    EXPECT_STREQ(sz, "");

    os_LineBuffer lb2;
    lb2.nRemaining = 0;
    EXPECT_EQ(os_ReadNextLine(osfl_kInvalidHandle, sz, 16, &lb2), -1);
}

TEST_F(LineReaderTest, ReadNextLineCarriesReadAheadAcrossCallsAndRefills) {
    // Many lines spanning several 4096-byte reads, one of them with its CR as the last byte of
    // a read and its LF as the first byte of the next.
    std::string bytes;
    std::vector<std::string> lines;
    std::string first(4095, 'x');
    lines.push_back(first);
    for (int i = 0; i < 900; ++i) lines.push_back("line " + std::to_string(i));
    for (const std::string &line : lines) bytes += line + "\r\n";
    ASSERT_EQ(bytes[4095], '\r');
    ASSERT_EQ(bytes[4096], '\n');

    osfl_Handle h = OpenWith(bytes);
    os_LineBuffer lb;
    lb.nRemaining = 0;
    std::vector<char> buf(5000);
    for (const std::string &line : lines) {
        int n = os_ReadNextLine(h, buf.data(), 5000, &lb);
        ASSERT_EQ(n, static_cast<int>(line.size()) + 2);
        ASSERT_EQ(std::string(buf.data()), line);
    }
    EXPECT_EQ(os_ReadNextLine(h, buf.data(), 5000, &lb), 0);
}

TEST_F(LineReaderTest, ReadNextLineSeparateBuffersPerFileDoNotMix) {
    osfl_Handle h1 = OpenWith("a1\r\na2\r\n");
    osfl_Handle h2 = OpenWith("b1\r\nb2\r\n");
    os_LineBuffer lb1, lb2;
    lb1.nRemaining = lb2.nRemaining = 0;
    char sz[16];
    os_ReadNextLine(h1, sz, 16, &lb1);
    EXPECT_STREQ(sz, "a1");
    os_ReadNextLine(h2, sz, 16, &lb2);
    EXPECT_STREQ(sz, "b1");
    os_ReadNextLine(h1, sz, 16, &lb1);
    EXPECT_STREQ(sz, "a2");
    os_ReadNextLine(h2, sz, 16, &lb2);
    EXPECT_STREQ(sz, "b2");
}

// ---------------------------------------------------------------------------------------------
// os_ReadTextLine

// Every line of the file as os_ReadTextLine returns it, with its result; stops at 0 or a failure.
std::vector<std::pair<int, std::string>> ReadTextLines(osfl_Handle h, int nCapacity) {
    os_LineBuffer lb;
    lb.nRemaining = 0;
    std::vector<char> buf(static_cast<std::size_t>(nCapacity) + 1, '\0');
    std::vector<std::pair<int, std::string>> out;
    for (int i = 0; i < 100; ++i) {
        int n = os_ReadTextLine(h, buf.data(), nCapacity, &lb);
        out.push_back({n, n > 0 ? std::string(buf.data(), static_cast<std::size_t>(n - 1)) : ""});
        if (n <= 0) break;
    }
    return out;
}

TEST_F(LineReaderTest, ReadTextLineEndsLinesAtCrLfOrLfAlone) {
    using Lines = std::vector<std::pair<int, std::string>>;
    struct Case {
        const char *what;
        std::string bytes;
        Lines lines;
    } cases[] = {
        {"CR LF", "AB\r\nCD\r\n", {{3, "AB"}, {3, "CD"}, {0, ""}}},
        {"LF alone", "AB\nCD\n", {{3, "AB"}, {3, "CD"}, {0, ""}}},
        {"mixed", "AB\nCD\r\nEF\n", {{3, "AB"}, {3, "CD"}, {3, "EF"}, {0, ""}}},
        {"last line without end", "AB\r\nCD", {{3, "AB"}, {3, "CD"}, {0, ""}}},
        {"lone CR is text", "A\rB\r\n", {{4, "A\rB"}, {0, ""}}},
        {"empty lines", "\r\n\nA\n\r\n", {{1, ""}, {1, ""}, {2, "A"}, {1, ""}, {0, ""}}},
        {"final Ctrl-Z", "AB\r\n\x1a", {{3, "AB"}, {0, ""}}},
        {"Ctrl-Z right after the text", "AB\x1a\x1a", {{3, "AB"}, {0, ""}}},
        {"Ctrl-Z before more text stays", "\x1a\nAB", {{2, "\x1a"}, {3, "AB"}, {0, ""}}},
        {"empty file", "", {{0, ""}}},
    };
    for (const Case &c : cases) {
        osfl_Handle h = OpenWith(c.bytes);
        ASSERT_NE(h, osfl_kInvalidHandle);
        EXPECT_EQ(ReadTextLines(h, 16), c.lines) << c.what;
    }
}

TEST_F(LineReaderTest, ReadTextLineCapacityHoldsTheLineWithItsEnd) {
    // Capacity 5: "ABC" fits with CR LF, "ABCD" with LF alone or with no end, not with CR LF.
    struct Case {
        std::string bytes;
        int nFirst;
    } cases[] = {
        {"ABC\r\n", 4}, {"ABCD\n", 5}, {"ABCD", 5}, {"ABCD\r\n", os_kLineTooLong}, {"ABCDE\n", os_kLineTooLong},
    };
    for (const Case &c : cases) {
        osfl_Handle h = OpenWith(c.bytes);
        os_LineBuffer lb;
        lb.nRemaining = 0;
        char sz[5];
        EXPECT_EQ(os_ReadTextLine(h, sz, 5, &lb), c.nFirst) << c.bytes;
    }
    os_LineBuffer lb;
    lb.nRemaining = 0;
    char sz[8];
    EXPECT_EQ(os_ReadTextLine(osfl_kInvalidHandle, sz, 8, &lb), os_kLineReadError);
}

// ---------------------------------------------------------------------------------------------
// gn_ReadString

std::vector<std::string> ReadAll(osfl_Handle h, int nCount) {
    std::vector<std::string> lines;
    std::vector<char> buf(static_cast<size_t>(nCount) + 1);
    for (int i = 0; i < 1000 && gn_ReadString(h, buf.data(), nCount); ++i) lines.emplace_back(buf.data());
    return lines;
}

TEST_F(LineReaderTest, ReadStringSplitsAtCrLf) {
    osfl_Handle h = OpenWith("[A]\r\nk=v\r\n\r\nlast");
    EXPECT_EQ(ReadAll(h, 132), (std::vector<std::string>{"[A]", "k=v", "", "last"}));
}

TEST_F(LineReaderTest, ReadStringAlsoEndsLinesAtLoneLf) {
    // A file saved with plain LF line ends reads line by line, not in 132-character chunks.
    osfl_Handle h = OpenWith("[A]\nk1=v1\nk2=v2\n\nk3=v3\n");
    EXPECT_EQ(ReadAll(h, 132), (std::vector<std::string>{"[A]", "k1=v1", "k2=v2", "", "k3=v3"}));
}

TEST_F(LineReaderTest, ReadStringKeepsLoneCr) {
    osfl_Handle h = OpenWith("a\rb\r\n");
    EXPECT_EQ(ReadAll(h, 132), (std::vector<std::string>{"a\rb"}));
}

TEST_F(LineReaderTest, ReadStringStopsAtCtrlZ) {
    osfl_Handle h = OpenWith("one\r\ntwo\x1Athree\r\n");
    EXPECT_EQ(ReadAll(h, 132), (std::vector<std::string>{"one", "two", "three"}))
        << "Ctrl-Z ends the current read as end of file would";

    char sz[133] = "x";
    osfl_Handle hOnly = OpenWith("\x1A");
    EXPECT_FALSE(gn_ReadString(hOnly, sz, 132));
    EXPECT_STREQ(sz, "");
}

TEST_F(LineReaderTest, ReadStringEmptyFileAndReadError) {
    char sz[133];
    EXPECT_FALSE(gn_ReadString(OpenWith(""), sz, 132));
    EXPECT_FALSE(gn_ReadString(osfl_kInvalidHandle, sz, 132));
}

TEST_F(LineReaderTest, ReadStringSplitsLongLinesAtTheCount) {
    std::string longLine(200, 'z');
    osfl_Handle h = OpenWith(longLine + "\r\nnext\r\n");
    std::vector<std::string> lines = ReadAll(h, 132);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], std::string(132, 'z'));
    EXPECT_EQ(lines[1], std::string(68, 'z'));
    EXPECT_EQ(lines[2], "next");
}

TEST_F(LineReaderTest, ReadStringCountReachedRightAfterCr) {
    // The CR stays at the end of the full piece and the next piece begins with the LF, as
    // before lone LFs ended lines; a real empty line after it still reads as empty.
    std::string line(131, 'q');
    osfl_Handle h = OpenWith(line + "\r\nnext\r\n\nlast\n");
    std::vector<std::string> lines = ReadAll(h, 132);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], line + "\r");
    EXPECT_EQ(lines[1], "\nnext");
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines[3], "last");
}

TEST_F(LineReaderTest, ReadStringWritesAtMostCountPlusOneBytes) {
    osfl_Handle h = OpenWith("abcdefgh\r\n");
    char sz[8];
    std::memset(sz, '#', sizeof sz);
    EXPECT_TRUE(gn_ReadString(h, sz, 4));
    EXPECT_STREQ(sz, "abcd");
    EXPECT_EQ(sz[5], '#');
    EXPECT_TRUE(gn_ReadString(h, sz, 4));
    EXPECT_STREQ(sz, "efgh");
    EXPECT_TRUE(gn_ReadString(h, sz, 4)) << "the CR LF after a full piece ends an empty line";
    EXPECT_STREQ(sz, "");
    EXPECT_FALSE(gn_ReadString(h, sz, 4));
}

}  // namespace
