// Reading one Intel HEX record line.
#include <cstdio>
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

// One "%2x" field at pszAt. Two plain hex digits are by far the common case and are decoded here;
// anything else goes through sscanf so that odd lines read exactly as the field format reads them.
bool readByteField(const char *pszAt, unsigned *pnValue)
{
    int nHigh = digitOrMinus1(pszAt[0]);
    int nLow = nHigh < 0 ? -1 : digitOrMinus1(pszAt[1]);
    if (nHigh >= 0 && nLow >= 0) {
        *pnValue = static_cast<unsigned>(nHigh * 16 + nLow);
        return true;
    }
    return std::sscanf(pszAt, "%2x", pnValue) == 1;
}

} // namespace

int hexDigitValue(char ch)
{
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return static_cast<unsigned char>(ch);
}

int parseHexRecord(HexAddressState *pState, const char *pszLine, HexRecord *pRecord)
{
    unsigned nCount = 0, nOffset = 0, nType = 0;
    if (std::sscanf(pszLine, ":%2x%4X%2x", &nCount, &nOffset, &nType) != 3)
        return 0;
    std::size_t nLength = std::strlen(pszLine);
    if (nLength <= 9)
        return 0;

    pRecord->nType = static_cast<std::int32_t>(nType);
    pRecord->nCount = static_cast<std::int32_t>(nCount);
    std::size_t nPos = 9;
    for (unsigned i = 0; i < nCount; ++i) {
        // The byte and at least the first character of the checksum must still be there.
        if (nLength - nPos < 3)
            return 0;
        unsigned nByte = 0;
        if (!readByteField(pszLine + nPos, &nByte))
            return 0;
        pRecord->abData[i] = static_cast<std::uint8_t>(nByte);
        nPos += 2;
    }
    unsigned nChecksum = 0;
    if (!readByteField(pszLine + nPos, &nChecksum))
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
