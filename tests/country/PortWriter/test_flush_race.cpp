// A flush that meets the read thread between its poll() and its read() empties the queue under it.
// The read thread must take that empty read for what it is and go on listening: the identification
// worker flushes before every command, so a port that went deaf here would lose every later answer.
#include <gtest/gtest.h>

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "country/PortWriter/PortWriter.h"
#include "country/PortWriter/SerialPort.h"
#include "portwriter_test_util.h"

namespace {

using pw_testing::PtyLine;

// Enough flushes that one lands inside the read thread's poll-to-read window many times over; an
// exchange after each batch shows whether the port still hears.
constexpr int kBatches = 20;
constexpr int kFlushesPerBatch = 10000;

// The device side of the line: sends short answers back to back until told to stop, never blocking
// when nobody reads them.
class BurstingDevice {
public:
    explicit BurstingDevice(int master) : m_master(master), m_thread([this] { Run(); }) {}
    ~BurstingDevice() { Stop(); }
    void Stop() {
        m_running = false;
        if (m_thread.joinable())
            m_thread.join();
    }
    long Bursts() const { return m_bursts.load(); }

private:
    void Run() {
        static const char kBurst[] = "\r\nRING\r\n";
        while (m_running) {
            if (::write(m_master, kBurst, sizeof kBurst - 1) > 0)
                ++m_bursts;
            // Let the read thread get back to its poll between two bursts, so that reads and flushes
            // interleave.
            std::this_thread::yield();
        }
    }

    int m_master;
    std::atomic<bool> m_running{true};
    std::atomic<long> m_bursts{0};
    std::thread m_thread;
};

TEST(PortWriterFlushRaceTest, AnswersStillArriveAfterFlushesThatMetTheReadThread) {
    PtyLine line(14);
    CEvent stop;
    CPortSettings settings(14, 38400, 8, 1, 0, CPortSettings::kFlowNone);
    CPortWriter writer(nullptr, nullptr, &stop);
    ASSERT_TRUE(writer.Open(&settings, CPortWriter::kLogNone, 0, true));

    for (int batch = 0; batch < kBatches; ++batch) {
        {
            BurstingDevice device(line.master());
            for (int round = 0; round < kFlushesPerBatch; ++round) {
                writer.Flush();
                if (round % 8 == 0)
                    std::this_thread::yield();
            }
            device.Stop();
            ASSERT_GT(device.Bursts(), 0);
        }
        // Now a command whose answer must arrive as always.
        writer.Flush();
        writer.Send("ATZ\r");
        std::string heard;
        ASSERT_TRUE(line.readUntil("ATZ\r", heard)) << "batch " << batch;
        line.send("ATZ\r\r\nOK\r\n");
        ASSERT_EQ(CPortWriter::kMatched, writer.WaitFor("ATZ\r\r\nOK\r\n", 10000, false)) << "batch " << batch;
        EXPECT_EQ("ATZ\r\r\nOK\r\n", writer.GetMatch(0));
    }
}

// What a read after poll() means for the line, case by case.
TEST(LineHungUpTest, OnlyWhatAHangUpReallyGivesEndsReading) {
    struct Case {
        const char* what;
        ssize_t readResult;
        int readError;
        short pollEvents;
        bool hungUp;
    };
    const Case cases[] = {
        {"bytes", 12, 0, POLLIN, false},
        {"bytes still queued on a line that hung up", 5, 0, POLLIN | POLLHUP, false},
        {"queue flushed between poll and read", -1, EAGAIN, POLLIN, false},
        {"interrupted read", -1, EINTR, POLLIN, false},
        {"empty read without a hang-up", 0, 0, POLLIN, false},
        {"end of file on a line that hung up", 0, 0, POLLHUP, true},
        {"end of file with input and hang-up reported", 0, 0, POLLIN | POLLHUP, true},
        {"I/O error after the other side closed", -1, EIO, POLLIN, true},
        {"I/O error with hang-up reported", -1, EIO, POLLHUP | POLLERR, true},
        {"nothing to read on a line that hung up", -1, EAGAIN, POLLHUP, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.hungUp, LineHungUp(c.readResult, c.readError, c.pollEvents)) << c.what;
}

}  // namespace
