// One command and its answer: echo skipping, first line or full answer, the "OK" that ends it, the
// deadline, the callback, and answers longer than the buffer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "fixtures/sim_bank_fixture.h"
#include "ident_test_catalogue.h"
#include "ravelin/ident/devid.h"
#include "ravelin/serial/urswin32.h"

namespace {

class SendCommandTest : public SimBankTest {
protected:
    void SetUp() override
    {
        ident_testing::UseShortTimeScale();
        SimBankTest::SetUp();
    }
    void TearDown() override
    {
        if (bOpen_) urs_ClosePort(&port_);
        SimBankTest::TearDown();
    }

    // Starts the device and opens its port at its speed.
    void Open(const std::string &deviceText)
    {
        int nPort = addDevice(deviceText).port();
        std::memset(&port_, 0, sizeof port_);
        ASSERT_EQ(urs_OpenPort(&port_, portName(nPort).c_str()), URS_OK);
        bOpen_ = true;
        ASSERT_EQ(urs_SetUart(&port_, 38400, 8, 0, 0, 0), URS_OK);
    }

    int Send(const char *pszCommand, int bFirstLineOnly, IdentifyCallback pfn = nullptr, DeviceUpdate *pUser = nullptr)
    {
        return devid_SendCommand(&port_, szAnswer_, sizeof szAnswer_, 5, pfn, pUser, pszCommand, bFirstLineOnly);
    }

    UrsPort port_;
    bool bOpen_ = false;
    char szAnswer_[devid_kAnswerLen];
};

const char kTwoLineDevice[] = "port = 1\nspeed = 38400\nati.0 = FIRST LINE\\nSECOND LINE\n";

TEST_F(SendCommandTest, WithEchoFirstLineIsTheLineAfterTheEcho)
{
    Open(kTwoLineDevice);
    EXPECT_EQ(Send("ATI\r", 1), 1);
    EXPECT_STREQ(szAnswer_, "FIRST LINE");
    EXPECT_EQ(Send("ATI\r", 0), 1);
    EXPECT_STREQ(szAnswer_, "FIRST LINE\r\nSECOND LINE\r\n\r\nOK");
    // The deadline is stopped on the way out: a later transfer is not refused.
    EXPECT_EQ(urs_TimerExpired(&port_), 0);
}

TEST_F(SendCommandTest, WithEchoOffTheFirstAnswerLineIsSkipped)
{
    Open(std::string(kTwoLineDevice) + "echo = off\n");
    EXPECT_EQ(Send("ATI\r", 1), 1);
    EXPECT_STREQ(szAnswer_, "SECOND LINE");
}

TEST_F(SendCommandTest, ErrorAnswerWaitsForTheDeadline)
{
    Open(kTwoLineDevice);
    // First line only: no "OK" is a failure.
    EXPECT_EQ(Send("ATI7\r", 1), 0);
    // A full answer is whatever came before the time ran out.
    EXPECT_EQ(Send("ATI7\r", 0), 1);
    EXPECT_EQ(std::string(szAnswer_).rfind("ERROR", 0), 0u) << szAnswer_;
    EXPECT_EQ(urs_TimerExpired(&port_), 0);
    EXPECT_EQ(Send("AT\r", 1), 1) << "the port still works after a time-out";
    EXPECT_STREQ(szAnswer_, "OK");
}

TEST_F(SendCommandTest, AnswerLongerThanTheBufferIsCut)
{
    std::string longLine(3 * devid_kAnswerLen, 'L');
    Open("port = 1\nspeed = 38400\nthrottle = off\nati.0 = " + longLine + "\\nEND\n");
    // Guard bytes after a smaller buffer show that nothing is written past its end.
    char achBuffer[64 + 8];
    std::memset(achBuffer, 'G', sizeof achBuffer);
    EXPECT_EQ(devid_SendCommand(&port_, achBuffer, 64, 5, nullptr, nullptr, "ATI\r", 0), 1);
    EXPECT_EQ(std::string(achBuffer), std::string(63, 'L'));
    EXPECT_EQ(std::string(achBuffer + 64, 8), std::string(8, 'G'));

    EXPECT_EQ(Send("ATI\r", 1), 1);
    EXPECT_EQ(std::strlen(szAnswer_), static_cast<size_t>(devid_kAnswerLen - 1));
}

int StopAtOnce(DeviceUpdate *, int) { return 0; }

TEST_F(SendCommandTest, CallbackStopEndsTheWait)
{
    Open("port = 1\nspeed = 38400\nfault.silent = on\n");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(devid_SendCommand(&port_, szAnswer_, sizeof szAnswer_, 100, StopAtOnce, nullptr, "AT\r", 0), 0);
    // Long before the deadline of 100 s (20 s at the test time scale); generous for a loaded machine.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(urs_TimerExpired(&port_), 0);
}

TEST_F(SendCommandTest, ReadAti1TakesLinesOneThreeAndFour)
{
    Open("port = 1\nspeed = 38400\nati.1 = 3.05 \\nA7F2\\n  FRANCE\\nSB-17\\nEXTRA\n");
    char szVersion[devid_kTextLen], szCountry[devid_kTextLen], szBuild[devid_kTextLen];
    EXPECT_EQ(devid_ReadATI1(&port_, szVersion, szCountry, szBuild, 5, nullptr, nullptr), 1);
    EXPECT_STREQ(szVersion, "3.05");
    EXPECT_STREQ(szCountry, "FRANCE");
    EXPECT_STREQ(szBuild, "SB-17");
}

TEST_F(SendCommandTest, ReadAti1WithoutOkFails)
{
    Open("port = 1\nspeed = 38400\n");
    char szVersion[devid_kTextLen], szCountry[devid_kTextLen], szBuild[devid_kTextLen];
    EXPECT_EQ(devid_ReadATI1(&port_, szVersion, szCountry, szBuild, 5, nullptr, nullptr), 0);
    EXPECT_EQ(urs_TimerExpired(&port_), 0);
}

} // namespace
