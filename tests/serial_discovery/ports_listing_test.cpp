// `ravelin-cli ports` on the bench machine of the test bed: after the COM table, every serial line with
// its number, the lines without one and the hint to number them; "serial_ports" in the JSON. And the
// line facts it reads (low latency, CTS) through a stand-in for the driver.
#include <gtest/gtest.h>

#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "machine_testbed.h"
#include "tools/serial-discovery/disc_lines.h"

using bench_testing::MachineTestbed;
using bench_testing::Outcome;
using bench_testing::ReadFile;
using bench_testing::WriteFile;

namespace {

const char kOneRule[] =
    "SUBSYSTEM==\"tty\", ENV{ID_PATH}==\"pci-0000:00:14.0-usb-0:2:1.0\", ATTRS{port_number}==\"0\", "
    "SYMLINK+=\"serial/com/COM6\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n";

class PortsListingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = bench_testing::MakeScratchDir();
        ASSERT_FALSE(dir.empty());
        setenv("RAVELIN_COM_RULES", (dir + "/61-ravelin-com.rules").c_str(), 1);
        WriteFile(dir + "/61-ravelin-com.rules", kOneRule);
        unsetenv("SERIAL_PORTS_DIR");
        bed.addBenchMachine();
        bed.shadowOtherPorts();
    }
    void TearDown() override
    {
        unsetenv("RAVELIN_COM_RULES");
        bench_testing::RemoveTree(dir);
    }
    Outcome ports(const std::string &args)
    {
        return bench_testing::RunProgram("'" + std::string(SUITE_BIN_DIR) + "/ravelin-cli' ports " + args, dir);
    }

    MachineTestbed bed;
    std::string dir;
};

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1) lines.push_back(text.substr(at, nl - at));
    return lines;
}

TEST_F(PortsListingTest, ListsEverySerialLineAfterTheComTableAndTheUnnumberedOnesWithTheHint)
{
    Outcome run = ports("");
    ASSERT_EQ(0, run.exitCode) << run.err;
    std::vector<std::string> lines = Lines(run.out);
    std::size_t at = 0;
    while (at < lines.size() && lines[at] != "Serial lines of this machine:") ++at;
    ASSERT_LT(at + 8, lines.size()) << run.out;
    EXPECT_EQ(0u, lines[1].rfind("COM1 ", 0)) << "the COM table comes first\n" << run.out;
    std::vector<std::string> table(lines.begin() + static_cast<long>(at) + 1, lines.begin() + static_cast<long>(at) + 9);
    const std::vector<std::vector<std::string>> expected = {
        {"COM", "DEVICE", "DRIVER", "DESCRIPTION", "ID_PATH", "LOW LATENCY", "LATENCY TIMER"},
        {"-", "/dev/ttyACM0", "cdc_acm", "USB Modem (Conexant)", "pci-0000:00:14.0-usb-0:3:1.0", "-", "-"},
        {"COM1", "/dev/ttyS0", "serial", "16550A UART", "-", "-", "-"},
        {"-", "/dev/ttyUSB0", "mos7840", "MCS7840 4-port serial (MosChip)", "pci-0000:00:14.0-usb-0:1:1.0 port 0", "-", "-"},
        {"-", "/dev/ttyUSB1", "mos7840", "MCS7840 4-port serial (MosChip)", "pci-0000:00:14.0-usb-0:1:1.0 port 1", "-", "-"},
        {"-", "/dev/ttyUSB2", "mos7840", "MCS7840 4-port serial (MosChip)", "pci-0000:00:14.0-usb-0:1:1.0 port 2", "-", "-"},
        {"-", "/dev/ttyUSB3", "mos7840", "MCS7840 4-port serial (MosChip)", "pci-0000:00:14.0-usb-0:1:1.0 port 3", "-", "-"},
        {"COM6", "/dev/ttyUSB4", "ftdi_sio", "FT232R USB UART (FTDI)", "pci-0000:00:14.0-usb-0:2:1.0 port 0", "-", "16 ms"},
    };
    for (std::size_t row = 0; row < expected.size(); ++row) {
        // Columns are padded: each cell sits where the header's column starts.
        std::size_t from = 0;
        for (std::size_t col = 0; col < expected[row].size(); ++col) {
            std::size_t found = table[row].find(expected[row][col], from);
            EXPECT_NE(std::string::npos, found) << expected[row][col] << " in\n" << table[row];
            if (found != std::string::npos) from = found + expected[row][col].size();
        }
    }
    EXPECT_NE(std::string::npos,
              run.out.find("Without a COM number yet: /dev/ttyACM0, /dev/ttyUSB0, /dev/ttyUSB1, /dev/ttyUSB2, /dev/ttyUSB3.\n"
                           "Give them numbers that stay: sudo ravelin-cli ports --assign"))
        << run.out;
    EXPECT_NE(std::string::npos, run.out.find("latency timer")) << "the adapter at 16 ms without low latency\n" << run.out;
    EXPECT_EQ(std::string::npos, run.err.find("CTS")) << "nothing tells CTS on a pseudo-terminal\n" << run.err;
}

