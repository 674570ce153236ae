// Discovery through libudev. What a port is comes from the udev database (ID_PATH, the links, the
// USB identities) and from sysfs (the UART type, the latency timer); nothing here opens a port.
#include "tools/serial-discovery/disc_udev.h"

#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

std::string Text(const char *psz) { return psz != nullptr ? psz : ""; }

std::string Attr(udev_device *pDevice, const char *pszName)
{
    if (pDevice == nullptr) return "";
    std::string value = Text(udev_device_get_sysattr_value(pDevice, pszName));
    while (!value.empty() && (value.back() == '\n' || value.back() == ' ')) value.pop_back();
    return value;
}

std::string Property(udev_device *pDevice, const char *pszName)
{
    return Text(udev_device_get_property_value(pDevice, pszName));
}

// The driver behind the line: the first parent that has one, past the serial core's own bus (its
// "port" and "ctrl" devices say nothing about the hardware).
std::string DriverOf(udev_device *pDevice)
{
    for (udev_device *p = udev_device_get_parent(pDevice); p != nullptr; p = udev_device_get_parent(p)) {
        if (Text(udev_device_get_subsystem(p)) == "serial-base") continue;
        std::string driver = Text(udev_device_get_driver(p));
        if (!driver.empty()) return driver;
    }
    return "";
}

// The device's links: from the udev database, or (a device fresh from an event) its DEVLINKS.
void ReadLinks(udev_device *pDevice, DiscPort *pPort)
{
    std::vector<std::string> links;
    udev_list_entry *pEntry;
    udev_list_entry_foreach(pEntry, udev_device_get_devlinks_list_entry(pDevice))
        links.push_back(Text(udev_list_entry_get_name(pEntry)));
    if (links.empty()) {
        std::istringstream in(Property(pDevice, "DEVLINKS"));
        for (std::string link; in >> link;) links.push_back(link);
    }
    for (const std::string &link : links) {
        if (pPort->byPath.empty() && link.rfind("/dev/serial/by-path/", 0) == 0) pPort->byPath = link;
        if (pPort->byId.empty() && link.rfind("/dev/serial/by-id/", 0) == 0) pPort->byId = link;
    }
}

const char *UartName(int nType)
{
    // The serial core's port types (PORT_8250 = 1 ...) that built-in ports and cards have.
    static const char *const kNames[] = {"", "8250", "16450", "16550", "16550A", "Cirrus", "16650", "16650V2",
                                         "16750", "Startech", "16C950", "16654", "16850", "RSA", "NS16550A",
                                         "XScale", "RM9000", "OCTEON", "AR7", "U6_16550A", "Tegra", "XR17D15X",
                                         "LPC3220", "8250_PCI", "XR17V35X", "BRCM_TRUMANAGE", "ALTR_16550_F32",
                                         "ALTR_16550_F64", "ALTR_16550_F128", "RT2880", "16550A_FSL64"};
    return nType > 0 && nType < static_cast<int>(sizeof kNames / sizeof kNames[0]) ? kNames[nType] : "";
}

// Fills a port from a tty device; false when the device is no serial line.
bool ReadPort(udev_device *pDevice, DiscPort *pPort)
{
    udev_device *pParent = udev_device_get_parent(pDevice);
    const char *pszNode = udev_device_get_devnode(pDevice);
    if (pParent == nullptr || pszNode == nullptr) return false;
    std::string type = Attr(pDevice, "type");
    if (!type.empty()) {
        pPort->uartType = std::atoi(type.c_str());
        if (pPort->uartType == 0) return false;  // a serial-core port without a UART behind it
    }
    pPort->kernel = Text(udev_device_get_sysname(pDevice));
    pPort->node = pszNode;
    pPort->sysPath = Text(udev_device_get_syspath(pDevice));
    pPort->driver = DriverOf(pDevice);
    pPort->idPath = Property(pDevice, "ID_PATH");
    if (Text(udev_device_get_subsystem(pParent)) == "usb-serial") {
        pPort->portNumber = Attr(pParent, "port_number");
        std::string latency = Attr(pParent, "latency_timer");
        if (!latency.empty()) pPort->latencyTimer = std::atoi(latency.c_str());
    }
    ReadLinks(pDevice, pPort);

    udev_device *pUsb = udev_device_get_parent_with_subsystem_devtype(pDevice, "usb", "usb_device");
    udev_device *pInterface = udev_device_get_parent_with_subsystem_devtype(pDevice, "usb", "usb_interface");
    if (pUsb != nullptr) {
        pPort->usbVendor = Attr(pUsb, "idVendor");
        pPort->usbProduct = Attr(pUsb, "idProduct");
        // udev's form of the number (blanks and odd characters replaced) is what a rule matches.
        pPort->serial = Property(pDevice, "ID_SERIAL_SHORT");
        if (pPort->serial.empty()) pPort->serial = Attr(pUsb, "serial");
        pPort->usbInterface = Attr(pInterface, "bInterfaceNumber");
        std::string product = Attr(pUsb, "product"), maker = Attr(pUsb, "manufacturer");
        pPort->description = product.empty() ? "USB serial adapter" : product;
        if (!maker.empty() && product.find(maker) == std::string::npos) pPort->description += " (" + maker + ")";
    } else if (pPort->uartType > 0) {
        pPort->description = std::string(UartName(pPort->uartType)) + " UART";
        if (pPort->description == " UART") pPort->description = "UART type " + std::to_string(pPort->uartType);
    } else {
        pPort->description = "serial port";
    }
    return true;
}

} // namespace

