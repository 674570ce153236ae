#include "ravelin/serial/urs_dump.h"

#include <cstdio>

namespace {

// Beyond this count a block is shown as plain hex digits: a long block is binary data (an image),
// for which readable escapes would only lengthen the line.
const long kReadableLimit = 100;

}  // namespace

const char *urs_DumpBytes(const void *pData, long nCount, char *pszOut)
{
    const unsigned char *pBytes = static_cast<const unsigned char *>(pData);
    long nShown = nCount < static_cast<long>(urs_kDumpBytes) ? nCount : static_cast<long>(urs_kDumpBytes);
    char *pOut = pszOut;
    *pOut = '\0';
    if (pBytes == nullptr || nShown <= 0)
        return pszOut;

    for (long i = 0; i < nShown; ++i) {
        unsigned char c = pBytes[i];
        if (nCount > kReadableLimit) {
            pOut += std::snprintf(pOut, 3, "%2.2x", c);
        } else if (c == '\n') {
            *pOut++ = '\\';
            *pOut++ = 'n';
        } else if (c == '\r') {
            *pOut++ = '\\';
            *pOut++ = 'r';
        } else if (c >= 0x20 && c < 0x7f) {
            *pOut++ = static_cast<char>(c);
        } else {
            pOut += std::snprintf(pOut, 5, "\\x%2.2x", c);
        }
    }
    *pOut = '\0';
    return pszOut;
}