TEST_F(PortsListingTest, JsonKeepsItsKeysAndAddsTheSerialPorts)
{
    Outcome run = ports("--json");
    ASSERT_EQ(0, run.exitCode) << run.err;
    EXPECT_EQ(0u, run.out.find("{\"ports\": [\n  {\"port\": \"COM1\", \"path\": \"/dev/ttyS0\", ")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("\"modem_manager\": {\"running\": ")) << run.out;
    for (const char *pszPort :
         {"{\"device\": \"/dev/ttyS0\", \"driver\": \"serial\", \"id_path\": null, \"by_path\": null, \"by_id\": null, "
          "\"serial\": null, \"usb_vendor\": null, \"usb_product\": null, \"com\": \"COM1\", \"low_latency\": null}",
          "{\"device\": \"/dev/ttyUSB4\", \"driver\": \"ftdi_sio\", \"id_path\": \"pci-0000:00:14.0-usb-0:2:1.0\", "
          "\"by_path\": \"/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0\", "
          "\"by_id\": \"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\", \"serial\": \"A50285BI\", "
          "\"usb_vendor\": \"0403\", \"usb_product\": \"6001\", \"com\": \"COM6\", \"low_latency\": null}",
          "{\"device\": \"/dev/ttyUSB0\", \"driver\": \"mos7840\", \"id_path\": \"pci-0000:00:14.0-usb-0:1:1.0\", "
          "\"by_path\": \"/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0\", "
          "\"by_id\": \"/dev/serial/by-id/usb-MosChip_MCS7840_4-port_serial-if00-port0\", \"serial\": null, "
          "\"usb_vendor\": \"9710\", \"usb_product\": \"7840\", \"com\": null, \"low_latency\": null}"})
        EXPECT_NE(std::string::npos, run.out.find(pszPort)) << pszPort << "\n" << run.out;
    std::size_t count = 0;
    for (std::size_t at = 0; (at = run.out.find("{\"device\": ", at)) != std::string::npos; ++at) ++count;
    EXPECT_EQ(7u, count) << run.out;
}

TEST_F(PortsListingTest, SaysWhetherLowLatencyIsOnAndWarnsOfALowCts)
{
    // ttyUSB4: low latency off and CTS low (a cable without RTS/CTS); ttyUSB0: low latency on, CTS up.
    auto lowCts = bed.driver("/dev/ttyUSB4", TIOCM_DSR, 0);
    auto fast = bed.driver("/dev/ttyUSB0", TIOCM_CTS | TIOCM_DSR, ASYNC_LOW_LATENCY);
    Outcome run = ports("");
    ASSERT_EQ(0, run.exitCode) << run.err;
    std::vector<std::string> lines = Lines(run.out);
    // The row of a device in the table of serial lines (its driver is named only there).
    auto row = [&](const std::string &device, const std::string &driver) {
        for (const std::string &line : lines)
            if (line.find(" " + device + " ") != std::string::npos && line.find(" " + driver + " ") != std::string::npos)
                return line;
        return std::string();
    };
    EXPECT_NE(std::string::npos, row("/dev/ttyUSB4", "ftdi_sio").find(" no ")) << run.out;
    EXPECT_NE(std::string::npos, row("/dev/ttyUSB0", "mos7840").find(" yes ")) << run.out;
    EXPECT_NE(std::string::npos, row("/dev/ttyUSB1", "mos7840").find(" - ")) << run.out;
    EXPECT_NE(std::string::npos,
              run.err.find("warning: /dev/ttyUSB4 (COM6): CTS is low; the Rockwell, Siemens and dot downloads wait for "
                           "CTS and will stall"))
        << run.err;
    EXPECT_EQ(std::string::npos, run.err.find("/dev/ttyUSB0")) << run.err;

    Outcome json = ports("--json");
    EXPECT_NE(std::string::npos, json.out.find("\"usb_product\": \"6001\", \"com\": \"COM6\", \"low_latency\": false}"))
        << json.out;
    EXPECT_NE(std::string::npos, json.out.find("-port0\", \"serial\": null, \"usb_vendor\": \"9710\", \"usb_product\": "
                                               "\"7840\", \"com\": null, \"low_latency\": true}"))
        << json.out;
}

