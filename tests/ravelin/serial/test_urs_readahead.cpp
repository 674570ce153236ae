// The port's read-ahead: one OS read takes everything waiting, and urs_GetChar hands it out byte by
// byte. Bytes must come out in the order they arrived and none may be lost or kept past a purge,
// whatever happens between two reads (a passed deadline, a hang-up, a close).
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ravelin/serial/urswin32.h"
#include "ravelin/support/osclock.h"
#include "log_capture.h"
#include "pty_pair.h"

namespace {

using Clock = std::chrono::steady_clock;

class UrsReadAhead : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_pty.Ok());
        ASSERT_EQ(urs_OpenPort(&m_port, m_pty.DevicePath().c_str()), URS_OK);
    }
    void TearDown() override
    {
        if (m_port.hPort >= 0)
            urs_ClosePort(&m_port);
    }

    // Reads nCount bytes under one deadline; stops early at the first negative result.
    std::string Read(std::size_t nCount, int nSeconds = 10)
    {
        std::string got;
        urs_StartTimer(&m_port, nSeconds);
        while (got.size() < nCount) {
            int nResult = urs_GetChar(&m_port);
            if (nResult < 0)
                break;
            got += static_cast<char>(nResult);
        }
        urs_StopTimer(&m_port);
        return got;
    }

    // Waits until the layer has taken at least one byte from the line into the read-ahead (it
    // arrives asynchronously), then takes exactly one byte out.
    int FirstByte()
    {
        auto end = Clock::now() + std::chrono::seconds(10);
        while (urs_CharsWaiting(&m_port) == 0 && Clock::now() < end) {
        }
        return urs_GetCharTimed(&m_port, 5);
    }

    PtyPair m_pty;
    UrsPort m_port;
};

// Bursts larger than the read-ahead, and bursts that arrive while earlier ones are still being
// handed out, come out whole and in order.
TEST_F(UrsReadAhead, BurstsComeOutInOrderWhateverTheirSize)
{
    std::mt19937 rng(7);
    const std::size_t kSizes[] = {1, 6, urs_kInputLen - 1, urs_kInputLen, urs_kInputLen + 1, 3 * urs_kInputLen + 7};
    for (std::size_t nSize : kSizes) {
        std::string burst;
        for (std::size_t i = 0; i < nSize; ++i)
            burst += static_cast<char>(rng());
        ASSERT_TRUE(m_pty.Send(burst));
        EXPECT_EQ(Read(nSize), burst) << "burst of " << nSize;
    }

    // A second burst sent while the first is half handed out follows it.
    ASSERT_TRUE(m_pty.Send("first"));
    EXPECT_EQ(FirstByte(), 'f');
    ASSERT_TRUE(m_pty.Send("second"));
    EXPECT_EQ(Read(10), "irstsecond");
}

// The log shows each byte as the caller takes it, one entry per byte, as before there was a
// read-ahead: a service engineer sees the same dialogue.
TEST_F(UrsReadAhead, EveryByteHandedOutIsLoggedOnItsOwn)
{
    LogCapture log;
    ASSERT_TRUE(m_pty.Send("OK\r\n"));
    EXPECT_EQ(Read(4), "OK\r\n");
    const std::string name = m_port.szName;
    EXPECT_EQ(log.Messages(), (std::vector<std::string>{"<" + name + ">, [1], pData [O]", "<" + name + ">, [1], pData [K]",
                                                        "<" + name + ">, [1], pData [\\r]",
                                                        "<" + name + ">, [1], pData [\\n]"}));
}

// Bytes read ahead count as waiting: urs_CharsWaiting says so at once, and 0 only once they are gone.
TEST_F(UrsReadAhead, CharsWaitingCountsTheReadAhead)
{
    ASSERT_TRUE(m_pty.Send("AB"));
    EXPECT_EQ(FirstByte(), 'A');
    EXPECT_EQ(urs_CharsWaiting(&m_port), 1);
    EXPECT_EQ(urs_GetCharTimed(&m_port, 5), 'B');
    EXPECT_EQ(urs_CharsWaiting(&m_port), 0);
}

// A deadline that passes while bytes wait in the read-ahead refuses the read, as it would with the
// bytes still in the driver; they come out, all and in order, once a read is allowed again.
TEST_F(UrsReadAhead, PassedDeadlineKeepsTheReadAhead)
{
    ASSERT_TRUE(m_pty.Send("ABCDEF"));
    EXPECT_EQ(FirstByte(), 'A');

    urs_StartTimer(&m_port, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(urs_GetChar(&m_port), URS_TIMEOUT);
    EXPECT_EQ(urs_GetChar(&m_port), URS_TIMEOUT);
    urs_StopTimer(&m_port);

    // A silent line times out on an empty read-ahead without disturbing what follows.
    EXPECT_EQ(Read(5), "BCDEF");
    os_SetTimeScaleForTesting(0.1);
    EXPECT_EQ(urs_GetCharTimed(&m_port, 1), URS_TIMEOUT);
    os_SetTimeScaleForTesting(1.0);
    ASSERT_TRUE(m_pty.Send("G"));
    EXPECT_EQ(Read(1), "G");
}

// The device hangs up: what was read ahead before is still handed out, then the line's failure
// is reported.
TEST_F(UrsReadAhead, HangUpAfterTheReadAheadLosesNothingOfIt)
{
    ASSERT_TRUE(m_pty.Send("OK\r\n"));
    EXPECT_EQ(FirstByte(), 'O');
    m_pty.Hangup();

    os_SetTimeScaleForTesting(0.1);
    urs_StartTimer(&m_port, 2);
    std::vector<int> results;
    for (int i = 0; i < 4; ++i)
        results.push_back(urs_GetChar(&m_port));
    urs_StopTimer(&m_port);
    os_SetTimeScaleForTesting(1.0);

    EXPECT_EQ(results, (std::vector<int>{'K', '\r', '\n', URS_IO_ERROR}));
    EXPECT_EQ(urs_LineLost(&m_port), 1);
}

// Closing purges the port: bytes read ahead but never taken do not reach the next user of the port,
// also when the record is opened again.
TEST_F(UrsReadAhead, CloseEmptiesTheReadAhead)
{
    ASSERT_TRUE(m_pty.Send("stale"));
    EXPECT_EQ(FirstByte(), 's');
    urs_ClosePort(&m_port);
    EXPECT_EQ(urs_CharsWaiting(&m_port), 0);

    ASSERT_EQ(urs_OpenPort(&m_port, m_pty.DevicePath().c_str()), URS_OK);
    EXPECT_EQ(urs_CharsWaiting(&m_port), 0);
    os_SetTimeScaleForTesting(0.1);
    EXPECT_EQ(urs_GetCharTimed(&m_port, 1), URS_TIMEOUT);
    os_SetTimeScaleForTesting(1.0);
    ASSERT_TRUE(m_pty.Send("fresh"));
    EXPECT_EQ(Read(5), "fresh");
}

}  // namespace
