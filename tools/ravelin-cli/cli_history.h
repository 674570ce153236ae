// How ravelin-cli's updating commands reach the history: one recorder per command, whose one warning
// goes to stderr under the command's name.
#pragma once

#include "ravelin/history/hist_recorder.h"

// pszCommand: "ravelin-cli run". The database is $RAVELIN_HISTORY or history.db beside the executable.
HistRecorder *cli_OpenHistory(const char *pszCommand);
