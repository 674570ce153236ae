// INI files read and written with the classic private-profile rules the catalogues were written for:
// section and key names match without regard to case, the first matching section and the first matching
// key in it win, values are trimmed and cut to the caller's buffer size, and a write changes one value
// while keeping every other line of the file (creating the file or the section when missing).
#pragma once

#include <string>
#include <utility>
#include <vector>

// The value of key in section, or def when the file, section or key is missing. The result is cut to
// bufferSize - 1 characters, as a fixed buffer of bufferSize characters would cut it.
std::string ProfileGetString(const std::string& file, const std::string& section, const std::string& key,
                             const std::string& def, size_t bufferSize);

// The leading decimal integer of the value (optional sign; no digits gives 0), or def when the key is
// missing or its value is empty.
int ProfileGetInt(const std::string& file, const std::string& section, const std::string& key, int def);

// The keys of the first section called section, trimmed and in file order (repeated keys as often as
// they stand there); none when the file or the section is missing.
std::vector<std::string> ProfileSectionKeys(const std::string& file, const std::string& section);

// Sets key = value in section; false when the file cannot be written.
bool ProfileWriteString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& value);

// Sets several keys of one section in one rewrite of the file, in the order given. The outcome is the
// same as one ProfileWriteString per key, but a crash never leaves half a record behind. The file is
// replaced only when all of it was written; a file that exists but cannot be read is left alone. On
// failure, error (when given) says why: what could not be done to which file, and the system's reason.
bool ProfileWriteStrings(const std::string& file, const std::string& section,
                         const std::vector<std::pair<std::string, std::string>>& keyValues,
                         std::string* error = nullptr);
