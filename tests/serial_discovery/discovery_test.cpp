// Discovery against the bench machine of the test bed: exactly its seven serial lines, each with the
// identities udev and sysfs give it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "machine_testbed.h"
#include "tools/serial-discovery/disc_rules.h"
#include "tools/serial-discovery/disc_udev.h"

using bench_testing::MachineTestbed;
using bench_testing::Socket;

namespace {

struct Expected {
    const char *kernel, *driver, *idPath, *portNumber, *byPath, *byId, *serial, *vendor, *product, *iface, *description;
    int uartType, latencyTimer;
};

const char kQuadPath[] = "pci-0000:00:14.0-usb-0:1:1.0";

const Expected kBench[] = {
    {"ttyACM0", "cdc_acm", "pci-0000:00:14.0-usb-0:3:1.0", "", "/dev/serial/by-path/pci-0000:00:14.0-usb-0:3:1.0",
     "/dev/serial/by-id/usb-Conexant_USB_Modem_24680246-if00", "24680246", "0572", "1340", "00", "USB Modem (Conexant)",
     -1, -1},
    {"ttyS0", "serial", "", "", "", "", "", "", "", "", "16550A UART", 4, -1},
    {"ttyUSB0", "mos7840", kQuadPath, "0", "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0",
     "/dev/serial/by-id/usb-MosChip_MCS7840_4-port_serial-if00-port0", "", "9710", "7840", "00",
     "MCS7840 4-port serial (MosChip)", -1, -1},
    {"ttyUSB1", "mos7840", kQuadPath, "1", "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port1",
     "/dev/serial/by-id/usb-MosChip_MCS7840_4-port_serial-if00-port1", "", "9710", "7840", "00",
     "MCS7840 4-port serial (MosChip)", -1, -1},
    {"ttyUSB2", "mos7840", kQuadPath, "2", "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port2",
     "/dev/serial/by-id/usb-MosChip_MCS7840_4-port_serial-if00-port2", "", "9710", "7840", "00",
     "MCS7840 4-port serial (MosChip)", -1, -1},
    {"ttyUSB3", "mos7840", kQuadPath, "3", "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port3",
     "/dev/serial/by-id/usb-MosChip_MCS7840_4-port_serial-if00-port3", "", "9710", "7840", "00",
     "MCS7840 4-port serial (MosChip)", -1, -1},
    {"ttyUSB4", "ftdi_sio", "pci-0000:00:14.0-usb-0:2:1.0", "0", "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0",
     "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "A50285BI", "0403", "6001", "00",
     "FT232R USB UART (FTDI)", -1, 16},
};

TEST(DiscoveryTest, ListsExactlyTheSerialLinesWithTheirIdentities)
{
    MachineTestbed bed;
    bed.addBenchMachine();
    std::vector<DiscPort> ports;
    std::string error;
    ASSERT_TRUE(disc_ListPorts(&ports, &error)) << error;
    // ttyS1-ttyS3 have no UART and the virtual terminals no parent device: none of them is listed.
    ASSERT_EQ(sizeof kBench / sizeof kBench[0], ports.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const Expected &e = kBench[i];
        const DiscPort &p = ports[i];
        SCOPED_TRACE(e.kernel);
        EXPECT_EQ(e.kernel, p.kernel);
        EXPECT_EQ(std::string("/dev/") + e.kernel, p.node);
        EXPECT_EQ(e.driver, p.driver);
        EXPECT_EQ(e.idPath, p.idPath);
        EXPECT_EQ(e.portNumber, p.portNumber);
        EXPECT_EQ(e.byPath, p.byPath);
        EXPECT_EQ(e.byId, p.byId);
        EXPECT_EQ(e.serial, p.serial);
        EXPECT_EQ(e.vendor, p.usbVendor);
        EXPECT_EQ(e.product, p.usbProduct);
        EXPECT_EQ(e.iface, p.usbInterface);
        EXPECT_EQ(e.description, p.description);
        EXPECT_EQ(e.uartType, p.uartType);
        EXPECT_EQ(e.latencyTimer, p.latencyTimer);
        EXPECT_EQ(0, p.com) << "discovery leaves the numbers to the rules";
    }
}

TEST(DiscoveryTest, ComNumbersComeFromTheRulesElseFromTheBuiltInUart)
{
    MachineTestbed bed;
    bed.addBenchMachine();
    std::vector<DiscPort> ports;
    std::string error;
    ASSERT_TRUE(disc_ListPorts(&ports, &error)) << error;
    DiscRules rules = disc_ParseRules(
        "SUBSYSTEM==\"tty\", ENV{ID_PATH}==\"pci-0000:00:14.0-usb-0:1:1.0\", ATTRS{port_number}==\"2\", "
        "SYMLINK+=\"serial/com/COM9\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n"
        "SUBSYSTEM==\"tty\", ENV{ID_SERIAL_SHORT}==\"A50285BI\", ENV{ID_USB_INTERFACE_NUM}==\"00\", "
        "ATTRS{port_number}==\"0\", SYMLINK+=\"serial/com/COM12\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n");
    disc_NumberPorts(rules, &ports);
    std::vector<std::pair<std::string, int>> numbers;
    for (const DiscPort &port : ports) numbers.emplace_back(port.kernel, port.com);
    EXPECT_EQ((std::vector<std::pair<std::string, int>>{{"ttyACM0", 0}, {"ttyS0", 1}, {"ttyUSB0", 0}, {"ttyUSB1", 0},
                                                         {"ttyUSB2", 9}, {"ttyUSB3", 0}, {"ttyUSB4", 12}}),
              numbers);
    // The next number skips COM1 (ttyS0's UART) but not COM2-COM4, whose ttyS have none.
    EXPECT_EQ(2, disc_NextFreeNumber(rules, ports));
}

TEST(DiscoveryTest, WatchReportsPortsThatComeAndGo)
{
    MachineTestbed bed;
    bed.addBuiltInPorts();
    std::string error;
    DiscMonitor *pMonitor = disc_OpenMonitor(&error);
    ASSERT_NE(nullptr, pMonitor) << error;
    std::string tty = bed.addSingleAdapter(Socket{"5"}, 7, "FT0007");
    DiscEvent event;
    // The adapter's USB devices are no serial lines: the first event reported is its tty.
    ASSERT_TRUE(disc_WaitEvent(pMonitor, &event));
    EXPECT_TRUE(event.bAdded);
    EXPECT_EQ("/dev/ttyUSB7", event.port.node);
    EXPECT_EQ("FT0007", event.port.serial);
    EXPECT_EQ("pci-0000:00:14.0-usb-0:5:1.0", event.port.idPath);
    bed.remove(tty);
    ASSERT_TRUE(disc_WaitEvent(pMonitor, &event));
    EXPECT_FALSE(event.bAdded);
    EXPECT_EQ("ttyUSB7", event.port.kernel);
    EXPECT_EQ(tty, event.port.sysPath.substr(event.port.sysPath.size() - tty.size()));
    // A wake ends the wait without an event.
    disc_WakeMonitor(pMonitor);
    EXPECT_FALSE(disc_WaitEvent(pMonitor, &event));
    disc_CloseMonitor(pMonitor);
}

}  // namespace
