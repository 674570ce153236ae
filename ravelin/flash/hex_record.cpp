// Reading one Intel HEX record line.
#include <cstring>

#include "ravelin/flash/hex_image.h"

namespace {

// Digit values by character: 0-15 for 0-9, A-F and a-f, -1 for every other character. A table,
// because the sorter looks at every digit of every record of an image.
struct DigitTable {
    signed char aValue[256];
    constexpr DigitTable() : aValue()
    {
        for (int i = 0; i < 256; ++i)
            aValue[i] = -1;
        for (int i = 0; i < 10; ++i)
            aValue['0' + i] = static_cast<signed char>(i);
        for (int i = 0; i < 6; ++i) {
            aValue['A' + i] = static_cast<signed char>(10 + i);
            aValue['a' + i] = static_cast<signed char>(10 + i);
        }
    }
};
constexpr DigitTable kDigits;

inline int digitOrMinus1(char ch)
{
    return kDigits.aValue[static_cast<unsigned char>(ch)];
}

// Stops at the first character that is no digit, so a short text is never read past its end.
inline bool readDigits(const char *pszAt, int nDigits, unsigned *pnValue)
{
    unsigned nValue = 0;
    for (int i = 0; i < nDigits; ++i) {
        int nDigit = digitOrMinus1(pszAt[i]);
        if (nDigit < 0)
            return false;
        nValue = nValue * 16u + static_cast<unsigned>(nDigit);
    }
    *pnValue = nValue;
    return true;
}

} // namespace

bool hexReadDigits(const char *pszAt, int nDigits, unsigned *pnValue)
{
    return readDigits(pszAt, nDigits, pnValue);
}

int hexDigitValue(char ch)
{
    int nDigit = digitOrMinus1(ch);
    return nDigit >= 0 ? nDigit : static_cast<unsigned char>(ch);
}

int parseHexRecord(HexAddressState *pState, const char *pszLine, HexRecord *pRecord)
{
    return parseHexRecordText(pState, pszLine, std::strlen(pszLine), pRecord);
}

int parseHexRecordText(HexAddressState *pState, const char *pchLine, std::size_t nLength, HexRecord *pRecord)
{
    // Nothing is read before the length is known to hold it.
    if (nLength < 11)
        return 0;
    unsigned nCount = 0, nOffset = 0, nType = 0;
    if (pchLine[0] != ':' || !readDigits(pchLine + 1, 2, &nCount) || !readDigits(pchLine + 3, 4, &nOffset) ||
        !readDigits(pchLine + 7, 2, &nType))
        return 0;
    // The byte count fixes the record's length: fewer characters are a cut record, more are
    // something else on the same line (another record whose line end was lost, stray text), and
    // either way the line does not hold what it claims.
    if (nLength != 11 + 2 * static_cast<std::size_t>(nCount))
        return 0;

    pRecord->nType = static_cast<std::int32_t>(nType);
    pRecord->nCount = static_cast<std::int32_t>(nCount);
    std::size_t nPos = 9;
    for (unsigned i = 0; i < nCount; ++i) {
        unsigned nByte = 0;
        if (!readDigits(pchLine + nPos, 2, &nByte))
            return 0;
        pRecord->abData[i] = static_cast<std::uint8_t>(nByte);
        nPos += 2;
    }
    unsigned nChecksum = 0;
    if (!readDigits(pchLine + nPos, 2, &nChecksum))
        return 0;
    pRecord->nChecksum = static_cast<std::uint8_t>(nChecksum);

    if ((nType == hex_kExtSegment || nType == hex_kExtLinear) && nCount >= 2) {
        pState->nValue = pRecord->abData[0] * 256 + pRecord->abData[1];
        pState->nKind = static_cast<std::int32_t>(nType);
    } else if (nType == hex_kExtSegment || nType == hex_kExtLinear) {
        // Too short to carry a base: the base is what its (missing) bytes read as, zero.
        pState->nValue = nCount == 1 ? pRecord->abData[0] * 256 : 0;
        pState->nKind = static_cast<std::int32_t>(nType);
    }

    std::uint32_t nValue = static_cast<std::uint32_t>(pState->nValue);
    if (pState->nKind == hex_kExtSegment)
        pRecord->nAddress = nOffset + nValue * 16u;
    else if (pState->nKind == hex_kExtLinear)
        pRecord->nAddress = nOffset + nValue * 65536u;
    else
        pRecord->nAddress = nOffset;
    return 1;
}

bool hexRecordChecksumOk(const HexAddressState *pState, const HexRecord *pRecord)
{
    std::uint32_t nValue = static_cast<std::uint32_t>(pState->nValue);
    std::uint32_t nBase = 0;
    if (pState->nKind == hex_kExtSegment) nBase = nValue * 16u;
    else if (pState->nKind == hex_kExtLinear) nBase = nValue * 65536u;
    std::uint32_t nOffset = (pRecord->nAddress - nBase) & 0xFFFFu;

    unsigned nSum = static_cast<unsigned>(pRecord->nCount) + (nOffset >> 8) + (nOffset & 0xFF) +
                    static_cast<unsigned>(pRecord->nType) + pRecord->nChecksum;
    for (int i = 0; i < pRecord->nCount; ++i)
        nSum += pRecord->abData[i];
    return (nSum & 0xFF) == 0;
}
