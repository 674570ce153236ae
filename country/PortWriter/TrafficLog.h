#pragma once
// The per-port traffic log: every byte the modem sent and the port writer's trace lines, flushed after
// every byte so that the record survives a crash or a pulled plug.

#include <cstdarg>
#include <cstdio>
#include <string>

#include "country/PortWriter/SyncObjects.h"

class CTrafficLog {
public:
    enum Mode { kByteByByte = 0, kText = 1, kHex = 2, kNoFile = 3 };

    // Opens fileName with openMode ("w" or "a") unless mode is kNoFile. A file that cannot be opened
    // leaves the log without a file, and every write is then ignored.
    CTrafficLog(const std::string& fileName, int mode, const char* openMode);
    ~CTrafficLog();
    CTrafficLog(const CTrafficLog&) = delete;
    CTrafficLog& operator=(const CTrafficLog&) = delete;

    // Logs one byte; sent is true for bytes going to the modem.
    void WriteByte(unsigned char byte, bool sent);
    // Formats (at most 4095 characters) and logs every character as received data, atomically.
    void Print(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void PrintV(const char* format, va_list args);
    // Logs a text as received data, atomically.
    void Write(const std::string& text);

    const std::string& FileName() const { return m_fileName; }
    bool HasFile() const { return m_file != nullptr; }
    int GetMode() const { return m_mode; }

private:
    void WriteByteLocked(unsigned char byte, bool sent);
    void WriteTimePrefix();
    void EndLine();

    std::string m_fileName;
    FILE* m_file = nullptr;
    CMutex m_lock;
    unsigned char m_lastByte = 0;
    bool m_atLineStart = true;
    int m_lineLength = 0;  // text mode: characters on the line; hex mode: entries on the line
    int m_mode;
};
