// The per-port worker of the country program: identifies the modem on one COM port with AT commands,
// then, holding the port open, waits to be told to configure it for a country (or to stop).
#pragma once

#include "country/PortWriter/SyncObjects.h"
#include "country/config/catalogue.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

class CPort;
class CPortWriter;
struct IdentifyQuestion;

class CModemJob : public CThread {
public:
    // stopEvent belongs to the creator and must outlive the thread.
    CModemJob(int portNumber, CEvent* stopEvent, bool logging);
    // A worker still running is stopped and waited for (its stop event must still exist then).
    ~CModemJob() override;

    // The country to configure for: a name of the country catalogue.
    void SetCountry(const std::string& name);
    // Configure now; only a worker that is ready (identified and waiting) takes it up.
    void Go();
    void Stop();

    // True while the worker is idle: identification over (either way), configuration over, or finished.
    bool Done() const;
    // 1: a modem was identified (and, after configuration, configured); 0 otherwise.
    int Identified() const;
    // Blocks until Done() or until realMs milliseconds passed (negative: without limit); Done() then.
    bool WaitUntilDone(long realMs) const;

    std::string ModelName() const;
    std::string PortName() const { return m_portName; }
    int PortNumber() const { return m_portNumber; }
    std::string Version() const;
    int CommandSet() const;
    std::string CountryName() const;
    // What the last configuration sent and recorded ("" before one succeeded), for the message log.
    std::string CountryCodeHex() const;

    // The port numbers a worker can open; any other number opens nothing.
    static constexpr int kLowestPort = 1;
    static constexpr int kHighestPort = 255;
    // Why the port did not open, once the worker has tried: a user who named the wrong port, a port
    // another program holds and a port without a device need different help.
    enum PortProblem { kPortOpened, kPortOutOfRange, kPortMissing, kPortInUse, kPortUnusable };
    PortProblem PortOpenProblem() const;
    // The system's account of that failure (device path and reason); "" when the port opened.
    std::string PortOpenError() const;
    // Set when the modem took the whole country command sequence but modem.ini could not be written:
    // why not. "" otherwise.
    std::string ModemIniError() const;

protected:
    void Run() override;

private:
    enum class State { kProbing, kReady, kConfiguring, kFinished };

    // Steps 4-7: true when both a catalogue model and a version were found.
    bool Identify(CPortWriter& writer);
    // One identification command: pause, flush, send, wait; then reads the answer.
    void Ask(CPortWriter& writer, const IdentifyQuestion& question, bool* modelFound, bool* versionFound);
    // Choose the set, send its sequence, record modem.ini; true when all of it succeeded.
    bool Configure(CPortWriter& writer);
    // A pause that a stop cuts short; false when stopped.
    bool Pause(long logicalMs);
    void SetState(State state);
    void Note(CPortWriter& writer, const std::string& text);
    // Keeps why the port did not open, as its Open reported it.
    void NoteOpenFailure(CPort* port);

    const int m_portNumber;
    const bool m_logging;
    const std::string m_portName;
    CEvent* const m_stopEvent;
    CEvent m_goEvent;

    mutable std::mutex m_lock;  // guards everything below
    mutable std::condition_variable m_doneChanged;
    State m_state = State::kProbing;
    int m_identified = 0;
    std::string m_modelName;
    std::string m_version;
    int m_needsAmpersandG = 0;
    int m_defaultCommandSet = kCommandSetAgere;
    std::vector<VersionLock> m_locks;
    int m_commandSet = 0;
    std::string m_countryName;
    std::string m_countryCodeHex;
    PortProblem m_portProblem = kPortOpened;
    std::string m_portError;
    std::string m_modemIniError;
};
