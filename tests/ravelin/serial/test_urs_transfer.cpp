// Writes and reads under the per-port deadline, over a raw pseudo-terminal pair.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "ravelin/serial/urswin32.h"
#include "ravelin/support/osclock.h"
#include "log_capture.h"
#include "pty_pair.h"

namespace {

using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class UrsTransfer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_pty.Ok());
        ASSERT_EQ(urs_OpenPort(&m_port, m_pty.DevicePath().c_str()), URS_OK);
        m_name = m_port.szName;
    }
    void TearDown() override
    {
        if (m_port.hPort >= 0)
            urs_ClosePort(&m_port);
    }
    PtyPair m_pty;
    UrsPort m_port;
    std::string m_name;
};

TEST_F(UrsTransfer, WritesAndReadsAreLoggedWithTheirDumps)
{
    LogCapture log;
    EXPECT_EQ(urs_PutString(&m_port, "AT\r"), URS_OK);
    EXPECT_EQ(m_pty.Receive(3), "AT\r");
    ASSERT_TRUE(m_pty.Send("K\n"));
    EXPECT_EQ(urs_GetCharTimed(&m_port, 5), 'K');
    EXPECT_EQ(urs_GetCharTimed(&m_port, 5), '\n');
    EXPECT_EQ(log.Messages(), (Lines{"<" + m_name + ">:[3, 3], Data = [AT\\r]",
                                     "<" + m_name + ">, [1], pData [K]",
                                     "<" + m_name + ">, [1], pData [\\n]"}));
}

TEST_F(UrsTransfer, LongBlockIsDumpedAsFortyHexDigits)
{
    LogCapture log;
    std::string block(101, '\x5a');
    block[0] = '\x01';
    ASSERT_EQ(urs_PutBlock(&m_port, block.data(), static_cast<long>(block.size())), URS_OK);
    EXPECT_EQ(m_pty.Receive(block.size()), block);
    std::string hex = "01";
    for (int i = 1; i < 20; ++i)
        hex += "5a";
    EXPECT_EQ(log.Messages(), Lines{"<" + m_name + ">:[101, 101], Data = [" + hex + "]"});
}

