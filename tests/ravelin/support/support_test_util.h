// Helpers shared by the support library tests: a private temporary directory and whole-file
// reads and writes.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace support_test {

class TempDir {
public:
    TempDir() {
        const char *pszBase = std::getenv("TMPDIR");
        std::string templ = std::string(pszBase && *pszBase ? pszBase : "/tmp") + "/ravsup-XXXXXX";
        char *psz = ::mkdtemp(&templ[0]);
        if (psz != nullptr) m_path = psz;
    }
    ~TempDir() {
        if (!m_path.empty()) RemoveTree(m_path);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return m_path; }
    std::string file(const std::string &name) const { return m_path + "/" + name; }

private:
    static void RemoveTree(const std::string &path) {
        if (DIR *pDir = ::opendir(path.c_str())) {
            while (struct dirent *pEntry = ::readdir(pDir)) {
                std::string name = pEntry->d_name;
                if (name == "." || name == "..") continue;
                std::string child = path + "/" + name;
                struct stat st;
                if (::lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) RemoveTree(child);
                else ::unlink(child.c_str());
            }
            ::closedir(pDir);
        }
        ::rmdir(path.c_str());
    }
    std::string m_path;
};

inline void WriteFile(const std::string &path, const std::string &bytes) {
    FILE *pFile = std::fopen(path.c_str(), "wb");
    if (pFile == nullptr) return;
    std::fwrite(bytes.data(), 1, bytes.size(), pFile);
    std::fclose(pFile);
}

inline bool FileExists(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

inline std::string ReadFile(const std::string &path) {
    std::string bytes;
    FILE *pFile = std::fopen(path.c_str(), "rb");
    if (pFile == nullptr) return bytes;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pFile)) > 0) bytes.append(buf, n);
    std::fclose(pFile);
    return bytes;
}

// Changes the working directory for one scope and goes back afterwards.
class ScopedChdir {
public:
    explicit ScopedChdir(const std::string &dir) {
        char buf[4096];
        if (::getcwd(buf, sizeof buf) != nullptr) m_old = buf;
        m_ok = ::chdir(dir.c_str()) == 0;
    }
    ~ScopedChdir() {
        if (!m_old.empty() && ::chdir(m_old.c_str()) != 0) std::perror("chdir back");
    }
    bool ok() const { return m_ok; }

private:
    std::string m_old;
    bool m_ok = false;
};

}  // namespace support_test
