// Port names and lists as ravelin-cli reads them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/ravelin-cli/cli_ports.h"

namespace {

std::string names(const std::vector<CliPort> &ports)
{
    std::string out;
    for (const CliPort &port : ports) out += (out.empty() ? "" : " ") + port.display;
    return out;
}

TEST(PortList, NamesRangesAndNativePaths)
{
    struct Case {
        const char *pszList;
        bool bOk;
        const char *pszPorts;  // display names, or the offending item
    };
    const Case cases[] = {
        {"COM3", true, "COM3"},
        {"com3,COM5-COM8", true, "COM3 COM5 COM6 COM7 COM8"},
        {"COM5-com5", true, "COM5"},
        {"COM3,COM3,COM2-COM4", true, "COM3 COM2 COM4"},           // each port once, first place kept
        {"\\\\.\\COM12", true, "COM12"},
        {"/dev/serial/by-id/usb-FTDI-if00", true, "/dev/serial/by-id/usb-FTDI-if00"},  // "-" in a path
        {"COM8-COM5", false, "COM8-COM5"},
        {"COM3,,COM4", false, ""},
        {"COM1-COM300", false, "COM1-COM300"},
        {"COM0", false, "COM0"},
        {"LPT1", false, "LPT1"},
        {"COM3-/dev/ttyS0", false, "COM3-/dev/ttyS0"},
        {"3", false, "3"},
    };
    for (const Case &c : cases) {
        std::vector<CliPort> ports;
        std::string bad;
        ASSERT_EQ(c.bOk, cli_ParsePortList(c.pszList, &ports, &bad)) << c.pszList;
        EXPECT_EQ(c.pszPorts, c.bOk ? names(ports) : bad) << c.pszList;
    }
    std::vector<CliPort> ports;
    ASSERT_TRUE(cli_ParsePortList("COM7,/dev/ttyUSB0", &ports, nullptr));
    EXPECT_EQ("\\\\.\\COM7", ports[0].devicePath);
    EXPECT_EQ(7u, ports[0].nNumber);
    EXPECT_EQ("\\\\.\\/dev/ttyUSB0", ports[1].devicePath);
    EXPECT_EQ(0u, ports[1].nNumber);
}

TEST(PortList, FormatGivesTheListThatNamesTheSamePorts)
{
    std::vector<CliPort> ports;
    ASSERT_TRUE(cli_ParsePortList("COM8,COM3,/dev/ttyUSB0,COM5,COM6,COM7,COM10", &ports, nullptr));
    std::string list = cli_FormatPortList(ports);
    EXPECT_EQ("COM3,COM5-COM8,COM10,/dev/ttyUSB0", list);
    std::vector<CliPort> again;
    ASSERT_TRUE(cli_ParsePortList(list, &again, nullptr));
    EXPECT_EQ(ports.size(), again.size());
    EXPECT_EQ("", cli_FormatPortList({}));
}

} // namespace
