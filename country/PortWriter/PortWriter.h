#pragma once
// The command/response engine of the country program: owns one serial port and its traffic log, queues
// what the read thread delivers, writes commands with a write time-out, and waits for answers that match
// a regular expression, with a time-out of its own and a stop event that the user interface can raise.
// Failures throw CPortWriterError.

#include <cstdarg>
#include <deque>
#include <memory>
#include <string>

#include "country/PortWriter/LineStatus.h"
#include "country/PortWriter/PortSettings.h"
#include "country/PortWriter/PortWriterError.h"
#include "country/PortWriter/Regexp2.h"
#include "country/PortWriter/SerialPort.h"
#include "country/PortWriter/SyncObjects.h"
#include "country/PortWriter/TrafficLog.h"

// Told the pattern at the start of every wait ("-- Time --" for a pure delay) and "" at its end.
class CWaitObserver {
public:
    virtual ~CWaitObserver() = default;
    virtual void OnWaitText(const std::string& text) = 0;
};

// Receives "[<printable command>]" for every command sent while the send-trace option is on.
class CTraceSink {
public:
    virtual ~CTraceSink() = default;
    virtual void OnTrace(const std::string& text) = 0;
};

class CPortWriter : public CPortListener {
public:
    // Log modes of Open (they differ from the traffic log's own numbering).
    enum { kLogText = 0, kLogByteByByte = 1, kLogHex = 2, kLogNone = 3 };
    // WaitFor results.
    enum { kMatched = 1, kTimedOut = 2, kStopped = -2 };
    static constexpr long kDefaultWriteTimeoutMs = 10000;
    static constexpr int kSendBufferSize = 1024;
    static constexpr size_t kWindowLimit = 1024;  // the match window is cut when it reaches this length...
    static constexpr size_t kWindowKeep = 100;    // ...to its last this many characters
    static constexpr int kCaptures = 10;

    // observer, traceSink and stopEvent may be null; none of them is owned.
    CPortWriter(CWaitObserver* observer, CTraceSink* traceSink, CEvent* stopEvent);
    ~CPortWriter() override;
    CPortWriter(const CPortWriter&) = delete;
    CPortWriter& operator=(const CPortWriter&) = delete;

    // Creates the port object and the traffic log, and opens the port when openNow is set. settings
    // (kept, not owned) may be null. A non-empty logFileName is appended to; otherwise the settings'
    // LOG-Com... name is created. False when the port does not open (the log file may exist by then).
    bool Open(const CPortSettings* settings, int logMode, int stopTraceFlag, bool openNow,
              const std::string& logFileName = std::string());

    // Formats a command (at most 1023 characters) and writes it with the write time-out; nothing is
    // appended. Throws CPortWriterError code 2 on write time-out, -2 when the stop event is seen.
    void Send(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Writes bytes. Without a completion event: the timed write of Send. With one: issued at once, and
    // nothing is waited for; the event is set on completion.
    void Write(const char* bytes, int length, CEvent* completion = nullptr);

    // Waits for pattern (null: a pure delay of timeoutMs). timeoutMs <= 0 never expires.
    // Returns kMatched, kTimedOut or kStopped; with throwOnFailure, a time-out throws code -1 (text: the
    // pattern) and the stop event throws code -2. A pattern that does not compile throws Regexp2::exception.
    int WaitFor(const char* pattern, long timeoutMs, bool throwOnFailure);
    int WaitFor(const std::string& pattern, long timeoutMs, bool throwOnFailure) {
        return WaitFor(pattern.c_str(), timeoutMs, throwOnFailure);
    }

    // Capture index (0 = the whole match) of the latest successful WaitFor; "" outside 0-9.
    std::string GetMatch(int index) const;

    // Discards everything received and not yet consumed, and resets (purges) the port.
    void Flush();
    // Closes the port if it is open.
    void Close();

    // CPortListener, called on the port's read thread.
    void OnData(CPort* port, char* buffer, int length) override;
    void OnLineEvent(CPort* port, int lineStatus) override;
    bool WantsLineEvents(CPort* port) override { return true; }

    // Bytes received and not yet taken by a wait.
    long QueuedBytes();

    CPort* Port() const { return m_port.get(); }
    CTrafficLog* TrafficLog() const { return m_log.get(); }
    long WriteTimeoutMs() const { return m_writeTimeoutMs; }
    // At least one 50 ms tick.
    void SetWriteTimeoutMs(long ms) { m_writeTimeoutMs = ms; }

    // Options (see the members below).
    bool m_echo = true;
    bool m_lineErrors = true;
    bool m_breaks = true;
    bool m_modemLines = false;
    bool m_sendTrace = false;
    bool m_waitTrace = true;

private:
    // A block handed over by the read thread; frees its buffer when used up or discarded.
    struct Block {
        std::unique_ptr<char[]> buffer;
        int readPoint = 0;
        int length = 0;
    };

    void TimedWrite(const char* bytes, int length);
    // Takes the next queued byte; false when the queue is empty.
    bool TakeByte(unsigned char& byte);
    bool TakeLineEvent(int& bits);
    void Trace(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Notify(const std::string& text);

    std::unique_ptr<CTrafficLog> m_log;
    CTraceSink* m_traceSink;
    std::unique_ptr<CPort> m_port;
    const CPortSettings* m_settings = nullptr;
    CEvent m_dataEvent;
    CEvent m_lineEvent;
    CEvent* m_stopEvent;
    CWaitObserver* m_observer;

    CMutex m_receiveLock;
    std::deque<Block> m_blocks;
    long m_blockCount = 0;
    long m_byteCount = 0;

    CMutex m_lineEventLock;
    std::deque<int> m_lineEvents;
    long m_lineEventCount = 0;

    long m_writeTimeoutMs = kDefaultWriteTimeoutMs;
    std::string m_captures[kCaptures];
    int m_stopTraceFlag = 0;
};
