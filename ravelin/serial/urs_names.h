// How a port is named: what a user types ("COM3", "com3", "3", "/dev/ttyUSB0"), the device path of
// the update program ("\\.\COM3", "\\.\/dev/ttyUSB0"), its log name, its port number, and the path
// that is opened on this system.
#pragma once

#include <cstddef>
#include <cstdint>

// Highest COM number a user may name.
enum { urs_kMaxComNumber = 999 };

// The log name: the path without its "\\.\" prefix, cut to capacity - 1 characters.
void urs_LogNameOf(const char *pszDevicePath, char *pszName, std::size_t nCapacity);

// The decimal number after "\\.\COM" (digits up to the first non-digit); 0 for any other path.
std::uint32_t urs_PortNumberOf(const char *pszDevicePath);

// The one reading of a port the user named, for every front end: "COM<n>" in any case, a bare
// number n (COM<n>), either of them after a "\\.\" prefix, or a native path starting with '/'.
// n runs from 1 to urs_kMaxComNumber; leading zeros are dropped ("COM03" is COM3).
// On success fills the device path ("\\.\COM3", "\\.\/dev/ttyUSB0") and returns n, or 0 for a
// native path. Returns -1 when the text names no port or the device path does not fit.
int urs_ParsePortName(const char *pszText, char *pszDevicePath, std::size_t nCapacity);

// Where udev links the ports that have a COM number of their own (rules of `ravelin-cli ports --assign`).
#define urs_kComLinksDir "/dev/serial/com"

// The path to open for a log name. "COM<n>" (any case), by the one rule of both programs:
// - $SERIAL_PORTS_DIR/COM<n> when that variable is set (and not empty), whether the entry exists or
//   not (a missing entry is a port that does not exist: falling back to the machine's own ports would
//   reach real hardware by surprise);
// - else /dev/serial/com/COM<n> when that link exists (a number kept by a udev rule);
// - else /dev/ttyS<n-1>.
// Anything else, such as a native path "/dev/ttyUSB0", is used as it is. Returns false when the
// result does not fit.
bool urs_ResolvePortPath(const char *pszName, char *pszPath, std::size_t nCapacity);
