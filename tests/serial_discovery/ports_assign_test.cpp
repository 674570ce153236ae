// `ravelin-cli ports --assign`, `--unassign`, `--by-serial` and `--watch` as a technician runs them on
// the bench machine of the test bed: the rules file they write, the numbers it keeps, what udev is
// asked to do (a stand-in for udevadm records it).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "machine_testbed.h"

using bench_testing::MachineTestbed;
using bench_testing::ReadFile;
using bench_testing::Outcome;
using bench_testing::Socket;
using bench_testing::WriteFile;

namespace {

class PortsAssignTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = bench_testing::MakeScratchDir();
        ASSERT_FALSE(dir.empty());
        rules = dir + "/61-ravelin-com.rules";
        udevadmLog = dir + "/udevadm.log";
        // udevadm's stand-in: every call on one line; exits with the code in udevadm.exit (0 without it).
        WriteFile(dir + "/udevadm", "#!/bin/sh\necho \"$*\" >>'" + udevadmLog + "'\nexit $(cat '" + dir +
                                        "/udevadm.exit' 2>/dev/null || echo 0)\n");
        chmod((dir + "/udevadm").c_str(), 0755);
        setenv("RAVELIN_COM_RULES", rules.c_str(), 1);
        setenv("RAVELIN_UDEVADM", (dir + "/udevadm").c_str(), 1);
        unsetenv("SERIAL_PORTS_DIR");
    }
    void TearDown() override
    {
        unsetenv("RAVELIN_COM_RULES");
        unsetenv("RAVELIN_UDEVADM");
        bench_testing::RemoveTree(dir);
    }

    Outcome ports(const std::string &args)
    {
        return bench_testing::RunProgram("'" + std::string(SUITE_BIN_DIR) + "/ravelin-cli' ports " + args, dir);
    }

    // The numbers the listing shows: "device=COMn" for each serial line with one.
    std::vector<std::string> numbers()
    {
        Outcome run = ports("--json");
        std::vector<std::string> found;
        std::size_t at = run.out.find("\"serial_ports\"");
        while ((at = run.out.find("{\"device\": \"", at)) != std::string::npos) {
            at += 12;
            std::string device = run.out.substr(at, run.out.find('"', at) - at);
            std::size_t com = run.out.find("\"com\": ", at) + 7;
            if (run.out.compare(com, 4, "null") != 0)
                found.push_back(device + "=" + run.out.substr(com + 1, run.out.find('"', com + 1) - com - 1));
        }
        return found;
    }

    MachineTestbed bed;
    std::string dir, rules, udevadmLog;
};

TEST_F(PortsAssignTest, AssignNumbersEveryPortBySocketAndWritesTheExpectedRules)
{
    bed.addBenchMachine();
    Outcome run = ports("--assign");
    ASSERT_EQ(0, run.exitCode) << run.err;
    // COM1 stays ttyS0's (its UART); COM2-COM4 are free, as ttyS1-ttyS3 have none. By socket, then name.
    EXPECT_EQ("COM2 = /dev/ttyUSB0 (MCS7840 4-port serial (MosChip))\n"
              "COM3 = /dev/ttyUSB1 (MCS7840 4-port serial (MosChip))\n"
              "COM4 = /dev/ttyUSB2 (MCS7840 4-port serial (MosChip))\n"
              "COM5 = /dev/ttyUSB3 (MCS7840 4-port serial (MosChip))\n"
              "COM6 = /dev/ttyUSB4 (FT232R USB UART (FTDI))\n"
              "COM7 = /dev/ttyACM0 (USB Modem (Conexant))\n",
              run.out);
    EXPECT_EQ(ReadFile(std::string(SUITE_SOURCE_DIR) + "/tests/serial_discovery/data/bench_assigned.rules"),
              ReadFile(rules));
    struct stat st;
    ASSERT_EQ(0, stat(rules.c_str(), &st));
    EXPECT_EQ(0644u, st.st_mode & 0777);
    EXPECT_EQ("control --reload\ntrigger --action=add --subsystem-match=tty\n", ReadFile(udevadmLog));
    EXPECT_EQ((std::vector<std::string>{"/dev/ttyACM0=COM7", "/dev/ttyS0=COM1", "/dev/ttyUSB0=COM2", "/dev/ttyUSB1=COM3",
                                        "/dev/ttyUSB2=COM4", "/dev/ttyUSB3=COM5", "/dev/ttyUSB4=COM6"}),
              numbers());

    // Again: nothing to number, the file stays as it is and udev is not bothered.
    std::string before = ReadFile(rules);
    unlink(udevadmLog.c_str());
    Outcome again = ports("--assign");
    EXPECT_EQ(0, again.exitCode) << again.err;
    EXPECT_EQ("", again.out);
    EXPECT_NE(std::string::npos, again.err.find("every serial port has its COM number already")) << again.err;
    EXPECT_EQ(before, ReadFile(rules));
    EXPECT_FALSE(bench_testing::ReadFile(udevadmLog).size() > 0);
}

