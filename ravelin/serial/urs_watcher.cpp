// ResponseWatcher: a streaming match of one expected text, fed one received byte at a time.
#include <cstring>

#include "ravelin/serial/urswin32.h"
#include "ravelin/support/log.h"

void urs_ResetWatcher(ResponseWatcher *pWatcher, const char *pszPattern)
{
    DBG_ASSERT(pWatcher != nullptr, "urswin32");
    DBG_ASSERT(pszPattern != nullptr, "urswin32");
    if (pWatcher == nullptr)
        return;
    pWatcher->pszPattern = pszPattern != nullptr ? pszPattern : "";
    pWatcher->nPosition = 0;
}

int urs_FeedWatcher(ResponseWatcher *pWatcher, int nByte)
{
    DBG_ASSERT(pWatcher != nullptr && pWatcher->pszPattern != nullptr, "urswin32");
    if (pWatcher == nullptr || pWatcher->pszPattern == nullptr)
        return 0;

    const char *pszPattern = pWatcher->pszPattern;
    const unsigned nLength = static_cast<unsigned>(std::strlen(pszPattern));
    const unsigned nOld = pWatcher->nPosition;
    const char c = static_cast<char>(nByte);

    if (nOld >= nLength)
        return 1;
    if (c == pszPattern[nOld]) {
        pWatcher->nPosition = nOld + 1;
        return pWatcher->nPosition == nLength ? 1 : 0;
    }

    // Mismatch: the stream's last nOld bytes were pszPattern[0 .. nOld). Find the longest prefix of
    // the pattern that ends the stream including this byte, so that a false start overlapping the
    // true one ("OOK" for "OK") does not lose the match.
    for (unsigned j = nOld; j-- > 0;) {
        if (c == pszPattern[j] && std::memcmp(pszPattern, pszPattern + (nOld - j), j) == 0) {
            pWatcher->nPosition = j + 1;
            return 0;
        }
    }
    pWatcher->nPosition = 0;
    return 0;
}
