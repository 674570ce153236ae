// Lucent/Agere flash facts: which "AT&&" command set the device speaks, its chip type, its flash
// sector size and the version of its flash part.
#include <cstring>

#include "ravelin/ident/devid.h"
#include "ravelin/ident/devid_answer.h"
#include "ravelin/serial/urswin32.h"
#include "ravelin/support/log.h"

namespace {

// The three spellings of the device's extended command set, tried in this order; the index is the
// variant the Lucent/Agere download later uses.
const char *const kVariantCommands[] = {"AT&&F\r", "AT&&W\r", "AT&&Z\r"};
const char *const kFlashQueries[] = {"AT&&FFL\r", "AT&&WFL\r", "AT&&ZFL\r"};

// Sector size code from the ",40," or ",10," marker of a flash answer; 0 when neither is there.
// pszMarker receives where the marker starts (nullptr when none).
int SectorSize(const char *pszAnswer, const char **ppszMarker)
{
    if ((*ppszMarker = std::strstr(pszAnswer, ",40,"))) return 64;
    if ((*ppszMarker = std::strstr(pszAnswer, ",10,"))) return 16;
    return 0;
}

} // namespace

int devid_LucentTypeCode(char chFirst)
{
    switch (chFirst) {
    case 'C': case 'c': return 0;
    case 'I': case 'i': return 1;
    case 'S': case 's': return 2;
    case 'U': case 'u': return 3;
    case 'P': case 'p': return 4;
    default: return 5;
    }
}

std::uint16_t devid_ParseFlashVersion(const char achFour[4])
{
    unsigned nValue = 0;
    for (int i = 0; i < 4; ++i) {
        unsigned char ch = static_cast<unsigned char>(achFour[i]);
        unsigned nDigit;
        if (ch >= '0' && ch <= '9') nDigit = ch - '0';
        else if (ch >= 'A' && ch <= 'F') nDigit = ch - 'A' + 10;
        else if (ch >= 'a' && ch <= 'f') nDigit = ch - 'a' + 10;
        else nDigit = ch;
        nValue = nValue * 16 + nDigit;
    }
    return static_cast<std::uint16_t>(nValue);
}

int devid_IdentifyLucent(UrsPort *pPort, LucentFlashInfo *pLucent, int nTimeout, IdentifyCallback pfnCallback,
                         DeviceUpdate *pUser, int *pnVariant)
{
    char szAnswer[devid_kAnswerLen];

    devid_SendCommand(pPort, szAnswer, sizeof szAnswer, nTimeout, pfnCallback, pUser, "AAAAT\r", 1);
    if (!devid_SendCommand(pPort, szAnswer, sizeof szAnswer, nTimeout, pfnCallback, pUser, "AT\r", 1)) {
        log_Write(__LINE__, "devid", "Response %s\n", szAnswer);
        return devid_cLucentNoAnswer;
    }

    int nVariant = -1;
    for (int i = 0; i < 3 && nVariant < 0; ++i)
        if (devid_SendCommand(pPort, szAnswer, sizeof szAnswer, nTimeout, pfnCallback, pUser, kVariantCommands[i], 1))
            nVariant = i;
    if (nVariant < 0) return devid_cLucentNoAnswer;
    *pnVariant = nVariant;

    devid_SendCommand(pPort, szAnswer, sizeof szAnswer, nTimeout, pfnCallback, pUser, "ATE1\r", 1);
    if (!devid_SendCommand(pPort, szAnswer, sizeof szAnswer, nTimeout, pfnCallback, pUser, "ATI5\r", 1))
        return devid_cLucentNoAnswer;
    if (devid_detail::ReadAti5Answer(szAnswer, pLucent)) return devid_cLucentRead;

    // Older parts tell their flash only through the variant's own query, version before the marker.
    pLucent->nSectorSize = 0;
    pLucent->nFlashVersion = 0;
    if (!devid_SendCommand(pPort, szAnswer, sizeof szAnswer, nTimeout, pfnCallback, pUser, kFlashQueries[nVariant], 1))
        return devid_cLucentNoFlashQuery;
    devid_detail::ReadFlashQueryAnswer(szAnswer, pLucent);
    return devid_cLucentRead;
}

bool devid_detail::ReadAti5Answer(const char *pszAnswer, LucentFlashInfo *pLucent)
{
    pLucent->nType = devid_LucentTypeCode(pszAnswer[0]);
    if (!std::strstr(pszAnswer, "RRFL")) return false;
    // The flash version follows the sector marker: "...RRFL,40,10AF".
    const char *pszMarker = nullptr;
    pLucent->nSectorSize = SectorSize(pszAnswer, &pszMarker);
    if (!pszMarker) return true;
    char achFour[4] = {0, 0, 0, 0};
    const char *pszDigits = pszMarker + 4;
    for (int i = 0; i < 4 && pszDigits[i]; ++i) achFour[i] = pszDigits[i];
    pLucent->nFlashVersion = devid_ParseFlashVersion(achFour);
    return true;
}

void devid_detail::ReadFlashQueryAnswer(const char *pszAnswer, LucentFlashInfo *pLucent)
{
    const char *pszMarker = nullptr;
    pLucent->nSectorSize = SectorSize(pszAnswer, &pszMarker);
    pLucent->nFlashVersion = 0;
    if (!pszMarker) return;
    // Fewer than four characters before the marker: the missing leading digits count as 0.
    char achFour[4] = {0, 0, 0, 0};
    int nAvailable = static_cast<int>(pszMarker - pszAnswer);
    for (int i = 0; i < 4; ++i) {
        int nFrom = nAvailable - 4 + i;
        if (nFrom >= 0) achFour[i] = pszAnswer[nFrom];
    }
    pLucent->nFlashVersion = devid_ParseFlashVersion(achFour);
}
