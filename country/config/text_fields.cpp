#include "country/config/text_fields.h"

#include <cctype>
#include <climits>
#include <cstdlib>

namespace {

int Lower(char c)
{
    return std::tolower(static_cast<unsigned char>(c));
}

}  // namespace

std::string TrimBlanks(const std::string& text)
{
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

std::vector<std::string> SplitFields(const std::string& value)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t comma = value.find(',', start);
        fields.push_back(TrimBlanks(value.substr(start, comma == std::string::npos ? std::string::npos
                                                                                    : comma - start)));
        if (comma == std::string::npos)
            return fields;
        start = comma + 1;
    }
}

int LeadingInt(const std::string& text)
{
    long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

bool EqualsNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

bool ContainsNoCase(const std::string& haystack, const std::string& needle)
{
    if (needle.size() > haystack.size())
        return false;
    for (size_t start = 0; start + needle.size() <= haystack.size(); ++start) {
        size_t i = 0;
        while (i < needle.size() && Lower(haystack[start + i]) == Lower(needle[i]))
            ++i;
        if (i == needle.size())
            return true;
    }
    return false;
}

int CompareNoCase(const std::string& a, const std::string& b)
{
    size_t common = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < common; ++i) {
        int difference = Lower(a[i]) - Lower(b[i]);
        if (difference != 0)
            return difference;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

std::string ToUpperAscii(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}
