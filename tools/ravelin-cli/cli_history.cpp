#include "tools/ravelin-cli/cli_history.h"

#include <cstdio>

#include "suite_version.h"

namespace {

void warnOnStderr(const char *pszWarning, void *pUser)
{
    std::fprintf(stderr, "%s: warning: %s\n", static_cast<const char *>(pUser), pszWarning);
    std::fflush(stderr);
}

} // namespace

HistRecorder *cli_OpenHistory(const char *pszCommand)
{
    return hist_OpenRecorder("ravelin-cli " SUITE_VERSION, nullptr, warnOnStderr, const_cast<char *>(pszCommand));
}
