// How a device path of the update program ("\\.\COM3", "\\.\/dev/ttyUSB0") becomes a log name, a
// port number and the path that is opened on this system.
#pragma once

#include <cstddef>
#include <cstdint>

// The log name: the path without its "\\.\" prefix, cut to capacity - 1 characters.
void urs_LogNameOf(const char *pszDevicePath, char *pszName, std::size_t nCapacity);

// The decimal number after "\\.\COM" (digits up to the first non-digit); 0 for any other path.
std::uint32_t urs_PortNumberOf(const char *pszDevicePath);

// The path to open for a log name. "COM<n>": the entry COM<n> of $SERIAL_PORTS_DIR when the variable
// is set and the entry exists (a link to a vanished device still counts: opening it then fails
// rather than reaching some other port), else /dev/ttyS<n-1>. Anything else, such as a native path
// "/dev/ttyUSB0", is used as it is. Returns false when the result does not fit.
bool urs_ResolvePortPath(const char *pszName, char *pszPath, std::size_t nCapacity);
