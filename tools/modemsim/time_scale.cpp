#include "tools/modemsim/time_scale.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <ctime>

namespace modemsim {

double timeScale() {
  const char* text = std::getenv("SUITE_TIME_SCALE");
  if (text == nullptr || *text == '\0') return 1.0;
  char* end = nullptr;
  double scale = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(scale) || scale <= 0.0) return 1.0;
  return scale;
}

long scaledMs(long ms) {
  if (ms <= 0) return 0;
  return static_cast<long>(std::llround(static_cast<double>(ms) * timeScale()));
}

long long monotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

long long monotonicMs() { return monotonicNs() / 1000000LL; }

void sleepUntilNs(long long deadline_ns) {
  if (deadline_ns <= 0) return;
  timespec until{};
  until.tv_sec = static_cast<time_t>(deadline_ns / 1000000000LL);
  until.tv_nsec = static_cast<long>(deadline_ns % 1000000000LL);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

}  // namespace modemsim
