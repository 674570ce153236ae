// The update program's command line (see command_line.h).
#include "ravelin/flash/command_line.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "ravelin/support/log.h"

namespace {

// Decimal conversion as the speed needs it: leading blanks, a sign, digits; no number gives 0, and a
// number beyond the 32-bit range is held at its end rather than wrapping into some other speed.
std::int32_t decimalValue(const char *pszText)
{
    char *pEnd = nullptr;
    long long nValue = std::strtoll(pszText, &pEnd, 10);
    if (pEnd == pszText) return 0;
    if (nValue > INT32_MAX) return INT32_MAX;
    if (nValue < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(nValue);
}

void takePendingValue(CommandLineSettings *pSettings, const char *pszText)
{
    switch (pSettings->nPending) {
    case flsh_kPendingModel:
        // An unknown name leaves the model's name empty (SetFromModel upper-cases and looks it up).
        pSettings->model.SetFromModel(pszText);
        break;
    case flsh_kPendingPort: os_CopyBounded(pSettings->szPort, pszText, flsh_kCmdPortLen); break;
    case flsh_kPendingHexFile: os_CopyBounded(pSettings->szHexFile, pszText, os_kPathLen); break;
    case flsh_kPendingSpeed: pSettings->nSpeed = decimalValue(pszText); break;
    default: break;
    }
    pSettings->nPending = flsh_kPendingNone;
}

void applySwitch(CommandLineSettings *pSettings, const char *pszText)
{
    if (pszText[0] == '\0' || pszText[1] != '\0') return;  // the whole switch is one letter
    switch (std::toupper(static_cast<unsigned char>(pszText[0]))) {
    case 'B': pSettings->nBootCode = 1; break;
    case 'C': pSettings->nAfterFlashCheck = 1; break;
    case 'D': pSettings->bLogging = 1; break;
    case 'E': pSettings->bRestoreDefaults = 0; break;
    case 'F': pSettings->nPending = flsh_kPendingHexFile; break;
    case 'H': pSettings->bDetection = 1; break;
    case 'L': pSettings->bFullFlash = 1; break;
    case 'M': pSettings->nPending = flsh_kPendingModel; break;
    case 'P': pSettings->nPending = flsh_kPendingPort; break;
    case 'R': pSettings->nPending = flsh_kPendingSpeed; break;
    case 'S': pSettings->bStatusPage = 1; break;
    case 'V': pSettings->bPageSet = pSettings->bPageSet ? 0 : 1; break;
    case 'W': pSettings->bModelPage = 1; break;
    default: break;
    }
}

bool isSwitchText(const char *pszParam) { return pszParam[0] == '-' || pszParam[0] == '/'; }

} // namespace

void flsh_InitCommandLine(CommandLineSettings *pSettings)
{
    *pSettings = CommandLineSettings{};
    pSettings->model.SetFromModel(flsh_kDefaultCmdModel);
    os_CopyBounded(pSettings->szHexFile, flsh_kDefaultCmdHexFile, os_kPathLen);
}

void flsh_ParseCommandParameter(CommandLineSettings *pSettings, const char *pszText, bool bSwitch, bool /*bLast*/)
{
    if (pszText == nullptr) return;
    if (pSettings->nPending != flsh_kPendingNone) takePendingValue(pSettings, pszText);
    if (bSwitch) applySwitch(pSettings, pszText);
}

void flsh_ParseCommandArgument(CommandLineSettings *pSettings, const char *pszParam, bool bLast)
{
    if (pszParam == nullptr) return;
    bool bSwitch = isSwitchText(pszParam);
    if (pSettings->nPending != flsh_kPendingNone) {
        // The value as written: stripping the "/" of "/dev/ttyUSB0" would name another port.
        takePendingValue(pSettings, pszParam);
        if (bSwitch) applySwitch(pSettings, pszParam + 1);
        return;
    }
    flsh_ParseCommandParameter(pSettings, bSwitch ? pszParam + 1 : pszParam, bSwitch, bLast);
}

void flsh_ParseCommandLine(CommandLineSettings *pSettings, int argc, const char *const *argv)
{
    for (int i = 1; i < argc; ++i) flsh_ParseCommandArgument(pSettings, argv[i], i == argc - 1);
    if (pSettings->nPending != flsh_kPendingNone)
        LOG_WRITE("cmdline", "the last switch waits for a value that never came");
}
