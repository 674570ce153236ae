#include "tools/ravelin-cli/json_text.h"

#include <cstdio>

std::string cli_JsonString(const std::string &text)
{
    std::string out = "\"";
    for (unsigned char ch : text) {
        switch (ch) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (ch < 0x20 || ch > 0x7E) {
                char szEscape[8];
                std::snprintf(szEscape, sizeof szEscape, "\\u%04x", ch);
                out += szEscape;
            } else {
                out += static_cast<char>(ch);
            }
        }
    }
    return out + "\"";
}
