// Answer waits shared by the chip download protocols: read bytes under the port's deadline and feed
// them to one streaming watcher per acceptable answer, in a fixed order, until one of them has seen
// its text or the deadline passes.
#pragma once

#include "ravelin/serial/urswin32.h"

// Most answers one wait watches for.
constexpr int chip_kMaxAnswers = 8;

// Waits up to nSeconds for the first of the texts (at most chip_kMaxAnswers, fed in the order given)
// to appear in the received bytes. Returns the index of the text seen, or -1 when the deadline passed
// first. Read errors do not end the wait; the deadline is stopped on every way out.
int chip_WaitForAnswer(UrsPort *pPort, int nSeconds, const char *const *ppszAnswers, int nCount);
