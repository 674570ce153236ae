// Helpers of the Lucent/Agere protocol tests: a private directory, Intel HEX text built independently
// of the engine's code, and images whose first record carries the Lucent/Agere header fields.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace lucenttest {

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "lucflsh-XXXXXX").string();
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (mkdtemp(name.data()) != nullptr) m_path = name.data();
    }
    ~TempDir()
    {
        std::error_code ec;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return m_path; }
    std::string file(const std::string &name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline void writeFile(const std::string &path, const std::string &content)
{
    std::ofstream out(path, std::ios::binary);
    out << content;
}

inline std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// One record line, no line end, upper-case digits, correct checksum.
inline std::string hexRecord(int type, std::uint32_t offset, const std::vector<std::uint8_t> &data)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, ":%02X%04X%02X", static_cast<unsigned>(data.size()), offset & 0xFFFF,
                  static_cast<unsigned>(type));
    std::string line = buffer;
    unsigned sum = static_cast<unsigned>(data.size()) + ((offset >> 8) & 0xFF) + (offset & 0xFF) +
                   static_cast<unsigned>(type);
    for (std::uint8_t b : data) {
        std::snprintf(buffer, sizeof buffer, "%02X", b);
        line += buffer;
        sum += b;
    }
    std::snprintf(buffer, sizeof buffer, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + buffer;
}

inline std::string crlfLines(const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines) text += line + "\r\n";
    return text;
}

inline std::string joined(const std::vector<std::string> &lines, const std::string &prefix = "")
{
    std::string text;
    for (const std::string &line : lines) text += (text.empty() ? "" : "\n") + prefix + line;
    return text;
}

// An image: a first 32-byte record at 0 whose bytes 28-31 are the header (flash version, low byte
// first, type letter, sector size), then nRecords - 1 records of 16 bytes, then the end record.
struct Image {
    std::vector<std::string> lines;
    std::vector<std::uint8_t> bytes;  // the flash contents from address 0
};

inline Image makeImage(int nRecords, std::uint16_t nVersion = 0x10AF, char chType = 'U', std::uint8_t nSector = 0x40)
{
    Image image;
    std::vector<std::uint8_t> first(32);
    for (std::size_t i = 0; i < 28; ++i) first[i] = static_cast<std::uint8_t>(0x11 * (i + 1));
    first[28] = static_cast<std::uint8_t>(nVersion & 0xFF);
    first[29] = static_cast<std::uint8_t>(nVersion >> 8);
    first[30] = static_cast<std::uint8_t>(chType);
    first[31] = nSector;
    image.lines.push_back(hexRecord(0, 0, first));
    image.bytes = first;
    for (int r = 1; r < nRecords; ++r) {
        std::vector<std::uint8_t> data(16);
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(r * 7 + i * 13);
        image.lines.push_back(hexRecord(0, static_cast<std::uint32_t>(image.bytes.size()), data));
        image.bytes.insert(image.bytes.end(), data.begin(), data.end());
    }
    image.lines.push_back(":00000001FF");
    return image;
}

// A loader of our own: a few records of a fixed pattern at 0x8000 and the end record.
inline std::vector<std::string> makeLoader(int nRecords, std::uint8_t nSeed)
{
    std::vector<std::string> lines;
    for (int r = 0; r < nRecords; ++r) {
        std::vector<std::uint8_t> data(16);
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(nSeed + r * 3 + i);
        lines.push_back(hexRecord(0, static_cast<std::uint32_t>(0x8000 + r * 16), data));
    }
    lines.push_back(":00000001FF");
    return lines;
}

} // namespace lucenttest
