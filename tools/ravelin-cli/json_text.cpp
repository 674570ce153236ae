#include "tools/ravelin-cli/json_text.h"

#include <cstdio>

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

// Length of the valid UTF-8 sequence that starts at text[i], or 0 when the byte there starts none.
// Overlong forms, surrogates and code points above U+10FFFF are not valid.
std::size_t ValidSequenceLength(const std::string &text, std::size_t i)
{
    auto at = [&](std::size_t n) { return static_cast<unsigned char>(text[n]); };
    unsigned char lead = at(i);
    std::size_t nLen;
    unsigned char lowest = 0x80, highest = 0xBF;  // range of the first continuation byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        nLen = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        nLen = 3;
        if (lead == 0xE0) lowest = 0xA0;       // no overlong forms
        if (lead == 0xED) highest = 0x9F;      // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        nLen = 4;
        if (lead == 0xF0) lowest = 0x90;       // no overlong forms
        if (lead == 0xF4) highest = 0x8F;      // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (i + nLen > text.size())
        return 0;
    if (at(i + 1) < lowest || at(i + 1) > highest)
        return 0;
    for (std::size_t k = 2; k < nLen; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xBF)
            return 0;
    return nLen;
}

} // namespace

std::string cli_JsonString(const std::string &text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        unsigned char ch = static_cast<unsigned char>(text[i]);
        if (ch >= 0x80) {
            std::size_t nLen = ValidSequenceLength(text, i);
            if (nLen == 0) {
                out += kReplacement;
                ++i;
            } else {
                out.append(text, i, nLen);
                i += nLen;
            }
            continue;
        }
        switch (ch) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (ch < 0x20 || ch == 0x7F) {
                char szEscape[8];
                std::snprintf(szEscape, sizeof szEscape, "\\u%04x", ch);
                out += szEscape;
            } else {
                out += static_cast<char>(ch);
            }
        }
        ++i;
    }
    return out + "\"";
}
