#pragma once
// The one place where the country program reads clocks and sleeps.
//
// Every time-out of the port layer is a "logical" duration in milliseconds. The environment variable
// SUITE_TIME_SCALE (a decimal number; unset, invalid or <= 0 means 1) stretches or shrinks all of them,
// so that tests and demos can run the real dialogues faster. It is read once, at first use.

#include <cstdint>
#include <string>

class CClock {
public:
    // The factor that turns a logical duration into a real one (real = logical * scale).
    static double TimeScale();

    // Monotonic logical milliseconds; only differences are meaningful. A clock set backwards must not
    // shorten or stretch a wait, so this never follows the wall clock.
    static int64_t NowMs();

    // A logical duration as real milliseconds, rounded up so that a positive wait never becomes 0.
    static int64_t ToRealMs(int64_t logicalMs);

    // Sleeps for a logical duration.
    static void SleepMs(int64_t logicalMs);

    // Local time of day as "HH:MM:SS.mmm" (wall clock, for trace lines).
    static std::string TimeOfDay();

    // Wall-clock seconds since the epoch and the milliseconds within that second.
    static void WallClock(long& seconds, int& milliseconds);

    // Parses a time-scale text; returns 1 for anything that is not a positive decimal number.
    static double ParseTimeScale(const char* text);
};
