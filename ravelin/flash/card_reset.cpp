// Card port reset through the management driver (see card_reset.h).
#include <algorithm>
#include <atomic>
#include <cstring>

#include "ravelin/flash/card_reset.h"
#include "ravelin/flash/flsh.h"
#include "ravelin/support/log.h"

namespace {

const char *const kModule = "flsh";

// No management driver exists on this platform: opening its device fails as a missing device does.
constexpr std::uint32_t kErrorFileNotFound = 2;

int noDriverOpen(void *, const char *, std::uint32_t *pnError)
{
    *pnError = kErrorFileNotFound;
    return 0;
}

int noDriverControl(void *, std::uint32_t, const void *, std::uint32_t, void *, std::uint32_t, std::uint32_t *pnError)
{
    *pnError = kErrorFileNotFound;
    return 0;
}

void noDriverClose(void *) {}

const flsh_CardDriver kShippedDriver = {nullptr, noDriverOpen, noDriverControl, noDriverClose};
std::atomic<const flsh_CardDriver *> g_pDriver{&kShippedDriver};

struct CardEntry {
    std::uint8_t abBytes[flsh_kCardEntryLen];
};

} // namespace

void flsh_SetCardDriver(const flsh_CardDriver *pDriver)
{
    g_pDriver.store(pDriver != nullptr ? pDriver : &kShippedDriver);
}

std::uint32_t flsh_PortNumber(const char *pszPortPath)
{
    const char *pszPrefix = "\\\\.\\COM";
    std::size_t nPrefix = std::strlen(pszPrefix);
    if (pszPortPath == nullptr || std::strncmp(pszPortPath, pszPrefix, nPrefix) != 0)
        return 0;
    return os_ParseNumber(pszPortPath + nPrefix);
}

void flsh_ResetCardPort(DeviceUpdate *pUpdate)
{
    const flsh_CardDriver *pDriver = g_pDriver.load();
    const char *pszName = flsh_PortDisplayName(pUpdate);
    log_Write(__LINE__, kModule, "<%s> Not Handshaking try to reset", pszName);

    std::uint32_t nError = 0;
    if (!pDriver->pfnOpen(pDriver->pContext, flsh_kCardDevice, &nError)) {
        log_Write(__LINE__, kModule, "Failed To Open OctaMgmt Device Handle To Driver:Err 0x%x", nError);
        return;
    }

    std::uint8_t abCards[flsh_kCardListLen] = {};
    if (!pDriver->pfnControl(pDriver->pContext, flsh_kCardListCards, nullptr, 0, abCards, sizeof abCards, &nError)) {
        log_Write(__LINE__, kModule, "ERROR:  Unable to cards %d", static_cast<int>(nError));
        pDriver->pfnClose(pDriver->pContext);
        return;
    }
    // The count byte comes from the driver: never read past the four entries the answer holds.
    int nCards = std::min<int>(abCards[0], (flsh_kCardListLen - 1) / flsh_kCardEntryLen);
    CardEntry aCards[(flsh_kCardListLen - 1) / flsh_kCardEntryLen];
    for (int i = 0; i < nCards; ++i)
        std::memcpy(aCards[i].abBytes, abCards + 1 + i * flsh_kCardEntryLen, flsh_kCardEntryLen);
    std::stable_sort(aCards, aCards + nCards,
                     [](const CardEntry &a, const CardEntry &b) { return a.abBytes[0] < b.abBytes[0]; });
    log_Write(__LINE__, kModule, "Got the card info");

    std::uint32_t nPortNumber = flsh_PortNumber(pUpdate->szPortPath);
    for (int c = 0; c < nCards; ++c) {
        std::uint8_t nCard = aCards[c].abBytes[0];
        std::uint8_t abPorts[flsh_kPortListLen] = {};
        if (!pDriver->pfnControl(pDriver->pContext, flsh_kCardListPorts, &nCard, 1, abPorts, sizeof abPorts,
                                 &nError)) {
            log_Write(__LINE__, kModule, "ERROR:  Unable to get port info %d", static_cast<int>(nError));
            continue;
        }
        log_Write(__LINE__, kModule, "Got port info");
        int nPorts = std::min<int>(aCards[c].abBytes[2], flsh_kPortListLen / flsh_kPortEntryLen);
        for (int i = 0; i < nPorts; ++i) {
            if (abPorts[i * flsh_kPortEntryLen] != nPortNumber)
                continue;
            log_Write(__LINE__, kModule, "Found the port and card number");
            std::uint32_t nSelector = static_cast<std::uint32_t>(nCard) * 16u + static_cast<std::uint32_t>(i);
            std::uint8_t abInput[4] = {static_cast<std::uint8_t>(nSelector), static_cast<std::uint8_t>(nSelector >> 8),
                                       static_cast<std::uint8_t>(nSelector >> 16),
                                       static_cast<std::uint8_t>(nSelector >> 24)};
            if (pDriver->pfnControl(pDriver->pContext, flsh_kCardResetPort, abInput, sizeof abInput, nullptr, 0,
                                    &nError))
                log_Write(__LINE__, kModule, "<%s> Device was reset", pszName);
            else
                log_Write(__LINE__, kModule, "<%s> Not Able to Reset %d", pszName, static_cast<int>(nError));
        }
    }
    pDriver->pfnClose(pDriver->pContext);
}
