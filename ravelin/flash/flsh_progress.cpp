// The update record's progress fields, the two callbacks that fill them, the result texts and the
// process-wide cancel flag.
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "ravelin/flash/flsh.h"

namespace {

// Written by the user-interface thread, read by every progress call; only ever goes from 0 to 1.
std::atomic<int> g_nCancel{0};

const char *const kBlanks = "     ";

const char *const kResultTexts[] = {
    "Successful",
    "Handshake failure",
    "Aborted by user",
    "Bad .HEX file",
    "Failure to verify update",
    "Timeout updating device",
    "Unable to open .HEX file",
    "Unable to open port",
    "Incompatible sector sizes",
    "Incompatible types",
    "Wrong version for device",
    "Error sorting the .hex file",
    "Error trying to unprotect boot sector",
    "Error trying to get Flash Loader version",
    "Error trying to handshake after the flash",
    "No dot during flash",
    "Unable to start the update thread",
};
static_assert(sizeof kResultTexts / sizeof kResultTexts[0] == FR_THREAD_FAILED + 1, "one text per result code");

const char *const kIdentifyCodes[] = {"M    ", "M  50", "M 100", "I    ", "I  50", "I 100"};

void setTexts(DeviceUpdate *pUpdate, const char *pszShort, const char *pszText)
{
    os_CopyBounded(pUpdate->szShortCode, pszShort, flsh_kShortCodeLen);
    os_CopyBounded(pUpdate->szStatusText, pszText, flsh_kStatusTextLen);
}

// A short code with the value as at least two digits, or its "100" form at 100.
void setPercentTexts(DeviceUpdate *pUpdate, const char *pszPrefix, const char *pszFull, std::int32_t nValue,
                     const char *pszText)
{
    char szShort[flsh_kShortCodeLen];
    if (pszFull != nullptr && nValue == 100)
        std::snprintf(szShort, sizeof szShort, "%s", pszFull);
    else
        std::snprintf(szShort, sizeof szShort, "%s%2.2d", pszPrefix, static_cast<int>(nValue));
    setTexts(pUpdate, szShort, pszText);
}

// Writes what a status shows; the counting statuses leave the texts as they are.
void applyStatus(DeviceUpdate *pUpdate, int nStatus, std::int32_t nValue)
{
    switch (nStatus) {
    case flsh_cHandshakeStart: setTexts(pUpdate, "I    ", "Handshaking"); break;
    case flsh_cResetting: setTexts(pUpdate, "R    ", " "); break;
    case flsh_cHandshaking: setPercentTexts(pUpdate, "H  ", nullptr, nValue, "Handshaking"); break;
    case flsh_cHandshakeDone: setTexts(pUpdate, "H 100", "Handshaking Done"); break;
    case flsh_cProgramStart: setTexts(pUpdate, "P  00", "Programming"); break;
    case flsh_cProgramming: setPercentTexts(pUpdate, "P  ", "P 100", nValue, "Programming"); break;
    case flsh_cBlockRejected: ++pUpdate->nRejectedBlocks; break;
    case flsh_cProgramTimeout: setPercentTexts(pUpdate, "T  ", nullptr, nValue, "Programming Timeout"); break;
    case flsh_cProgramDone: setTexts(pUpdate, "P 100", "Programming Done"); break;
    case flsh_cNoPrompt: ++pUpdate->nMissingPrompts; break;
    case flsh_cHeaderSendError: ++pUpdate->nHeaderSendErrors; break;
    case flsh_cDataSendError: ++pUpdate->nDataSendErrors; break;
    case flsh_cProgramLoader:
        setPercentTexts(pUpdate, "PL  ", "PL 100", nValue, "Programming Loader file");
        break;
    case flsh_cSorting: setTexts(pUpdate, "Sort", "Sorting File"); break;
    case flsh_cRestoreDefaults: setTexts(pUpdate, "ResDef", "Restoring Factory Defaults"); break;
    case flsh_cReboot: setTexts(pUpdate, "Reboot", "Cycle Power to the Device"); break;
    default: break;
    }
}

} // namespace

const char *flsh_ResultText(int nResult)
{
    if (nResult >= FR_SUCCESSFUL && nResult <= FR_THREAD_FAILED)
        return kResultTexts[nResult];
    return "Unknown update error";
}

int flsh_InitDeviceUpdate(DeviceUpdate *pUpdate, const char *pszPortPath)
{
    *pUpdate = DeviceUpdate{};
    std::snprintf(pUpdate->identity.szModel, devid_kTextLen, "%s", kBlanks);
    std::snprintf(pUpdate->identity.szVersion, devid_kTextLen, "%s", kBlanks);
    std::snprintf(pUpdate->identity.szCountry, devid_kTextLen, "%s", kBlanks);
    std::snprintf(pUpdate->identity.szSpecialBuild, devid_kTextLen, "%s", kBlanks);
    flsh_ResetProgress(pUpdate);
    os_CopyBounded(pUpdate->szPortPath, pszPortPath != nullptr ? pszPortPath : "", flsh_kPortPathLen);
    pUpdate->nResult = FR_NONE;
    pUpdate->nSpeed = 38400;
    pUpdate->keepBootSector = 1;
    pUpdate->hThread = 0;
    return os_CreateMutex(&pUpdate->hLock) != nullptr ? 1 : 0;
}

