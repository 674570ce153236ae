#include "country/PortWriter/Printable.h"

#include <cstdio>

std::string PrintableByte(unsigned char byte) {
    if (byte == '\n')
        return "\\n";
    if (byte == '\r')
        return "\\r";
    // Decided by value rather than isprint(), so that the locale never changes what a log shows.
    if (byte < 0x20 || byte >= 0x7f) {
        char text[8];
        std::snprintf(text, sizeof text, "\\x%2.2x", byte);
        return text;
    }
    return std::string(1, static_cast<char>(byte));
}

std::string PrintableText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text)
        out += PrintableByte(c);
    return out;
}

std::string PrintableText(const char* text) {
    if (text == nullptr)
        return "--NULL-STRING--";
    return PrintableText(std::string(text));
}
