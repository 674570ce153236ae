#pragma once
// What a failed exchange of the port writer throws.

#include <exception>
#include <string>

class CPortWriter;

class CPortWriterError : public std::exception {
public:
    enum {
        kWriteTimeout = 2,  // the write did not complete within the write time-out
        kStopped = -2,      // the stop event was seen during a write or a wait
        kNotFound = -1,     // WaitFor with throwing on: the time-out passed without a match (text = pattern)
    };

    CPortWriterError(CPortWriter* writer, int code, std::string text = std::string());

    CPortWriter* Writer() const { return m_writer; }
    int Code() const { return m_code; }
    const std::string& Text() const { return m_text; }
    // "port writer error <code>" followed by ": <text>" when there is a text.
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    CPortWriter* m_writer;
    int m_code;
    std::string m_text;
    std::string m_what;
};
