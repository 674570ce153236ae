#include "tools/ravelin-cli/cli_progress.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const int kBarWidth = 30;

std::string Trimmed(const char *pszText)
{
    std::string text = pszText;
    std::size_t nFirst = text.find_first_not_of(" \t");
    if (nFirst == std::string::npos)
        return "";
    return text.substr(nFirst, text.find_last_not_of(" \t") - nFirst + 1);
}

// The percentage of "P  07", "P 45" or "P 100": the short codes of image programming. The record's
// value is no guide: the programming start carries the speed in it. -1 for any other code.
int ProgrammingPercent(const char *pszCode)
{
    if (pszCode[0] != 'P' || pszCode[1] != ' ')
        return -1;
    const char *p = pszCode + 1;
    while (*p == ' ')
        ++p;
    if (!std::isdigit(static_cast<unsigned char>(*p)))
        return -1;
    int nPercent = std::atoi(p);
    return nPercent > 100 ? 100 : nPercent;
}

} // namespace

int cli_ShortCodePercent(const char *pszCode)
{
    return flsh_ShortCodePercent(pszCode);
}

void cli_InitProgress(CliProgress *pProgress, bool bTerminal)
{
    *pProgress = CliProgress{};
    pProgress->bTerminal = bTerminal;
}

void cli_ShowProgress(CliProgress *pProgress, DeviceUpdate *pUpdate)
{
    char szCode[flsh_kShortCodeLen], szText[flsh_kStatusTextLen];
    flsh_ReadProgress(pUpdate, szCode, szText, nullptr);
    std::string code = Trimmed(szCode), text = Trimmed(szText);
    std::string line = code.empty() || text.empty() ? code + text : code + "  " + text;
    if (line.empty())
        return;
    int nPercent = ProgrammingPercent(szCode);
    bool bGrew = nPercent > pProgress->nPercent;
    if (line == pProgress->lastLine && !bGrew)
        return;
    pProgress->lastLine = line;
    if (bGrew)
        pProgress->nPercent = nPercent;
    if (!pProgress->bTerminal) {
        std::fprintf(stderr, "%s\n", line.c_str());
        return;
    }
    int nFilled = pProgress->nPercent * kBarWidth / 100;
    std::fprintf(stderr, "\r[%s%s] %3d%%  %-34s", std::string(static_cast<std::size_t>(nFilled), '#').c_str(),
                 std::string(static_cast<std::size_t>(kBarWidth - nFilled), ' ').c_str(), pProgress->nPercent,
                 line.c_str());
    std::fflush(stderr);
    pProgress->bDrawn = true;
}

void cli_EndProgress(CliProgress *pProgress)
{
    if (pProgress->bDrawn)
        std::fputc('\n', stderr);
    pProgress->bDrawn = false;
}
