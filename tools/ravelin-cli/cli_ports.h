// Port names on the command line: one name (COM3 in any case, a native path such as /dev/ttyUSB0),
// and lists of names and COM ranges ("COM3,COM5-COM8") for the commands that take many ports.
#pragma once

#include <string>
#include <vector>

struct CliPort {
    unsigned long nNumber = 0;  // n of COMn; 0 for a native path
    std::string display;        // "COM3" or "/dev/ttyUSB0"
    std::string devicePath;     // "\\.\COM3" or "\\.\/dev/ttyUSB0"
};

// The most ports one list may name (a range such as COM1-COM99999 is a typing error, not a bank).
constexpr unsigned long cli_kMaxListedPorts = 256;

// One name; false when the text names no port.
bool cli_ParsePortName(const std::string &text, CliPort *pPort);

// A comma-separated list of names and COM ranges ("COM5-COM8", both ends included); a name given
// twice counts once. False with the offending item in *pBad when an item names no port, a range
// runs backwards, or the list names more than cli_kMaxListedPorts ports.
bool cli_ParsePortList(const std::string &text, std::vector<CliPort> *pPorts, std::string *pBad);

// The list form of some ports, consecutive COM numbers as ranges: "COM3,COM5-COM8,/dev/ttyUSB0".
std::string cli_FormatPortList(const std::vector<CliPort> &ports);
