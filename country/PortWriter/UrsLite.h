#pragma once
// The country program's cut-down copy of the update program's serial layer: only what the country
// program still needs of it, over a port record of the same layout. The port itself is opened and
// driven by CSerialPort; this copy closes it quietly, forgets it, and sleeps.
//
// It stands on its own: the two programs share no code.

#include <cstdint>

namespace UrsLite {

struct UrsTimeStamp {
    int32_t nSeconds;
    uint16_t nMilliseconds;
};

struct UrsPort {
    int hPort;                     // file descriptor of the open port; -1 once closed
    UrsTimeStamp tsDeadlineStart;  // start of a running deadline; nSeconds == 0: none
    int32_t nDeadlineMs;           // length of that deadline
    char szName[201];              // port name, e.g. "COM3"
    uint32_t nPortNumber;          // 0: no port to close (never opened, closed or forgotten)
};

// Closes the port without any log line: lowers DTR, purges both directions, closes the handle, and
// sets the port number to 0. Does nothing when the port number is already 0, so closing twice is safe.
void urs_ClosePort(UrsPort* pPort);

// Sets the port number to 0 without touching the handle: someone else closes the port now.
void urs_ForgetPort(UrsPort* pPort);

// Sleeps nSeconds (through the country program's clock, so the test time scale applies).
void urs_Sleep(int nSeconds);

}  // namespace UrsLite
