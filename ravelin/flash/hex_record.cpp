// Reading one Intel HEX record line.
#include <cstring>

#include "ravelin/flash/hex_image.h"

namespace {

int digitOrMinus1(char ch)
{
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    return -1;
}

} // namespace

bool hexReadDigits(const char *pszAt, int nDigits, unsigned *pnValue)
{
    unsigned nValue = 0;
    // Stops at the first character that is no digit, so a short text is never read past its end.
    for (int i = 0; i < nDigits; ++i) {
        int nDigit = digitOrMinus1(pszAt[i]);
        if (nDigit < 0)
            return false;
        nValue = nValue * 16u + static_cast<unsigned>(nDigit);
    }
    *pnValue = nValue;
    return true;
}

int hexDigitValue(char ch)
{
    int nDigit = digitOrMinus1(ch);
    return nDigit >= 0 ? nDigit : static_cast<unsigned char>(ch);
}

int parseHexRecord(HexAddressState *pState, const char *pszLine, HexRecord *pRecord)
{
    unsigned nCount = 0, nOffset = 0, nType = 0;
    if (pszLine[0] != ':' || !hexReadDigits(pszLine + 1, 2, &nCount) || !hexReadDigits(pszLine + 3, 4, &nOffset) ||
        !hexReadDigits(pszLine + 7, 2, &nType))
        return 0;
    // The byte count fixes the record's length: fewer characters are a cut record, more are
    // something else on the same line (another record whose line end was lost, stray text), and
    // either way the line does not hold what it claims.
    std::size_t nLength = std::strlen(pszLine);
    if (nLength != 11 + 2 * static_cast<std::size_t>(nCount))
        return 0;

    pRecord->nType = static_cast<std::int32_t>(nType);
    pRecord->nCount = static_cast<std::int32_t>(nCount);
    std::size_t nPos = 9;
    for (unsigned i = 0; i < nCount; ++i) {
        unsigned nByte = 0;
        if (!hexReadDigits(pszLine + nPos, 2, &nByte))
            return 0;
        pRecord->abData[i] = static_cast<std::uint8_t>(nByte);
        nPos += 2;
    }
    unsigned nChecksum = 0;
    if (!hexReadDigits(pszLine + nPos, 2, &nChecksum))
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
