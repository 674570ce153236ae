// The clock module: monotonic and wall-clock time, and scaled sleeps.
#include "ravelin/support/osclock.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace {

std::once_flag g_scaleOnce;
std::atomic<double> g_scale{1.0};

double ParseScale(const char *pszText) {
    if (pszText == nullptr || *pszText == '\0') return 1.0;
    char *pszEnd = nullptr;
    double d = std::strtod(pszText, &pszEnd);
    if (pszEnd == pszText || *pszEnd != '\0' || !std::isfinite(d) || d <= 0.0) return 1.0;
    return d;
}

void ReadScaleOnce() {
    std::call_once(g_scaleOnce, [] { g_scale.store(ParseScale(std::getenv("SUITE_TIME_SCALE"))); });
}

}  // namespace

std::int64_t os_MonotonicMs(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void os_LocalTime(os_WallTime *pTime) {
    if (pTime == nullptr) return;
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    time_t t = ts.tv_sec;
    struct tm tmLocal;
    localtime_r(&t, &tmLocal);
    pTime->nYear = tmLocal.tm_year + 1900;
    pTime->nMonth = tmLocal.tm_mon + 1;
    pTime->nDay = tmLocal.tm_mday;
    pTime->nHour = tmLocal.tm_hour;
    pTime->nMinute = tmLocal.tm_min;
    pTime->nSecond = tmLocal.tm_sec;
    pTime->nMillisecond = static_cast<int>(ts.tv_nsec / 1000000);
}

double os_TimeScale(void) {
    ReadScaleOnce();
    return g_scale.load();
}

std::int64_t os_ScaleMs(std::int64_t nMs) {
    if (nMs <= 0) return nMs;
    double dScaled = std::ceil(static_cast<double>(nMs) * os_TimeScale());
    if (dScaled < 1.0) return 1;
    if (dScaled > 9.0e15) return static_cast<std::int64_t>(9.0e15);
    return static_cast<std::int64_t>(dScaled);
}

void os_SleepMs(std::int64_t nMs) {
    std::int64_t nScaled = os_ScaleMs(nMs);
    if (nScaled <= 0) return;
    struct timespec req;
    req.tv_sec = static_cast<time_t>(nScaled / 1000);
    req.tv_nsec = static_cast<long>((nScaled % 1000) * 1000000);
    struct timespec rem;
    while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
}

void os_SetTimeScaleForTesting(double dScale) {
    ReadScaleOnce();
    g_scale.store(std::isfinite(dScale) && dScale > 0.0 ? dScale : 1.0);
}
