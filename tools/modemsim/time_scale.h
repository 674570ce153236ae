// The simulator's own clock helpers. Delays it applies (answer delays, reconnects, the line-rate
// throttle, dialogue timers) are multiplied by SUITE_TIME_SCALE, so tests can run them shorter.
#pragma once

namespace modemsim {

// SUITE_TIME_SCALE as a decimal number; 1 when unset, unreadable or not above 0. Read on every call,
// so a test may change it.
double timeScale();

// Milliseconds scaled by timeScale(), rounded, never below 0.
long scaledMs(long ms);

// Nanoseconds on CLOCK_MONOTONIC.
long long monotonicNs();
long long monotonicMs();

// Sleeps until an absolute CLOCK_MONOTONIC time (restarts after signals).
void sleepUntilNs(long long deadline_ns);

}  // namespace modemsim
