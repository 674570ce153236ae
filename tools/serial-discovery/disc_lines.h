// What a port's line says now, read without changing it: whether the driver's low-latency flag is
// set and the state of CTS. The system calls sit behind DiscLineIo so tests can stand in for a
// driver that pseudo-terminals cannot play.
#pragma once

#include <string>

// -1 with errno set on failure, as the system calls.
struct DiscLineIo {
    virtual ~DiscLineIo() = default;
    virtual int Open(const std::string &path) = 0;           // read-write, no controlling tty, non-blocking
    virtual int Lock(int hPort) = 0;                          // exclusive and non-blocking: never wait for a holder
    virtual int SerialFlags(int hPort, int *pnFlags) = 0;    // TIOCGSERIAL's flags
    virtual int ModemLines(int hPort, int *pnLines) = 0;     // TIOCMGET
    virtual void Close(int hPort) = 0;
};

// The system's own.
DiscLineIo &disc_SystemLineIo();

// A fact that is known, false, or unknown.
enum { disc_kUnknown = -1, disc_kNo = 0, disc_kYes = 1 };

struct DiscLineState {
    bool bOpened = false;       // the port could be opened (and nobody held it)
    int nLowLatency = disc_kUnknown;  // ASYNC_LOW_LATENCY; unknown when the driver cannot tell (ENOTTY)
    int nCts = disc_kUnknown;         // CTS raised
    std::string problem;        // why the port could not be opened, "" when it was
};

// Opens the port for a moment, reads the facts and lets it go. A port another program holds is
// left alone (bOpened false).
DiscLineState disc_ReadLineState(const std::string &path, DiscLineIo &io);