TEST_F(PortsAssignTest, NumbersStayAcrossRunsAndWhenAnAdapterComesBackUnderAnotherName)
{
    bed.addBenchMachine();
    ASSERT_EQ(0, ports("--assign").exitCode);
    // The single adapter is unplugged; the quad adapter's ports keep their numbers meanwhile.
    bed.remove(MachineTestbed::usbDevicePath(Socket{"2"}));
    EXPECT_EQ((std::vector<std::string>{"/dev/ttyACM0=COM7", "/dev/ttyS0=COM1", "/dev/ttyUSB0=COM2", "/dev/ttyUSB1=COM3",
                                        "/dev/ttyUSB2=COM4", "/dev/ttyUSB3=COM5"}),
              numbers());
    // A new adapter in another socket gets the next free number; the absent one's COM6 is kept for it.
    bed.addSingleAdapter(Socket{"4"}, 6, "B0000001");
    Outcome run = ports("--assign");
    ASSERT_EQ(0, run.exitCode) << run.err;
    EXPECT_EQ("COM8 = /dev/ttyUSB6 (FT232R USB UART (FTDI))\n", run.out);
    // The first adapter comes back into its socket, now as ttyUSB5: COM6 again, without a new rule.
    bed.addSingleAdapter(Socket{"2"}, 5, "A50285BI");
    std::string before = ReadFile(rules);
    EXPECT_EQ("", ports("--assign").out);
    EXPECT_EQ(before, ReadFile(rules));
    EXPECT_EQ((std::vector<std::string>{"/dev/ttyACM0=COM7", "/dev/ttyS0=COM1", "/dev/ttyUSB0=COM2", "/dev/ttyUSB1=COM3",
                                        "/dev/ttyUSB2=COM4", "/dev/ttyUSB3=COM5", "/dev/ttyUSB5=COM6", "/dev/ttyUSB6=COM8"}),
              numbers());
}

