#include "country/PortWriter/LineStatus.h"

#include <sys/ioctl.h>

int LineEventFromCounters(const LineCounters& before, const LineCounters& after) {
    int bits = 0;
    if (after.dcd != before.dcd) bits |= kLineDCD;
    if (after.dsr != before.dsr) bits |= kLineDSR;
    if (after.cts != before.cts) bits |= kLineCTS;
    if (after.ring != before.ring) bits |= kLineRing;
    if (after.breaks != before.breaks) bits |= kLineBreak;
    if (after.framing != before.framing) bits |= kLineFramingError;
    if (after.overrun != before.overrun) bits |= kLineUartOverrun;
    if (after.parity != before.parity) bits |= kLineParityError;
    if (after.bufferOverrun != before.bufferOverrun) bits |= kLineBufferOverrun;
    return bits;
}

int ModemStatusFromModemBits(int tiocmBits) {
    int bits = 0;
    if (tiocmBits & TIOCM_CAR) bits |= kLineDCD;
    if (tiocmBits & TIOCM_DSR) bits |= kLineDSR;
    if (tiocmBits & TIOCM_CTS) bits |= kLineCTS;
    if (tiocmBits & TIOCM_RNG) bits |= kLineRing;
    return bits;
}

std::string LineStatusText(int bits, int currentStatus, const LineStatusOptions& options, bool longForm) {
    std::string text;
    auto item = [&text](const char* what) {
        text += '[';
        text += what;
        text += ']';
    };
    if (options.modemLines) {
        struct ModemLine {
            int bit;
            const char *longHigh, *longLow, *shortHigh, *shortLow;
        };
        static const ModemLine kLines[] = {
            {kLineDCD, "DCD High", "dcd low", "DCD", "dcd"},
            {kLineDSR, "DSR High", "dsr low", "DSR", "dsr"},
            {kLineCTS, "CTS High", "cts low", "CTS", "cts"},
            {kLineRing, "RNG High", "rng low", "RNG", "rng"},
        };
        for (const ModemLine& line : kLines) {
            if (!(bits & line.bit))
                continue;
            const bool high = (currentStatus & line.bit) != 0;
            if (longForm) {
                item(high ? line.longHigh : line.longLow);
                text += '\n';
            } else {
                item(high ? line.shortHigh : line.shortLow);
            }
        }
    }
    if (options.breaks && (bits & kLineBreak))
        item(longForm ? "Break Received" : "B");
    if (options.lineErrors) {
        if (bits & kLineFramingError) item(longForm ? "Framing Error" : "FE");
        if (bits & kLineParityError) item(longForm ? "Parity Error" : "PE");
        if (bits & kLineUartOverrun) item(longForm ? "UART Overrun" : "UO");
        if (bits & kLineBufferOverrun) item(longForm ? "Buffer Overrun" : "BO");
    }
    return text;
}
