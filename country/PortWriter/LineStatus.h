#pragma once
// The 9-bit line-status word shared by the serial port and the port writer.
//
// In a line event, bits 0-3 mean "this line changed"; in a modem status they mean "this line is high".

#include <cstdint>
#include <string>

enum : int {
    kLineDCD = 0x001,
    kLineDSR = 0x002,
    kLineCTS = 0x004,
    kLineRing = 0x008,
    kLineBreak = 0x010,
    kLineFramingError = 0x020,
    kLineUartOverrun = 0x040,
    kLineParityError = 0x080,
    kLineBufferOverrun = 0x100,
};

// Counters of line activity as the driver keeps them; a line event is the difference of two samples.
struct LineCounters {
    int64_t cts = 0, dsr = 0, ring = 0, dcd = 0;
    int64_t breaks = 0, framing = 0, overrun = 0, parity = 0, bufferOverrun = 0;
};

// The line-event word for what changed between two samples (0 when nothing did).
int LineEventFromCounters(const LineCounters& before, const LineCounters& after);

// Bits 0-3 of a modem-status word from the TIOCM_* bits of the driver.
int ModemStatusFromModemBits(int tiocmBits);

// Which parts of a line-status word the traffic log shows.
struct LineStatusOptions {
    bool modemLines = false;  // DCD/DSR/CTS/RNG changes
    bool breaks = true;       // break received
    bool lineErrors = true;   // framing, parity, overrun
};

// The text written to the traffic log for a line-status word. The long form gives whole words and one
// line per modem line ("[DCD High]\n"); the short form, used for line events, gives "[DCD]", "[B]", "[FE]"...
// Modem lines are written upper case when the same bit of currentStatus is high, lower case when low.
std::string LineStatusText(int bits, int currentStatus, const LineStatusOptions& options, bool longForm);
