#pragma once
// Where a COM port lives on this system.
//
// "\\.\COMn" (or "COMn"), by the rule the update program follows as well:
// - the entry COM<n> of $SERIAL_PORTS_DIR when that variable is set, whether the entry exists or not
//   (a missing entry is a port that does not exist: falling back to the machine's own ports would
//   reach real hardware by surprise);
// - else /dev/serial/com/COM<n> when that link exists (made by udev from a rule of
//   `ravelin-cli ports --assign`);
// - else /dev/ttyS<n-1>.
// A name whose text after the "\\.\" prefix starts with '/' is a native path.

#include <string>

// Where udev links the ports that have a COM number of their own.
constexpr const char* kComLinksDir = "/dev/serial/com";

// The device path for a port name; "" when the name is neither a COM name nor a native path.
std::string ResolvePortDevicePath(const std::string& portName);
// "\\.\COM<n>", the name Open builds from a port number.
std::string ComDeviceName(int portNumber);
