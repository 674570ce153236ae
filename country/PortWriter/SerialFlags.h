#pragma once
// The driver's serial flags (the ASYNC_* bits of TIOCGSERIAL), through which a port asks for low
// latency: a USB serial adapter otherwise holds what the modem sends until its latency timer runs out
// (16 ms by default on the common chips), and every command waits that long for its answer.
//
// CSerialPort asks through one of these; tests hand it a stand-in for a driver that has the setting
// (pseudo-terminals refuse both requests with ENOTTY).

#include <string>

class CSerialFlags {
public:
    virtual ~CSerialFlags() = default;
    // 0, or the errno of the failure.
    virtual int Get(int handle, int& flags);
    virtual int Set(int handle, int flags);

    // The system's requests.
    static CSerialFlags& System();
};

// Low latency for one open of a port: asked for at Open, the driver's own flags back at Close.
class CLowLatency {
public:
    // Sets the low-latency flag where the driver has it and it is off. Returns the line for the log:
    // what was done, or why not. ENOTTY (no such setting) is no error; any other failure leaves the
    // port as it was and the open goes on.
    std::string Request(CSerialFlags& driver, int handle);
    // Gives the driver back the flags Request found, when Request changed them; then forgets them.
    void Restore(CSerialFlags& driver, int handle);

private:
    bool m_set = false;
    int m_savedFlags = 0;
};
