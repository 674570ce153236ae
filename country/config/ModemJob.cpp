#include "country/config/ModemJob.h"

#include "country/PortWriter/CountryClock.h"
#include "country/PortWriter/PortWriter.h"
#include "country/config/command_sets.h"
#include "country/config/identify.h"
#include "country/config/modem_ini.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>

namespace {

const int kBaudRate = 38400;
const long kPowerUpMs = 4000;        // modems that were just opened need time before they listen
const long kBetweenCommandsMs = 1000;
const long kEchoOffTimeoutMs = 5000;
const long kCommandSetTimeoutMs = 5000;

// The worker has nobody to tell about waits.
class CIgnoringObserver : public CWaitObserver {
public:
    void OnWaitText(const std::string&) override {}
};

std::string FormatPortName(int portNumber)
{
    char name[16];
    std::snprintf(name, sizeof name, "COM%d", portNumber);
    return name;
}

// Thrown inside the worker when a pause is cut short by the stop event: it ends the exchange like the
// port writer's own stop.
struct StoppedDuringPause {};

}  // namespace

CModemJob::CModemJob(int portNumber, CEvent* stopEvent, bool logging)
    : m_portNumber(portNumber), m_logging(logging), m_portName(FormatPortName(portNumber)), m_stopEvent(stopEvent)
{
}

CModemJob::~CModemJob()
{
    // Run uses the worker's members to the end: never let the thread outlive them.
    if (IsStarted() && !Wait(0)) {
        Stop();
        Wait(-1);
    }
}

void CModemJob::SetCountry(const std::string& name)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_countryName = name;
}

void CModemJob::Go()
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_state != State::kReady)
            return;
        // Not done from now on, so that a caller who waits for done right after Go waits for the
        // configuration and not for the identification that already ended.
        m_state = State::kConfiguring;
    }
    m_goEvent.Set();
}

void CModemJob::Stop()
{
    if (m_stopEvent != nullptr)
        m_stopEvent->Set();
}

bool CModemJob::Done() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_state == State::kReady || m_state == State::kFinished;
}

int CModemJob::Identified() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_identified;
}

bool CModemJob::WaitUntilDone(long realMs) const
{
    std::unique_lock<std::mutex> hold(m_lock);
    auto done = [this] { return m_state == State::kReady || m_state == State::kFinished; };
    if (realMs < 0) {
        m_doneChanged.wait(hold, done);
        return true;
    }
    return m_doneChanged.wait_for(hold, std::chrono::milliseconds(realMs), done);
}

std::string CModemJob::ModelName() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_modelName;
}

std::string CModemJob::Version() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_version;
}

int CModemJob::CommandSet() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_commandSet;
}

std::string CModemJob::CountryName() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_countryName;
}

std::string CModemJob::CountryCodeHex() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_countryCodeHex;
}

CModemJob::PortProblem CModemJob::PortOpenProblem() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_portProblem;
}

std::string CModemJob::PortOpenError() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_portError;
}

std::string CModemJob::ModemIniError() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_modemIniError;
}

void CModemJob::SetState(State state)
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_state = state;
    }
    m_doneChanged.notify_all();
}

bool CModemJob::Pause(long logicalMs)
{
    if (m_stopEvent == nullptr) {
        CClock::SleepMs(logicalMs);
        return true;
    }
    // Waiting on the stop event instead of sleeping lets a stop end the worker at once; a stop seen
    // here is consumed, just as the port writer consumes one.
    return !m_stopEvent->Wait(static_cast<long>(CClock::ToRealMs(logicalMs)));
}

void CModemJob::NoteOpenFailure(CPort* port)
{
    PortProblem problem = kPortUnusable;
    std::string error;
    if (const CSerialPort* serial = dynamic_cast<const CSerialPort*>(port)) {
        error = serial->LastError();
        switch (serial->LastFailure()) {
        case CSerialPort::kNoSuchPort: problem = kPortMissing; break;
        case CSerialPort::kInUse: problem = kPortInUse; break;
        default: break;
        }
    }
    std::lock_guard<std::mutex> hold(m_lock);
    m_portProblem = problem;
    m_portError = error;
}

void CModemJob::Note(CPortWriter& writer, const std::string& text)
{
    if (CTrafficLog* log = writer.TrafficLog())
        log->Write("\n[[--- " + text + "\n");
}

void CModemJob::Run()
{
    SetState(State::kProbing);
    CIgnoringObserver observer;
    CPortSettings settings(static_cast<uint8_t>(m_portNumber), kBaudRate, 8, 1, 0, CPortSettings::kFlowNone);
    auto writer = std::make_unique<CPortWriter>(&observer, nullptr, m_stopEvent);
    bool identified = false;
    // The port settings hold the number in one byte: COM259 would open COM3, and the modem found there
    // would be configured and recorded as the one on COM259.
    const bool portNameable = m_portNumber >= kLowestPort && m_portNumber <= kHighestPort;
    if (!portNameable) {
        std::lock_guard<std::mutex> hold(m_lock);
        m_portProblem = kPortOutOfRange;
    } else if (!writer->Open(&settings, m_logging ? CPortWriter::kLogText : CPortWriter::kLogNone, 0, true)) {
        NoteOpenFailure(writer->Port());
    } else {
        try {
            identified = Identify(*writer);
            if (identified) {
                {
                    std::lock_guard<std::mutex> hold(m_lock);
                    m_identified = 1;
                    // Go() may already have moved the state on.
                    if (m_state == State::kProbing)
                        m_state = State::kReady;
                }
                m_doneChanged.notify_all();
                CWaitSet events;
                // The stop event goes first: when both are signalled, stopping wins.
                if (m_stopEvent != nullptr)
                    events.Add(*m_stopEvent);
                events.Add(m_goEvent);
                CWaitable* woken = events.Wait(-1);
                if (woken == &m_goEvent) {
                    SetState(State::kConfiguring);
                    identified = Configure(*writer);
                }
            }
        } catch (const CPortWriterError& error) {
            Note(*writer, std::string("worker ended: ") + error.what());
            identified = false;
        } catch (const StoppedDuringPause&) {
            Note(*writer, "worker stopped");
            identified = false;
        } catch (const std::exception& error) {
            Note(*writer, std::string("worker ended: ") + error.what());
            identified = false;
        }
    }
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_identified = identified ? 1 : 0;
        m_state = State::kFinished;
    }
    m_doneChanged.notify_all();
    writer->Close();
    writer.reset();
}

