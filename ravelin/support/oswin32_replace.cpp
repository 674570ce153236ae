// Replacing a file through a complete new copy and one rename, so that a failure half-way (a full
// disk, a killed process, bad input found late) never leaves the old file emptied or cut short.
#include "ravelin/support/oswin32.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<unsigned> g_nReplaceSerial{0};

void Fail(osfl_Replacement *pRep, int nError) {
    pRep->nError = nError != 0 ? nError : EIO;
}

// Splits the target into its directory (with its trailing '/', "" for the current one) and name.
void SplitPath(const char *pszPath, char *pszDir, const char **ppszName) {
    const char *pSlash = std::strrchr(pszPath, '/');
    if (pSlash == nullptr) {
        pszDir[0] = '\0';
        *ppszName = pszPath;
        return;
    }
    std::size_t nDir = static_cast<std::size_t>(pSlash - pszPath) + 1;
    std::memcpy(pszDir, pszPath, nDir);
    pszDir[nDir] = '\0';
    *ppszName = pSlash + 1;
}

// Creates a fresh file beside the target: a hidden name of the target's with a suffix no other
// writer uses, made with O_EXCL so an existing file is never taken over. A new target gets the
// mode a newly created file gets (0666 less the umask); a replaced one first gets 0600 and its
// own mode at the commit, so its content is never readable more widely than the target's.
bool MakeSiblingTemp(osfl_Replacement *pRep, bool bTargetExists) {
    char szDir[os_kPathLen];
    const char *pszName = nullptr;
    SplitPath(pRep->szTarget, szDir, &pszName);
    for (int nTry = 0; nTry < 100; ++nTry) {
        unsigned nSerial = g_nReplaceSerial.fetch_add(1);
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        int n = std::snprintf(pRep->szTemp, sizeof pRep->szTemp, "%s.%s.%ld.%u.%06lx.tmp", szDir, pszName,
                              static_cast<long>(::getpid()), nSerial,
                              static_cast<unsigned long>(now.tv_nsec) & 0xFFFFFFul);
        if (n < 0 || n >= static_cast<int>(sizeof pRep->szTemp)) {
            pRep->szTemp[0] = '\0';
            Fail(pRep, ENAMETOOLONG);
            return false;
        }
        int fd = ::open(pRep->szTemp, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, bTargetExists ? 0600 : 0666);
        if (fd >= 0) {
            pRep->hFile = fd;
            return true;
        }
        if (errno != EEXIST) break;
    }
    Fail(pRep, errno);
    pRep->szTemp[0] = '\0';
    return false;
}