TEST_F(UrsTransfer, AllByteValuesComeBackUnchangedAndFFIsNotATimeout)
{
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    ASSERT_TRUE(m_pty.Send(all));
    urs_StartTimer(&m_port, 10);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(urs_GetChar(&m_port), i);
    urs_StopTimer(&m_port);

    ASSERT_TRUE(m_pty.Send("\xff"));
    EXPECT_EQ(urs_GetCharTimed(&m_port, 5), 255);

    // urs_GetBlock terminates what it read.
    ASSERT_TRUE(m_pty.Send("ROM"));
    char szBuffer[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(urs_GetBlockTimed(&m_port, szBuffer, 3, 5), URS_OK);
    EXPECT_STREQ(szBuffer, "ROM");
}

TEST_F(UrsTransfer, PassedDeadlineRefusesReadsSilentlyAndWritesWithOneLine)
{
    urs_StartTimer(&m_port, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(urs_TimerExpired(&m_port), 1);
    ASSERT_TRUE(m_pty.Send("A"));  // waiting input must not be read once the deadline has passed
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

    LogCapture log;
    auto start = Clock::now();
    EXPECT_EQ(urs_GetChar(&m_port), URS_TIMEOUT);
    EXPECT_LT(SecondsSince(start), 2.0);
    EXPECT_TRUE(log.Messages().empty());
    EXPECT_EQ(urs_PutString(&m_port, "AT\r"), URS_TIMEOUT);
    EXPECT_EQ(log.Messages(), Lines{"Timeout when setting comm timeouts"});
    EXPECT_EQ(m_pty.Receive(1, 100), "");  // nothing was sent

    // The deadline is not stopped by its expiry; only urs_StopTimer ends it.
    EXPECT_EQ(urs_GetChar(&m_port), URS_TIMEOUT);
    urs_StopTimer(&m_port);
    EXPECT_EQ(urs_TimerExpired(&m_port), 0);
    EXPECT_EQ(urs_GetChar(&m_port), 'A');
}

// The allowance of a transfer is the rest of the deadline: bytes that trickle in are each seen as
// they arrive, and the reader times out N seconds after urs_StartTimer, not N after the last byte.
TEST_F(UrsTransfer, ReaderUnderDeadlineSeesEachByteAndTimesOutOnTheDeadline)
{
    const int nSeconds = 2;
    std::thread device([this] {
        for (char c : std::string("ABCD")) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            m_pty.Send(std::string(1, c));
        }
    });
    auto start = Clock::now();
    urs_StartTimer(&m_port, nSeconds);
    std::string got;
    std::vector<double> arrivals;
    int nResult;
    while ((nResult = urs_GetChar(&m_port)) != URS_TIMEOUT) {
        ASSERT_GE(nResult, 0);
        got += static_cast<char>(nResult);
        arrivals.push_back(SecondsSince(start));
    }
    double dEnd = SecondsSince(start);
    urs_StopTimer(&m_port);
    device.join();

    EXPECT_EQ(got, "ABCD");
    ASSERT_EQ(arrivals.size(), 4u);
    EXPECT_GE(arrivals[0], 0.25);           // not before it was sent
    EXPECT_LT(arrivals[0], nSeconds - 0.3);  // but long before the deadline
    EXPECT_GE(dEnd, nSeconds - 0.05);
    EXPECT_LT(dEnd, nSeconds + 3.0);
}

// Mended fault: a hung-up line fails every read at once; the read now waits out its allowance, so
// an answer loop that reads on after an I/O error until its deadline fails once and logs once.
TEST_F(UrsTransfer, HungUpLineFailsOnceAfterTheAllowance)
{
    LogCapture log;
    m_pty.Hangup();
    auto start = Clock::now();
    urs_StartTimer(&m_port, 1);
    int nIoErrors = 0, nReads = 0, nResult;
    while ((nResult = urs_GetChar(&m_port)) != URS_TIMEOUT && nReads < 1000) {
        ++nReads;
        nIoErrors += nResult == URS_IO_ERROR ? 1 : 0;
    }
    double dEnd = SecondsSince(start);
    urs_StopTimer(&m_port);

    EXPECT_EQ(nResult, URS_TIMEOUT);
    EXPECT_EQ(nIoErrors, 1);
    EXPECT_GE(dEnd, 0.95);
    EXPECT_LT(dEnd, 6.0);
    EXPECT_EQ(log.Count("Read File Error ("), 1);
    EXPECT_EQ(log.Count("Read File Error (1, 00000000, 00000005)") + log.Count("Read File Error (0, 00000000, 00000005)"),
              1);

    // Writes on a hung-up line fail with the system's error.
    EXPECT_EQ(urs_PutString(&m_port, "AT\r"), URS_IO_ERROR);
    EXPECT_EQ(log.Count("<" + m_name + ">:  Write File Error 0 of 3 bytes written"), 1);
    EXPECT_EQ(log.Count(", 00000005)"), 2);  // the read's and the write's system error: EIO
}

// Without a deadline each read is allowed 20000 ms, silent line or hung-up line alike.
TEST_F(UrsTransfer, WithoutDeadlineReadsHaveTheFixedAllowance)
{
    os_SetTimeScaleForTesting(0.01);  // 20000 ms becomes 200 ms
    auto start = Clock::now();
    EXPECT_EQ(urs_GetChar(&m_port), URS_TIMEOUT);
    double dSilent = SecondsSince(start);
    m_pty.Hangup();
    start = Clock::now();
    EXPECT_EQ(urs_GetChar(&m_port), URS_IO_ERROR);
    double dHungUp = SecondsSince(start);
    os_SetTimeScaleForTesting(1.0);
    EXPECT_GE(dSilent, 0.19);
    EXPECT_LT(dSilent, 5.0);
    EXPECT_GE(dHungUp, 0.19);
    EXPECT_LT(dHungUp, 5.0);
}

TEST_F(UrsTransfer, SilentLineTimesOutWithTheReadLogged)
{
    LogCapture log;
    EXPECT_EQ(urs_GetCharTimed(&m_port, 1), URS_TIMEOUT);
    EXPECT_EQ(log.Messages(), Lines{"<" + m_name + ">, [1], pData [\\x00]"});
}

// Nobody reads the device side: a write without a deadline fills the buffer, then fails once a whole
// allowance passes without progress instead of retrying for ever.
TEST_F(UrsTransfer, WriteThatMakesNoProgressFailsInsteadOfHanging)
{
    os_SetTimeScaleForTesting(0.01);
    LogCapture log;
    std::string block(256 * 1024, 'x');
    auto start = Clock::now();
    EXPECT_EQ(urs_PutBlock(&m_port, block.data(), static_cast<long>(block.size())), URS_IO_ERROR);
    double dEnd = SecondsSince(start);
    os_SetTimeScaleForTesting(1.0);
    EXPECT_LT(dEnd, 20.0);
    EXPECT_EQ(log.Count("Write File Error (1, 00000000, 0000006e)"), 1);

    // Under a deadline the same write ends with the deadline instead.
    LogCapture log2;
    urs_StartTimer(&m_port, 1);
    EXPECT_EQ(urs_PutBlock(&m_port, block.data(), static_cast<long>(block.size())), URS_TIMEOUT);
    urs_StopTimer(&m_port);
    EXPECT_EQ(log2.Count("Timeout when setting comm timeouts"), 1);
}

TEST_F(UrsTransfer, CharsWaitingSeesAByteAtOnceAndDoesNotSpin)
{
    EXPECT_EQ(urs_CharsWaiting(&m_port), 0);

    std::thread device([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        m_pty.Send("R");
    });
    auto start = Clock::now();
    int nCalls = 0;
    while (urs_CharsWaiting(&m_port) == 0 && SecondsSince(start) < 10.0)
        ++nCalls;
    // The bound follows the time the wait really took: a loaded machine may wake the device
    // thread late, which lengthens the wait but cannot make a slice shorter.
    const double dWaited = SecondsSince(start);
    device.join();
    EXPECT_EQ(urs_CharsWaiting(&m_port), 1);
    EXPECT_LT(dWaited, 9.0);
    // Each empty answer took a slice of a few milliseconds, not a busy turn.
    EXPECT_LE(nCalls, static_cast<int>(dWaited * 1000 / 2) + 5);
    EXPECT_EQ(urs_GetCharTimed(&m_port, 1), 'R');

    // A hung-up line answers 0 at once from the system; the slice is still waited out.
    m_pty.Hangup();
    start = Clock::now();
    nCalls = 0;
    while (SecondsSince(start) < 0.2) {
        EXPECT_EQ(urs_CharsWaiting(&m_port), 0);
        ++nCalls;
    }
    EXPECT_LE(nCalls, 200 / 2 + 5);
}

// The identification's answer loop: looking at the input queue under a deadline ends on the
// deadline, not a slice later, and sees a byte as soon as it comes.
TEST_F(UrsTransfer, CharsWaitingLoopEndsOnTheDeadline)
{
    auto start = Clock::now();
    urs_StartTimer(&m_port, 1);
    int nCalls = 0;
    while (!urs_TimerExpired(&m_port) && nCalls < 100000)
        nCalls += urs_CharsWaiting(&m_port) == 0 ? 1 : 100000;
    double dEnd = SecondsSince(start);
    urs_StopTimer(&m_port);
    EXPECT_LT(nCalls, 100000);
    EXPECT_GE(dEnd, 0.99);
    EXPECT_LT(dEnd, 4.0);
    EXPECT_LE(nCalls, 1000 / 5 + 5);  // at least a few milliseconds a turn

    std::thread device([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        m_pty.Send("Z");
    });
    start = Clock::now();
    urs_StartTimer(&m_port, 30);
    while (!urs_TimerExpired(&m_port) && !urs_CharsWaiting(&m_port)) {
    }
    dEnd = SecondsSince(start);
    EXPECT_EQ(urs_GetChar(&m_port), 'Z');
    urs_StopTimer(&m_port);
    device.join();
    EXPECT_LT(dEnd, 20.0);
}

TEST_F(UrsTransfer, ClosedRecordRefusesTransfers)
{
    urs_ClosePort(&m_port);
    LogCapture log;
    EXPECT_EQ(urs_GetChar(&m_port), URS_TIMEOUT);
    EXPECT_EQ(urs_PutChar(&m_port, 'A'), URS_TIMEOUT);
    EXPECT_EQ(urs_CharsWaiting(&m_port), 0);
    EXPECT_EQ(log.Messages(), (Lines{"urs_OpenPort: Unable to setup time-outs", "urs_OpenPort: Unable to setup time-outs",
                                     "Timeout when setting comm timeouts"}));
}

}  // namespace

