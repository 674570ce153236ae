#define PCRE2_CODE_UNIT_WIDTH 8
#include "country/PortWriter/Regexp2.h"

#include <pcre2.h>

namespace {
pcre2_code* Code(void* code) { return static_cast<pcre2_code*>(code); }
}  // namespace

Regexp2::Regexp2() = default;

Regexp2::Regexp2(const std::string& pattern, unsigned options) {
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.c_str()), PCRE2_ZERO_TERMINATED, options,
                                     &errorCode, &errorOffset, nullptr);
    if (code == nullptr) {
        PCRE2_UCHAR message[256];
        if (pcre2_get_error_message(errorCode, message, sizeof message) < 0)
            message[0] = 0;
        const size_t from = errorOffset < pattern.size() ? errorOffset : pattern.size();
        throw exception(std::string(reinterpret_cast<const char*>(message)) + " at: " + pattern.substr(from));
    }
    uint32_t captures = 0;
    pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &captures);
    m_code = code;
    m_captureCount = static_cast<int>(captures);
}

Regexp2::~Regexp2() {
    if (m_code != nullptr)
        pcre2_code_free(Code(m_code));
}

bool Regexp2::Match(const std::string& subject) {
    if (m_code == nullptr)
        throw exception("match on unitialized expression");
    // Room for the whole match and every group: three integers per pair in the classic output vector,
    // one pair per capture plus one here.
    pcre2_match_data* data = pcre2_match_data_create(static_cast<uint32_t>(m_captureCount) + 1, nullptr);
    if (data == nullptr)
        throw exception("not enough memory");
    m_subject = subject;
    m_pairs.clear();
    const int rc = pcre2_match(Code(m_code), reinterpret_cast<PCRE2_SPTR>(m_subject.data()), m_subject.size(), 0, 0,
                               data, nullptr);
    if (rc > 0) {
        const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
        for (int i = 0; i < rc; ++i) {
            if (ovector[2 * i] == PCRE2_UNSET)
                m_pairs.emplace_back(-1, -1);
            else
                m_pairs.emplace_back(static_cast<long>(ovector[2 * i]), static_cast<long>(ovector[2 * i + 1]));
        }
    }
    pcre2_match_data_free(data);
    return rc > 0;
}

std::string Regexp2::Substring(int index) const {
    if (index < 0 || index >= static_cast<int>(m_pairs.size()))
        throw exception("bad substring index");
    const auto& pair = m_pairs[static_cast<size_t>(index)];
    if (pair.first < 0 || pair.second < pair.first)
        return std::string();
    return m_subject.substr(static_cast<size_t>(pair.first), static_cast<size_t>(pair.second - pair.first));
}
