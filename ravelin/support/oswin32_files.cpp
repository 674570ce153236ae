// File wrappers over POSIX descriptors.
#include "ravelin/support/oswin32.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

osfl_Handle osfl_Open(const char *pszPath, int nAccess) {
    if (pszPath == nullptr) return osfl_kInvalidHandle;
    int nFlags = (nAccess == osfl_kReadWrite) ? O_RDWR : O_RDONLY;
    int fd = ::open(pszPath, nFlags | O_CLOEXEC);
    return fd < 0 ? osfl_kInvalidHandle : fd;
}

osfl_Handle osfl_Create(const char *pszPath, std::uint32_t nAttributes) {
    if (pszPath == nullptr) return osfl_kInvalidHandle;
    mode_t mode = (nAttributes & osfl_kAttrReadOnly) ? 0444 : 0666;
    int fd = ::open(pszPath, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    return fd < 0 ? osfl_kInvalidHandle : fd;
}

int osfl_Close(osfl_Handle hFile) {
    if (hFile == osfl_kInvalidHandle) return 0;
    return ::close(hFile) == 0 ? 1 : 0;
}

int osfl_Read(osfl_Handle hFile, void *pBuffer, int nCount) {
    if (nCount < 0 || (pBuffer == nullptr && nCount > 0)) return osfl_kError;
    for (;;) {
        ssize_t n = ::read(hFile, pBuffer, static_cast<size_t>(nCount));
        if (n >= 0) return static_cast<int>(n);
        if (errno != EINTR) return osfl_kError;
    }
}

int osfl_Write(osfl_Handle hFile, const void *pBuffer, int nCount) {
    if (nCount <= 0 || pBuffer == nullptr) return 0;
    // A regular file may take a write in pieces; carry on until all is written or it fails.
    const char *p = static_cast<const char *>(pBuffer);
    int nDone = 0;
    while (nDone < nCount) {
        ssize_t n = ::write(hFile, p + nDone, static_cast<size_t>(nCount - nDone));
        if (n < 0) {
            if (errno == EINTR) continue;
            return 0;
        }
        if (n == 0) return 0;
        nDone += static_cast<int>(n);
    }
    return nDone;
}

long osfl_Seek(osfl_Handle hFile, std::int32_t nDistance, int nOrigin) {
    int whence = nOrigin == osfl_kSeekCurrent ? SEEK_CUR : nOrigin == osfl_kSeekEnd ? SEEK_END
                                                                                    : SEEK_SET;
    off_t pos = ::lseek(hFile, static_cast<off_t>(nDistance), whence);
    return pos < 0 ? -1 : static_cast<long>(pos);
}

long osfl_Tell(osfl_Handle hFile) { return osfl_Seek(hFile, 0, osfl_kSeekCurrent); }

long osfl_Size(osfl_Handle hFile) {
    struct stat st;
    if (::fstat(hFile, &st) != 0) return -1;
    return static_cast<long>(st.st_size);
}

int osfl_Delete(const char *pszPath) {
    if (pszPath == nullptr) return -1;
    return ::unlink(pszPath) == 0 ? 0 : -1;
}

bool os_StderrIsTerminal() {
    return ::isatty(STDERR_FILENO) != 0;
}
