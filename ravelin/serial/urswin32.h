// Serial line layer of the update program: opens a COM port, sets speed and framing, writes bytes,
// reads bytes one at a time under a per-port deadline, and sleeps. Every transfer is written to the
// diagnostic log (module "urswin32") with a short dump of its bytes and the log is flushed, so the
// log shows the exact dialogue with a device even when the program is stopped half-way.
//
// The layer keeps no state besides the caller's UrsPort record and allocates nothing. Each record is
// used by one thread at a time.
//
// Port names: "\\.\COMn" is the entry COM<n> of the directory $SERIAL_PORTS_DIR when that variable is
// set (a missing entry is a port that does not exist), else /dev/ttyS<n-1>. A native path after the
// prefix ("\\.\/dev/ttyUSB0") is opened as it is; its port number is 0. See urs_names.h.
//
// Opening asks the driver for low latency where it has that setting (USB serial adapters), and the
// close gives it back the flags it had; see urs_latency.h.
//
// Typical answer wait:
//   urs_StartTimer(&port, 5);
//   ResponseWatcher ok;  urs_ResetWatcher(&ok, "OK\r\n");
//   for (;;) { int c = urs_GetChar(&port); if (c == URS_TIMEOUT) break;
//              if (c >= 0 && urs_FeedWatcher(&ok, c)) break; }      // URS_IO_ERROR: keep waiting
//   urs_StopTimer(&port);
#pragma once

#include <cstdint>

// Results of the layer.
enum {
    URS_OK = 0,
    URS_TIMEOUT = -1,      // the running deadline has passed, or the transfer's time-out could not be set
    URS_OPEN_FAILED = -2,  // urs_OpenPort only: the port could not be opened or set up
    URS_IO_ERROR = -4      // a read or write failed, or the line could not be set (urs_SetUart)
};

// Capacity of a port's log name, without the terminating NUL.
enum { urs_kNameLen = 200 };

// Allowance of one transfer while no deadline runs, in milliseconds (before the test time scale).
enum { urs_kNoDeadlineAllowanceMs = 20000 };

// Capacity of a port's read-ahead: one OS read takes up to this many waiting bytes, and urs_GetChar
// hands them out one by one. An answer that arrives whole then costs one system call, not one per
// byte, which is what keeps 36 ports in line-by-line dialogues light.
enum { urs_kInputLen = 256 };

// A point on the monotonic clock, split as whole seconds and milliseconds. The clock is counted from
// one second before its origin, so that whole seconds 0 never occurs in a real stamp and stays free
// to mean "no deadline".
struct UrsTimeStamp {
    std::int32_t nSeconds;
    std::uint16_t nMilliseconds;
};

// One open port; owned by the caller, filled by urs_OpenPort.
struct UrsPort {
    int hPort;                      // file descriptor of the open port; -1 after a failed open
    UrsTimeStamp tsDeadlineStart;   // start of the running deadline; nSeconds == 0: none runs
    std::int32_t nDeadlineMs;       // length of the running deadline
    char szName[urs_kNameLen + 1];  // device path without "\\.\", e.g. "COM3"; used in log lines
    std::uint32_t nPortNumber;      // n of "\\.\COMn"; 0 for a native path
    int bLineLost;                  // the line hung up (device unplugged or gone) since the open
    // Bytes read from the line but not yet taken by urs_GetChar: achInput[nInputNext .. nInputEnd).
    // They count as received (urs_CharsWaiting), are handed out in order before anything read
    // later, and are dropped with the driver's queues at open and close.
    unsigned char achInput[urs_kInputLen];
    int nInputNext;
    int nInputEnd;
    // The open set the driver's low-latency flag; nSavedSerialFlags is what the close gives back.
    int bLowLatencySet;
    int nSavedSerialFlags;
};

// Port operations.
int urs_OpenPort(UrsPort *pPort, const char *pszDevicePath);  // URS_OK or URS_OPEN_FAILED
int urs_ClosePort(UrsPort *pPort);                            // always URS_OK
// nParity: 0 none, 1 odd, 2 even, 3 mark, 4 space. nStopBits: 0 one, 1 one and a half, 2 two.
// nFlowControl bit 0: CTS output flow control (RTS/CTS handshake) on.
int urs_SetUart(UrsPort *pPort, std::uint32_t nBaudRate, int nDataBits, int nParity, int nStopBits,
                int nFlowControl);
int urs_PutChar(UrsPort *pPort, std::uint8_t nByte);
int urs_PutString(UrsPort *pPort, const char *pszText);
int urs_PutBlock(UrsPort *pPort, const void *pData, long nCount);  // URS_OK, URS_TIMEOUT, URS_IO_ERROR
// 1 when at least one byte is waiting (read ahead or in the driver), else 0. Never spins: with
// nothing waiting it blocks in poll() and answers 1 as soon as a byte comes, else 0 after a slice: a
// few milliseconds, or while a deadline runs up to 100 ms but never past the deadline's end (so a
// loop that ends on the deadline sees it at once).
int urs_CharsWaiting(UrsPort *pPort);
int urs_GetChar(UrsPort *pPort);  // 0..255, URS_TIMEOUT or URS_IO_ERROR
// pBuffer holds nCount + 1 bytes; it is NUL-terminated after the bytes read, also on failure.
int urs_GetBlock(UrsPort *pPort, void *pBuffer, long nCount);
int urs_GetCharTimed(UrsPort *pPort, int nSeconds);
int urs_GetBlockTimed(UrsPort *pPort, void *pBuffer, long nCount, int nSeconds);
// 1 when a transfer since the open found the line hung up: the other end has gone, and every
// later read or write fails. Callers that see only time-outs can tell the user why.
int urs_LineLost(const UrsPort *pPort);

// The per-port deadline. A running deadline is never stopped by its expiry: every later transfer is
// refused with URS_TIMEOUT until urs_StopTimer or a new urs_StartTimer.
void urs_StartTimer(UrsPort *pPort, int nSeconds);
void urs_StopTimer(UrsPort *pPort);
int urs_TimerExpired(UrsPort *pPort);  // 1 when a deadline runs and has passed, else 0

// Sleeps (through the clock module, so the test time scale applies).
void urs_Sleep(int nSeconds);
void urs_SleepMs(long nMilliseconds);

// Streaming matcher: reports the first time its whole pattern has appeared as a contiguous run
// anywhere in the bytes fed to it, also when a false start overlaps the true one, and keeps reporting
// it until reset. The pattern is owned by the caller and must outlive the watcher's use.
struct ResponseWatcher {
    const char *pszPattern;
    unsigned nPosition;  // the stream currently matches pszPattern[0 .. nPosition)
};

void urs_ResetWatcher(ResponseWatcher *pWatcher, const char *pszPattern);
int urs_FeedWatcher(ResponseWatcher *pWatcher, int nByte);  // 1 when the pattern has been seen
