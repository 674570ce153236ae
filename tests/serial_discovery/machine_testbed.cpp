#include "machine_testbed.h"

#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace bench_testing {

namespace {

const char kController[] = "/devices/pci0000:00/0000:00:14.0/usb1";
const char kControllerPath[] = "pci-0000:00:14.0";

std::string IdPath(const Socket &socket) { return std::string(kControllerPath) + "-usb-0:" + socket.hubPort + ":1.0"; }

std::string UsbDevice(const Socket &socket, const std::string &vendor, const std::string &product,
                      const std::string &maker, const std::string &name, const std::string &serial)
{
    std::string text = "P: " + MachineTestbed::usbDevicePath(socket) + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n" +
                       "A: idVendor=" + vendor + "\nA: idProduct=" + product + "\nA: manufacturer=" + maker +
                       "\nA: product=" + name + "\n";
    if (!serial.empty()) text += "A: serial=" + serial + "\n";
    return text + "\n";
}

std::string UsbInterface(const Socket &socket, const std::string &driver)
{
    return "P: " + MachineTestbed::usbDevicePath(socket) + "/1-" + socket.hubPort +
           ":1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceNumber=00\nL: driver=../../../../../../bus/usb/drivers/" +
           driver + "\n\n";
}

// A tty device node: N: makes /dev/<kernel> a pseudo-terminal of the test bed.
std::string Tty(const std::string &path, const std::string &kernel, const std::string &properties,
                const std::string &attributes = "")
{
    return "P: " + path + "\nN: " + kernel + "\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/" + kernel + "\n" + properties +
           attributes + "\n";
}

}  // namespace

namespace {

// Writes a value into the memory an ioctl's pointer argument names, in the program's process.
template <class T>
bool Answer(UMockdevIoctlClient *pClient, const T &value)
{
    GError *pError = nullptr;
    UMockdevIoctlData *pData = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(pClient), 0, sizeof value, &pError);
    if (pData == nullptr) {
        g_clear_error(&pError);
        return false;
    }
    std::memcpy(pData->data, &value, sizeof value);
    umockdev_ioctl_client_complete(pClient, 0, 0);
    g_object_unref(pData);  // the argument keeps its own reference until the answer is written back
    return true;
}

gboolean OnIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *pClient, gpointer pUser)
{
    const LineDriver *pDriver = static_cast<const LineDriver *>(pUser);
    gulong nRequest = umockdev_ioctl_client_get_request(pClient);
    if (nRequest == TIOCMGET && pDriver->modemLines >= 0 && Answer(pClient, pDriver->modemLines)) return TRUE;
    if (nRequest == TIOCGSERIAL && pDriver->serialFlags >= 0) {
        serial_struct info;
        std::memset(&info, 0, sizeof info);
        info.flags = pDriver->serialFlags;
        if (Answer(pClient, info)) return TRUE;
    }
    gint nError = 0;
    GError *pError = nullptr;
    gint nResult = umockdev_ioctl_client_execute(pClient, &nError, &pError);
    g_clear_error(&pError);
    umockdev_ioctl_client_complete(pClient, nResult, nError);
    return TRUE;
}

}  // namespace

LineDriver::LineDriver(UMockdevTestbed *pTestbed, const std::string &path, int nModemLines, int nSerialFlags)
    : modemLines(nModemLines), serialFlags(nSerialFlags), m_pTestbed(pTestbed), m_path(path),
      m_pContext(g_main_context_new()), m_pHandler(umockdev_ioctl_base_new())
{
    g_signal_connect(m_pHandler, "handle-ioctl", G_CALLBACK(OnIoctl), this);
    // The handler's requests arrive in the main context that is the thread's own at attach time.
    g_main_context_push_thread_default(m_pContext);
    GError *pError = nullptr;
    EXPECT_TRUE(umockdev_testbed_attach_ioctl(m_pTestbed, path.c_str(), m_pHandler, &pError))
        << path << ": " << (pError != nullptr ? pError->message : "");
    g_clear_error(&pError);
    g_main_context_pop_thread_default(m_pContext);
    m_thread = std::thread([this] {
        while (!m_bStop.load()) g_main_context_iteration(m_pContext, TRUE);
    });
}

