// The Lucent/Agere image header rules (see flsh_lucent_image.h).
#include "ravelin/flash/flsh_lucent_image.h"

#include "ravelin/support/oswin32.h"

namespace {

// Value of one hexadecimal digit in either case; 0 for anything else, as the header's reader always took.
int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return 0;
}

// The type letters' data bytes, written as two decimal digits in the record's hex text.
int typeFromCode(int nCode)
{
    switch (nCode) {
    case 43: return 0; // "C"
    case 49: return 1; // "I"
    case 53: return 2; // "S"
    case 55: return 3; // "U"
    case 50: return 4; // "P"
    default: return 5;
    }
}

} // namespace

int flsh_ParseLucentImageHeader(const char *pText, int nLength, LucentImageHeader *pHeader)
{
    if (nLength < flsh_kLucentHeaderLen)
        return 0;
    if (pText[69] == 'F') {
        pHeader->nType = 5;
        pHeader->nSectorSize = 0;
        pHeader->nVersion = 0;
        return 1;
    }
    pHeader->nType = typeFromCode((pText[69] - '0') * 10 + (pText[70] - '0'));
    pHeader->nSectorSize = (pText[71] - '0') * 16 + (pText[72] - '0');
    if (pHeader->nSectorSize == 0) {
        pHeader->nVersion = 0;
    } else {
        pHeader->nVersion = static_cast<std::uint16_t>((hexDigit(pText[67]) << 12) | (hexDigit(pText[68]) << 8) |
                                                       (hexDigit(pText[65]) << 4) | hexDigit(pText[66]));
    }
    return 1;
}

int flsh_ReadLucentImageHeader(const char *pszImagePath, LucentImageHeader *pHeader)
{
    osfl_Handle hFile = osfl_Open(pszImagePath, osfl_kRead);
    if (hFile == osfl_kInvalidHandle)
        return FR_HEX_OPEN_FAILED;
    char text[flsh_kLucentHeaderLen];
    int nRead = 0;
    while (nRead < flsh_kLucentHeaderLen) {
        int n = osfl_Read(hFile, text + nRead, flsh_kLucentHeaderLen - nRead);
        if (n <= 0)
            break;
        nRead += n;
    }
    osfl_Close(hFile);
    return flsh_ParseLucentImageHeader(text, nRead, pHeader) ? 0 : FR_BAD_HEX;
}

int flsh_FlashModeForStatus(int nIdentifyStatus)
{
    if (nIdentifyStatus == 9)
        return flsh_kGoFlash;
    if (nIdentifyStatus == 10)
        return flsh_kFullFlash;
    return flsh_kNormalFlash;
}

int flsh_CompareLucentImage(const LucentImageHeader *pImage, const LucentFlashInfo *pDevice, int *pnFlashMode)
{
    if (pDevice->nSectorSize == -1 && pDevice->nType == -1) {
        if (pImage->nSectorSize == 0 && *pnFlashMode == flsh_kGoFlash) {
            *pnFlashMode = flsh_kFullFlash;
            return 0;
        }
        return FR_PORT_OPEN_FAILED;
    }
    if (pDevice->nSectorSize != 0 && pImage->nSectorSize != 0 && pDevice->nSectorSize != pImage->nSectorSize)
        return FR_SECTOR_SIZES;
    if (pDevice->nType != pImage->nType)
        return FR_TYPES;
    if (pDevice->nSectorSize != 0 && pImage->nSectorSize != 0 && pDevice->nFlashVersion != pImage->nVersion)
        *pnFlashMode = flsh_kFullFlash;
    if ((pDevice->nSectorSize == 0 || pImage->nSectorSize == 0) && *pnFlashMode == flsh_kGoFlash)
        *pnFlashMode = flsh_kFullFlash;
    return 0;
}

int flsh_CheckLucentImage(const char *pszImagePath, const LucentFlashInfo *pDevice, int *pnFlashMode)
{
    LucentImageHeader header;
    int nResult = flsh_ReadLucentImageHeader(pszImagePath, &header);
    if (nResult != 0)
        return nResult;
    return flsh_CompareLucentImage(&header, pDevice, pnFlashMode);
}
