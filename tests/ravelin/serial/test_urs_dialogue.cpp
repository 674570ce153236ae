// Real dialogues with simulated devices: answer waits with watchers under a deadline, a wrong line
// speed, silent and disconnecting devices.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "fixtures/sim_bank_fixture.h"
#include "ravelin/serial/urswin32.h"
#include "log_capture.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Answer {
    int nWatcher = -1;  // index of the watcher that saw its text, -1 on time-out
    int nIoErrors = 0;
    std::string bytes;
};

// The answer loop every caller of the layer runs: feed each byte to the watchers in order, stop at
// the first that reports; read on after I/O errors; only the deadline ends the wait.
Answer WaitFor(UrsPort *pPort, int nSeconds, std::initializer_list<const char *> patterns)
{
    ResponseWatcher watchers[4];
    int nWatchers = 0;
    for (const char *pszPattern : patterns)
        urs_ResetWatcher(&watchers[nWatchers++], pszPattern);
    Answer answer;
    urs_StartTimer(pPort, nSeconds);
    for (int nGuard = 0; nGuard < 100000; ++nGuard) {
        int nResult = urs_GetChar(pPort);
        if (nResult == URS_TIMEOUT)
            break;
        if (nResult == URS_IO_ERROR) {
            ++answer.nIoErrors;
            continue;
        }
        answer.bytes += static_cast<char>(nResult);
        for (int i = 0; i < nWatchers && answer.nWatcher < 0; ++i)
            if (urs_FeedWatcher(&watchers[i], nResult))
                answer.nWatcher = i;
        if (answer.nWatcher >= 0)
            break;
    }
    urs_StopTimer(pPort);
    return answer;
}

class UrsDialogue : public SimBankTest {};

TEST_F(UrsDialogue, IdentificationAnswerAtTheDeviceSpeed)
{
    addDevice("port = 3\nspeed = 38400\nati.0 = 56000\nati.3 = Generic V.90\n");
    UrsPort port;
    ASSERT_EQ(urs_OpenPort(&port, portName(3).c_str()), URS_OK);
    EXPECT_STREQ(port.szName, "COM3");
    EXPECT_EQ(port.nPortNumber, 3u);
    ASSERT_EQ(urs_SetUart(&port, 38400, 8, 0, 0, 0), URS_OK);

    ASSERT_EQ(urs_PutString(&port, "ATI3\r"), URS_OK);
    Answer answer = WaitFor(&port, 10, {"OK\r\n", "ERROR\r\n"});
    EXPECT_EQ(answer.nWatcher, 0);
    EXPECT_EQ(answer.bytes, "ATI3\r\r\nGeneric V.90\r\n\r\nOK\r\n");

    ASSERT_EQ(urs_PutString(&port, "ATI9\r"), URS_OK);
    EXPECT_EQ(WaitFor(&port, 10, {"OK\r\n", "ERROR\r\n"}).nWatcher, 1);
    urs_ClosePort(&port);
    EXPECT_EQ(device(3).state().commands().front(), "ATI3");
}

// At the wrong speed the device hears garbage and answers nothing we could recognise: the wait ends
// with its deadline, so a missing speed switch shows up.
TEST_F(UrsDialogue, WrongSpeedGetsNoAnswer)
{
    addDevice("port = 4\nspeed = 115200\n");
    UrsPort port;
    ASSERT_EQ(urs_OpenPort(&port, portName(4).c_str()), URS_OK);  // the open leaves 19200
    ASSERT_EQ(urs_PutString(&port, "AT\r"), URS_OK);
    Answer answer = WaitFor(&port, 2, {"OK\r\n"});
    EXPECT_EQ(answer.nWatcher, -1);
    EXPECT_EQ(answer.bytes.find("OK"), std::string::npos);

    ASSERT_EQ(urs_SetUart(&port, 115200, 8, 0, 0, 1), URS_OK);
    EXPECT_TRUE(device(4).hostFlowControl());
    ASSERT_EQ(urs_PutString(&port, "AT\r"), URS_OK);
    EXPECT_EQ(WaitFor(&port, 10, {"OK\r\n"}).nWatcher, 0);
    urs_ClosePort(&port);
}

// The device drops the line half-way through a command. The answer loop goes on reading after the
// I/O error until its deadline; the read on the dead line fails once, logged once.
TEST_F(UrsDialogue, DisconnectingDeviceGivesOneIoErrorUnderTheDeadline)
{
    addDevice("port = 6\nspeed = 19200\nfault.disconnect_after = 3\n");
    UrsPort port;
    ASSERT_EQ(urs_OpenPort(&port, portName(6).c_str()), URS_OK);
    LogCapture log;
    ASSERT_EQ(urs_PutString(&port, "ATI0\r"), URS_OK);
    auto start = Clock::now();
    Answer answer = WaitFor(&port, 2, {"OK\r\n"});
    double dEnd = SecondsSince(start);
    EXPECT_EQ(answer.nWatcher, -1);
    EXPECT_EQ(answer.nIoErrors, 1);
    EXPECT_GE(dEnd, 1.9);
    EXPECT_LT(dEnd, 8.0);
    EXPECT_EQ(log.Count("Read File Error ("), 1);
    urs_ClosePort(&port);
}

}  // namespace
