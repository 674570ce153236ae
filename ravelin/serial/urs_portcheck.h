// Why a port can or cannot be used: for the messages of the front ends when an open fails, and for
// the port listing of service benches. Looks at the port as it is now, without keeping it open.
#pragma once

#include <cstddef>

// What a check found, from "usable" to the first obstacle met.
enum {
    urs_kPortUsable = 0,     // opens, is a serial line, nobody holds it
    urs_kPortMissing = 1,    // no such port (no entry, no device behind the name)
    urs_kPortInUse = 2,      // another program holds it
    urs_kPortDenied = 3,     // this user may not open it
    urs_kPortNotSerial = 4,  // it opens, but is no serial line
    urs_kPortFailed = 5      // any other failure to open (nError tells)
};

enum { urs_kCheckPathLen = 1024, urs_kCheckNameLen = 64 };

struct UrsPortCheck {
    char szPath[urs_kCheckPathLen];     // the path the port name maps to
    bool bInPortsDir;                   // a COMn name taken from $SERIAL_PORTS_DIR
    int nState;                         // urs_kPort...
    int nError;                         // the system's error number of the failed step; 0 when usable
    bool bExists;                       // the path leads to something
    bool bCharDevice;                   // ... and that is a character device
    unsigned nMode;                     // permission bits (07777) of what the path leads to
    char szGroup[urs_kCheckNameLen];    // its owner group's name (the number when it has none)
    long nHolderPid;                    // a process that holds the port open, 0 when none was found
    char szHolderName[urs_kCheckNameLen];  // that process's command name
};

// Checks the port of a device path ("\\.\COM3", "\\.\/dev/ttyUSB0"): resolves it as urs_OpenPort
// does, looks at the device, tries to open it exclusively and releases it at once. With
// bFindHolder, also names a process that holds it when the port is usable or in use (a holder
// is always looked for when the port is in use). Returns nState.
int urs_CheckPort(const char *pszDevicePath, bool bFindHolder, UrsPortCheck *pCheck);

// One line that says why the port cannot be used and what to do about it, without the port's
// name: "in use by process 812 (minicom)", "permission denied: /dev/ttyS0 belongs to group
// dialout (mode 0660); join that group ...". "usable" for a usable port.
void urs_DescribePortCheck(const UrsPortCheck *pCheck, char *pszText, std::size_t nCapacity);

// Where the path finally leads: its chain of symbolic links followed (osfl_FollowLinks) and "." and
// ".." taken out, without the C library's realpath, which a device test bed cannot redirect.
// False when the result does not fit.
bool urs_FollowLinks(const char *pszPath, char *pszReal, std::size_t nCapacity);

// A running modem manager service, which opens and probes every new serial port: its pid, or 0
// when none runs. Its command name goes to pszName.
long urs_FindModemManager(char *pszName, std::size_t nCapacity);
