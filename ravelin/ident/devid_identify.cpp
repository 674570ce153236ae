// The identification dialogue: which catalogue model answers, and then the family's own commands
// for version, country and build.
#include <cstdlib>
#include <cstring>

#include "ravelin/catalogue/catalogue.h"
#include "ravelin/ident/countrycode.h"
#include "ravelin/ident/devid.h"
#include "ravelin/ident/devid_answer.h"
#include "ravelin/serial/urswin32.h"
#include "ravelin/support/log.h"
#include "ravelin/support/oswin32.h"

namespace {

// Seconds a line is left to settle after a speed change before the first command.
constexpr int kSettleSeconds = 4;

bool CallbackSaysStop(IdentifyCallback pfnCallback, DeviceUpdate *pUser, int nStage)
{
    return pfnCallback && pfnCallback(pUser, nStage) == 0;
}

std::uint32_t FlagsOfModel(const char *pszModel)
{
    int nId = 0;
    if (!cat_FindModelId(pszModel, &nId)) return cat_kDefaultFlags;
    return cat_FlagsForId(nId);
}

} // namespace

void devid_detail::NthLine(const char *pszText, int nIndex, char *pszLine, int nLineSize)
{
    pszLine[0] = '\0';
    const char *p = pszText;
    for (int nLine = 0;; ++nLine) {
        p += std::strspn(p, "\r\n");
        if (!*p) return;
        std::size_t nLength = std::strcspn(p, "\r\n");
        if (nLine == nIndex) {
            std::size_t nCopy = nLength < static_cast<std::size_t>(nLineSize) - 1 ? nLength : nLineSize - 1;
            std::memcpy(pszLine, p, nCopy);
            pszLine[nCopy] = '\0';
            return;
        }
        p += nLength;
    }
}

bool devid_IsIdentified(int nStatus)
{
    return nStatus == devid_cIdentified || nStatus == devid_cLucentRead || nStatus == devid_cLucentNoFlashQuery;
}

int devid_Identify(UrsPort *pPort, char *pszModel, char *pszVersion, char *pszCountry, char *pszSpecialBuild,
                   char *pszVersionSuffix, LucentFlashInfo *pLucent, int nTimeout, IdentifyCallback pfnCallback,
                   DeviceUpdate *pUser, int *pnLucentVariant)
{
    char szAnswer[devid_kAnswerLen];
    char szAti[devid_kAnswerLen];   // the "ATI\r" answer, also where the version is read from
    int nResult = devid_cIdentified;
    bool bAti4Mode = false;

    auto send = [&](const char *pszCommand, int bFirstLineOnly) {
        return devid_SendCommand(pPort, szAnswer, sizeof szAnswer, nTimeout, pfnCallback, pUser, pszCommand,
                                 bFirstLineOnly);
    };

    if (CallbackSaysStop(pfnCallback, pUser, devid_kStageStart)) return devid_cAborted;

    if (!send("AT\r", 1)) {
        // Devices configured for the fast line say nothing at 38400 baud.
        log_Write(__LINE__, "devid", "Changing to 115200, we got nothing from 38400.");
        urs_SetUart(pPort, 115200, 8, 0, 0, 0);
        urs_Sleep(kSettleSeconds);
        if (!send("ATE1V1Q0\r", 1)) return devid_cSilent;
    }
    // Echo on, verbose result codes, result codes on: every later answer is read that way.
    send("ATE1V1Q0\r", 1);

    if (send("AT+WOPEN=1\r", 1)) {
        // Devices with an embedded application platform name model and version through their own
        // commands; they have no country or build answer.
        if (!send("AT#MMODEL\r", 1) || !cat_FindModelInText(szAnswer, pszModel, devid_kTextLen))
            nResult = devid_cNoAnswer;
        if (send("AT#VVERSION\r", 1) && devid_GetVersion(pszVersion, szAnswer, pszVersionSuffix))
            return nResult;
        return devid_cNoAnswer;
    }

    if (!devid_SendCommand(pPort, szAti, sizeof szAti, nTimeout, pfnCallback, pUser, "ATI\r", 0))
        nResult = devid_cNoAnswer;
    if (!cat_FindModelInText(szAti, pszModel, devid_kTextLen)) {
        if (!send("ATI2\r", 1)) return devid_cNoModel;
        if (cat_FindModelInText(szAnswer, pszModel, devid_kTextLen)) {
            nResult = devid_cIdentified;
        } else {
            if (!send("ATI4\r", 0)) return devid_cNoModel;
            if (!cat_FindModelInText(szAnswer, pszModel, devid_kTextLen) ||
                !(FlagsOfModel(pszModel) & FLF_ROCKWELL)) {
                pszModel[0] = '\0';
                return devid_cNoModel;
            }
            bAti4Mode = true;
            nResult = devid_cIdentified;
        }
    }

    bool bGoOn2 = !CallbackSaysStop(pfnCallback, pUser, devid_kStageModel1);
    bool bGoOn3 = !CallbackSaysStop(pfnCallback, pUser, devid_kStageModel2);
    if (!bGoOn2 && !bGoOn3) return devid_cAborted;

    if (bAti4Mode) {
        pszVersion[0] = '\0';
    } else if (!devid_GetVersion(pszVersion, szAti, pszVersionSuffix) &&
               !devid_ReadATI1(pPort, pszVersion, pszCountry, pszSpecialBuild, nTimeout, pfnCallback, pUser)) {
        return devid_cNoVersion;
    }

    if (CallbackSaysStop(pfnCallback, pUser, devid_kStageVersion)) return devid_cAborted;

    const std::uint32_t nFlags = FlagsOfModel(pszModel);
    const bool bTa = (nFlags & FLF_TA) != 0;
    if (bTa) {
        os_CopyBounded(pszCountry, "Universal", devid_kTextLen);
        if (os_CompareNoCase(pszModel, "Octa-TA2") == 0 || os_CompareNoCase(pszModel, "Octa-TA1") == 0) {
            if (!send("AT%I\r", 1)) nResult = devid_cTaNoAnswer;
            else if (std::strtol(szAnswer, nullptr, 10) != 0) nResult = devid_cTaNotZero;
            else nResult = devid_cIdentified;
        }
    }

    if (nFlags & FLF_LUCENT) {
        nResult = devid_IdentifyLucent(pPort, pLucent, nTimeout, pfnCallback, pUser, pnLucentVariant);
        send("ATI9\r", 1);
        devid_FindCountry(szAnswer, pszCountry, devid_kTextLen, devid_kCountryByName);
    } else if (bAti4Mode) {
        // The "ATI4\r" page: a title line, then model, version and country.
        send("ATI4\r", 0);
        devid_detail::NthLine(szAnswer, 1, pszModel, devid_kTextLen);
        devid_detail::NthLine(szAnswer, 2, pszVersion, devid_kTextLen);
        send("ATI4\r", 0);
        devid_detail::NthLine(szAnswer, 3, pszCountry, devid_kTextLen);
    } else if (nFlags & FLF_ROCKWELL) {
        if (!send("ATI3\r", 1)) nResult = devid_cNoVersion;
        if (const char *pszDash = std::strchr(szAnswer, '-'))
            devid_detail::AppendBounded(pszVersion, devid_kTextLen, pszDash);
        send("ATI5\r", 1);
        devid_FindCountry(szAnswer, pszCountry, devid_kTextLen,
                          (nFlags & FLF_HEX_COUNTRY) ? devid_kCountryByHex : devid_kCountryByDecimal);
    } else if (!bTa) {
        // A terminal adapter keeps "Universal": its "ATI9\r" answer names no country of the table.
        send("ATI9\r", 1);
        devid_FindCountry(szAnswer, pszCountry, devid_kTextLen, devid_kCountryByName);
    }
    return nResult;
}

