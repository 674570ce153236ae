// Pieces shared by the sources of the serial line layer; not for its callers.
#pragma once

#include <cstdint>

#include "ravelin/serial/urswin32.h"

// Source name of every log line of the layer.
#define URS_MODULE "urswin32"

// Now on the layer's monotonic clock, in milliseconds (see UrsTimeStamp).
std::int64_t urs_NowMs(void);

// Milliseconds elapsed since the running deadline's start.
std::int64_t urs_ElapsedMs(const UrsPort *pPort);

// True while a deadline runs.
inline bool urs_DeadlineRunning(const UrsPort *pPort) { return pPort->tsDeadlineStart.nSeconds != 0; }

// Sets up the time-outs of the next OS read or write: stores its allowance in milliseconds in
// *pnAllowanceMs and returns true, or returns false when the transfer must be refused (the running
// deadline has passed, or the port is not open; the latter is logged here).
bool urs_SetTransferTimeouts(UrsPort *pPort, long *pnAllowanceMs);

// Drops the bytes read ahead but not yet handed out; goes with every purge of the driver's queues.
inline void urs_EmptyInput(UrsPort *pPort)
{
    pPort->nInputNext = 0;
    pPort->nInputEnd = 0;
}

// Blocks until the monotonic time nEndMs (urs_NowMs), resuming after signals.
void urs_WaitUntil(std::int64_t nEndMs);

// Low latency (urs_latency.cpp). At open, once the port is ours: asks the driver for low latency
// and logs one line (set, already on, no such setting, or why not); a failure does not fail the open.
void urs_RequestLowLatency(UrsPort *pPort, const char *pszName);
// In the closing sequence: gives the driver back the flags it had, when the open changed them.
void urs_RestoreLatency(UrsPort *pPort);
