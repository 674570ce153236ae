// A bench machine in a device test bed: sysfs, the udev database and /dev as udev would leave them,
// seen by this test and by every program it starts (all run under umockdev-wrapper). Its serial
// lines: a built-in UART ttyS0, ttyS1-ttyS3 without a UART, a 4-port USB adapter ttyUSB0-ttyUSB3
// (one interface, ports 0-3), a single adapter ttyUSB4 with a serial number and a latency timer,
// and a USB modem ttyACM0; besides them the virtual terminals, which are no serial lines.
#pragma once

#include <umockdev.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace bench_testing {

// A serial driver behind one /dev path of the test bed, for the programs the test starts. The test
// bed hands every request on a node to the test, where a pseudo-terminal refuses what a serial
// driver takes (TIOCEXCL, FIONREAD, the modem lines): here each request is run on the program's own
// descriptor, except the modem lines (TIOCMGET) and the serial flags (TIOCGSERIAL), which answer
// with the values set (when they are 0 or more).
class LineDriver {
public:
    LineDriver(UMockdevTestbed *pTestbed, const std::string &path, int modemLines = -1, int serialFlags = -1);
    ~LineDriver();
    LineDriver(const LineDriver &) = delete;
    LineDriver &operator=(const LineDriver &) = delete;

    int modemLines, serialFlags;

private:
    UMockdevTestbed *m_pTestbed;
    std::string m_path;
    GMainContext *m_pContext;
    UMockdevIoctlBase *m_pHandler;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};

// Where a USB device sits: the hub port of the root hub of the machine's USB controller.
struct Socket {
    std::string hubPort;  // "2": ID_PATH pci-0000:00:14.0-usb-0:2:1.0, sysfs 1-2
};

class MachineTestbed {
public:
    MachineTestbed() : m_testbed(umockdev_testbed_new()) {}
    ~MachineTestbed() { g_object_unref(m_testbed); }
    MachineTestbed(const MachineTestbed &) = delete;
    MachineTestbed &operator=(const MachineTestbed &) = delete;

    std::string root() const
    {
        gchar *psz = umockdev_testbed_get_root_dir(m_testbed);
        std::string root = psz;
        g_free(psz);
        return root;
    }

    // Adds devices from a record text (one paragraph per device, as umockdev-record writes them);
    // udev's "add" event goes out for each.
    void add(const std::string &record)
    {
        GError *pError = nullptr;
        ASSERT_TRUE(umockdev_testbed_add_from_string(m_testbed, record.c_str(), &pError))
            << (pError != nullptr ? pError->message : "") << "\n" << record;
    }
    // Removes a device and everything under it (its sysfs, its node); udev's "remove" event goes out.
    // sysPath as in the records ("/devices/...") or as discovery reports it ("/sys/devices/...").
    // As the kernel does, each device under it goes first, with a "remove" event of its own.
    void remove(const std::string &sysPath);
    // The other side of an emulated serial node ("/dev/ttyUSB4"): what a device would say and hear.
    int master(const std::string &node) { return umockdev_testbed_get_dev_fd(m_testbed, node.c_str()); }

    // A serial driver behind a path (the node, or a link to it) for as long as the driver lives.
    std::unique_ptr<LineDriver> driver(const std::string &path, int modemLines = -1, int serialFlags = -1)
    {
        return std::make_unique<LineDriver>(m_testbed, path, modemLines, serialFlags);
    }

    // A link in the test bed's /dev, as udev makes it ("serial/com/COM5" -> "../../ttyUSB4").
    void link(const std::string &name, const std::string &target);
    // Broken links over /dev/ttyS4 ... /dev/ttyS63 of the real machine, so that a COM table never
    // reaches this machine's own ports.
    void shadowOtherPorts();

    // The whole bench machine.
    void addBenchMachine();
    void addBuiltInPorts();
    // A 4-port adapter on one interface: ttyUSB<first> ... ttyUSB<first+3>.
    void addQuadAdapter(const Socket &socket, int first);
    // A single-port adapter with a serial number.
    std::string addSingleAdapter(const Socket &socket, int kernelNumber, const std::string &serial);
    // A USB modem (cdc_acm): ttyACM<n>.
    void addModem(const Socket &socket, int kernelNumber);
    void addVirtualTerminals();

    // The sysfs path of a USB device in a socket (to remove the adapter).
    static std::string usbDevicePath(const Socket &socket);

private:
    UMockdevTestbed *m_testbed;
};

// Runs a program with its arguments in a shell: exit code (-1 when it did not exit), stdout and stderr.
struct Outcome {
    int exitCode = -1;
    std::string out, err;
};
Outcome RunProgram(const std::string &commandLine, const std::string &scratchDir);

std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &text);
std::string MakeScratchDir();
void RemoveTree(const std::string &path);

}  // namespace bench_testing
