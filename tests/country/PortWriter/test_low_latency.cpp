// Low latency at Open and the driver's flags back at Close, against a stand-in for a driver that has
// serial settings (a pseudo-terminal refuses them); and the note the traffic log gets once per Open.
#include <gtest/gtest.h>

#include <linux/serial.h>

#include <cerrno>
#include <string>
#include <vector>

#include "country/PortWriter/SerialPort.h"
#include "port_writer_fixture.h"
#include "portwriter_test_util.h"

namespace {

using pw_testing::PtyLine;

class NullListener : public CPortListener {
public:
    void OnData(CPort*, char* buffer, int) override { delete[] buffer; }
    void OnLineEvent(CPort*, int) override {}
    bool WantsLineEvents(CPort*) override { return false; }
};

class FakeFlags : public CSerialFlags {
public:
    int Get(int handle, int& flags) override {
        handles.push_back(handle);
        if (getError == 0)
            flags = this->flags;
        return getError;
    }
    int Set(int handle, int flags) override {
        handles.push_back(handle);
        sets.push_back(flags);
        if (setError == 0)
            this->flags = flags;
        return setError;
    }
    int flags = 0;
    int getError = 0;
    int setError = 0;
    std::vector<int> sets;
    std::vector<int> handles;
};

constexpr int kOther = 0x0040;  // another flag of the driver's, which must survive the round trip

TEST(LowLatencyTest, SetAtOpenWhereTheDriverHasItAndGivenBackAtClose) {
    struct Case {
        const char* what;
        int flags, getError, setError;
        std::vector<int> expectedSets;  // at Open, then at Close
        int flagsAfterClose;
        std::string note;
    } cases[] = {
        {"off: set, then restored", kOther, 0, 0, {kOther | ASYNC_LOW_LATENCY, kOther}, kOther, "low latency set"},
        {"already on: left alone", kOther | ASYNC_LOW_LATENCY, 0, 0, {}, kOther | ASYNC_LOW_LATENCY,
         "low latency already on"},
        {"no such setting (ENOTTY): no error, nothing restored", kOther, ENOTTY, 0, {}, kOther,
         "no low latency setting on this driver"},
        {"flags cannot be read", kOther, EIO, 0, {}, kOther, "cannot set low latency: Input/output error"},
        {"the driver refuses the set", kOther, 0, EPERM, {kOther | ASYNC_LOW_LATENCY}, kOther,
         "cannot set low latency: Operation not permitted"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PtyLine line(4);
        FakeFlags driver;
        driver.flags = c.flags;
        driver.getError = c.getError;
        driver.setError = c.setError;
        NullListener listener;
        CSerialPort port(driver);
        const CPort::Handle handle = port.Open(CPortSettings(4, 38400, 8, 1, 0, 0), &listener, 0);
        ASSERT_NE(handle, CPort::kNoHandle);  // however the request went, the port opens
        EXPECT_EQ(port.OpenNote(), port.DevicePath() + ": " + c.note);
        port.Write("AT\r", 3, nullptr);
        std::string got;
        EXPECT_TRUE(line.readUntil("AT\r", got));
        port.Close();
        EXPECT_EQ(driver.sets, c.expectedSets);
        EXPECT_EQ(driver.flags, c.flagsAfterClose);
        for (int seen : driver.handles)
            EXPECT_EQ(seen, handle);  // the port's own descriptor, and never after it closed
    }
}

TEST(LowLatencyTest, APortThatDoesNotOpenAsksNothing) {
    pw_testing::ScratchDir empty;
    modemsim_testing::ScopedEnv env("SERIAL_PORTS_DIR", empty.path());
    FakeFlags driver;
    NullListener listener;
    CSerialPort port(driver);
    EXPECT_EQ(port.Open(CPortSettings(5, 38400, 8, 1, 0, 0), &listener, 0), CPort::kNoHandle);
    EXPECT_TRUE(driver.handles.empty());
    EXPECT_EQ(port.OpenNote(), "");
}

class LowLatencyLogTest : public pw_testing::PortWriterTest {};

// On a pseudo-terminal the system itself answers ENOTTY: the traffic log says so once per Open.
TEST_F(LowLatencyLogTest, TheTrafficLogTellsWhatTheOpenDidOncePerOpen) {
    addDevice(pw_testing::StandardDevice());
    OpenWriter();
    writer_->Close();
    ASSERT_TRUE(writer_->Open(&settings_, CPortWriter::kLogText, 0, true, LogPath()));
    writer_->Close();
    const std::string log = Log();
    const std::string note = ": no low latency setting on this driver";
    size_t first = log.find(note);
    ASSERT_NE(first, std::string::npos) << log;
    size_t second = log.find(note, first + 1);
    ASSERT_NE(second, std::string::npos) << log;
    EXPECT_EQ(log.find(note, second + 1), std::string::npos) << log;
    EXPECT_NE(log.find("[[--- " + portPath(3)), std::string::npos) << log;
}

}  // namespace
