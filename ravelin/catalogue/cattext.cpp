#include "ravelin/catalogue/cattext.h"

#include <climits>

namespace cattext {

namespace {
// Numbers end up in int fields; a longer digit run from a file or a device stops growing there.
constexpr long kNumberLimit = INT_MAX;

long AccumulateDigits(const char* p, bool* pbDigits)
{
    long n = 0;
    bool bAny = false;
    for (; IsDigit(*p); ++p) {
        bAny = true;
        n = n * 10 + (*p - '0');
        if (n > kNumberLimit)
            n = kNumberLimit;
    }
    if (pbDigits)
        *pbDigits = bAny;
    return n;
}
} // namespace

std::string ToUpper(const char* psz)
{
    std::string s;
    if (!psz)
        return s;
    for (; *psz; ++psz)
        s += Upper(*psz);
    return s;
}

int CompareNoCase(const char* a, const char* b)
{
    if (!a)
        a = "";
    if (!b)
        b = "";
    for (;; ++a, ++b) {
        const unsigned char ca = static_cast<unsigned char>(Upper(*a));
        const unsigned char cb = static_cast<unsigned char>(Upper(*b));
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (ca == 0)
            return 0;
    }
}

bool EqualNoCase(const char* a, const char* b) { return CompareNoCase(a, b) == 0; }

std::string Trimmed(const std::string& s)
{
    std::string::size_type first = 0;
    std::string::size_type last = s.size();
    while (first < last && IsSpace(s[first]))
        ++first;
    while (last > first && IsSpace(s[last - 1]))
        --last;
    return s.substr(first, last - first);
}

void CopyBounded(char* pszDest, const std::string& src, int nSize)
{
    if (!pszDest || nSize <= 0)
        return;
    std::string::size_type n = src.size();
    if (n > static_cast<std::string::size_type>(nSize - 1))
        n = static_cast<std::string::size_type>(nSize - 1);
    src.copy(pszDest, n);
    pszDest[n] = '\0';
}

long ParseDecimal(const char* psz, bool* pbDigits)
{
    if (pbDigits)
        *pbDigits = false;
    if (!psz)
        return 0;
    while (*psz == ' ' || *psz == '\t')
        ++psz;
    bool bNegative = false;
    if (*psz == '+' || *psz == '-') {
        bNegative = (*psz == '-');
        ++psz;
    }
    const long n = AccumulateDigits(psz, pbDigits);
    return bNegative ? -n : n;
}

long LeadingNumber(const std::string& s) { return AccumulateDigits(s.c_str(), nullptr); }

} // namespace cattext
