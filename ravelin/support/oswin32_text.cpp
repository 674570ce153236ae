// Small text operations shared by the profile code, identification and the catalogue.
#include "ravelin/support/oswin32.h"

#include <cctype>
#include <cstring>

namespace {
bool IsTrimmed(char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n'; }
}  // namespace

int os_CopyTrimmed(char *pszDest, const char *pszSource, int nCapacity) {
    if (pszDest == nullptr || nCapacity <= 0) return 0;
    if (pszSource == nullptr) {
        pszDest[0] = '\0';
        return 0;
    }
    while (IsTrimmed(*pszSource)) ++pszSource;
    int n = 0;
    while (n < nCapacity - 1 && pszSource[n] != '\0') {
        pszDest[n] = pszSource[n];
        ++n;
    }
    while (n > 0 && IsTrimmed(pszDest[n - 1])) --n;
    pszDest[n] = '\0';
    return n;
}

int os_CopyBounded(char *pszDest, const char *pszSource, int nCapacity) {
    if (pszDest == nullptr || nCapacity <= 0) return 0;
    if (pszSource == nullptr) {
        pszDest[0] = '\0';
        return 0;
    }
    int n = 0;
    while (n < nCapacity && pszSource[n] != '\0') ++n;
    if (n >= nCapacity) {
        std::memcpy(pszDest, pszSource, static_cast<size_t>(nCapacity - 1));
        pszDest[nCapacity - 1] = '\0';
        return nCapacity;
    }
    std::memmove(pszDest, pszSource, static_cast<size_t>(n) + 1);
    return n;
}

void os_TrimInPlace(char *pszText) {
    if (pszText == nullptr) return;
    char *pszStart = pszText;
    while (IsTrimmed(*pszStart)) ++pszStart;
    size_t n = std::strlen(pszStart);
    while (n > 0 && IsTrimmed(pszStart[n - 1])) --n;
    std::memmove(pszText, pszStart, n);
    pszText[n] = '\0';
}

int os_CompareNoCase(const char *pszA, const char *pszB) {
    if (pszA == nullptr || pszB == nullptr) return (pszA == pszB) ? 0 : (pszA ? 1 : -1);
    for (;; ++pszA, ++pszB) {
        int a = std::toupper(static_cast<unsigned char>(*pszA));
        int b = std::toupper(static_cast<unsigned char>(*pszB));
        if (a != b) return a - b;
        if (a == 0) return 0;
    }
}

std::uint32_t os_ParseNumber(const char *pszText) {
    if (pszText == nullptr) return 0;
    std::uint32_t nValue = 0;
    if (pszText[0] == '0' && (pszText[1] == 'x' || pszText[1] == 'X')) {
        for (const char *p = pszText + 2; std::isxdigit(static_cast<unsigned char>(*p)); ++p) {
            int nDigit = std::isdigit(static_cast<unsigned char>(*p))
                             ? *p - '0'
                             : std::toupper(static_cast<unsigned char>(*p)) - 'A' + 10;
            nValue = nValue * 16u + static_cast<std::uint32_t>(nDigit);
        }
        return nValue;
    }
    for (const char *p = pszText; *p >= '0' && *p <= '9'; ++p)
        nValue = nValue * 10u + static_cast<std::uint32_t>(*p - '0');
    return nValue;
}