bool disc_ListPorts(std::vector<DiscPort> *pPorts, std::string *pError)
{
    pPorts->clear();
    udev *pUdev = udev_new();
    if (pUdev == nullptr) {
        *pError = "udev cannot be asked (udev_new failed)";
        return false;
    }
    udev_enumerate *pEnum = udev_enumerate_new(pUdev);
    if (pEnum == nullptr || udev_enumerate_add_match_subsystem(pEnum, "tty") < 0 ||
        udev_enumerate_scan_devices(pEnum) < 0) {
        *pError = std::string("udev cannot list the tty devices: ") + std::strerror(errno);
        udev_enumerate_unref(pEnum);
        udev_unref(pUdev);
        return false;
    }
    udev_list_entry *pEntry;
    udev_list_entry_foreach(pEntry, udev_enumerate_get_list_entry(pEnum))
    {
        udev_device *pDevice = udev_device_new_from_syspath(pUdev, udev_list_entry_get_name(pEntry));
        if (pDevice == nullptr) continue;
        DiscPort port;
        if (ReadPort(pDevice, &port)) pPorts->push_back(port);
        udev_device_unref(pDevice);
    }
    udev_enumerate_unref(pEnum);
    udev_unref(pUdev);
    disc_SortByKernelName(pPorts);
    return true;
}

struct DiscMonitor {
    udev *pUdev = nullptr;
    udev_monitor *pMonitor = nullptr;
    int anWake[2] = {-1, -1};
};

DiscMonitor *disc_OpenMonitor(std::string *pError)
{
    DiscMonitor *pWatch = new DiscMonitor;
    pWatch->pUdev = udev_new();
    if (pWatch->pUdev != nullptr) pWatch->pMonitor = udev_monitor_new_from_netlink(pWatch->pUdev, "udev");
    if (pWatch->pMonitor == nullptr || udev_monitor_filter_add_match_subsystem_devtype(pWatch->pMonitor, "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(pWatch->pMonitor) < 0 || pipe2(pWatch->anWake, O_CLOEXEC | O_NONBLOCK) != 0) {
        *pError = std::string("udev events cannot be watched: ") + std::strerror(errno);
        disc_CloseMonitor(pWatch);
        return nullptr;
    }
    return pWatch;
}

void disc_CloseMonitor(DiscMonitor *pWatch)
{
    if (pWatch == nullptr) return;
    if (pWatch->pMonitor != nullptr) udev_monitor_unref(pWatch->pMonitor);
    if (pWatch->pUdev != nullptr) udev_unref(pWatch->pUdev);
    for (int hEnd : pWatch->anWake)
        if (hEnd >= 0) close(hEnd);
    delete pWatch;
}

bool disc_WaitEvent(DiscMonitor *pWatch, DiscEvent *pEvent)
{
    for (;;) {
        pollfd afd[2] = {{udev_monitor_get_fd(pWatch->pMonitor), POLLIN, 0}, {pWatch->anWake[0], POLLIN, 0}};
        if (poll(afd, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (afd[1].revents != 0) return false;
        if (afd[0].revents == 0) continue;
        udev_device *pDevice = udev_monitor_receive_device(pWatch->pMonitor);
        if (pDevice == nullptr) continue;
        std::string action = Text(udev_device_get_action(pDevice));
        *pEvent = DiscEvent();
        bool bReport = false;
        if (action == "add") {
            pEvent->bAdded = true;
            bReport = ReadPort(pDevice, &pEvent->port);
        } else if (action == "remove") {
            // Gone from sysfs: only the names are left; the caller knows whether it was a serial line.
            pEvent->port.kernel = Text(udev_device_get_sysname(pDevice));
            pEvent->port.node = Text(udev_device_get_devnode(pDevice));
            if (pEvent->port.node.empty() && !pEvent->port.kernel.empty()) pEvent->port.node = "/dev/" + pEvent->port.kernel;
            pEvent->port.sysPath = Text(udev_device_get_syspath(pDevice));
            bReport = !pEvent->port.kernel.empty();
        }
        udev_device_unref(pDevice);
        if (bReport) return true;
    }
}

void disc_WakeMonitor(DiscMonitor *pWatch)
{
    if (pWatch == nullptr || pWatch->anWake[1] < 0) return;
    char ch = 1;
    ssize_t nWritten = write(pWatch->anWake[1], &ch, 1);
    (void)nWritten;  // a full pipe wakes the wait all the same
}
