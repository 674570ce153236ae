#pragma once
// Regular expressions for answer patterns (PCRE2, 8-bit). Compiled with the caller's options, matched
// over the whole subject from offset 0, with the offsets of the whole match and of every group kept.

#include <cstddef>
#include <exception>
#include <string>
#include <vector>

class Regexp2 {
public:
    class exception : public std::exception {
    public:
        explicit exception(std::string message) : m_message(std::move(message)) {}
        const char* what() const noexcept override { return m_message.c_str(); }
        const std::string& Message() const { return m_message; }

    private:
        std::string m_message;
    };

    // An expression that never compiled: Match throws "match on unitialized expression".
    Regexp2();
    // Throws exception("<PCRE's message> at: <pattern from the error offset on>") when it does not compile.
    explicit Regexp2(const std::string& pattern, unsigned options = 0);
    ~Regexp2();
    Regexp2(const Regexp2&) = delete;
    Regexp2& operator=(const Regexp2&) = delete;

    // True when the expression matches somewhere in subject; records the offsets PCRE reports.
    bool Match(const std::string& subject);
    // Number of groups in the pattern.
    int CaptureCount() const { return m_captureCount; }
    // Number of offset pairs the last successful match recorded (whole match plus groups up to the last set).
    int SubstringCount() const { return static_cast<int>(m_pairs.size()); }
    // Text of pair index (0 = whole match; a group that did not take part gives ""). Throws
    // exception("bad substring index") beyond the recorded pairs.
    std::string Substring(int index) const;

private:
    void* m_code = nullptr;  // pcre2_code_8
    int m_captureCount = 0;
    std::string m_subject;
    std::vector<std::pair<long, long>> m_pairs;  // -1,-1 for a group that did not take part
};
