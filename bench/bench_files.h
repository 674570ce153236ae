// Where a benchmark finds the repository's sample files and the programs built beside it, and the
// one file copy they all need.
#pragma once

#include <unistd.h>

#include <fstream>
#include <string>

namespace bench {

// The directory of the running benchmark (build/bin).
inline std::string SelfDir()
{
    char szPath[4096];
    ssize_t n = readlink("/proc/self/exe", szPath, sizeof szPath - 1);
    if (n <= 0) return ".";
    std::string path(szPath, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/'));
}

// The repository's root, where the sample catalogues lie: the build's source directory, else two
// levels above the executable (build/bin), else the working directory.
inline std::string SourceDir()
{
    for (const std::string &dir : {std::string(SUITE_SOURCE_DIR), SelfDir() + "/../.."})
        if (std::ifstream(dir + "/data/ravelin/Models.ini").good()) return dir;
    return ".";
}

inline bool CopyFile(const std::string &from, const std::string &to)
{
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    return in.good() && out.good();
}

} // namespace bench
