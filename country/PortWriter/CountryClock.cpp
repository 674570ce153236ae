#include "country/PortWriter/CountryClock.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/time.h>
#include <thread>

double CClock::ParseTimeScale(const char* text) {
    if (text == nullptr || *text == '\0')
        return 1.0;
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(value) || value <= 0.0)
        return 1.0;
    return value;
}

double CClock::TimeScale() {
    static const double scale = ParseTimeScale(std::getenv("SUITE_TIME_SCALE"));
    return scale;
}

int64_t CClock::NowMs() {
    using namespace std::chrono;
    const int64_t us = duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<int64_t>(static_cast<double>(us) / (1000.0 * TimeScale()));
}

int64_t CClock::ToRealMs(int64_t logicalMs) {
    if (logicalMs <= 0)
        return 0;
    const double real = std::ceil(static_cast<double>(logicalMs) * TimeScale());
    return real < 1.0 ? 1 : static_cast<int64_t>(real);
}

void CClock::SleepMs(int64_t logicalMs) {
    if (logicalMs <= 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ToRealMs(logicalMs)));
}

void CClock::WallClock(long& seconds, int& milliseconds) {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    seconds = static_cast<long>(tv.tv_sec);
    milliseconds = static_cast<int>(tv.tv_usec / 1000);
}

std::string CClock::TimeOfDay() {
    long seconds = 0;
    int ms = 0;
    WallClock(seconds, ms);
    time_t t = static_cast<time_t>(seconds);
    tm local{};
    localtime_r(&t, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%2.2d:%2.2d:%2.2d.%3.3d", local.tm_hour, local.tm_min, local.tm_sec, ms);
    return text;
}