TEST_F(PortsListingTest, WithSerialPortsDirTheMachinesLinesAreListedButNotOpened)
{
    auto lowCts = bed.driver("/dev/ttyUSB4", TIOCM_DSR, ASYNC_LOW_LATENCY);
    setenv("SERIAL_PORTS_DIR", dir.c_str(), 1);
    Outcome run = ports("--json");
    unsetenv("SERIAL_PORTS_DIR");
    EXPECT_EQ(0, run.exitCode) << run.err;
    EXPECT_NE(std::string::npos, run.out.find("\"com\": \"COM6\", \"low_latency\": null}")) << run.out;
    EXPECT_EQ(std::string::npos, run.err.find("CTS")) << run.err;
    // Opened, the same line says both.
    Outcome opened = ports("--json");
    EXPECT_NE(std::string::npos, opened.out.find("\"com\": \"COM6\", \"low_latency\": true}")) << opened.out;
    EXPECT_NE(std::string::npos, opened.err.find("/dev/ttyUSB4 (COM6): CTS is low")) << opened.err;
}

// A driver's answers as a table row: what each call returns and the flags and lines it reports.
struct FakeLine : DiscLineIo {
    int openError = 0, lockError = 0, flagsError = 0, linesError = 0;
    int flags = 0, lines = 0;
    std::vector<std::string> calls;
    int Open(const std::string &path) override
    {
        calls.push_back("open " + path);
        errno = openError;
        return openError != 0 ? -1 : 7;
    }
    int Lock(int) override
    {
        calls.push_back("lock");
        errno = lockError;
        return lockError != 0 ? -1 : 0;
    }
    int SerialFlags(int, int *pnFlags) override
    {
        calls.push_back("TIOCGSERIAL");
        *pnFlags = flags;
        errno = flagsError;
        return flagsError != 0 ? -1 : 0;
    }
    int ModemLines(int, int *pnLines) override
    {
        calls.push_back("TIOCMGET");
        *pnLines = lines;
        errno = linesError;
        return linesError != 0 ? -1 : 0;
    }
    void Close(int) override { calls.push_back("close"); }
};

TEST(LineStateTest, ReadsLowLatencyAndCtsWithoutChangingThemAndLeavesAHeldPortAlone)
{
    struct Case {
        const char *what;
        int openError, lockError, flagsError, linesError, flags, lines;
        bool opened;
        int lowLatency, cts;
        const char *problem;
        std::vector<std::string> calls;
    };
    const std::vector<std::string> all = {"open /dev/ttyUSB4", "lock", "TIOCGSERIAL", "TIOCMGET", "close"};
    const Case cases[] = {
        {"adapter at full speed, CTS up", 0, 0, 0, 0, ASYNC_LOW_LATENCY | ASYNC_SKIP_TEST, TIOCM_CTS | TIOCM_DSR, true,
         disc_kYes, disc_kYes, "", all},
        {"adapter held back by its timer, CTS low", 0, 0, 0, 0, ASYNC_SKIP_TEST, TIOCM_DSR, true, disc_kNo, disc_kNo, "",
         all},
        {"driver without either (pseudo-terminal)", 0, 0, ENOTTY, ENOTTY, 0, 0, true, disc_kUnknown, disc_kUnknown, "",
         all},
        {"held by another program", 0, EWOULDBLOCK, 0, 0, ASYNC_LOW_LATENCY, TIOCM_CTS, false, disc_kUnknown,
         disc_kUnknown, "in use", {"open /dev/ttyUSB4", "lock", "close"}},
        {"not allowed", EACCES, 0, 0, 0, 0, 0, false, disc_kUnknown, disc_kUnknown, "Permission denied",
         {"open /dev/ttyUSB4"}},
    };
    for (const Case &c : cases) {
        FakeLine io;
        io.openError = c.openError;
        io.lockError = c.lockError;
        io.flagsError = c.flagsError;
        io.linesError = c.linesError;
        io.flags = c.flags;
        io.lines = c.lines;
        DiscLineState state = disc_ReadLineState("/dev/ttyUSB4", io);
        EXPECT_EQ(c.opened, state.bOpened) << c.what;
        EXPECT_EQ(c.lowLatency, state.nLowLatency) << c.what;
        EXPECT_EQ(c.cts, state.nCts) << c.what;
        EXPECT_EQ(c.problem, state.problem) << c.what;
        EXPECT_EQ(c.calls, io.calls) << c.what;
    }
}

}  // namespace
