// The command-line run's message log, Meridia.txt in the current directory: what happened, for the
// script or technician that ran the program without a window. Nothing is written unless it was opened.
#pragma once

#include <cstdio>
#include <string>

class CMessageLog {
public:
    CMessageLog() = default;
    ~CMessageLog();
    CMessageLog(const CMessageLog&) = delete;
    CMessageLog& operator=(const CMessageLog&) = delete;

    // Creates the file, replacing an existing one; false when it cannot be created.
    bool Open(const std::string& path);
    bool IsOpen() const { return file_ != nullptr; }
    // Writes text exactly as given (the messages carry their own line ends) and flushes it at once, so
    // that a forced shutdown right after loses nothing.
    void Write(const std::string& text);
    void Close();

private:
    std::FILE* file_ = nullptr;
};

extern const char* const kMessageLogName;
