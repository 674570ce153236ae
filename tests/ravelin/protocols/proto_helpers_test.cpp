// The pieces the chip download protocols share: the plain answer wait and the line files.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "ravelin/protocols/proto_answers.h"
#include "ravelin/protocols/proto_linefile.h"
#include "ravelin/serial/pty_pair.h"
#include "ravelin/support/osclock.h"

namespace {

TEST(ProtoWaitForAnswer, FirstTextToAppearDecidesAndTiesGoToTheEarlierWatcher)
{
    struct Case {
        const char *pszStream;
        int nExpected;
    } const kCases[] = {
        {"\r\nOK\r\n", 0},
        {"xxBUSYxx", 2},
        {"RETROK\r\n", 0},         // a false start of one answer does not hide the next
        {"\x04\x04\x01", 3},       // control bytes are answers like any other
        {"OK\r", -1},              // not the whole text: the deadline ends the wait
        {"", -1},
        {"FATAL and OK\r\n", 1},  // what comes after the first answer is not read for it
    };
    const char *const apszAnswers[] = {"OK\r\n", "FATAL", "BUSY", "\x01"};
    os_SetTimeScaleForTesting(0.1);
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.pszStream);
        PtyPair pty;
        ASSERT_TRUE(pty.Ok());
        UrsPort port;
        ASSERT_EQ(URS_OK, urs_OpenPort(&port, pty.DevicePath().c_str()));
        ASSERT_TRUE(pty.Send(c.pszStream) || c.pszStream[0] == '\0');
        EXPECT_EQ(c.nExpected, proto_WaitForAnswer(&port, 1, apszAnswers, 4));
        EXPECT_EQ(0, port.tsDeadlineStart.nSeconds) << "the deadline is stopped";
        urs_ClosePort(&port);
    }
    os_SetTimeScaleForTesting(1.0);
}

class ProtoLineFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szTemplate[] = "/tmp/proto_linefile_XXXXXX";
        int hFile = mkstemp(szTemplate);
        ASSERT_GE(hFile, 0);
        close(hFile);
        m_path = szTemplate;
    }
    void TearDown() override { unlink(m_path.c_str()); }
    void Write(const std::string &text) { std::ofstream(m_path, std::ios::binary) << text; }
    std::string m_path;
};

// Files are checked whole before a byte goes out; the check leaves the file at its start.
TEST_F(ProtoLineFile, LinesFitOnlyWhenEveryLineDoes)
{
    const std::string k126(126, 'A');
    struct Case {
        std::string text;
        int nFit;
        long nLines;
        long nBadLine;
    } const kCases[] = {
        {"", 1, 0, 0},
        {":00000001FF\r\n", 1, 1, 0},
        {"one\r\ntwo", 1, 2, 0},                  // a last line needs no line end
        {k126 + "\r\n" + k126 + "\r\n", 1, 2, 0},  // the longest line there may be
        {"x\r\n" + k126 + "A\r\nz\r\n", 0, 1, 2},  // one character more: the second line
        {std::string(300, 'B'), 0, 0, 1},         // no line end at all
    };
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.text.substr(0, 20));
        Write(c.text);
        osfl_Handle hFile = osfl_Open(m_path.c_str(), osfl_kRead);
        ASSERT_NE(hFile, osfl_kInvalidHandle);
        long nLines = -1, nBadLine = -1;
        EXPECT_EQ(c.nFit, proto_LinesFit(hFile, 128, &nLines, &nBadLine));
        EXPECT_EQ(c.nLines, nLines);
        EXPECT_EQ(c.nBadLine, nBadLine);
        EXPECT_EQ(0, osfl_Tell(hFile));
        osfl_Close(hFile);
    }
}

// The position counts what was handed out as lines, not what the reader has read ahead, so the
// percent follows the lines sent; a rewind starts it again.
TEST_F(ProtoLineFile, PositionFollowsTheLinesHandedOut)
{
    Write("abc\r\n" + std::string(50, 'd') + "\r\nlast");  // 5 + 52 + 4 bytes
    proto_LineFile file;
    ASSERT_EQ(1, proto_OpenLineFile(&file, m_path.c_str()));
    long nBadLine = 0;
    ASSERT_EQ(1, proto_CheckLineFile(&file, 128, &nBadLine));
    char szLine[128];
    const long kPositions[] = {5, 57, 61};
    for (long nExpected : kPositions) {
        ASSERT_GT(proto_ReadLine(&file, szLine, sizeof szLine), 0);
        EXPECT_EQ(nExpected, proto_LinePosition(&file));
    }
    EXPECT_EQ(100, proto_LinePercent(&file));
    EXPECT_EQ(0, proto_ReadLine(&file, szLine, sizeof szLine));
    EXPECT_EQ(61, proto_LinePosition(&file));
    ASSERT_EQ(1, proto_RewindLineFile(&file));
    EXPECT_EQ(0, proto_LinePosition(&file));
    ASSERT_GT(proto_ReadLine(&file, szLine, sizeof szLine), 0);
    EXPECT_STREQ("abc", szLine);
    EXPECT_EQ(8, proto_LinePercent(&file));  // 5 of 61 bytes
    proto_CloseLineFile(&file);
}

}  // namespace
