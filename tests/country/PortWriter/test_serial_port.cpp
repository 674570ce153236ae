// The serial port object over a raw pseudo-terminal: open and close, exclusive use, the read thread's
// hand-over of blocks, writes with and without a completion event, and Reset.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>

#include <condition_variable>
#include <memory>
#include <mutex>

#include "country/PortWriter/SerialPort.h"
#include "portwriter_test_util.h"

namespace {

using pw_testing::PtyLine;

class RecordingListener : public CPortListener {
public:
    void OnData(CPort*, char* buffer, int length) override {
        std::unique_ptr<char[]> owned(buffer);  // ours now
        std::lock_guard<std::mutex> hold(m_mutex);
        m_data.append(buffer, static_cast<size_t>(length));
        ++m_reads;
        if (length > m_largest)
            m_largest = length;
        m_changed.notify_all();
    }
    void OnLineEvent(CPort*, int) override { ++m_lineEvents; }
    bool WantsLineEvents(CPort*) override {
        ++m_asked;
        return true;
    }

    bool WaitForBytes(size_t count, int ms = 10000) {
        std::unique_lock<std::mutex> hold(m_mutex);
        return m_changed.wait_for(hold, std::chrono::milliseconds(ms), [&] { return m_data.size() >= count; });
    }
    std::string Data() {
        std::lock_guard<std::mutex> hold(m_mutex);
        return m_data;
    }
    int Reads() {
        std::lock_guard<std::mutex> hold(m_mutex);
        return m_reads;
    }
    int Largest() {
        std::lock_guard<std::mutex> hold(m_mutex);
        return m_largest;
    }
    std::atomic<int> m_asked{0};
    std::atomic<int> m_lineEvents{0};

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_data;
    int m_reads = 0;
    int m_largest = 0;
};

CPortSettings Settings(int port, int flow = CPortSettings::kFlowNone) {
    return CPortSettings(static_cast<uint8_t>(port), 38400, 8, 1, 0, flow);
}

TEST(CSerialPortTest, PortThatDoesNotExistFailsToOpenAndStaysClosed) {
    pw_testing::ScratchDir empty;
    modemsim_testing::ScopedEnv env("SERIAL_PORTS_DIR", empty.path());
    RecordingListener listener;
    CSerialPort port;
    // COM200 is only the directory's entry, which is missing: never /dev/ttyS199.
    EXPECT_EQ(port.Open(Settings(200), &listener, 0), CPort::kNoHandle);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.LastError(), empty.path() + "/COM200: No such file or directory");
    EXPECT_EQ(listener.m_asked.load(), 0);
    port.Close();  // harmless on a port that never opened
}

