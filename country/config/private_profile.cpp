#include "country/config/private_profile.h"

#include "country/PortWriter/DirectoryLock.h"
#include "country/config/text_fields.h"

#include <filesystem>
#include <fstream>
#include <mutex>

namespace {

// Writers in different worker threads must not interleave their read-modify-write of one file.
std::mutex g_writeLock;

std::vector<std::string> ReadLines(const std::string& file, bool* exists)
{
    std::vector<std::string> lines;
    std::ifstream in(file, std::ios::binary);
    *exists = static_cast<bool>(in);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// "[name]" with blanks allowed round the name; returns false for any other line.
bool SectionName(const std::string& line, std::string* name)
{
    std::string text = TrimBlanks(line);
    if (text.empty() || text[0] != '[')
        return false;
    size_t close = text.find(']');
    *name = TrimBlanks(text.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return true;
}

// "key=value"; comment lines and lines without "=" hold no key.
bool KeyValue(const std::string& line, std::string* key, std::string* value)
{
    std::string text = TrimBlanks(line);
    if (text.empty() || text[0] == ';')
        return false;
    size_t equals = text.find('=');
    if (equals == std::string::npos)
        return false;
    *key = TrimBlanks(text.substr(0, equals));
    *value = TrimBlanks(text.substr(equals + 1));
    return true;
}

// Index of the first line of the first section called section (the line after its header), or npos.
size_t FindSection(const std::vector<std::string>& lines, const std::string& section)
{
    std::string name;
    for (size_t i = 0; i < lines.size(); ++i)
        if (SectionName(lines[i], &name) && EqualsNoCase(name, section))
            return i + 1;
    return std::string::npos;
}

size_t SectionEnd(const std::vector<std::string>& lines, size_t begin)
{
    std::string name;
    size_t i = begin;
    while (i < lines.size() && !SectionName(lines[i], &name))
        ++i;
    return i;
}

bool FindValue(const std::string& file, const std::string& section, const std::string& key, std::string* value)
{
    bool exists = false;
    std::vector<std::string> lines = ReadLines(file, &exists);
    size_t begin = FindSection(lines, section);
    if (begin == std::string::npos)
        return false;
    size_t end = SectionEnd(lines, begin);
    std::string lineKey;
    for (size_t i = begin; i < end; ++i) {
        if (KeyValue(lines[i], &lineKey, value) && EqualsNoCase(lineKey, key)) {
            // A value wrapped in matching quotes is given without them.
            if (value->size() >= 2 && (value->front() == '"' || value->front() == '\'') &&
                value->back() == value->front())
                *value = value->substr(1, value->size() - 2);
            return true;
        }
    }
    return false;
}

void SetKey(std::vector<std::string>& lines, const std::string& section, const std::string& key,
            const std::string& value)
{
    size_t begin = FindSection(lines, section);
    if (begin == std::string::npos) {
        if (!lines.empty() && !TrimBlanks(lines.back()).empty())
            lines.push_back(std::string());
        lines.push_back("[" + section + "]");
        lines.push_back(key + "=" + value);
        return;
    }
    size_t end = SectionEnd(lines, begin);
    std::string lineKey, lineValue;
    for (size_t i = begin; i < end; ++i) {
        if (KeyValue(lines[i], &lineKey, &lineValue) && EqualsNoCase(lineKey, key)) {
            lines[i] = lineKey + "=" + value;
            return;
        }
    }
    // New keys go after the section's last non-blank line, so the blank line before the next section stays.
    size_t insertAt = end;
    while (insertAt > begin && TrimBlanks(lines[insertAt - 1]).empty())
        --insertAt;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), key + "=" + value);
}

// Replaces the file as a whole through a temporary beside it, so readers never see half a file.
bool WriteLines(const std::string& file, const std::vector<std::string>& lines)
{
    std::string temporary = file + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out)
            return false;
        for (const std::string& line : lines)
            out << line << "\r\n";
        out.flush();
        if (!out) {
            out.close();
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, file, error);
    if (error) {
        std::filesystem::remove(temporary, error);
        return false;
    }
    return true;
}

}  // namespace

std::string ProfileGetString(const std::string& file, const std::string& section, const std::string& key,
                             const std::string& def, size_t bufferSize)
{
    std::string value;
    if (!FindValue(file, section, key, &value))
        value = def;
    if (bufferSize == 0)
        return std::string();
    if (value.size() > bufferSize - 1)
        value.resize(bufferSize - 1);
    return value;
}

int ProfileGetInt(const std::string& file, const std::string& section, const std::string& key, int def)
{
    std::string value;
    if (!FindValue(file, section, key, &value) || value.empty())
        return def;
    return LeadingInt(value);
}

bool ProfileWriteString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& value)
{
    return ProfileWriteStrings(file, section, {{key, value}});
}

bool ProfileWriteStrings(const std::string& file, const std::string& section,
                         const std::vector<std::pair<std::string, std::string>>& keyValues)
{
    std::lock_guard<std::mutex> hold(g_writeLock);
    // Other programs may change the same file; without the lock one of two changes made at once is lost.
    // When the lock cannot be had (a missing directory) the write goes on and fails or succeeds by itself.
    CDirectoryLock otherPrograms(std::filesystem::path(file).parent_path().string());
    bool exists = false;
    std::vector<std::string> lines = ReadLines(file, &exists);
    for (const auto& keyValue : keyValues)
        SetKey(lines, section, keyValue.first, keyValue.second);
    return WriteLines(file, lines);
}
