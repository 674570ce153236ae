// The one clock module: monotonic time for deadlines, local wall-clock time for log stamps,
// and sleeps that honour the process-wide time scale.
//
// The time scale comes from the environment variable SUITE_TIME_SCALE (a decimal such as 0.1),
// read once on first use; unset, empty, unparsable or not above 0 means 1. Tests set it to run
// the real device dialogues faster; the shipped program runs with 1.
#pragma once

#include <cstdint>

// Milliseconds on a monotonic clock (not affected by setting the system time). Not scaled.
std::int64_t os_MonotonicMs(void);

// Local wall-clock time with milliseconds.
struct os_WallTime {
    int nYear;         // e.g. 2026
    int nMonth;        // 1..12
    int nDay;          // 1..31
    int nHour;         // 0..23
    int nMinute;       // 0..59
    int nSecond;       // 0..60
    int nMillisecond;  // 0..999
};
void os_LocalTime(os_WallTime *pTime);

// The time scale in force (1.0 unless SUITE_TIME_SCALE says otherwise).
double os_TimeScale(void);

// A duration in milliseconds multiplied by the time scale. 0 or less stays as given; a positive
// duration never becomes 0 (so a time-out stays a time-out).
std::int64_t os_ScaleMs(std::int64_t nMs);

// Sleeps nMs * scale milliseconds (nothing for 0 or less), resuming after signals.
void os_SleepMs(std::int64_t nMs);

// Replaces the scale for the rest of the process (tests only); a value not above 0 means 1.
void os_SetTimeScaleForTesting(double dScale);
