// WaitFor against simulated devices: matching across many reads, the match window, NULs, time-outs,
// pure delays, and what the traffic log shows of every wait.
#include <gtest/gtest.h>

#include <thread>

#include "port_writer_fixture.h"

namespace {

using pw_testing::MonotonicMs;
using pw_testing::PortWriterTest;
using pw_testing::StandardDevice;

TEST_F(PortWriterTest, FindsAPatternThatArrivesOverManySmallReads) {
    // At 1200 bit/s the device paces its bytes 8 ms apart, so even a loaded machine reads them in pieces.
    addDevice("port = 3\nspeed = 1200\nati.0 = Model 56000 Data/Fax Modem Version 3.14\n");
    settings_ = CPortSettings(3, 1200, 8, 1, 0, 0);
    OpenWriter();
    writer_->Send("ATI0\r");
    ASSERT_EQ(writer_->WaitFor("Version ([0-9]+)\\.([0-9]+)\r\n", 10000, true), CPortWriter::kMatched);
    EXPECT_EQ(writer_->GetMatch(0), "Version 3.14\r\n");
    EXPECT_EQ(writer_->GetMatch(1), "3");
    EXPECT_EQ(writer_->GetMatch(2), "14");
    EXPECT_EQ(writer_->GetMatch(3), "");
    EXPECT_EQ(writer_->GetMatch(10), "");
    EXPECT_GE(writer_->blocks.load(), 10);
    const std::string log = Log();
    EXPECT_NE(log.find("[[--- START waiting for [Version ([0-9]+)\\.([0-9]+)\\r\\n] in [10000] milliseconds at "
                       "time ["),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("---]] FOUND [Version ([0-9]+)\\.([0-9]+)\\r\\n] in [ATI0\\r\\r\\nModel 56000 Data/Fax "
                       "Modem Version 3.14\\r\\n] at time ["),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("] milliseconds"), std::string::npos);
    EXPECT_EQ(observer_.Texts(), (std::vector<std::string>{"Version ([0-9]+)\\.([0-9]+)\r\n", ""}));
    // What followed the match stays queued for the next wait.
    EXPECT_EQ(writer_->WaitFor("^\r\nOK\r\n$", 10000, true), CPortWriter::kMatched);
}

TEST_F(PortWriterTest, NulBytesAreDroppedFromWindowAndTrace) {
    addDevice(StandardDevice("ati.1 = AB\\x00CD\\x00\n"));
    OpenWriter();
    writer_->Send("ATI1\r");
    ASSERT_EQ(writer_->WaitFor("AB(CD)\r\n", 10000, true), CPortWriter::kMatched);
    EXPECT_EQ(writer_->GetMatch(0), "ABCD\r\n");
    EXPECT_EQ(writer_->GetMatch(1), "CD");
    const std::string log = Log();
    EXPECT_NE(log.find("in [ATI1\\r\\r\\nABCD\\r\\n] at time"), std::string::npos) << log;
    EXPECT_EQ(log.find("\\x00"), std::string::npos) << log;
    EXPECT_EQ(log.find('\0'), std::string::npos);
}

TEST_F(PortWriterTest, MatchWindowIsCutToItsLast100CharactersAt1024) {
    addDevice(StandardDevice("ati.2 = " + std::string(2000, 'x') + "END\n"));
    OpenWriter();
    writer_->Send("ATI2\r");
    ASSERT_EQ(writer_->WaitFor("(x+)END", 20000, true), CPortWriter::kMatched);
    const size_t kept = writer_->GetMatch(1).size();
    EXPECT_GE(kept, CPortWriter::kWindowKeep);
    EXPECT_LT(kept, CPortWriter::kWindowLimit);
    // The start of the answer was cut away before its end arrived, so a pattern over both never matches.
    writer_->Send("ATI2\r");
    EXPECT_EQ(writer_->WaitFor("(?s)ATI2.*END", 5000, false), CPortWriter::kTimedOut);
    // ...although all of it arrived within the wait.
    const std::string log = Log();
    const size_t notFound = log.find("DID NOT FIND [(?s)ATI2.*END] in [");
    ASSERT_NE(notFound, std::string::npos) << log;
    EXPECT_NE(log.find("xxxEND\\r\\n\\r\\nOK\\r\\n] at time [", notFound), std::string::npos) << log;
}

TEST_F(PortWriterTest, TimeOutReturns2WithoutTheThrowFlag) {
    addDevice(StandardDevice("fault.silent = on\n"));
    OpenWriter();
    writer_->Send("AT\r");
    const long long start = MonotonicMs();
    EXPECT_EQ(writer_->WaitFor("OK", 300, false), CPortWriter::kTimedOut);
    EXPECT_GE(MonotonicMs() - start, pw_testing::ScaledMs(300));
    const std::string log = Log();
    EXPECT_NE(log.find("---]] DID NOT FIND [OK] in [] at time ["), std::string::npos) << log;
    EXPECT_NE(log.find("], after ["), std::string::npos) << log;
    EXPECT_EQ(observer_.Texts(), (std::vector<std::string>{"OK", ""}));
}

TEST_F(PortWriterTest, TimeOutThrowsMinus1WithThePatternWithTheThrowFlag) {
    addDevice(StandardDevice("fault.silent = on\n"));
    OpenWriter();
    try {
        writer_->WaitFor("OK\r\n", 200, true);
        FAIL() << "no exception";
    } catch (const CPortWriterError& e) {
        EXPECT_EQ(e.Code(), -1);
        EXPECT_EQ(e.Text(), "OK\r\n");
        EXPECT_EQ(e.Writer(), writer_.get());
    }
    EXPECT_NE(Log().find("DID NOT FIND [OK\\r\\n]"), std::string::npos);
    // The observer hears the end of a wait that threw, too.
    EXPECT_EQ(observer_.Texts(), (std::vector<std::string>{"OK\r\n", ""}));
}

TEST_F(PortWriterTest, WaitWithoutAPatternReturns2AfterItsTimeAndLogsWaitDone) {
    addDevice(StandardDevice());
    OpenWriter();
    writer_->Send("AT\r");
    const long long start = MonotonicMs();
    EXPECT_EQ(writer_->WaitFor(nullptr, 400, true), CPortWriter::kTimedOut);
    EXPECT_GE(MonotonicMs() - start, pw_testing::ScaledMs(400));
    const std::string log = Log();
    EXPECT_NE(log.find("START waiting for [--NULL-STRING--] in [400] milliseconds"), std::string::npos) << log;
    EXPECT_NE(log.find("---]] Wait done at time ["), std::string::npos) << log;
    EXPECT_EQ(observer_.Texts(), (std::vector<std::string>{"-- Time --", ""}));
    // The delay took in what arrived meanwhile: the answer shows in the log, and nothing is left queued.
    EXPECT_NE(log.find("OK"), std::string::npos) << log;
    EXPECT_EQ(writer_->QueuedBytes(), 0);
}

TEST_F(PortWriterTest, TimeOutOfZeroWaitsUntilTheMatch) {
    addDevice(StandardDevice("fault.delay_ms = 700\n"));
    OpenWriter();
    writer_->Send("AT\r");
    const long long start = MonotonicMs();
    EXPECT_EQ(writer_->WaitFor("OK", 0, true), CPortWriter::kMatched);
    EXPECT_GE(MonotonicMs() - start, pw_testing::ScaledMs(500));
    EXPECT_NE(Log().find("START waiting for [OK] in [0] milliseconds"), std::string::npos);
}

TEST_F(PortWriterTest, TimeOutOfZeroEndsOnTheStopEvent) {
    addDevice(StandardDevice("fault.silent = on\n"));
    OpenWriter();
    std::thread raiser([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop_.Set();
    });
    EXPECT_EQ(writer_->WaitFor("OK", 0, false), CPortWriter::kStopped);
    raiser.join();
    EXPECT_FALSE(stop_.IsSet());  // the wait consumed it
}

TEST_F(PortWriterTest, BadPatternThrowsRegexpExceptionWithPcreMessage) {
    addDevice(StandardDevice());
    OpenWriter();
    try {
        writer_->WaitFor("OK)(", 1000, true);
        FAIL() << "no exception";
    } catch (const Regexp2::exception& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("parenthesis"), std::string::npos) << message;
        EXPECT_NE(message.find(" at: )("), std::string::npos) << message;
    }
}

