// The machine's serial lines as udev knows them, and a watch for lines that come and go. The only
// part of the suite that talks to libudev.
#pragma once

#include <string>
#include <vector>

#include "tools/serial-discovery/disc_port.h"

// Every serial line of the machine: each tty device with a parent device, and of the serial-core
// ports (the 8250 family among them) only those with a UART behind them (a nonzero "type"). COM
// numbers are left at 0 (disc_rules.h gives them). Sorted by kernel name. False (with the reason)
// when udev cannot be asked at all.
bool disc_ListPorts(std::vector<DiscPort> *pPorts, std::string *pError);

// A watch on the tty devices that appear and go.
struct DiscMonitor;

struct DiscEvent {
    bool bAdded = false;  // false: the device went
    DiscPort port;        // for a device that went only the names udev still tells (kernel, node, sysPath)
};

// Starts watching (nullptr with the reason when it cannot be done). Events that happened before
// are not reported: list the ports after opening the watch.
DiscMonitor *disc_OpenMonitor(std::string *pError);
void disc_CloseMonitor(DiscMonitor *pMonitor);
// Blocks until a serial line appears or goes (true, with the event) or disc_WakeMonitor is called
// (false). Tty devices that are no serial line (consoles, virtual terminals) are passed over.
bool disc_WaitEvent(DiscMonitor *pMonitor, DiscEvent *pEvent);
// Ends a wait of disc_WaitEvent, from any thread (a Ctrl-C watcher, say).
void disc_WakeMonitor(DiscMonitor *pMonitor);
