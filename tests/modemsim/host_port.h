// The host side of a simulated line in the simulator's own tests: plain open, termios and poll, so
// these tests depend on nothing but the simulator.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

namespace modemsim_test {

inline long long nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

class HostPort {
 public:
  // Generous: a loaded 2-core machine under sanitizers may be slow, and a passing test never waits it out.
  static constexpr long kWaitMs = 5000;

  explicit HostPort(const std::string& path, speed_t speed = B115200) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return;
    setSpeed(speed);
  }
  ~HostPort() {
    if (fd_ >= 0) close(fd_);
  }
  HostPort(const HostPort&) = delete;
  HostPort& operator=(const HostPort&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  bool setSpeed(speed_t speed) {
    termios t{};
    if (tcgetattr(fd_, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetspeed(&t, speed);
    return tcsetattr(fd_, TCSANOW, &t) == 0;
  }

  bool write(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n < 0 && errno == EAGAIN) {
        pollfd p{fd_, POLLOUT, 0};
        if (poll(&p, 1, static_cast<int>(kWaitMs)) <= 0) return false;
      } else if (!(n < 0 && errno == EINTR)) {
        return false;
      }
    }
    return true;
  }

  // Reads until `expected` appears in what arrived (true) or `timeout_ms` passes, end of file or an
  // error comes (false). Everything read is kept in received().
  bool readUntil(const std::string& expected, long timeout_ms = kWaitMs) {
    long long deadline = nowMs() + timeout_ms;
    while (received_.find(expected) == std::string::npos) {
      if (!readSome(deadline)) return false;
    }
    return true;
  }

  // Reads until `count` bytes arrived in all, or the time is out.
  bool readCount(size_t count, long timeout_ms = kWaitMs) {
    long long deadline = nowMs() + timeout_ms;
    while (received_.size() < count) {
      if (!readSome(deadline)) return false;
    }
    return true;
  }

  // Reads whatever comes for the whole of `ms` (to show that nothing, or nothing more, arrives).
  void readFor(long ms) {
    long long deadline = nowMs() + ms;
    while (nowMs() < deadline && readSome(deadline)) {
    }
  }

  // Waits for the line to hang up: end of file or an I/O error on read.
  bool waitHangUp(long timeout_ms = kWaitMs) {
    long long deadline = nowMs() + timeout_ms;
    while (!hung_up_) {
      if (!readSome(deadline) && !hung_up_) return false;
    }
    return true;
  }

  const std::string& received() const { return received_; }
  void clear() { received_.clear(); }
  bool hungUp() const { return hung_up_; }
  int lastError() const { return last_errno_; }

 private:
  // One poll and read; false on time-out, end of file or error.
  bool readSome(long long deadline) {
    long long left = deadline - nowMs();
    if (left <= 0) return false;
    pollfd p{fd_, POLLIN, 0};
    int n = poll(&p, 1, static_cast<int>(left));
    if (n < 0 && errno == EINTR) return true;
    if (n <= 0) return false;
    char buffer[4096];
    ssize_t got = ::read(fd_, buffer, sizeof buffer);
    if (got > 0) {
      received_.append(buffer, static_cast<size_t>(got));
      return true;
    }
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    last_errno_ = got < 0 ? errno : 0;
    hung_up_ = true;
    return false;
  }

  int fd_ = -1;
  std::string received_;
  bool hung_up_ = false;
  int last_errno_ = 0;
};

}  // namespace modemsim_test
