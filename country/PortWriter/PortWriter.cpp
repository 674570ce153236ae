#include "country/PortWriter/PortWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "country/PortWriter/CountryClock.h"
#include "country/PortWriter/Printable.h"
#include "country/PortWriter/TickTimer.h"

namespace {

// Between passes WaitFor sleeps on the data, line and stop events, never longer than this (logical ms)
// and never past its time-out: a byte or the stop event wakes it at once, and an idle wait costs only a
// few wake-ups a second (36 ports waking every few milliseconds would cost several percent of a core).
constexpr long kWaitSliceMs = 200;

int TrafficLogMode(int logMode) {
    switch (logMode) {
    case CPortWriter::kLogByteByByte: return CTrafficLog::kByteByByte;
    case CPortWriter::kLogHex: return CTrafficLog::kHex;
    case CPortWriter::kLogNone: return CTrafficLog::kNoFile;
    default: return CTrafficLog::kText;
    }
}

// The log of a writer opened with neither settings nor a file name.
std::string FallbackLogName() {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/TEST.LOG";
}

// Trace lines show the time of day followed by a space inside the brackets.
std::string TraceTime() { return CClock::TimeOfDay() + " "; }

}  // namespace

CPortWriter::CPortWriter(CWaitObserver* observer, CTraceSink* traceSink, CEvent* stopEvent)
    : m_traceSink(traceSink), m_stopEvent(stopEvent), m_observer(observer) {}

CPortWriter::~CPortWriter() {
    // The read thread must be gone before the queues and locks it uses.
    Close();
    m_port.reset();
    m_log.reset();
}

bool CPortWriter::Open(const CPortSettings* settings, int logMode, int stopTraceFlag, bool openNow,
                       const std::string& logFileName) {
    Close();
    m_settings = settings;
    m_stopTraceFlag = stopTraceFlag;
    m_port.reset(settings != nullptr ? settings->CreatePort() : nullptr);
    const int mode = TrafficLogMode(logMode);
    if (!logFileName.empty())
        m_log.reset(new CTrafficLog(logFileName, mode, "a"));
    else if (settings != nullptr)
        m_log.reset(new CTrafficLog(settings->LogFileName(), mode, "w"));
    else
        m_log.reset(new CTrafficLog(FallbackLogName(), mode, "w"));
    if (!openNow)
        return true;
    if (!m_port)
        return false;
    if (m_port->Open(*settings, this, stopTraceFlag) == CPort::kNoHandle)
        return false;
    const std::string note = m_port->OpenNote();
    if (!note.empty())
        Trace("\n[[--- %s\n", note.c_str());
    return true;
}

void CPortWriter::Close() {
    if (m_port && m_port->IsOpen())
        m_port->Close();
}

void CPortWriter::Send(const char* format, ...) {
    char command[kSendBufferSize];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(command, sizeof command, format, args);
    va_end(args);
    if (n < 0)
        return;
    const int length = std::min(n, kSendBufferSize - 1);
    if (m_sendTrace && m_echo && m_traceSink != nullptr)
        m_traceSink->OnTrace("[" + PrintableText(std::string(command, static_cast<size_t>(length))) + "]");
    TimedWrite(command, length);
}

void CPortWriter::Write(const char* bytes, int length, CEvent* completion) {
    if (completion == nullptr) {
        TimedWrite(bytes, length);
        return;
    }
    if (m_port)
        m_port->Write(bytes, length, completion);
}

void CPortWriter::TimedWrite(const char* bytes, int length) {
    // A stop raised between two exchanges belongs to the next one: the command is not sent at all.
    if (m_stopEvent != nullptr && m_stopEvent->IsSet()) {
        m_stopEvent->Reset();
        throw CPortWriterError(this, CPortWriterError::kStopped);
    }
    if (length <= 0)
        return;
    if (!m_port || !m_port->IsOpen())
        throw CPortWriterError(this, CPortWriterError::kWriteTimeout);

    CEvent done;
    CTickTimer timer(m_writeTimeoutMs, false);
    m_port->Write(bytes, length, &done);
    CWaitSet set;
    set.Add(done);
    set.Add(timer.Event());
    if (m_stopEvent != nullptr)
        set.Add(*m_stopEvent);
    CWaitable* first = set.Wait(-1);
    if (first == &done)
        return;
    // The completion event dies with this frame; the port must not set it later.
    m_port->ForgetCompletion(&done);
    if (first == m_stopEvent && m_stopEvent != nullptr)
        throw CPortWriterError(this, CPortWriterError::kStopped);
    // The timer expired (or the wait itself failed): the line does not take the bytes.
    m_port->Reset();
    throw CPortWriterError(this, CPortWriterError::kWriteTimeout);
}

void CPortWriter::Trace(const char* format, ...) {
    if (!m_log)
        return;
    va_list args;
    va_start(args, format);
    m_log->PrintV(format, args);
    va_end(args);
}

void CPortWriter::Notify(const std::string& text) {
    if (m_observer != nullptr)
        m_observer->OnWaitText(text);
}

bool CPortWriter::TakeByte(unsigned char& byte) {
    CMutexLock hold(m_receiveLock);
    while (!m_blocks.empty()) {
        Block& block = m_blocks.front();
        if (block.readPoint < block.length) {
            byte = static_cast<unsigned char>(block.buffer[block.readPoint++]);
            --m_byteCount;
            if (block.readPoint == block.length) {
                m_blocks.pop_front();
                --m_blockCount;
            }
            return true;
        }
        m_blocks.pop_front();
        --m_blockCount;
    }
    return false;
}

bool CPortWriter::TakeLineEvent(int& bits) {
    CMutexLock hold(m_lineEventLock);
    if (m_lineEvents.empty())
        return false;
    bits = m_lineEvents.front();
    m_lineEvents.pop_front();
    --m_lineEventCount;
    return true;
}

