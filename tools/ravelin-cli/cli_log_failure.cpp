#include "tools/ravelin-cli/cli_log_failure.h"

#include <cstdio>

#include "ravelin/support/log.h"

void cli_ReportLogFailure(const char *pszCommand)
{
    char szWhy[1024];
    log_OpenFailure(szWhy, sizeof szWhy);
    std::fprintf(stderr, "%s: the log cannot be kept: %s\n", pszCommand, szWhy);
}
