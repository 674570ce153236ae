// Opening, closing and line set-up over pseudo-terminals, with the exact log lines.
#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ravelin/serial/urswin32.h"
#include "log_capture.h"
#include "pty_pair.h"

namespace {

using Lines = std::vector<std::string>;

TEST(UrsOpen, OpenAndCloseLogTheirSteps)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    LogCapture log;
    ASSERT_TRUE(log.Ok());

    UrsPort port;
    ASSERT_EQ(urs_OpenPort(&port, pty.DevicePath().c_str()), URS_OK);
    const std::string name = pty.SlavePath();
    EXPECT_EQ(std::string(port.szName), name);
    EXPECT_EQ(port.nPortNumber, 0u);
    EXPECT_EQ(port.tsDeadlineStart.nSeconds, 0);
    urs_ClosePort(&port);

    // Pseudo-terminals have no modem lines: RTS and DTR fail with the system's text, and the open
    // goes on. Nor have they serial settings: no low latency, and nothing to give back at the close.
    const std::string noLines = "Inappropriate ioctl for device";
    EXPECT_EQ(log.Messages(), (Lines{
                                  "urs_OpenPort: <" + name + ">, No low latency setting on this driver",
                                  "urs_OpenPort: <" + name + ">, Unable to set RTS high\n\t" + noLines,
                                  "urs_OpenPort: <" + name + ">, Unable to set DTR high\n\t" + noLines,
                                  "Port opened <" + name + ">",
                                  "urs_ClosePort: Set comm mask",
                                  "urs_ClosePort: Unable to lower DTR",
                                  "urs_ClosePort: Purged comm",
                                  "Port closed",
                              }));
    EXPECT_EQ(port.hPort, -1);
}

TEST(UrsOpen, MissingDeviceLogsTheSystemErrorWithoutClosing)
{
    LogCapture log;
    UrsPort port;
    EXPECT_EQ(urs_OpenPort(&port, "\\\\.\\/nonexistent/ttyX"), URS_OPEN_FAILED);
    EXPECT_EQ(port.hPort, -1);
    EXPECT_EQ(log.Messages(),
              Lines{"urs_OpenPort: </nonexistent/ttyX>, Invalid Handle Error, GetLastError = 00000002"});
}

// Root ignores TIOCEXCL, so the lock is what keeps a second opener out, in this process or another.
TEST(UrsOpen, SecondOpenOfAHeldPortFailsAndTheFirstStillWorks)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    UrsPort first;
    ASSERT_EQ(urs_OpenPort(&first, pty.DevicePath().c_str()), URS_OK);

    {
        LogCapture log;
        UrsPort second;
        EXPECT_EQ(urs_OpenPort(&second, pty.DevicePath().c_str()), URS_OPEN_FAILED);
        Lines messages = log.Messages();
        ASSERT_EQ(messages.size(), 1u);
        // EWOULDBLOCK from the lock, or EBUSY from TIOCEXCL for a user without root rights.
        EXPECT_TRUE(messages[0] == "urs_OpenPort: <" + pty.SlavePath() +
                                       ">, Invalid Handle Error, GetLastError = 0000000b" ||
                    messages[0] == "urs_OpenPort: <" + pty.SlavePath() +
                                       ">, Invalid Handle Error, GetLastError = 00000010")
            << messages[0];
    }

    // Another process cannot take it either.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        UrsPort other;
        _exit(urs_OpenPort(&other, pty.DevicePath().c_str()) == URS_OPEN_FAILED ? 0 : 1);
    }
    int nStatus = 0;
    ASSERT_EQ(waitpid(child, &nStatus, 0), child);
    EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0) << "another process opened a held port";

    EXPECT_EQ(urs_PutString(&first, "AT\r"), URS_OK);
    EXPECT_EQ(pty.Receive(3), "AT\r");
    ASSERT_TRUE(pty.Send("OK"));
    EXPECT_EQ(urs_GetCharTimed(&first, 5), 'O');
    urs_ClosePort(&first);

    // Once closed, the port opens again.
    UrsPort again;
    ASSERT_EQ(urs_OpenPort(&again, pty.DevicePath().c_str()), URS_OK);
    urs_ClosePort(&again);
}

// The device side reads the line settings the host made (termios of the master act on the slave).
TEST(UrsOpen, OpenSetsRaw19200AndSetUartChangesOnlySpeedFramingAndFlowControl)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    UrsPort port;
    ASSERT_EQ(urs_OpenPort(&port, pty.DevicePath().c_str()), URS_OK);

    struct termios tio;
    ASSERT_EQ(tcgetattr(pty.Master(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B19200));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);

    LogCapture log;
    EXPECT_EQ(urs_SetUart(&port, 115200, 8, 0, 0, 1), URS_OK);
    ASSERT_EQ(tcgetattr(pty.Master(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B115200));
    EXPECT_NE(tio.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);  // raw mode kept

    EXPECT_EQ(urs_SetUart(&port, 9600, 8, 0, 0, 0), URS_OK);
    ASSERT_EQ(tcgetattr(pty.Master(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);

    EXPECT_EQ(urs_SetUart(&port, 12345, 8, 0, 0, 0), URS_IO_ERROR);
    ASSERT_EQ(tcgetattr(pty.Master(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));  // a refused set changes nothing

    EXPECT_EQ(log.Messages(), (Lines{"Uart setup at baud rate 115200", "Uart setup at baud rate 9600",
                                     "urs_SetUart: Unable to SetCommState"}));
    urs_ClosePort(&port);

    LogCapture closedLog;
    EXPECT_EQ(urs_SetUart(&port, 9600, 8, 0, 0, 0), URS_IO_ERROR);
    EXPECT_EQ(closedLog.Messages(), Lines{"urs_SetUart: Unable to GetCommState"});
}

}  // namespace