// A hang-up is told apart from a silent line, so that a dialogue that only sees time-outs can still
// say that the device went away; the log says so once.
TEST_F(UrsTransfer, HangUpIsNotedAsLineLostButSilenceIsNot)
{
    LogCapture log;
    os_SetTimeScaleForTesting(0.01);
    EXPECT_EQ(urs_GetChar(&m_port), URS_TIMEOUT);
    EXPECT_EQ(urs_LineLost(&m_port), 0) << "a silent line is still there";
    m_pty.Hangup();
    EXPECT_EQ(urs_GetChar(&m_port), URS_IO_ERROR);
    EXPECT_EQ(urs_PutString(&m_port, "AT\r"), URS_IO_ERROR);
    os_SetTimeScaleForTesting(1.0);
    EXPECT_EQ(urs_LineLost(&m_port), 1);
    EXPECT_EQ(log.Count("<" + m_name + ">: the line was lost"), 1);
}

TEST(UrsLineLost, WriteIntoAHungUpLineIsNotedToo)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    UrsPort port{};
    ASSERT_EQ(urs_OpenPort(&port, pty.DevicePath().c_str()), URS_OK);
    pty.Hangup();
    EXPECT_EQ(urs_PutString(&port, "AT\r"), URS_IO_ERROR);
    EXPECT_EQ(urs_LineLost(&port), 1);
    urs_ClosePort(&port);
}
