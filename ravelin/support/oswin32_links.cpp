// Following links to the file they name, and telling a user why a file could not be written.
#include "ravelin/support/oswin32.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// As many links as the system itself follows before it gives up with ELOOP.
constexpr int kMaxLinks = 40;

// The directory part of pszPath, without its trailing '/' ("." for a bare name, "/" for the root).
void DirectoryOf(const char *pszPath, char *pszDir, int nCapacity) {
    const char *pSlash = std::strrchr(pszPath, '/');
    if (pSlash == nullptr) {
        os_CopyBounded(pszDir, ".", nCapacity);
        return;
    }
    int nLen = pSlash == pszPath ? 1 : static_cast<int>(pSlash - pszPath);
    if (nLen >= nCapacity) nLen = nCapacity - 1;
    std::memcpy(pszDir, pszPath, static_cast<std::size_t>(nLen));
    pszDir[nLen] = '\0';
}

void GroupName(gid_t gid, char *pszName, int nCapacity) {
    char achBuffer[4096];
    struct group entry;
    struct group *pFound = nullptr;
    if (::getgrgid_r(gid, &entry, achBuffer, sizeof achBuffer, &pFound) == 0 && pFound != nullptr)
        os_CopyBounded(pszName, pFound->gr_name, nCapacity);
    else
        std::snprintf(pszName, static_cast<std::size_t>(nCapacity), "%u", static_cast<unsigned>(gid));
}

}  // namespace

int osfl_FollowLinks(const char *pszPath, char *pszReal, int nCapacity) {
    if (pszReal == nullptr || nCapacity <= 0) return 0;
    pszReal[0] = '\0';
    if (pszPath == nullptr) return 0;
    char szCurrent[os_kPathLen];
    if (os_CopyBounded(szCurrent, pszPath, sizeof szCurrent) >= static_cast<int>(sizeof szCurrent)) return 0;
    for (int nHop = 0; nHop < kMaxLinks; ++nHop) {
        struct stat st;
        if (::lstat(szCurrent, &st) != 0 || !S_ISLNK(st.st_mode)) break;
        char szTarget[os_kPathLen];
        ssize_t nLen = ::readlink(szCurrent, szTarget, sizeof szTarget);
        if (nLen <= 0) break;  // gone meanwhile: the write then fails by itself
        if (nLen >= static_cast<ssize_t>(sizeof szTarget)) return 0;
        szTarget[nLen] = '\0';
        if (szTarget[0] == '/') {
            os_CopyBounded(szCurrent, szTarget, sizeof szCurrent);
            continue;
        }
        char szDir[os_kPathLen];
        DirectoryOf(szCurrent, szDir, sizeof szDir);
        char szNext[os_kPathLen];
        int n = std::snprintf(szNext, sizeof szNext, "%s/%s", szDir, szTarget);
        if (n < 0 || n >= static_cast<int>(sizeof szNext)) return 0;
        os_CopyBounded(szCurrent, szNext, sizeof szCurrent);
    }
    if (os_CopyBounded(pszReal, szCurrent, nCapacity) >= nCapacity) {
        pszReal[0] = '\0';
        return 0;
    }
    return 1;
}

int osfl_DescribeWriteFailure(const char *pszPath, int nError, char *pszText, int nCapacity) {
    if (pszText == nullptr || nCapacity <= 0) return 0;
    char szReal[os_kPathLen];
    if (pszPath == nullptr || !osfl_FollowLinks(pszPath, szReal, sizeof szReal))
        os_CopyBounded(szReal, pszPath != nullptr ? pszPath : "", sizeof szReal);
    char szDir[os_kPathLen];
    DirectoryOf(szReal, szDir, sizeof szDir);
    if (nError == 0 && ::access(szDir, W_OK) != 0) nError = errno;
    if (nError == 0 && ::access(szReal, W_OK) != 0 && errno != ENOENT) nError = errno;

    char szHint[os_kPathLen + 160] = "";
    struct stat st;
    if (nError == EROFS) {
        std::snprintf(szHint, sizeof szHint, "; %s is on a read-only file system: link the file to a writable place",
                      szDir);
    } else if (nError == EACCES || nError == EPERM) {
        if (::stat(szDir, &st) == 0 && (st.st_mode & S_IWGRP) != 0 && st.st_gid != 0) {
            char szGroup[32];
            GroupName(st.st_gid, szGroup, sizeof szGroup);
            std::snprintf(szHint, sizeof szHint,
                          "; to write %s, join the group %s that owns it (sudo adduser $USER %s), then log in again",
                          szDir, szGroup, szGroup);
        } else {
            std::snprintf(szHint, sizeof szHint, "; ask an administrator for permission to write %s", szDir);
        }
    }
    int n = std::snprintf(pszText, static_cast<std::size_t>(nCapacity), "cannot write %s: %s%s", szReal,
                          nError != 0 ? std::strerror(nError) : "unknown error", szHint);
    if (n < 0) {
        pszText[0] = '\0';
        return 0;
    }
    return n < nCapacity ? n : nCapacity - 1;
}
