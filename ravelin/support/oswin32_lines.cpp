// The text-line readers: os_ReadNextLine (buffered, CR LF only), os_ReadTextLine (buffered, CR LF
// or LF: HEX images) and gn_ReadString (byte by byte, profile files).
#include "ravelin/support/oswin32.h"

#include "ravelin/support/log.h"

#include <unistd.h>

namespace {
constexpr char kCR = '\r';
constexpr char kLF = '\n';
constexpr char kCtrlZ = 0x1A;
// True when the byte before the one just read is a CR: the LF just read then belongs to a CR LF
// pair whose CR ended the previous, full-length piece.
bool FollowsCR(osfl_Handle hFile) {
    off_t nPos = ::lseek(hFile, 0, SEEK_CUR);
    if (nPos < 2) return false;
    char ch = 0;
    return ::pread(hFile, &ch, 1, nPos - 2) == 1 && ch == kCR;
}

}  // namespace

int os_ReadNextLine(osfl_Handle hFile, char *pszDest, int nCapacity, os_LineBuffer *pBuffer) {
    int nCurCount = 0;
    bool bCR = false;
    if (pszDest != nullptr && pBuffer != nullptr) {
        while (nCurCount < nCapacity) {
            if (pBuffer->nRemaining <= 0) {
                int nSize = osfl_Read(hFile, pBuffer->achData, os_kLineBufferSize);
                if (nSize == osfl_kError) {
                    log_Write(__LINE__, "oswin32", "ReadNextLine, return FALSE, nsize == osfl_kError");
                    return -1;
                }
                if (nSize == 0) {
                    pszDest[nCurCount] = '\0';
                    log_Write(__LINE__, "oswin32", "ReadNextLine, nSize == 0, nCurCount = %d",
                              nCurCount);
                    return nCurCount;
                }
                pBuffer->nRemaining = nSize;
                pBuffer->nPosition = 0;
            }
            char ch = pBuffer->achData[pBuffer->nPosition];
            if (bCR) {
                if (ch == kLF) {
                    // The CR was stored as the last character: it becomes the terminator.
                    pszDest[nCurCount - 1] = '\0';
                    pBuffer->nPosition++;
                    pBuffer->nRemaining--;
                    return nCurCount + 1;
                }
                bCR = false;
            }
            pszDest[nCurCount++] = ch;
            pBuffer->nPosition++;
            pBuffer->nRemaining--;
            if (ch == kCR) bCR = true;
        }
    }
    log_Write(__LINE__, "oswin32", "ReadNextLine:  Fell out of while loop  nCurCount %x",
              static_cast<unsigned>(nCurCount));
    return -1;
}

int os_ReadTextLine(osfl_Handle hFile, char *pszDest, int nCapacity, os_LineBuffer *pBuffer) {
    if (pszDest == nullptr || pBuffer == nullptr || nCapacity < 1) return os_kLineReadError;
    int nStored = 0;
    for (;;) {
        if (pBuffer->nRemaining <= 0) {
            int nSize = osfl_Read(hFile, pBuffer->achData, os_kLineBufferSize);
            if (nSize == osfl_kError) {
                log_Write(__LINE__, "oswin32", "ReadTextLine: read error");
                return os_kLineReadError;
            }
            if (nSize == 0) {
                // A last line needs no line end; Ctrl-Z bytes at the very end are no text.
                while (nStored > 0 && pszDest[nStored - 1] == kCtrlZ) --nStored;
                pszDest[nStored] = '\0';
                return nStored == 0 ? 0 : nStored + 1;
            }
            pBuffer->nRemaining = nSize;
            pBuffer->nPosition = 0;
        }
        char ch = pBuffer->achData[pBuffer->nPosition++];
        pBuffer->nRemaining--;
        if (ch == kLF) {
            if (nStored > 0 && pszDest[nStored - 1] == kCR) --nStored;
            pszDest[nStored] = '\0';
            return nStored + 1;
        }
        if (nStored >= nCapacity - 1) {
            pszDest[nStored] = '\0';
            log_Write(__LINE__, "oswin32", "ReadTextLine: line longer than %d", nCapacity);
            return os_kLineTooLong;
        }
        pszDest[nStored++] = ch;
    }
}

bool gn_ReadString(osfl_Handle hFile, char *pszDest, int nCount) {
    if (pszDest == nullptr || nCount < 0) return false;
    int nStored = 0;
    bool bCR = false;
    while (nStored < nCount) {
        char ch = 0;
        int n = osfl_Read(hFile, &ch, 1);
        if (n == osfl_kError) {
            pszDest[nStored] = '\0';
            return false;
        }
        if (n == 0 || ch == kCtrlZ) {
            pszDest[nStored] = '\0';
            return nStored > 0;
        }
        if (ch == kLF && (bCR || !(nStored == 0 && FollowsCR(hFile)))) {
            // CR LF ends a line and so does a lone LF (files saved by editors on this platform);
            // neither the CR nor the LF is kept. The LF of a CR LF pair that was split by the
            // count of the previous call starts this line, as it always did.
            pszDest[bCR ? nStored - 1 : nStored] = '\0';
            return true;
        }
        pszDest[nStored++] = ch;
        bCR = (ch == kCR);
    }
    pszDest[nStored] = '\0';
    return true;
}
