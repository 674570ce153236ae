// The sorted image's temporary file. mkstemp makes the name and the file in one step, so no other
// process can take the name between the two, and gives it mode 0600; it is declared by the C
// library's <cstdlib> and needs no platform header here.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "ravelin/flash/flsh_tempfile.h"

int flsh_MakeTempFile(char *pszPath, int nCapacity)
{
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    if (ec)
        dir = "/tmp";
    std::string pattern = (dir / "ravelin-sort-XXXXXX").string();
    if (pszPath == nullptr || static_cast<int>(pattern.size()) >= nCapacity)
        return 0;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0)
        return 0;
    // Close the descriptor through stdio: the sorter reopens the file by name.
    std::FILE *pFile = fdopen(fd, "w");
    if (pFile == nullptr) {
        std::remove(name.data());
        return 0;
    }
    std::fclose(pFile);
    std::memcpy(pszPath, name.data(), name.size());
    return 1;
}
