// The line-status word: from driver counters and modem bits, and its texts in the traffic log;
// the printable form of texts in trace lines.
#include <gtest/gtest.h>

#include <sys/ioctl.h>

#include "country/PortWriter/LineStatus.h"
#include "country/PortWriter/Printable.h"

namespace {

TEST(LineStatusTest, CounterChangesBecomeEventBits) {
    LineCounters before;
    LineCounters after = before;
    EXPECT_EQ(LineEventFromCounters(before, after), 0);
    after.framing = 1;
    after.parity = 3;
    EXPECT_EQ(LineEventFromCounters(before, after), kLineFramingError | kLineParityError);
    EXPECT_EQ(kLineFramingError | kLineParityError, 0x20 | 0x80);
    LineCounters lines;
    lines.dcd = 1;
    lines.dsr = 1;
    lines.cts = 1;
    lines.ring = 1;
    lines.breaks = 1;
    lines.overrun = 1;
    lines.bufferOverrun = 1;
    EXPECT_EQ(LineEventFromCounters(before, lines), 0x1ff & ~(kLineFramingError | kLineParityError));
}

TEST(LineStatusTest, ModemBitsMapToTheLowFourBits) {
    EXPECT_EQ(ModemStatusFromModemBits(TIOCM_CAR | TIOCM_CTS), kLineDCD | kLineCTS);
    EXPECT_EQ(ModemStatusFromModemBits(TIOCM_DSR | TIOCM_RNG | TIOCM_DTR | TIOCM_RTS), kLineDSR | kLineRing);
    EXPECT_EQ(ModemStatusFromModemBits(0), 0);
}

TEST(LineStatusTest, ShortFormWithDefaultOptionsShowsBreakAndErrorsInOrder) {
    LineStatusOptions defaults;
    EXPECT_EQ(LineStatusText(0x1ff, 0, defaults, false), "[B][FE][PE][UO][BO]");
    EXPECT_EQ(LineStatusText(kLineFramingError | kLineParityError, 0, defaults, false), "[FE][PE]");
    EXPECT_EQ(LineStatusText(kLineDCD | kLineCTS, 0, defaults, false), "");  // modem lines off by default
}

TEST(LineStatusTest, LongFormUsesWordsAndTheCurrentLevelOfEachLine) {
    LineStatusOptions all;
    all.modemLines = true;
    EXPECT_EQ(LineStatusText(kLineDCD | kLineDSR | kLineCTS | kLineRing, kLineDCD | kLineRing, all, true),
              "[DCD High]\n[dsr low]\n[cts low]\n[RNG High]\n");
    EXPECT_EQ(LineStatusText(kLineBreak | kLineUartOverrun | kLineBufferOverrun, 0, all, true),
              "[Break Received][UART Overrun][Buffer Overrun]");
    EXPECT_EQ(LineStatusText(kLineDSR | kLineCTS, kLineCTS, all, false), "[dsr][CTS]");
}

TEST(LineStatusTest, OptionsSilenceTheirParts) {
    LineStatusOptions none;
    none.breaks = false;
    none.lineErrors = false;
    EXPECT_EQ(LineStatusText(0x1ff, 0xf, none, false), "");
}

TEST(PrintableTest, EscapesLineEndsControlAndHighBytes) {
    EXPECT_EQ(PrintableText(std::string("AT\r\n")), "AT\\r\\n");
    EXPECT_EQ(PrintableText(std::string("a\x01\x7f\x80\xff~ z", 8)), "a\\x01\\x7f\\x80\\xff~ z");
    EXPECT_EQ(PrintableText(static_cast<const char*>(nullptr)), "--NULL-STRING--");
    EXPECT_EQ(PrintableText(std::string()), "");
}

}  // namespace