void flsh_SetAssumedModel(DeviceUpdate *pUpdate, const char *pszModel)
{
    os_CopyBounded(pUpdate->identity.szModel, pszModel != nullptr ? pszModel : "", devid_kTextLen);
}

void flsh_FreeDeviceUpdate(DeviceUpdate *pUpdate)
{
    if (pUpdate->hLock != nullptr) {
        os_DestroyMutex(pUpdate->hLock);
        pUpdate->hLock = nullptr;
    }
}

void flsh_ResetProgress(DeviceUpdate *pUpdate)
{
    if (pUpdate->hLock != nullptr) os_LockMutex(pUpdate->hLock);
    pUpdate->nLastStatus = -1;
    pUpdate->nLastValue = 0;
    pUpdate->nLastDetail = 0;
    pUpdate->nRejectedBlocks = 0;
    pUpdate->nMissingPrompts = 0;
    pUpdate->nHeaderSendErrors = 0;
    pUpdate->nDataSendErrors = 0;
    pUpdate->szResultDetail[0] = '\0';
    setTexts(pUpdate, kBlanks, kBlanks);
    if (pUpdate->hLock != nullptr) os_UnlockMutex(pUpdate->hLock);
}

void flsh_ReadProgress(DeviceUpdate *pUpdate, char *pszShortCode, char *pszStatusText, std::int32_t *pnValue)
{
    os_LockMutex(pUpdate->hLock);
    if (pszShortCode != nullptr) os_CopyBounded(pszShortCode, pUpdate->szShortCode, flsh_kShortCodeLen);
    if (pszStatusText != nullptr) os_CopyBounded(pszStatusText, pUpdate->szStatusText, flsh_kStatusTextLen);
    if (pnValue != nullptr) *pnValue = pUpdate->nLastValue;
    os_UnlockMutex(pUpdate->hLock);
}

int flsh_ShortCodePercent(const char *pszCode)
{
    const char *p = pszCode;
    while (std::isalpha(static_cast<unsigned char>(*p)))
        ++p;
    if (p == pszCode || *p != ' ')
        return 0;
    while (*p == ' ')
        ++p;
    const char *pDigits = p;
    while (std::isdigit(static_cast<unsigned char>(*p)))
        ++p;
    if (p == pDigits)
        return 0;
    while (*p == ' ' || *p == '\t')
        ++p;
    if (*p != '\0')
        return 0;
    int nPercent = std::atoi(pDigits);
    return nPercent > 100 ? 100 : nPercent;
}

const char *flsh_PortDisplayName(const DeviceUpdate *pUpdate)
{
    return std::strlen(pUpdate->szPortPath) >= 4 ? pUpdate->szPortPath + 4 : pUpdate->szPortPath;
}

int flsh_ProgressCallback(DeviceUpdate *pOwner, int nStatus, std::int32_t nValue, std::intptr_t nDetail)
{
    // A repeat of the last call changes nothing on the page, so it takes no lock. The counting
    // statuses are events, not states: three rejections of one block are three, however alike.
    // (The sorter may run without an update record: the command-line sorter.)
    bool bCounted = nStatus == flsh_cBlockRejected || nStatus == flsh_cNoPrompt ||
                    nStatus == flsh_cHeaderSendError || nStatus == flsh_cDataSendError;
    bool bRepeat = pOwner != nullptr && nStatus == pOwner->nLastStatus && nValue == pOwner->nLastValue &&
                   nDetail == pOwner->nLastDetail;
    if (pOwner != nullptr && (bCounted || !bRepeat)) {
        os_LockMutex(pOwner->hLock);
        pOwner->nLastStatus = nStatus;
        pOwner->nLastValue = nValue;
        pOwner->nLastDetail = nDetail;
        applyStatus(pOwner, nStatus, nValue);
        os_UnlockMutex(pOwner->hLock);
    }
    return g_nCancel.load() != 0 ? 0 : 1;
}

int flsh_IdentifyCallback(DeviceUpdate *pOwner, int nStatus)
{
    if (pOwner == nullptr || nStatus == pOwner->nLastStatus)
        return 1;
    os_LockMutex(pOwner->hLock);
    pOwner->nLastStatus = nStatus;
    if (nStatus >= 0 && nStatus <= 5)
        os_CopyBounded(pOwner->szShortCode, kIdentifyCodes[nStatus], flsh_kShortCodeLen);
    os_UnlockMutex(pOwner->hLock);
    return 1;
}

void flsh_SetCancel(void) { g_nCancel.store(1); }
bool flsh_IsCancelled(void) { return g_nCancel.load() != 0; }
void flsh_ClearCancelForTesting(void) { g_nCancel.store(0); }
