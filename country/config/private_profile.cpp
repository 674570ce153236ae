#include "country/config/private_profile.h"

#include "country/PortWriter/DirectoryLock.h"
#include "country/config/file_paths.h"
#include "country/config/text_fields.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>

namespace {

// Writers in different worker threads must not interleave their read-modify-write of one file.
std::mutex g_writeLock;

// The system's text for the error of the call that just failed (some failures set no error number).
std::string LastErrorText()
{
    return errno != 0 ? std::strerror(errno) : "unknown error";
}

// The reason, and when the user lacks permission, what to do about it.
std::string WriteErrorText(const std::string& file, int error)
{
    std::string text = error != 0 ? std::strerror(error) : "unknown error";
    const std::string hint = WritePermissionHint(std::filesystem::path(file).parent_path().string(), error);
    if (!hint.empty())
        text += "; " + hint;
    return text;
}

// The lines of file (none when it does not exist). False, with the reason, when the file is there but
// could not be read whole: a rewrite from what was read would then drop whatever was not.
bool ReadLines(const std::string& file, std::vector<std::string>* lines, std::string* error)
{
    lines->clear();
    std::error_code ignored;
    const std::filesystem::file_status status = std::filesystem::status(file, ignored);
    if (!std::filesystem::exists(status))
        return true;
    if (std::filesystem::is_directory(status)) {
        *error = "cannot read " + file + ": " + std::strerror(EISDIR);
        return false;
    }
    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        *error = "cannot read " + file + ": " + LastErrorText();
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines->push_back(line);
    }
    if (in.bad()) {
        *error = "cannot read " + file + ": " + LastErrorText();
        return false;
    }
    return true;
}

std::vector<std::string> ReadLinesOrNone(const std::string& file)
{
    std::vector<std::string> lines;
    std::string ignored;
    if (!ReadLines(file, &lines, &ignored))
        lines.clear();
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
    std::vector<std::string> lines = ReadLinesOrNone(file);
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

// Replaces the file (a real file: the caller followed its links) as a whole through a temporary beside
// it, renamed over it only once every line is written: readers never see half a file, and a failure (a
// full disc, a file size limit) leaves the old file whole. The replacement keeps the old file's
// permissions.
bool WriteLines(const std::string& file, const std::vector<std::string>& lines, std::string* error)
{
    const std::string temporary = file + ".new";
    std::error_code ignored;
    {
        errno = 0;
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) {
            *error = "cannot create " + temporary + ": " + WriteErrorText(file, errno);
            return false;
        }
        for (const std::string& line : lines)
            out << line << "\r\n";
        out.flush();
        if (out)
            out.close();  // a close can still fail to write what was buffered
        if (!out) {
            *error = "cannot write " + temporary + ": " + LastErrorText();
            out.close();
            std::filesystem::remove(temporary, ignored);
            return false;
        }
    }
    const std::filesystem::file_status old = std::filesystem::status(file, ignored);
    if (std::filesystem::exists(old))
        std::filesystem::permissions(temporary, old.permissions(), ignored);
    std::error_code renameError;
    std::filesystem::rename(temporary, file, renameError);
    if (renameError) {
        *error = "cannot replace " + file + ": " + WriteErrorText(file, renameError.value());
        std::filesystem::remove(temporary, ignored);
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

std::vector<std::string> ProfileSectionKeys(const std::string& file, const std::string& section)
{
    std::vector<std::string> keys;
    const std::vector<std::string> lines = ReadLinesOrNone(file);
    const size_t begin = FindSection(lines, section);
    if (begin == std::string::npos)
        return keys;
    const size_t end = SectionEnd(lines, begin);
    std::string key, value;
    for (size_t i = begin; i < end; ++i)
        if (KeyValue(lines[i], &key, &value))
            keys.push_back(key);
    return keys;
}

bool ProfileWriteString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& value)
{
    return ProfileWriteStrings(file, section, {{key, value}});
}

bool ProfileWriteStrings(const std::string& file, const std::string& section,
                         const std::vector<std::pair<std::string, std::string>>& keyValues, std::string* error)
{
    std::string reason;
    // A link (modem.ini beside the program, pointing into /var/lib) stays a link: its file is replaced.
    const std::string target = FollowFileLinks(file);
    std::lock_guard<std::mutex> hold(g_writeLock);
    // Other programs may change the same file; without the lock one of two changes made at once is lost.
    // When the lock cannot be had (a missing directory) the write goes on and fails or succeeds by itself.
    CDirectoryLock otherPrograms(std::filesystem::path(target).parent_path().string());
    std::vector<std::string> lines;
    bool written = ReadLines(target, &lines, &reason);
    if (written) {
        for (const auto& keyValue : keyValues)
            SetKey(lines, section, keyValue.first, keyValue.second);
        written = WriteLines(target, lines, &reason);
    }
    if (error != nullptr)
        *error = reason;
    return written;
}