TEST_F(PortsAssignTest, BySerialTheNumberFollowsTheAdapterToAnySocket)
{
    bed.addBuiltInPorts();
    bed.addSingleAdapter(Socket{"2"}, 0, "A50285BI");
    bed.addQuadAdapter(Socket{"1"}, 1);
    Outcome run = ports("--assign /dev/ttyUSB0=COM12 ttyUSB1=COM20 --by-serial");
    ASSERT_EQ(0, run.exitCode) << run.err;
    EXPECT_EQ("COM12 = /dev/ttyUSB0 (FT232R USB UART (FTDI))\nCOM20 = /dev/ttyUSB1 (MCS7840 4-port serial (MosChip))\n",
              run.out);
    // The quad adapter has no serial number: its port is bound to its socket, and stderr says so.
    EXPECT_NE(std::string::npos, run.err.find("/dev/ttyUSB1 has no serial number: COM20 is bound to its socket"))
        << run.err;
    std::string text = ReadFile(rules);
    EXPECT_NE(std::string::npos,
              text.find("SUBSYSTEM==\"tty\", ENV{ID_SERIAL_SHORT}==\"A50285BI\", ENV{ID_USB_INTERFACE_NUM}==\"00\", "
                        "ATTRS{port_number}==\"0\", SYMLINK+=\"serial/com/COM12\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n"))
        << text;
    EXPECT_NE(std::string::npos, text.find("ENV{ID_PATH}==\"pci-0000:00:14.0-usb-0:1:1.0\", ATTRS{port_number}==\"0\", "
                                           "SYMLINK+=\"serial/com/COM20\""))
        << text;
    // Moved to socket 6 and seen as ttyUSB9: still COM12.
    bed.remove(MachineTestbed::usbDevicePath(Socket{"2"}));
    bed.addSingleAdapter(Socket{"6"}, 9, "A50285BI");
    std::vector<std::string> found = numbers();
    EXPECT_NE(found.end(), std::find(found.begin(), found.end(), "/dev/ttyUSB9=COM12")) << ::testing::PrintToString(found);
}

TEST_F(PortsAssignTest, UnassignFreesANumberForTheNextPort)
{
    bed.addBenchMachine();
    ASSERT_EQ(0, ports("--assign").exitCode);
    Outcome freed = ports("--unassign COM3 com5");
    ASSERT_EQ(0, freed.exitCode) << freed.err;
    EXPECT_EQ("COM3 is free\nCOM5 is free\n", freed.out);
    std::string text = ReadFile(rules);
    EXPECT_EQ(std::string::npos, text.find("serial/com/COM3\"")) << text;
    EXPECT_EQ(std::string::npos, text.find("# COM3:")) << "its comment goes with it\n" << text;
    EXPECT_NE(std::string::npos, text.find("serial/com/COM4\"")) << text;
    // The freed ports get the lowest free numbers again, in socket order.
    Outcome again = ports("--assign");
    EXPECT_EQ("COM3 = /dev/ttyUSB1 (MCS7840 4-port serial (MosChip))\nCOM5 = /dev/ttyUSB3 (MCS7840 4-port serial (MosChip))\n",
              again.out);
    // Two rewrites later the file is byte for byte the one of the first run.
    EXPECT_EQ(ReadFile(std::string(SUITE_SOURCE_DIR) + "/tests/serial_discovery/data/bench_assigned.rules"),
              ReadFile(rules));
    // A number no rule gives cannot be freed, and nothing changes.
    std::string before = ReadFile(rules);
    Outcome none = ports("--unassign COM30");
    EXPECT_EQ(1, none.exitCode);
    EXPECT_NE(std::string::npos, none.err.find("gives COM30")) << none.err;
    EXPECT_EQ(before, ReadFile(rules));
}

TEST_F(PortsAssignTest, AChosenNumberIsRefusedWhenAnotherPortHoldsIt)
{
    bed.addBenchMachine();
    ASSERT_EQ(0, ports("--assign").exitCode);
    std::string before = ReadFile(rules);
    struct Case {
        const char *args;
        int exitCode;
        const char *err;
    };
    const Case cases[] = {
        {"--assign /dev/ttyUSB4=COM2", 1, "COM2 belongs to /dev/ttyUSB0"},
        {"--assign /dev/ttyUSB4=COM1", 1, "COM1 belongs to /dev/ttyS0"},
        {"--assign /dev/ttyUSB9=COM9", 1, "/dev/ttyUSB9 is no serial port of this machine"},
        {"--assign /dev/ttyUSB4=fast", 2, "is not DEVICE=COMn"},
        {"--unassign", 2, "--unassign needs a COM number"},
        {"--by-serial", 2, "--by-serial goes with --assign"},
        {"--assign --json", 2, "take no PORT and no --json"},
        {"--watch --assign /dev/ttyUSB4=COM9", 2, "it takes no DEVICE=COMn"},
    };
    for (const Case &c : cases) {
        Outcome run = ports(c.args);
        EXPECT_EQ(c.exitCode, run.exitCode) << c.args;
        EXPECT_NE(std::string::npos, run.err.find(c.err)) << c.args << "\n" << run.err;
        EXPECT_EQ(before, ReadFile(rules)) << c.args;
    }
    // Its own number again changes nothing; a free one moves it, and its old number is free.
    EXPECT_EQ("", ports("--assign /dev/ttyUSB4=COM6").out);
    EXPECT_EQ("COM9 = /dev/ttyUSB4 (FT232R USB UART (FTDI))\n", ports("--assign /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0=COM9").out);
    std::string text = ReadFile(rules);
    EXPECT_EQ(std::string::npos, text.find("serial/com/COM6\"")) << text;
}

