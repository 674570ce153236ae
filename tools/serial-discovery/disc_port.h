// One serial line of this machine as discovery finds it: its names, where it sits, what it is, and
// the COM number it has.
#pragma once

#include <string>
#include <vector>

struct DiscPort {
    std::string kernel;        // "ttyUSB4"
    std::string node;          // "/dev/ttyUSB4"
    std::string sysPath;       // the tty device's sysfs path
    std::string driver;        // "ftdi_sio", "cdc_acm", "serial8250"
    std::string idPath;        // udev's ID_PATH: the socket the adapter sits in ("" when udev gave none)
    std::string portNumber;    // the port of a multi-port USB adapter ("0", "1", ...), "" when none
    std::string byPath;        // /dev/serial/by-path/... link, "" when none
    std::string byId;          // /dev/serial/by-id/... link, "" when none
    std::string serial;        // the USB adapter's serial number, "" when it has none
    std::string usbVendor;     // 4 hex digits, "" when not a USB device
    std::string usbProduct;    // 4 hex digits, "" when not a USB device
    std::string usbInterface;  // the USB interface number ("00"), "" when not a USB device
    std::string description;   // a name for people: the adapter's product text, or the UART type
    int uartType = -1;         // the serial core's "type" of the port (0: no UART), -1 when it has none
    int latencyTimer = -1;     // the adapter's latency timer in ms, -1 when it has none
    int com = 0;               // its COM number, 0 when it has none
    bool comFromRule = false;  // com comes from a rule of the rules file (else from ttyS<n-1>)
};

// The old rule's number: n for a /dev/ttyS<n-1> with a UART behind it, else 0.
int disc_BuiltInComNumber(const DiscPort &port);

// Orders ports as people read them: by kernel name, with numbers compared as numbers (ttyUSB2
// before ttyUSB10).
bool disc_KernelNameLess(const std::string &a, const std::string &b);
void disc_SortByKernelName(std::vector<DiscPort> *pPorts);
