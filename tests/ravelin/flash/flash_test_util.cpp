#include "flash_test_util.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace flashtest {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "flash-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) != nullptr)
        m_path = buffer.data();
}

TempDir::~TempDir()
{
    if (!m_path.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool fileExists(const std::string &path)
{
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

void writeFile(const std::string &path, const std::string &content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string hexRecord(int type, std::uint32_t offset, const std::vector<std::uint8_t> &data)
{
    unsigned sum = static_cast<unsigned>(data.size()) + ((offset >> 8) & 0xFF) + (offset & 0xFF) +
                   static_cast<unsigned>(type);
    char head[16];
    std::snprintf(head, sizeof head, ":%02X%04X%02X", static_cast<unsigned>(data.size()),
                  static_cast<unsigned>(offset & 0xFFFF), static_cast<unsigned>(type));
    std::string line = head;
    for (std::uint8_t byte : data) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        line += digits;
        sum += byte;
    }
    char tail[3];
    std::snprintf(tail, sizeof tail, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + tail;
}

std::string crlfLines(const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines)
        text += line + "\r\n";
    return text;
}

namespace {
std::vector<std::string> splitLines(const std::string &text)
{
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < text.size()) {
        std::string::size_type end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}
} // namespace

std::string lineDiff(const std::string &expected, const std::string &actual)
{
    if (expected == actual)
        return "";
    std::vector<std::string> a = splitLines(expected), b = splitLines(actual);
    std::ostringstream out;
    std::size_t shown = 0;
    for (std::size_t i = 0; i < std::max(a.size(), b.size()) && shown < 20; ++i) {
        std::string left = i < a.size() ? a[i] : "<none>";
        std::string right = i < b.size() ? b[i] : "<none>";
        if (left != right) {
            out << "line " << (i + 1) << ":\n  - " << left << "\n  + " << right << "\n";
            ++shown;
        }
    }
    if (out.str().empty())
        out << "texts differ in line ends\n";
    return out.str();
}

} // namespace flashtest