int CPortWriter::WaitFor(const char* pattern, long timeoutMs, bool throwOnFailure) {
    const int64_t start = CClock::NowMs();
    std::unique_ptr<Regexp2> expression;
    if (pattern != nullptr)
        expression.reset(new Regexp2(pattern, 0));

    Notify(pattern != nullptr ? pattern : "-- Time --");
    // The observer hears the end of every wait, also one that ends by throwing.
    struct EndNotice {
        CPortWriter* writer;
        ~EndNotice() { writer->Notify(std::string()); }
    } endNotice{this};

    const std::string printablePattern = PrintableText(pattern);
    if (m_waitTrace)
        Trace("\n[[--- START waiting for [%s] in [%ld] milliseconds at time [%s]\n", printablePattern.c_str(),
              timeoutMs, TraceTime().c_str());

    std::string received;
    std::string window;
    bool done = false;
    int result = kTimedOut;
    bool stopSeen = false;  // the stop event ended the last sleep (which took its signal)

    CWaitSet sleepSet;
    sleepSet.Add(m_dataEvent);
    sleepSet.Add(m_lineEvent);
    if (m_stopEvent != nullptr)
        sleepSet.Add(*m_stopEvent);

    for (;;) {
        if (m_stopEvent != nullptr && (stopSeen || m_stopEvent->IsSet())) {
            m_stopEvent->Reset();
            if (throwOnFailure)
                throw CPortWriterError(this, CPortWriterError::kStopped);
            return kStopped;
        }

        if (timeoutMs > 0) {
            const long elapsed = static_cast<long>(CClock::NowMs() - start);
            if (elapsed > timeoutMs) {
                done = true;
                result = kTimedOut;
                if (expression) {
                    if (m_waitTrace)
                        Trace("\n---]] DID NOT FIND [%s] in [%s] at time [%s], after [%ld] milliseconds\n",
                              printablePattern.c_str(), PrintableText(received).c_str(), TraceTime().c_str(),
                              elapsed);
                    if (throwOnFailure)
                        throw CPortWriterError(this, CPortWriterError::kNotFound, pattern);
                    return kTimedOut;
                }
                if (m_waitTrace)
                    Trace("\n---]] Wait done at time [%s], after [%ld] milliseconds\n", TraceTime().c_str(), elapsed);
            }
        }

        unsigned char byte = 0;
        while (!(done && expression) && TakeByte(byte)) {
            if (byte == 0x00)
                continue;  // NULs are line noise here and would end the pattern subject early elsewhere
            received += static_cast<char>(byte);
            window += static_cast<char>(byte);
            if (m_echo && m_log)
                m_log->WriteByte(byte, false);
            if (expression && expression->Match(window)) {
                done = true;
                result = kMatched;
                for (std::string& capture : m_captures)
                    capture.clear();
                const int pairs = std::min(expression->SubstringCount(), kCaptures);
                for (int i = 0; i < pairs; ++i)
                    m_captures[i] = expression->Substring(i);
                if (m_waitTrace)
                    Trace("\n---]] FOUND [%s] in [%s] at time [%s], in [%ld] milliseconds\n", printablePattern.c_str(),
                          PrintableText(received).c_str(), TraceTime().c_str(),
                          static_cast<long>(CClock::NowMs() - start));
                break;
            }
            if (window.size() >= kWindowLimit)
                window.erase(0, window.size() - kWindowKeep);
        }

        int lineBits = 0;
        TakeLineEvent(lineBits);  // line events only wake the wait; their text went to the log already

        if (done)
            return result;

        // Sleep until something arrives, the stop event is raised, or (at most) the time-out passes.
        bool moreLineEvents;
        {
            CMutexLock hold(m_lineEventLock);
            moreLineEvents = !m_lineEvents.empty();
        }
        if (moreLineEvents)
            continue;
        long slice = kWaitSliceMs;
        if (timeoutMs > 0) {
            const long left = timeoutMs - static_cast<long>(CClock::NowMs() - start) + 1;
            slice = std::max(0L, std::min(slice, left));
        }
        if (sleepSet.Wait(static_cast<long>(CClock::ToRealMs(slice))) == m_stopEvent && m_stopEvent != nullptr)
            stopSeen = true;
    }
}

std::string CPortWriter::GetMatch(int index) const {
    if (index < 0 || index >= kCaptures)
        return std::string();
    return m_captures[index];
}

long CPortWriter::QueuedBytes() {
    CMutexLock hold(m_receiveLock);
    return m_byteCount;
}

void CPortWriter::Flush() {
    CMutexLock hold(m_receiveLock);
    m_blocks.clear();
    m_blockCount = 0;
    m_byteCount = 0;
    if (m_port)
        m_port->Reset();
}

void CPortWriter::OnData(CPort* port, char* buffer, int length) {
    {
        CMutexLock hold(m_receiveLock);
        Block block;
        block.buffer.reset(buffer);
        block.length = length;
        m_blocks.push_back(std::move(block));
        ++m_blockCount;
        m_byteCount += length;
    }
    m_dataEvent.Set();
}

void CPortWriter::OnLineEvent(CPort* port, int lineStatus) {
    {
        CMutexLock hold(m_lineEventLock);
        m_lineEvents.push_back(lineStatus);
        ++m_lineEventCount;
        if (m_echo && m_log) {
            LineStatusOptions options;
            options.modemLines = m_modemLines;
            options.breaks = m_breaks;
            options.lineErrors = m_lineErrors;
            const int status = port != nullptr ? port->GetModemStatus() : 0;
            m_log->Write(LineStatusText(lineStatus, status, options, false));
        }
    }
    m_lineEvent.Set();
}