// A private file in the system's temporary directory, for targets that cannot be renamed over.
bool MakePrivateTemp(osfl_Replacement *pRep) {
    const char *pszDir = std::getenv("TMPDIR");
    if (pszDir == nullptr || pszDir[0] == '\0') pszDir = "/tmp";
    int n = std::snprintf(pRep->szTemp, sizeof pRep->szTemp, "%s/ravelin-out-XXXXXX", pszDir);
    if (n < 0 || n >= static_cast<int>(sizeof pRep->szTemp)) {
        pRep->szTemp[0] = '\0';
        Fail(pRep, ENAMETOOLONG);
        return false;
    }
    int fd = ::mkstemp(pRep->szTemp);
    if (fd < 0) {
        Fail(pRep, errno);
        pRep->szTemp[0] = '\0';
        return false;
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    pRep->hFile = fd;
    return true;
}

bool CopyInto(osfl_Replacement *pRep) {
    int fdIn = ::open(pRep->szTemp, O_RDONLY | O_CLOEXEC);
    if (fdIn < 0) {
        Fail(pRep, errno);
        return false;
    }
    int fdOut = ::open(pRep->szTarget, O_WRONLY | O_CLOEXEC);
    if (fdOut < 0) {
        Fail(pRep, errno);
        ::close(fdIn);
        return false;
    }
    bool bOk = true;
    char achChunk[16384];
    for (;;) {
        int nRead = osfl_Read(fdIn, achChunk, sizeof achChunk);
        if (nRead == 0) break;
        if (nRead < 0 || osfl_Write(fdOut, achChunk, nRead) != nRead) {
            Fail(pRep, errno);
            bOk = false;
            break;
        }
    }
    ::close(fdIn);
    if (::close(fdOut) != 0 && bOk) {
        Fail(pRep, errno);
        bOk = false;
    }
    return bOk;
}

// Makes the rename itself last: the directory entry reaches the disk too.
void SyncDirectory(const char *pszTarget) {
    char szDir[os_kPathLen];
    const char *pszName = nullptr;
    SplitPath(pszTarget, szDir, &pszName);
    int fd = ::open(szDir[0] != '\0' ? szDir : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

int osfl_BeginReplace(osfl_Replacement *pRep, const char *pszPath) {
    if (pRep == nullptr) return 0;
    pRep->szTarget[0] = '\0';
    pRep->szTemp[0] = '\0';
    pRep->hFile = osfl_kInvalidHandle;
    pRep->bCopyInto = false;
    pRep->nError = 0;
    if (pszPath == nullptr || pszPath[0] == '\0') {
        Fail(pRep, ENOENT);
        return 0;
    }
    // The new file is made beside the file a link names, also one not made yet, so that the link
    // stays and a read-only directory holding only the link is never written.
    if (!osfl_FollowLinks(pszPath, pRep->szTarget, os_kPathLen)) {
        Fail(pRep, ENAMETOOLONG);
        return 0;
    }
    struct stat st;
    bool bExists = ::stat(pRep->szTarget, &st) == 0;
    if (bExists && S_ISDIR(st.st_mode)) {
        Fail(pRep, EISDIR);
        return 0;
    }
    if (bExists && !S_ISREG(st.st_mode)) {
        pRep->bCopyInto = true;
        return MakePrivateTemp(pRep) ? 1 : 0;
    }
    return MakeSiblingTemp(pRep, bExists) ? 1 : 0;
}

int osfl_CommitReplace(osfl_Replacement *pRep) {
    if (pRep == nullptr) return 0;
    if (pRep->szTemp[0] == '\0') {
        Fail(pRep, ENOENT);
        return 0;
    }
    int fd = pRep->hFile;
    if (fd == osfl_kInvalidHandle) fd = ::open(pRep->szTemp, O_RDWR | O_CLOEXEC);
    pRep->hFile = osfl_kInvalidHandle;
    bool bOk = fd >= 0;
    if (!bOk) Fail(pRep, errno);
    if (bOk && !pRep->bCopyInto) {
        struct stat st;
        if (::stat(pRep->szTarget, &st) == 0) {
            // Owner and group can only be kept where the system lets this user give them away;
            // the permission bits always are.
            if (st.st_uid != ::geteuid() || st.st_gid != ::getegid())
                if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
                    // Keeping the old group is still possible when the user belongs to it.
                    (void)::fchown(fd, static_cast<uid_t>(-1), st.st_gid);
                }
            if (::fchmod(fd, st.st_mode & 07777) != 0) {
                Fail(pRep, errno);
                bOk = false;
            }
        }
        if (bOk && ::fsync(fd) != 0) {
            Fail(pRep, errno);
            bOk = false;
        }
    }
    if (fd >= 0 && ::close(fd) != 0 && bOk) {
        Fail(pRep, errno);
        bOk = false;
    }
    if (bOk) {
        if (pRep->bCopyInto) {
            bOk = CopyInto(pRep);
        } else if (::rename(pRep->szTemp, pRep->szTarget) != 0) {
            Fail(pRep, errno);
            bOk = false;
        } else {
            pRep->szTemp[0] = '\0';
            SyncDirectory(pRep->szTarget);
        }
    }
    if (pRep->szTemp[0] != '\0') ::unlink(pRep->szTemp);
    pRep->szTemp[0] = '\0';
    return bOk ? 1 : 0;
}

void osfl_AbandonReplace(osfl_Replacement *pRep) {
    if (pRep == nullptr) return;
    if (pRep->hFile != osfl_kInvalidHandle) ::close(pRep->hFile);
    pRep->hFile = osfl_kInvalidHandle;
    if (pRep->szTemp[0] != '\0') ::unlink(pRep->szTemp);
    pRep->szTemp[0] = '\0';
}

int os_LastError() { return errno; }

const char *os_ErrorText(int nError) { return std::strerror(nError); }

osfl_Handle osfl_StdInput() { return STDIN_FILENO; }

osfl_Handle osfl_StdOutput() { return STDOUT_FILENO; }