TEST_F(PortsAssignTest, KeepsWhatTheFileHeldAndSaysWhenUdevCannotApplyIt)
{
    bed.addBenchMachine();
    // A hand-written rule of keys of its own and a remark: both stay, and COM2 stays taken.
    const std::string handWritten = "# the bench's label printer\n"
                                    "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"1a86\", SYMLINK+=\"serial/com/COM2\"\n";
    WriteFile(rules, "# kept by hand as well\n\n" + handWritten);
    WriteFile(dir + "/udevadm.exit", "3\n");
    Outcome run = ports("--assign");
    EXPECT_EQ(0, run.exitCode) << "the file holds every number: " << run.err;
    EXPECT_NE(std::string::npos, run.err.find("is written, but udev did not apply the rules")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("sudo udevadm control --reload")) << run.err;
    EXPECT_EQ(0u, run.out.find("COM3 = /dev/ttyUSB0 ")) << run.out;
    std::string text = ReadFile(rules);
    EXPECT_EQ(0u, text.find("# kept by hand as well\n")) << text;
    EXPECT_NE(std::string::npos, text.find("\n" + handWritten)) << text;

    // No udevadm at all (no udev on the machine): written all the same, and stderr says so.
    ASSERT_EQ(0, ports("--unassign COM3").exitCode);
    setenv("RAVELIN_UDEVADM", (dir + "/no-such-udevadm").c_str(), 1);
    Outcome noUdev = ports("--assign");
    EXPECT_EQ(0, noUdev.exitCode) << noUdev.err;
    EXPECT_EQ(0u, noUdev.out.find("COM3 = ")) << noUdev.out;
    EXPECT_NE(std::string::npos, noUdev.err.find("udev cannot be asked to apply the rules (" + dir +
                                                 "/no-such-udevadm): No such file or directory"))
        << noUdev.err;

    // A rules file that cannot be written: exit code 1 and the reason; the old file is as it was.
    std::string before = ReadFile(rules);
    setenv("RAVELIN_COM_RULES", (dir + "/no-such-dir/61-ravelin-com.rules").c_str(), 1);
    Outcome failed = ports("--assign");
    EXPECT_EQ(1, failed.exitCode);
    EXPECT_NE(std::string::npos, failed.err.find("cannot write " + dir + "/no-such-dir/61-ravelin-com.rules: No such file or directory"))
        << failed.err;
    EXPECT_EQ("", failed.out);
    EXPECT_EQ(before, ReadFile(rules));
}

// A running `ports --watch`, read line by line.
class Watcher {
public:
    Watcher(const std::string &args)
    {
        int out[2], err[2];
        if (pipe(out) != 0 || pipe(err) != 0) return;
        std::string exe = std::string(SUITE_BIN_DIR) + "/ravelin-cli";
        std::vector<std::string> words = {exe, "ports", "--watch"};
        if (!args.empty()) words.push_back(args);
        std::vector<char *> argv;
        for (std::string &w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], 1);
            dup2(err[1], 2);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        m_out = out[0];
        m_err = err[0];
    }
    ~Watcher()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        close(m_out);
        close(m_err);
    }
    // The next line of stdout (or stderr), "" when none came within 10 s.
    std::string line(bool bStderr = false)
    {
        int fd = bStderr ? m_err : m_out;
        std::string &buffer = bStderr ? m_errText : m_outText;
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            std::size_t nl = buffer.find('\n');
            if (nl != std::string::npos) {
                std::string text = buffer.substr(0, nl);
                buffer.erase(0, nl + 1);
                return text;
            }
            int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
            pollfd p{fd, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, left) <= 0) return "";
            char chunk[512];
            ssize_t n = read(fd, chunk, sizeof chunk);
            if (n <= 0) return "";
            buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }
    // Ctrl-C; the exit code.
    int interrupt()
    {
        kill(m_pid, SIGINT);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1, m_err = -1;
    std::string m_outText, m_errText;
};

