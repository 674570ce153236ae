// The progress display of a device update on stderr: a bar on a terminal, one line per change
// otherwise. The bar shows how much of the image has been programmed and never goes back, whatever
// the statuses before and after programming (sorting, handshakes, the check after the flash) say.
#pragma once

#include <string>

#include "ravelin/flash/flsh.h"

struct CliProgress {
    bool bTerminal = false;
    int nPercent = 0;        // the bar's fill: the highest programming percentage seen
    bool bDrawn = false;     // a bar is on the terminal's current line
    std::string lastLine;    // the last status line shown
};

void cli_InitProgress(CliProgress *pProgress, bool bTerminal);
// Shows the record's status when it changed since the last call. A status that has no text yet
// (the record's initial blanks) shows nothing.
void cli_ShowProgress(CliProgress *pProgress, DeviceUpdate *pUpdate);
// Ends the bar's line, so that what follows starts on a line of its own.
void cli_EndProgress(CliProgress *pProgress);

// The percentage a status short code shows ("H  50", "PL  07", "P 100"): the number after its
// letters, at most 100; 0 for a code without one ("ResDef", "I    "). The record's value is no
// guide for a display: some statuses carry the line speed in it.
int cli_ShortCodePercent(const char *pszCode);