TEST(CSerialPortTest, OpensTheLinkedLineRawAt38400AndClosesIt) {
    PtyLine line(7);
    RecordingListener listener;
    CSerialPort port;
    ASSERT_NE(port.Open(Settings(7), &listener, 0), CPort::kNoHandle);
    EXPECT_TRUE(port.IsOpen());
    const std::string path = port.DevicePath();
    ASSERT_GE(path.size(), 5u);
    EXPECT_EQ(path.substr(path.size() - 5), "/COM7");
    termios seen{};
    ASSERT_EQ(::tcgetattr(line.master(), &seen), 0);  // termios on the master reads the slave's set-up
    EXPECT_EQ(cfgetospeed(&seen), static_cast<speed_t>(B38400));
    EXPECT_EQ(seen.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(seen.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(seen.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(seen.c_iflag & (ICRNL | IXON), 0u);
    EXPECT_EQ(port.GetModemStatus(), 0);  // no modem lines on a pseudo-terminal
    // Asked once at Open and once by the read thread.
    for (int i = 0; i < 100 && listener.m_asked.load() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(listener.m_asked.load(), 2);
    port.Close();
    EXPECT_FALSE(port.IsOpen());
}

TEST(CSerialPortTest, SecondOpenOfTheSamePortFails) {
    PtyLine line(8);
    RecordingListener listener;
    CSerialPort first, second;
    ASSERT_NE(first.Open(Settings(8), &listener, 0), CPort::kNoHandle);
    EXPECT_EQ(second.Open(Settings(8), &listener, 0), CPort::kNoHandle);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_NE(second.LastError().find("in use by another program"), std::string::npos) << second.LastError();
    first.Close();
    // Closed, the port is free again.
    CSerialPort third;
    EXPECT_NE(third.Open(Settings(8), &listener, 0), CPort::kNoHandle);
    third.Close();
}

TEST(CSerialPortTest, LargeReceivedBlockArrivesInPiecesOfAtMost1024Bytes) {
    PtyLine line(9);
    RecordingListener listener;
    CSerialPort port;
    ASSERT_NE(port.Open(Settings(9), &listener, 0), CPort::kNoHandle);
    std::string big;
    for (int i = 0; i < 5000; ++i)
        big += static_cast<char>('a' + i % 26);
    line.send(big);
    ASSERT_TRUE(listener.WaitForBytes(big.size()));
    EXPECT_EQ(listener.Data(), big);
    EXPECT_LE(listener.Largest(), CPort::kReadSize);
    EXPECT_GE(listener.Reads(), 5);
    EXPECT_EQ(listener.m_lineEvents.load(), 0);  // a pseudo-terminal has no line events to report
    port.Close();
}

TEST(CSerialPortTest, WritesWithAndWithoutACompletionEvent) {
    PtyLine line(10);
    RecordingListener listener;
    CSerialPort port;
    ASSERT_NE(port.Open(Settings(10), &listener, 0), CPort::kNoHandle);
    port.Write("AT\r", 0, nullptr);  // nothing to write: returns at once
    port.Write("ATI3\r", 5, nullptr);
    CEvent done;
    port.Write("ATZ\r", 4, &done);
    EXPECT_TRUE(done.Wait(10000));
    std::string got;
    EXPECT_TRUE(line.readUntil("ATI3\rATZ\r", got));
    EXPECT_EQ(got, "ATI3\rATZ\r");
    port.Close();
}

TEST(CSerialPortTest, ResetPurgesAndTogglesFlowControlOnlyWhenItIsOn) {
    PtyLine line(11);
    RecordingListener listener;
    CSerialPort plain;
    ASSERT_NE(plain.Open(Settings(11), &listener, 0), CPort::kNoHandle);
    const int before = plain.ConfigureCount();
    plain.Reset();
    EXPECT_EQ(plain.ConfigureCount(), before);
    plain.Close();

    CSerialPort flowing;
    ASSERT_NE(flowing.Open(Settings(11, CPortSettings::kFlowHardware), &listener, 0), CPort::kNoHandle);
    const int start = flowing.ConfigureCount();
    flowing.Reset();
    EXPECT_EQ(flowing.ConfigureCount(), start + 2);
    termios seen{};
    ASSERT_EQ(::tcgetattr(line.master(), &seen), 0);
    EXPECT_NE(seen.c_cflag & CRTSCTS, 0u);  // the settings are back as they were
    flowing.Close();
}

TEST(CSerialPortTest, ReconfigureActsOnlyWhileOpen) {
    PtyLine line(12);
    RecordingListener listener;
    CSerialPort port;
    port.Reconfigure(Settings(12));
    EXPECT_EQ(port.ConfigureCount(), 0);
    ASSERT_NE(port.Open(Settings(12), &listener, 0), CPort::kNoHandle);
    CPortSettings faster(12, 115200, 7, 2, 1, CPortSettings::kFlowXonXoff);
    port.Reconfigure(faster);
    termios seen{};
    ASSERT_EQ(::tcgetattr(line.master(), &seen), 0);
    EXPECT_EQ(cfgetospeed(&seen), static_cast<speed_t>(B115200));
    // A pseudo-terminal always reads back 8 bits without parity; stop bits and flow control it keeps.
    EXPECT_NE(seen.c_cflag & CSTOPB, 0u);
    EXPECT_NE(seen.c_iflag & IXON, 0u);
    EXPECT_NE(seen.c_iflag & IXOFF, 0u);
    EXPECT_EQ(seen.c_cflag & CRTSCTS, 0u);
    port.Close();
}

TEST(CSerialPortTest, DeviceGoingAwayEndsNeitherTheProcessNorClose) {
    std::unique_ptr<PtyLine> line(new PtyLine(13));
    RecordingListener listener;
    CSerialPort port;
    ASSERT_NE(port.Open(Settings(13), &listener, 0), CPort::kNoHandle);
    line.reset();  // the device side closes: the host sees end of file and hang-up
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    CEvent done;
    port.Write("AT\r", 3, &done);  // a write on a dead line completes (unwritten) instead of hanging
    EXPECT_TRUE(done.Wait(10000));
    port.Close();
    EXPECT_FALSE(port.IsOpen());
}

}  // namespace
