#include "country/PortWriter/TrafficLog.h"

#include <cstdio>
#include <ctime>

#include "country/PortWriter/CountryClock.h"
#include "country/PortWriter/Printable.h"

namespace {
constexpr int kPrintBufferSize = 4096;
constexpr int kMaxTextLine = 75;      // a text-mode line is ended once it holds more than this
constexpr int kHexEntriesPerLine = 16;
}  // namespace

CTrafficLog::CTrafficLog(const std::string& fileName, int mode, const char* openMode)
    : m_fileName(fileName), m_mode(mode) {
    if (mode != kNoFile && !fileName.empty())
        m_file = std::fopen(fileName.c_str(), openMode != nullptr ? openMode : "w");
}

CTrafficLog::~CTrafficLog() {
    CMutexLock hold(m_lock);
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}

void CTrafficLog::WriteTimePrefix() {
    std::fprintf(m_file, "[%s] ", CClock::TimeOfDay().c_str());
    m_atLineStart = false;
    m_lineLength = 0;
}

void CTrafficLog::EndLine() {
    std::fputc('\n', m_file);
    m_atLineStart = true;
}

void CTrafficLog::WriteByte(unsigned char byte, bool sent) {
    CMutexLock hold(m_lock);
    WriteByteLocked(byte, sent);
}

void CTrafficLog::WriteByteLocked(unsigned char byte, bool sent) {
    if (m_file == nullptr)
        return;
    switch (m_mode) {
    case kByteByByte: {
        long seconds = 0;
        int ms = 0;
        CClock::WallClock(seconds, ms);
        const char* direction = sent ? "<--" : "-->";
        if (byte >= 0x20 && byte < 0x7f)
            std::fprintf(m_file, "%s%ld.%3.3d: '%c' <%2.2x>\n", direction, seconds, ms, byte, byte);
        else
            std::fprintf(m_file, "%s%ld.%3.3d: '.' <%2.2x>\n", direction, seconds, ms, byte);
        break;
    }
    case kText:
        if (sent)
            break;
        if (byte == '\r' || (byte == '\n' && m_lastByte != '\r')) {
            if (m_atLineStart)
                WriteTimePrefix();
            EndLine();
        } else if (byte != '\n') {
            if (m_atLineStart)
                WriteTimePrefix();
            const std::string printable = PrintableByte(byte);
            std::fputs(printable.c_str(), m_file);
            m_lineLength += static_cast<int>(printable.size());
            if (m_lineLength > kMaxTextLine)
                EndLine();
        }
        break;
    case kHex:
        std::fprintf(m_file, "[%2.2x]", byte);
        ++m_lineLength;
        if (byte == '\r' || m_lineLength >= kHexEntriesPerLine) {
            std::fputc('\n', m_file);
            m_lineLength = 0;
        }
        break;
    default:
        break;
    }
    m_lastByte = byte;
    // Flushed after every byte: the log is the record of what happened when the program dies mid-dialogue.
    std::fflush(m_file);
}

void CTrafficLog::PrintV(const char* format, va_list args) {
    char text[kPrintBufferSize];
    const int n = std::vsnprintf(text, sizeof text, format, args);
    if (n <= 0)
        return;
    const int length = n < kPrintBufferSize ? n : kPrintBufferSize - 1;
    Write(std::string(text, static_cast<size_t>(length)));
}

void CTrafficLog::Print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    PrintV(format, args);
    va_end(args);
}

void CTrafficLog::Write(const std::string& text) {
    CMutexLock hold(m_lock);
    for (unsigned char c : text)
        WriteByteLocked(c, false);
}
