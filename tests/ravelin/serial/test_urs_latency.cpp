// Low latency at open and the driver's flags back at close, against a stand-in for a driver that has
// serial settings (a pseudo-terminal refuses them), with the exact log lines.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/serial.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "ravelin/serial/urs_latency.h"
#include "ravelin/serial/urswin32.h"
#include "log_capture.h"
#include "pty_pair.h"

namespace {

using Lines = std::vector<std::string>;

// The driver's side: its flags, what its requests fail with, and every set it was asked for.
struct FakeDriver {
    int nFlags = 0;
    int nGetError = 0;  // errno of a failing get (0: it succeeds)
    int nSetError = 0;
    bool bBreakLineOnSet = false;  // the port stops being a terminal right after the set
    std::vector<int> sets;
    int hLastPort = -1;
};
FakeDriver g_driver;

int FakeGetFlags(int hPort, int *pnFlags)
{
    g_driver.hLastPort = hPort;
    if (g_driver.nGetError != 0) {
        errno = g_driver.nGetError;
        return -1;
    }
    *pnFlags = g_driver.nFlags;
    return 0;
}

int FakeSetFlags(int hPort, int nFlags)
{
    g_driver.hLastPort = hPort;
    g_driver.sets.push_back(nFlags);
    if (g_driver.nSetError != 0) {
        errno = g_driver.nSetError;
        return -1;
    }
    g_driver.nFlags = nFlags;
    if (g_driver.bBreakLineOnSet) {
        // The descriptor now names /dev/null: the next terminal request of the open fails.
        g_driver.bBreakLineOnSet = false;
        int hNull = open("/dev/null", O_RDWR | O_CLOEXEC);
        dup2(hNull, hPort);
        close(hNull);
    }
    return 0;
}

const UrsSerialFlagsOps kFakeOps = {FakeGetFlags, FakeSetFlags};

class UrsLatency : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_driver = FakeDriver();
        urs_SetSerialFlagsOpsForTesting(&kFakeOps);
    }
    void TearDown() override { urs_SetSerialFlagsOpsForTesting(nullptr); }

    // The serial layer's log lines about latency, from open to close.
    static Lines LatencyLines(const LogCapture &log)
    {
        Lines lines;
        for (const std::string &message : log.Messages())
            if (message.find("atency") != std::string::npos)
                lines.push_back(message);
        return lines;
    }
};

constexpr int kOther = 0x0040;  // another flag of the driver's, which must survive the round trip

struct Case {
    const char *what;
    int nFlags, nGetError, nSetError;
    std::vector<int> expectedSets;  // at open, then at close
    int nFlagsAfterClose;
    Lines expectedLog;  // "%s" stands for the port's name
};

TEST_F(UrsLatency, SetAtOpenWhenTheDriverHasItAndGivenBackAtClose)
{
    const Case cases[] = {
        {"off: set, then restored", kOther, 0, 0, {kOther | ASYNC_LOW_LATENCY, kOther}, kOther,
         {"urs_OpenPort: <%s>, Low latency set", "urs_ClosePort: Restored latency"}},
        {"already on: left alone", kOther | ASYNC_LOW_LATENCY, 0, 0, {}, kOther | ASYNC_LOW_LATENCY,
         {"urs_OpenPort: <%s>, Low latency already on"}},
        {"no such setting (ENOTTY): no error, nothing restored", kOther, ENOTTY, 0, {}, kOther,
         {"urs_OpenPort: <%s>, No low latency setting on this driver"}},
        {"the driver's flags cannot be read", kOther, EIO, 0, {}, kOther,
         {"urs_OpenPort: <%s>, Unable to set low latency\n\tInput/output error"}},
        {"the driver refuses the set", kOther, 0, EPERM, {kOther | ASYNC_LOW_LATENCY}, kOther,
         {"urs_OpenPort: <%s>, Unable to set low latency\n\tOperation not permitted"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        g_driver = FakeDriver();
        g_driver.nFlags = c.nFlags;
        g_driver.nGetError = c.nGetError;
        g_driver.nSetError = c.nSetError;
        PtyPair pty;
        ASSERT_TRUE(pty.Ok());
        LogCapture log;
        ASSERT_TRUE(log.Ok());

        UrsPort port;
        // However the request went, the port opens and works.
        ASSERT_EQ(urs_OpenPort(&port, pty.DevicePath().c_str()), URS_OK);
        const int hPort = port.hPort;
        EXPECT_EQ(g_driver.hLastPort, hPort);  // the port's own descriptor, not another
        EXPECT_EQ(urs_PutString(&port, "AT\r"), URS_OK);
        EXPECT_EQ(pty.Receive(3), "AT\r");
        urs_ClosePort(&port);

        EXPECT_EQ(g_driver.sets, c.expectedSets);
        EXPECT_EQ(g_driver.nFlags, c.nFlagsAfterClose);
        Lines expected;
        for (std::string line : c.expectedLog) {
            std::size_t at = line.find("%s");
            if (at != std::string::npos)
                line.replace(at, 2, pty.SlavePath());
            expected.push_back(line);
        }
        EXPECT_EQ(LatencyLines(log), expected);
    }
}

// An open that fails after the set gives the driver its flags back on the way out, before the
// descriptor closes.
TEST_F(UrsLatency, AFailedOpenAfterTheSetRestoresTheFlags)
{
    g_driver.nFlags = kOther;
    g_driver.bBreakLineOnSet = true;
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    LogCapture log;
    ASSERT_TRUE(log.Ok());

    UrsPort port;
    EXPECT_EQ(urs_OpenPort(&port, pty.DevicePath().c_str()), URS_OPEN_FAILED);
    EXPECT_EQ(g_driver.sets, (std::vector<int>{kOther | ASYNC_LOW_LATENCY, kOther}));
    EXPECT_EQ(g_driver.nFlags, kOther);
    EXPECT_EQ(log.Count("Unable to purge comm buffers"), 1);
    EXPECT_EQ(log.Count("urs_ClosePort: Restored latency"), 1);
    EXPECT_EQ(port.hPort, -1);

    // A later close of the same record gives nothing back a second time.
    g_driver.sets.clear();
    PtyPair other;
    ASSERT_TRUE(other.Ok());
    g_driver.nGetError = ENOTTY;
    ASSERT_EQ(urs_OpenPort(&port, other.DevicePath().c_str()), URS_OK);
    urs_ClosePort(&port);
    EXPECT_TRUE(g_driver.sets.empty());
}

// A port that never opened has nothing to give back.
TEST_F(UrsLatency, AMissingPortAsksNothing)
{
    LogCapture log;
    UrsPort port;
    EXPECT_EQ(urs_OpenPort(&port, "\\\\.\\/nonexistent/ttyX"), URS_OPEN_FAILED);
    EXPECT_EQ(g_driver.hLastPort, -1);
    EXPECT_TRUE(g_driver.sets.empty());
}

}  // namespace