TEST_F(PortWriterTest, TraceLinesHaveTheirExactShape) {
    addDevice(StandardDevice());
    OpenWriter();
    writer_->Send("AT\r");
    ASSERT_EQ(writer_->WaitFor("OK\r\n", 10000, true), CPortWriter::kMatched);
    EXPECT_EQ(writer_->WaitFor("NEVER", 50, false), CPortWriter::kTimedOut);
    EXPECT_EQ(writer_->WaitFor(nullptr, 50, false), CPortWriter::kTimedOut);
    const std::string log = Log();
    const std::string time = "\\[[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\\.[0-9]{3} \\]";
    const std::regex start("\\[\\[--- START waiting for \\[OK\\\\r\\\\n\\] in \\[10000\\] milliseconds at time " +
                           time + "AT");
    const std::regex found("---\\]\\] FOUND \\[OK\\\\r\\\\n\\] in \\[AT\\\\r\\\\r\\\\nOK\\\\r\\\\n\\] at time " + time +
                           ", in \\[[0-9]+\\] milliseconds\\[\\[--- START waiting for \\[NEVER\\]");
    const std::regex notFound("---\\]\\] DID NOT FIND \\[NEVER\\] in \\[\\] at time " + time +
                              ", after \\[(5[1-9]|[6-9][0-9]|[0-9]{3,})\\] milliseconds");
    const std::regex done("---\\]\\] Wait done at time " + time + ", after \\[[0-9]+\\] milliseconds$");
    EXPECT_TRUE(std::regex_search(log, start)) << log;
    EXPECT_TRUE(std::regex_search(log, found)) << log;
    EXPECT_TRUE(std::regex_search(log, notFound)) << log;
    EXPECT_TRUE(std::regex_search(log, done)) << log;
}

TEST_F(PortWriterTest, WaitTraceOffWritesNoTraceLines) {
    addDevice(StandardDevice());
    OpenWriter();
    writer_->m_waitTrace = false;
    writer_->Send("AT\r");
    ASSERT_EQ(writer_->WaitFor("OK\r\n", 10000, true), CPortWriter::kMatched);
    const std::string log = Log();
    EXPECT_EQ(log.find("START"), std::string::npos);
    EXPECT_EQ(log.find("FOUND"), std::string::npos);
    EXPECT_NE(log.find("OK"), std::string::npos);  // received bytes are still echoed
}

}  // namespace
