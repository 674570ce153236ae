// Writes and whole exchanges: the stop event in a write, in a wait and between exchanges; a write the
// line never takes; Flush, Close, Open's log choices, the send trace and line events.
#include <gtest/gtest.h>

#include <thread>

#include "country/PortWriter/TickTimer.h"
#include "port_writer_fixture.h"

namespace {

using pw_testing::MonotonicMs;
using pw_testing::PortWriterTest;
using pw_testing::PtyLine;
using pw_testing::ScratchDir;
using pw_testing::StandardDevice;

TEST_F(PortWriterTest, StopEventThrowsMinus2FromAWriteAndIsConsumedByIt) {
    modemsim::Device& device = addDevice(StandardDevice());
    OpenWriter();
    stop_.Set();
    try {
        writer_->Send("ATI0\r");
        FAIL() << "no exception";
    } catch (const CPortWriterError& e) {
        EXPECT_EQ(e.Code(), -2);
        EXPECT_EQ(e.Text(), "");
    }
    // The next exchange runs normally, and the stopped command never reached the device.
    writer_->Send("AT\r");
    EXPECT_EQ(writer_->WaitFor("OK\r\n", 10000, true), CPortWriter::kMatched);
    ASSERT_TRUE(device.waitForCommands(1, 10000));
    EXPECT_EQ(device.state().commands(), (std::vector<std::string>{"AT"}));
}

TEST_F(PortWriterTest, StopEventIsReturnedFromAWaitOrThrownWithTheThrowFlag) {
    addDevice(StandardDevice("fault.silent = on\n"));
    OpenWriter();
    std::thread raiser([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        stop_.Set();
    });
    EXPECT_EQ(writer_->WaitFor("OK", 20000, false), CPortWriter::kStopped);
    raiser.join();

    std::thread again([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        stop_.Set();
    });
    try {
        writer_->WaitFor(nullptr, 20000, true);
        ADD_FAILURE() << "no exception";
    } catch (const CPortWriterError& e) {
        EXPECT_EQ(e.Code(), -2);
    }
    again.join();
    EXPECT_FALSE(stop_.IsSet());
}

TEST_F(PortWriterTest, StopRaisedBetweenExchangesEndsTheNextWaitOnItsFirstPass) {
    addDevice(StandardDevice());
    OpenWriter();
    writer_->Send("AT\r");
    ASSERT_TRUE(bank().device(3).waitForCommands(1, 10000));
    stop_.Set();
    // The answer may well be queued already: the stop still comes first...
    EXPECT_EQ(writer_->WaitFor("OK\r\n", 10000, false), CPortWriter::kStopped);
    // ...and was consumed, so the next wait finds the answer.
    EXPECT_EQ(writer_->WaitFor("OK\r\n", 10000, false), CPortWriter::kMatched);
}

TEST_F(PortWriterTest, FlushDiscardsWhatWasReceived) {
    addDevice(StandardDevice());
    OpenWriter();
    writer_->Send("ATI0\r");
    const long long end = MonotonicMs() + 10000;
    // Echo, information text and result: wait until all of it is queued.
    const long expected = static_cast<long>(std::string("ATI0\r\r\nModel 56000 Data/Fax Modem Version 3.14\r\n\r\nOK\r\n").size());
    while (writer_->QueuedBytes() < expected && MonotonicMs() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(writer_->QueuedBytes(), expected);
    writer_->Flush();
    EXPECT_EQ(writer_->QueuedBytes(), 0);
    writer_->Send("AT\r");
    ASSERT_EQ(writer_->WaitFor("Version|OK", 10000, true), CPortWriter::kMatched);
    EXPECT_EQ(writer_->GetMatch(0), "OK");
}

TEST_F(PortWriterTest, CapturesOfAnEarlierMatchDoNotLeakIntoALaterOne) {
    addDevice(StandardDevice());
    OpenWriter();
    writer_->Send("ATI0\r");
    ASSERT_EQ(writer_->WaitFor("(Model) ([0-9]+) ", 10000, true), CPortWriter::kMatched);
    EXPECT_EQ(writer_->GetMatch(2), "56000");
    ASSERT_EQ(writer_->WaitFor("(OK)", 10000, true), CPortWriter::kMatched);
    EXPECT_EQ(writer_->GetMatch(1), "OK");
    EXPECT_EQ(writer_->GetMatch(2), "");
}

TEST_F(PortWriterTest, SendTraceCopiesPrintableCommandsToTheSink) {
    struct Sink : CTraceSink {
        std::vector<std::string> texts;
        void OnTrace(const std::string& text) override { texts.push_back(text); }
    } sink;
    addDevice(StandardDevice());
    CPortWriter writer(nullptr, &sink, &stop_);
    ASSERT_TRUE(writer.Open(&settings_, CPortWriter::kLogNone, 0, true));
    writer.Send("AT%s\r", "E0");
    EXPECT_TRUE(sink.texts.empty());  // off by default
    writer.m_sendTrace = true;
    writer.Send("AT&K%d\r", 0);
    EXPECT_EQ(sink.texts, (std::vector<std::string>{"[AT&K0\\r]"}));
    ASSERT_TRUE(bank().device(3).waitForCommands(2, 10000));
    EXPECT_EQ(bank().device(3).state().commands(), (std::vector<std::string>{"ATE0", "AT&K0"}));
}

TEST_F(PortWriterTest, LineEventsGoToTheLogInShortFormAndOnlyWakeAWait) {
    addDevice(StandardDevice("fault.silent = on\n"));
    OpenWriter();
    // A pseudo-terminal has no line events; hand one over as the read thread would.
    writer_->OnLineEvent(writer_->Port(), kLineFramingError | kLineParityError | kLineDCD);
    EXPECT_EQ(writer_->WaitFor(nullptr, 50, false), CPortWriter::kTimedOut);
    EXPECT_NE(Log().find("[FE][PE]"), std::string::npos) << Log();
    EXPECT_EQ(Log().find("[DCD]"), std::string::npos);  // modem-line changes are off by default
    writer_->m_modemLines = true;
    writer_->OnLineEvent(writer_->Port(), kLineRing);
    EXPECT_NE(Log().find("[rng]"), std::string::npos) << Log();
}

TEST_F(PortWriterTest, CloseClosesThePortAndLaterWritesFail) {
    addDevice(StandardDevice());
    OpenWriter();
    ASSERT_TRUE(writer_->Port()->IsOpen());
    writer_->Close();
    EXPECT_FALSE(writer_->Port()->IsOpen());
    try {
        writer_->Send("AT\r");
        FAIL() << "no exception";
    } catch (const CPortWriterError& e) {
        EXPECT_EQ(e.Code(), 2);
    }
    writer_->Close();  // twice is harmless
}

TEST(PortWriterOpenTest, ReportsAPortThatDoesNotOpenAndChoosesTheLog) {
    ScratchDir dir;
    modemsim_testing::ScopedEnv env("SERIAL_PORTS_DIR", dir.path());
    CPortSettings settings(201, 38400, 8, 1, 0, 0);  // no COM201 here, nor /dev/ttyS200
    {
        CPortWriter writer(nullptr, nullptr, nullptr);
        EXPECT_FALSE(writer.Open(&settings, CPortWriter::kLogHex, 0, true, dir.file("given.log")));
        ASSERT_NE(writer.TrafficLog(), nullptr);
        EXPECT_EQ(writer.TrafficLog()->GetMode(), CTrafficLog::kHex);
        writer.TrafficLog()->WriteByte('A', false);
    }
    {
        // A given name is appended to.
        CPortWriter writer(nullptr, nullptr, nullptr);
        EXPECT_TRUE(writer.Open(&settings, CPortWriter::kLogHex, 0, false, dir.file("given.log")));
        writer.TrafficLog()->WriteByte('B', false);
    }
    EXPECT_EQ(pw_testing::ReadFile(dir.file("given.log")), "[41][42]");
    {
        CPortWriter writer(nullptr, nullptr, nullptr);
        EXPECT_FALSE(writer.Open(nullptr, CPortWriter::kLogNone, 0, true));  // nothing to open
        EXPECT_FALSE(writer.TrafficLog()->HasFile());
    }
    // The log modes of Open are numbered differently from the log's own.
    const int expected[][2] = {{CPortWriter::kLogText, CTrafficLog::kText},
                               {CPortWriter::kLogByteByByte, CTrafficLog::kByteByByte},
                               {CPortWriter::kLogHex, CTrafficLog::kHex},
                               {CPortWriter::kLogNone, CTrafficLog::kNoFile},
                               {7, CTrafficLog::kText}};
    for (const auto& pair : expected) {
        CPortWriter writer(nullptr, nullptr, nullptr);
        writer.Open(&settings, pair[0], 0, false, dir.file("modes.log"));
        EXPECT_EQ(writer.TrafficLog()->GetMode(), pair[1]) << pair[0];
    }
}

// A serial port that counts its resets, made by settings of its own.
class CountingSerialPort : public CSerialPort {
public:
    void Reset() override {
        ++resets;
        CSerialPort::Reset();
    }
    static std::atomic<int> resets;
};
std::atomic<int> CountingSerialPort::resets{0};

class CountingSettings : public CPortSettings {
public:
    using CPortSettings::CPortSettings;
    CPort* CreatePort() const override { return new CountingSerialPort(); }
};

TEST(PortWriterWriteTimeoutTest, WriteTheLineNeverTakesThrows2AfterTheTimeOutAndResetsThePort) {
    PtyLine line(5);  // a device that stops reading
    CountingSettings settings(5, 38400, 8, 1, 0, 0);
    CEvent stop;
    CPortWriter writer(nullptr, nullptr, &stop);
    ASSERT_TRUE(writer.Open(&settings, CPortWriter::kLogNone, 0, true));
    writer.SetWriteTimeoutMs(300);
    CountingSerialPort::resets = 0;

    const std::string block(1000, 'b');
    size_t sent = 0;
    long long blockedFor = -1;
    for (int i = 0; i < 500 && blockedFor < 0; ++i) {
        const long long start = MonotonicMs();
        try {
            writer.Send("%s", block.c_str());
            sent += block.size();
        } catch (const CPortWriterError& e) {
            EXPECT_EQ(e.Code(), 2);
            blockedFor = MonotonicMs() - start;
        }
    }
    ASSERT_GE(blockedFor, 0) << "the line took " << sent << " bytes without filling up";
    // Six ticks of a shared 50 ms ticker: at least five whole ticks passed.
    EXPECT_GE(blockedFor, pw_testing::ScaledMs(250));
    EXPECT_EQ(CountingSerialPort::resets.load(), 1);
    EXPECT_EQ(CTickTimer::LiveTimers(), 0);

    // The device reads again: the purge dropped what the line still held and the abandoned command's
    // tail never comes; the port works on.
    const std::string before = line.drain();
    EXPECT_LT(before.size(), sent + block.size());
    EXPECT_EQ(before.find_first_not_of('b'), std::string::npos);
    writer.Send("AT\r");
    std::string after;
    EXPECT_TRUE(line.readUntil("AT\r", after));
    EXPECT_EQ(after, "AT\r");
}

TEST(PortWriterWriteTimeoutTest, CommandsAreSentAsFormattedAndCutAt1023Characters) {
    PtyLine line(4);
    CPortSettings settings(4, 38400, 8, 1, 0, 0);
    CPortWriter writer(nullptr, nullptr, nullptr);
    ASSERT_TRUE(writer.Open(&settings, CPortWriter::kLogNone, 0, true));
    writer.Send("AT+X=%d,%s", 7, "ab");  // no terminator added
    writer.Send("%s|", std::string(2000, 'y').c_str());
    const std::string got = line.drain();
    EXPECT_EQ(got, "AT+X=7,ab" + std::string(1023, 'y'));
}

TEST(PortWriterWriteTimeoutTest, WriteWithItsOwnCompletionEventReturnsAtOnce) {
    PtyLine line(6);
    CPortSettings settings(6, 38400, 8, 1, 0, 0);
    CPortWriter writer(nullptr, nullptr, nullptr);
    ASSERT_TRUE(writer.Open(&settings, CPortWriter::kLogNone, 0, true));
    CEvent done;
    writer.Write("ATZ\r", 4, &done);
    EXPECT_TRUE(done.Wait(10000));
    std::string got;
    EXPECT_TRUE(line.readUntil("ATZ\r", got));
}

}  // namespace
