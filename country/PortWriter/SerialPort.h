#pragma once
// The country program's serial port object: opens a COM port exclusively, sets up the line, writes
// blocks without blocking the caller, and runs a read thread that hands every received block and every
// line-status change to its listener.

#include <sys/types.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "country/PortWriter/LineStatus.h"
#include "country/PortWriter/PortSettings.h"
#include "country/PortWriter/SerialFlags.h"
#include "country/PortWriter/SyncObjects.h"

struct termios;
class CPort;

// Whether a read that gave readResult (errno readError when negative), after poll() reported
// pollEvents, means that the line hung up: POLLHUP, or a read error that every later read would repeat.
// A read that finds the queue empty (a flush took what poll saw) is no hang-up.
bool LineHungUp(ssize_t readResult, int readError, short pollEvents);

// Implemented by the owner of a port. OnData and OnLineEvent run on the port's read thread.
class CPortListener {
public:
    virtual ~CPortListener() = default;
    // A non-empty read. The listener takes ownership of buffer, which was allocated with new char[kReadSize].
    virtual void OnData(CPort* port, char* buffer, int length) = 0;
    // A line event: a line-status word whose bits 0-3 say which modem lines changed.
    virtual void OnLineEvent(CPort* port, int lineStatus) = 0;
    // Asked once at Open and once when the read thread starts.
    virtual bool WantsLineEvents(CPort* port) = 0;
};

// The abstract port.
class CPort {
public:
    using Handle = int;
    static constexpr Handle kNoHandle = -1;
    static constexpr int kReadSize = 1024;

    virtual ~CPort() = default;
    // Opens the port named by the settings; the handle, or kNoHandle on failure (nothing else changes then).
    virtual Handle Open(const CPortSettings& settings, CPortListener* listener, int traceFlag) = 0;
    virtual void Close() = 0;
    // Length 0 returns at once. With a completion event, returns as soon as the write is issued and sets
    // the event when every byte went out; the bytes are copied. Without one, waits until the write completed.
    virtual void Write(const char* bytes, int length, CEvent* completion) = 0;
    // Bits 0-3 of the line-status word: the modem lines that are high (0 where the line cannot tell).
    virtual int GetModemStatus() = 0;
    virtual void Reconfigure(const CPortSettings& settings) = 0;
    virtual void Configure(const CPortSettings& settings) = 0;
    // Flow-control toggle (when flow control is on) and purge of both directions; a pending write is abandoned.
    virtual void Reset() = 0;
    // Forget a completion event before its owner destroys it; the write itself goes on.
    virtual void ForgetCompletion(CEvent* completion) = 0;
    virtual bool IsOpen() const = 0;
    // What the last successful Open has to say for the traffic log ("" when nothing).
    virtual std::string OpenNote() const { return std::string(); }
};

class CSerialPort : public CPort {
public:
    CSerialPort();
    // Asks the driver for its serial flags through `driver` (which must outlive the port) instead of
    // the system's requests.
    explicit CSerialPort(CSerialFlags& driver);
    ~CSerialPort() override;
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    Handle Open(const CPortSettings& settings, CPortListener* listener, int traceFlag) override;
    void Close() override;
    void Write(const char* bytes, int length, CEvent* completion) override;
    int GetModemStatus() override;
    void Reconfigure(const CPortSettings& settings) override;
    void Configure(const CPortSettings& settings) override;
    void Reset() override;
    void ForgetCompletion(CEvent* completion) override;
    bool IsOpen() const override { return m_open; }
    // The device path and what came of the low-latency request, e.g. "/dev/ttyUSB0: low latency set".
    std::string OpenNote() const override { return m_openNote; }

    virtual void ClearDTR();
    virtual void SetDTR();
    virtual void ClearRTS();
    virtual void SetRTS();

    // The device path the port opened ("" before Open).
    const std::string& DevicePath() const { return m_devicePath; }
    // Why the last Open failed ("" after a successful one), with the device path and the system's
    // error text, for the caller's log: "no such port" and "in use" need different help.
    const std::string& LastError() const { return m_lastError; }
    // The kind of the last Open's failure (kOpened after a successful one), for the user's message.
    enum OpenFailure { kOpened, kNoSuchPort, kInUse, kCannotOpen };
    OpenFailure LastFailure() const { return m_lastFailure; }
    // How often the line was set up since Open; lets callers see Reset's flow-control toggle.
    int ConfigureCount() const { return m_configureCount; }

private:
    class ReadThread : public CThread {
    public:
        explicit ReadThread(CSerialPort& port) : m_port(port) {}
        void Run() override;

    private:
        CSerialPort& m_port;
    };
    friend class ReadThread;

    struct PendingWrite {
        std::vector<char> bytes;
        size_t written = 0;
        CEvent* completion = nullptr;
    };

    void RunReadLoop();
    // Writes what the line takes now; completes finished writes. Called with m_writeLock held.
    void PushPendingWrites();
    // Drops every pending write (their events are not set). Called with m_writeLock held.
    void DropPendingWrites();
    void SetModemLine(int tiocmBit, bool high, const char* what);

    bool m_open = false;
    CPortListener* m_listener = nullptr;
    std::unique_ptr<CPortSettings> m_current;
    int m_traceFlag = 0;
    ReadThread m_readThread{*this};
    Handle m_handle = kNoHandle;
    CEvent m_stopEvent{true};
    CEvent m_writeWake;          // tells the read thread that output waits
    // Line options held by the port object rather than by the settings.
    bool m_dtrEnabled = true;
    bool m_rtsEnabled = true;
    std::unique_ptr<termios> m_savedLine;  // the line set-up found at Open, restored at Close
    CSerialFlags& m_driver;
    CLowLatency m_lowLatency;    // set at Open where the driver has it, undone at Close
    std::string m_openNote;
    bool m_hungUp = false;       // the other side went away; the read thread stops reading
    int m_configureCount = 0;
    std::string m_devicePath;
    std::string m_lastError;
    OpenFailure m_lastFailure = kOpened;

    CMutex m_writeLock;
    std::deque<PendingWrite> m_pendingWrites;
};
