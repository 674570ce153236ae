// The one message every command gives when its --log cannot be kept.
#pragma once

// Prints "<command>: the log cannot be kept: cannot write <file>: <reason>[; what to do]" on
// standard error; the command goes on without a log.
void cli_ReportLogFailure(const char *pszCommand);
