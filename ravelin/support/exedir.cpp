// "Beside the executable": the directory of /proc/self/exe, with an override for tests that
// place catalogues and logs in a temporary directory.
#include "ravelin/support/oswin32.h"

#include <cstring>
#include <dirent.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::mutex g_overrideMutex;
std::string g_override;

int CopyOut(const std::string &s, char *pszDir, int nCapacity) {
    if (pszDir == nullptr || nCapacity <= 0) return 0;
    if (s.empty() || s.size() >= static_cast<size_t>(nCapacity)) {
        pszDir[0] = '\0';
        return 0;
    }
    std::memcpy(pszDir, s.c_str(), s.size() + 1);
    return static_cast<int>(s.size());
}
}  // namespace

int os_GetRealExeDir(char *pszDir, int nCapacity) {
    char szExe[4096];
    ssize_t n = ::readlink("/proc/self/exe", szExe, sizeof szExe - 1);
    if (n <= 0) return CopyOut(std::string(), pszDir, nCapacity);
    std::string path(szExe, static_cast<size_t>(n));
    size_t nSlash = path.rfind('/');
    if (nSlash == std::string::npos) return CopyOut(std::string(), pszDir, nCapacity);
    return CopyOut(path.substr(0, nSlash + 1), pszDir, nCapacity);
}

int os_GetExeDir(char *pszDir, int nCapacity) {
    {
        std::lock_guard<std::mutex> lock(g_overrideMutex);
        if (!g_override.empty()) return CopyOut(g_override, pszDir, nCapacity);
    }
    return os_GetRealExeDir(pszDir, nCapacity);
}

void os_SetExeDirForTesting(const char *pszDir) {
    std::lock_guard<std::mutex> lock(g_overrideMutex);
    g_override = pszDir ? pszDir : "";
    if (!g_override.empty() && g_override.back() != '/') g_override += '/';
}

int os_FindBesideExe(const char *pszName, char *pszPath, int nCapacity) {
    if (pszPath == nullptr || nCapacity <= 0) return 0;
    pszPath[0] = '\0';
    if (pszName == nullptr) return 0;
    char szDir[4096];
    if (os_GetExeDir(szDir, sizeof szDir) == 0) return 0;
    std::string exact = std::string(szDir) + pszName;
    if (exact.size() >= static_cast<size_t>(nCapacity)) return 0;
    std::memcpy(pszPath, exact.c_str(), exact.size() + 1);

    struct stat st;
    if (::stat(exact.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return 1;

    // Files copied from other systems often differ in case from the names the program uses.
    DIR *pDir = ::opendir(szDir);
    if (pDir == nullptr) return 0;
    int nFound = 0;
    while (struct dirent *pEntry = ::readdir(pDir)) {
        if (os_CompareNoCase(pEntry->d_name, pszName) != 0) continue;
        std::string candidate = std::string(szDir) + pEntry->d_name;
        if (::stat(candidate.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
        if (candidate.size() >= static_cast<size_t>(nCapacity)) continue;
        std::memcpy(pszPath, candidate.c_str(), candidate.size() + 1);
        nFound = 1;
        break;
    }
    ::closedir(pDir);
    return nFound;
}