LineDriver::~LineDriver()
{
    m_bStop.store(true);
    g_main_context_wakeup(m_pContext);
    m_thread.join();
    umockdev_testbed_detach_ioctl(m_pTestbed, m_path.c_str(), nullptr);
    g_object_unref(m_pHandler);
    g_main_context_unref(m_pContext);
}

std::string MachineTestbed::usbDevicePath(const Socket &socket) { return std::string(kController) + "/1-" + socket.hubPort; }

void MachineTestbed::remove(const std::string &sysPath)
{
    std::string path = sysPath.rfind("/devices/", 0) == 0 ? "/sys" + sysPath : sysPath;
    std::vector<std::string> devices;
    std::string top = root() + path;
    devices.push_back(path);
    for (const auto &entry : std::filesystem::recursive_directory_iterator(top))
        if (entry.is_directory() && !entry.is_symlink() && std::filesystem::exists(entry.path() / "uevent"))
            devices.push_back(entry.path().string().substr(root().size()));
    std::sort(devices.begin(), devices.end(), [](const std::string &a, const std::string &b) { return a.size() > b.size(); });
    for (const std::string &device : devices) {
        umockdev_testbed_uevent(m_testbed, device.c_str(), "remove");
        // Their nodes go too (the test bed takes only the top device's). The test bed keeps its side of
        // a node's pseudo-terminal, so a node name cannot come back: a returning adapter gets a new one,
        // as the kernel gives it while the old one is still held.
        std::istringstream uevent(ReadFile(root() + device + "/uevent"));
        for (std::string line; std::getline(uevent, line);)
            if (line.rfind("DEVNAME=", 0) == 0) unlink((root() + "/dev/" + line.substr(8)).c_str());
    }
    umockdev_testbed_remove_device(m_testbed, path.c_str());
    // The test bed takes out only the top device's class and bus links; those of the devices under it
    // would stand in the way of a device of the same name plugged in later.
    for (const char *pszTree : {"/sys/class", "/sys/bus", "/sys/dev"}) {
        std::error_code error;
        std::vector<std::filesystem::path> stale;
        for (const auto &entry : std::filesystem::recursive_directory_iterator(root() + pszTree, error))
            if (entry.is_symlink() && !std::filesystem::exists(entry.path())) stale.push_back(entry.path());
        for (const auto &link : stale) std::filesystem::remove(link, error);
    }
}

void MachineTestbed::link(const std::string &name, const std::string &target)
{
    std::filesystem::path path = std::filesystem::path(root()) / "dev" / name;
    std::filesystem::create_directories(path.parent_path());
    unlink(path.c_str());
    ASSERT_EQ(0, symlink(target.c_str(), path.c_str())) << path;
}

void MachineTestbed::shadowOtherPorts()
{
    for (int n = 4; n < 64; ++n) link("ttyS" + std::to_string(n), "/nonexistent/ttyS" + std::to_string(n));
}

void MachineTestbed::addBenchMachine()
{
    addBuiltInPorts();
    addQuadAdapter(Socket{"1"}, 0);
    addSingleAdapter(Socket{"2"}, 4, "A50285BI");
    addModem(Socket{"3"}, 0);
    addVirtualTerminals();
}

void MachineTestbed::addBuiltInPorts()
{
    std::string text = "P: /devices/pnp0/00:01\nE: SUBSYSTEM=pnp\nL: driver=../../../bus/pnp/drivers/serial\n\n" +
                       Tty("/devices/pnp0/00:01/tty/ttyS0", "ttyS0", "", "A: type=4\nA: dev=4:64\n") +
                       "P: /devices/platform/serial8250\nE: SUBSYSTEM=platform\n"
                       "L: driver=../../../bus/platform/drivers/serial8250\n\n";
    for (int n = 1; n <= 3; ++n)
        text += Tty("/devices/platform/serial8250/tty/ttyS" + std::to_string(n), "ttyS" + std::to_string(n), "",
                    "A: type=0\nA: dev=4:" + std::to_string(64 + n) + "\n");
    add(text);
}