TEST_F(PortsAssignTest, WatchAssignNumbersAdaptersInTheOrderTheyArePluggedIn)
{
    bed.addBuiltInPorts();
    Watcher watch("--assign");
    ASSERT_NE(std::string::npos, watch.line(true).find("watching for serial ports that come and go, numbering each new one"));
    // Plugged in against the order of their sockets: the numbers follow the plugging.
    bed.addSingleAdapter(Socket{"3"}, 0, "S3");
    EXPECT_EQ("+ /dev/ttyUSB0 (FT232R USB UART (FTDI)): no COM number", watch.line());
    EXPECT_EQ("COM2 = /dev/ttyUSB0 (FT232R USB UART (FTDI))", watch.line());
    bed.addSingleAdapter(Socket{"1"}, 1, "S1");
    EXPECT_EQ("+ /dev/ttyUSB1 (FT232R USB UART (FTDI)): no COM number", watch.line());
    EXPECT_EQ("COM3 = /dev/ttyUSB1 (FT232R USB UART (FTDI))", watch.line());
    bed.remove(MachineTestbed::usbDevicePath(Socket{"3"}));
    EXPECT_EQ("- /dev/ttyUSB0 (COM2) went", watch.line());
    // Back in its socket under another name: its number, no new rule.
    bed.addSingleAdapter(Socket{"3"}, 2, "S3");
    EXPECT_EQ("+ /dev/ttyUSB2 (FT232R USB UART (FTDI)): COM2", watch.line());
    EXPECT_EQ(0, watch.interrupt());
    std::string text = ReadFile(rules);
    EXPECT_NE(std::string::npos, text.find("ENV{ID_PATH}==\"pci-0000:00:14.0-usb-0:3:1.0\", ATTRS{port_number}==\"0\", "
                                           "SYMLINK+=\"serial/com/COM2\""))
        << text;
    EXPECT_NE(std::string::npos, text.find("ENV{ID_PATH}==\"pci-0000:00:14.0-usb-0:1:1.0\", ATTRS{port_number}==\"0\", "
                                           "SYMLINK+=\"serial/com/COM3\""))
        << text;
    EXPECT_EQ(std::string::npos, text.find("COM4")) << text;
}

TEST_F(PortsAssignTest, WatchAloneOnlyReports)
{
    bed.addBenchMachine();
    Watcher watch("");
    ASSERT_NE(std::string::npos, watch.line(true).find("watching for serial ports that come and go; Ctrl-C ends"));
    bed.addModem(Socket{"7"}, 1);
    EXPECT_EQ("+ /dev/ttyACM1 (USB Modem (Conexant)): no COM number", watch.line());
    bed.remove(MachineTestbed::usbDevicePath(Socket{"1"}));
    std::vector<std::string> gone;
    for (int i = 0; i < 4; ++i) gone.push_back(watch.line());
    std::sort(gone.begin(), gone.end());
    EXPECT_EQ((std::vector<std::string>{"- /dev/ttyUSB0 went", "- /dev/ttyUSB1 went", "- /dev/ttyUSB2 went",
                                        "- /dev/ttyUSB3 went"}),
              gone);
    EXPECT_EQ(0, watch.interrupt());
    EXPECT_FALSE(access(rules.c_str(), F_OK) == 0) << "a watch without --assign writes nothing";
}

}  // namespace
