// Interrupted updates where the user next meets their ports: probe, run and flash name each one
// whose device may be waiting in its flash loader, and resume finds them.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "ravelin/history/history.h"

// The latest record of every port that needs finishing (hist_NeedsResume), newest first; only the
// ports named when pPorts is not null (display names, compared without regard to case). A history
// that does not exist yet holds none; one that cannot be read leaves its reason in *pError and
// returns false.
bool cli_LoadInterrupted(const std::vector<std::string> *pPorts, std::vector<HistRecord> *pRecords,
                         std::string *pError);

// hist_InterruptedNotice's line for each interrupted update among the ports (all when pPorts is
// null); none when the history cannot be read (the command goes on as before).
std::vector<std::string> cli_InterruptedNotices(const std::vector<std::string> *pPorts);

// Writes hist_InterruptedNotice's line for each interrupted update among the ports (all ports when
// pPorts is null) to pOut. A history that cannot be read is passed over in silence here: the
// command goes on as before. Returns how many were named.
int cli_NoteInterrupted(const std::vector<std::string> *pPorts, std::FILE *pOut);
