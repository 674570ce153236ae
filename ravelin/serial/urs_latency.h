// Low latency on ports whose driver offers it. A USB serial adapter holds what the device sends until
// its latency timer runs out (16 ms by default on the common chips) unless the port asks for low
// latency; stop-and-wait downloads pay that on every answer. urs_OpenPort asks for it and
// urs_ClosePort gives the driver back the flags it had.
//
// The two driver requests go through a table, so that tests can stand in for a driver that has the
// setting (pseudo-terminals refuse both requests with ENOTTY).
#pragma once

struct UrsSerialFlagsOps {
    // The driver's serial flags (the ASYNC_* bits): 0, or -1 with errno set.
    int (*pfnGetFlags)(int hPort, int *pnFlags);
    int (*pfnSetFlags)(int hPort, int nFlags);
};

// Replaces the system's requests (TIOCGSERIAL, TIOCSSERIAL) for every later open and close;
// nullptr puts them back. Not for use while a port is open on another thread.
void urs_SetSerialFlagsOpsForTesting(const UrsSerialFlagsOps *pOps);