int devid_IdentifyPort(DeviceIdentity *pIdentity, const char *pszPortPath, IdentifyCallback pfnCallback,
                       DeviceUpdate *pUser)
{
    os_yield();
    pIdentity->nStatus = devid_cIdentified;
    pIdentity->szModel[0] = pIdentity->szVersion[0] = pIdentity->szCountry[0] = '\0';
    pIdentity->szSpecialBuild[0] = pIdentity->szVersionSuffix[0] = '\0';

    UrsPort port;
    std::memset(&port, 0, sizeof port);
    if (urs_OpenPort(&port, pszPortPath) != URS_OK) {
        pIdentity->nStatus = devid_cOpenFailed;
        return pIdentity->nStatus;
    }
    urs_SetUart(&port, 38400, 8, 0, 0, 0);
    urs_Sleep(kSettleSeconds);

    int nStatus = devid_Identify(&port, pIdentity->szModel, pIdentity->szVersion, pIdentity->szCountry,
                                 pIdentity->szSpecialBuild, pIdentity->szVersionSuffix, &pIdentity->lucent,
                                 devid_kAnswerTimeout, pfnCallback, pUser, &pIdentity->nLucentVariant);
    pIdentity->nStatus = nStatus;
    if (devid_IsIdentified(nStatus))
        log_Write(__LINE__, "devid", "<%s>  Model %s Version %s  Country %s, SpecialBuild %s", port.szName,
                  pIdentity->szModel, pIdentity->szVersion, pIdentity->szCountry, pIdentity->szSpecialBuild);
    else
        log_Write(__LINE__, "devid", "Error: <%s>  Model %s Version %s  Country %s, SpecialBuild %s", port.szName,
                  pIdentity->szModel, pIdentity->szVersion, pIdentity->szCountry, pIdentity->szSpecialBuild);
    urs_ClosePort(&port);
    return nStatus;
}

int devid_IdentifyLucentPort(DeviceIdentity *pIdentity, const char *pszPortPath)
{
    UrsPort port;
    std::memset(&port, 0, sizeof port);
    if (urs_OpenPort(&port, pszPortPath) != URS_OK) {
        pIdentity->nStatus = devid_cOpenFailed;
        return pIdentity->nStatus;
    }
    urs_SetUart(&port, 115200, 8, 0, 0, 0);
    pIdentity->nStatus = devid_IdentifyLucent(&port, &pIdentity->lucent, devid_kLucentPortTimeout, nullptr, nullptr,
                                              &pIdentity->nLucentVariant);
    urs_ClosePort(&port);
    return pIdentity->nStatus;
}