bool CModemJob::Identify(CPortWriter& writer)
{
    if (!Pause(kPowerUpMs))
        throw StoppedDuringPause();
    writer.Flush();
    writer.Send("ATV1\r");
    writer.WaitFor("\r\nOK\r\n", kEchoOffTimeoutMs, true);

    bool modelFound = false;
    bool versionFound = false;
    const std::vector<IdentifyQuestion>& questions = IdentifyQuestions();
    Ask(writer, questions.front(), &modelFound, &versionFound);
    if (modelFound && ModelNeedsNoVersion(ModelName()))
        versionFound = true;
    for (size_t i = 1; i < questions.size(); ++i) {
        if (modelFound && versionFound)
            break;
        Ask(writer, questions[i], &modelFound, &versionFound);
    }
    return modelFound && versionFound;
}

void CModemJob::Ask(CPortWriter& writer, const IdentifyQuestion& question, bool* modelFound, bool* versionFound)
{
    if (!Pause(kBetweenCommandsMs))
        throw StoppedDuringPause();
    writer.Flush();
    writer.Send("%s", question.command);
    writer.WaitFor(question.pattern, question.timeoutMs, true);
    const std::string answer = writer.GetMatch(0);
    if (!*modelFound) {
        if (const ModelRecord* model = MatchModel(Models(), answer)) {
            std::lock_guard<std::mutex> hold(m_lock);
            m_modelName = model->name;
            m_needsAmpersandG = model->needsAmpersandG;
            m_defaultCommandSet = model->defaultCommandSet;
            m_locks = model->locks;
            *modelFound = true;
        }
    }
    if (!*versionFound) {
        std::string version;
        if (ParseVersion(answer, &version)) {
            std::lock_guard<std::mutex> hold(m_lock);
            m_version = version;
            *versionFound = true;
        }
    }
}

bool CModemJob::Configure(CPortWriter& writer)
{
    ModelRecord model;
    std::string version, countryName;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        model.name = m_modelName;
        model.needsAmpersandG = m_needsAmpersandG;
        model.defaultCommandSet = m_defaultCommandSet;
        model.locks = m_locks;
        version = m_version;
        countryName = m_countryName;
    }
    CommandSetChoice choice = ChooseCommandSet(model, version);
    if (choice.noLockMatched)
        Note(writer, "no version lock of " + model.name + " names version " + version +
                         "; using its default command set " + CommandSetName(choice.commandSet));
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_commandSet = choice.commandSet;
    }

    // Sending country 0 would set whatever country 0 means for this chip: a name that is not in the
    // catalogue configures nothing.
    const CountryRecord* country = FindCountryExact(countryName);
    if (country == nullptr) {
        Note(writer, "country \"" + countryName + "\" is not in Country.ini; nothing sent");
        return false;
    }
    const int code = CountryCodeFor(*country, choice.commandSet);
    // The last identification answer may still be arriving (its closing "OK" comes after the line the
    // pattern took). Were it flushed too early, that "OK" would pass for the answer to the country
    // command, and every later command would be judged by the answer of the one before it. When the
    // command-line run says go right after identification, this pause is what keeps them apart.
    if (!Pause(kBetweenCommandsMs))
        throw StoppedDuringPause();
    for (const CommandStep& step : CommandSequence(choice.commandSet, code, model.needsAmpersandG == 1)) {
        writer.Flush();
        if (step.pauseBeforeSendMs > 0 && !Pause(step.pauseBeforeSendMs))
            throw StoppedDuringPause();
        writer.Send("%s", step.command.c_str());
        writer.WaitFor("OK", kCommandSetTimeoutMs, true);
        if (step.pauseAfterOkMs > 0 && !Pause(step.pauseAfterOkMs))
            throw StoppedDuringPause();
    }

    ModemIniRecord record;
    record.portNumber = m_portNumber;
    record.modelName = model.name;
    record.countryName = countryName;
    record.countryCodeHex = HexCountryCode(code);
    record.commandSet = choice.commandSet;
    std::string error;
    if (!WriteModemIniRecord(record, &error)) {
        Note(writer, "modem.ini could not be written: " + error);
        std::lock_guard<std::mutex> hold(m_lock);
        m_modemIniError = error;
        return false;
    }
    std::lock_guard<std::mutex> hold(m_lock);
    m_countryCodeHex = record.countryCodeHex;
    return true;
}
