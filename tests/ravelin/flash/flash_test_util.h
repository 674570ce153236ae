// Small helpers shared by the flash engine's tests: a private temporary directory, whole-file
// reads and writes, and Intel HEX record text built independently of the engine's own code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace flashtest {

// A directory made with mkdtemp under the system temp dir, removed with its contents at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return m_path; }
    std::string file(const std::string &name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::string readFile(const std::string &path);
bool fileExists(const std::string &path);
void writeFile(const std::string &path, const std::string &content);

// One record line (no line end) with a correct checksum, upper-case digits.
std::string hexRecord(int type, std::uint32_t offset, const std::vector<std::uint8_t> &data);
// Lines joined with CR LF after each.
std::string crlfLines(const std::vector<std::string> &lines);

// A readable line-by-line comparison for failure messages ("" when equal).
std::string lineDiff(const std::string &expected, const std::string &actual);

} // namespace flashtest