void MachineTestbed::addQuadAdapter(const Socket &socket, int first)
{
    std::string base = usbDevicePath(socket) + "/1-" + socket.hubPort + ":1.0";
    std::string text = UsbDevice(socket, "9710", "7840", "MosChip", "MCS7840 4-port serial", "") +
                       UsbInterface(socket, "mos7840");
    for (int port = 0; port < 4; ++port) {
        std::string kernel = "ttyUSB" + std::to_string(first + port);
        text += "P: " + base + "/" + kernel + "\nE: SUBSYSTEM=usb-serial\nA: port_number=" + std::to_string(port) +
                "\nL: driver=../../../../../../../bus/usb-serial/drivers/mos7840\n\n";
        text += Tty(base + "/" + kernel + "/tty/" + kernel, kernel,
                    "E: ID_PATH=" + IdPath(socket) + "\nE: DEVLINKS=/dev/serial/by-path/" + IdPath(socket) + "-port" +
                        std::to_string(port) + " /dev/serial/by-id/usb-MosChip_MCS7840_4-port_serial-if00-port" +
                        std::to_string(port) + "\n");
    }
    add(text);
}

std::string MachineTestbed::addSingleAdapter(const Socket &socket, int kernelNumber, const std::string &serial)
{
    std::string kernel = "ttyUSB" + std::to_string(kernelNumber);
    std::string base = usbDevicePath(socket) + "/1-" + socket.hubPort + ":1.0/" + kernel;
    add(UsbDevice(socket, "0403", "6001", "FTDI", "FT232R USB UART", serial) + UsbInterface(socket, "ftdi_sio") +
        "P: " + base + "\nE: SUBSYSTEM=usb-serial\nA: port_number=0\nA: latency_timer=16\n"
        "L: driver=../../../../../../../bus/usb-serial/drivers/ftdi_sio\n\n" +
        Tty(base + "/tty/" + kernel, kernel,
            "E: ID_PATH=" + IdPath(socket) + "\nE: ID_SERIAL_SHORT=" + serial + "\nE: ID_USB_INTERFACE_NUM=00\n" +
                "E: DEVLINKS=/dev/serial/by-path/" + IdPath(socket) + "-port0 /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_" +
                serial + "-if00-port0\n"));
    return base + "/tty/" + kernel;
}

void MachineTestbed::addModem(const Socket &socket, int kernelNumber)
{
    std::string kernel = "ttyACM" + std::to_string(kernelNumber);
    std::string base = usbDevicePath(socket) + "/1-" + socket.hubPort + ":1.0";
    add(UsbDevice(socket, "0572", "1340", "Conexant", "USB Modem", "24680246") + UsbInterface(socket, "cdc_acm") +
        Tty(base + "/tty/" + kernel, kernel,
            "E: ID_PATH=" + IdPath(socket) + "\nE: DEVLINKS=/dev/serial/by-path/" + IdPath(socket) +
                " /dev/serial/by-id/usb-Conexant_USB_Modem_24680246-if00\n"));
}

void MachineTestbed::addVirtualTerminals()
{
    // No parent device, as the console and virtual terminals of every machine; no node either, so
    // nothing here could reach them.
    std::string text;
    for (const char *pszName : {"console", "tty0", "tty1", "ptmx"})
        text += std::string("P: /devices/virtual/tty/") + pszName + "\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/" + pszName +
                "\n\n";
    add(text);
}

Outcome RunProgram(const std::string &commandLine, const std::string &scratchDir)
{
    std::string out = scratchDir + "/stdout.txt", err = scratchDir + "/stderr.txt";
    int status = std::system((commandLine + " >'" + out + "' 2>'" + err + "' </dev/null").c_str());
    Outcome run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadFile(out);
    run.err = ReadFile(err);
    return run;
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string MakeScratchDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "bench-XXXXXX").string();
    return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

void RemoveTree(const std::string &path)
{
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

}  // namespace bench_testing
