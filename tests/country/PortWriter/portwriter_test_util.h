// Helpers of the port-layer tests: a scratch directory, a raw pseudo-terminal line reachable as COM<n>,
// and reading back a traffic log.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>

#include "country/PortWriter/CountryClock.h"
#include "fixtures/sim_bank_fixture.h"

namespace pw_testing {

// A fresh directory from mkdtemp, removed with its files at the end.
class ScratchDir {
public:
    ScratchDir() {
        const char* tmp = std::getenv("TMPDIR");
        std::string templ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/pwtest.XXXXXX";
        if (::mkdtemp(&templ[0]) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = templ;
    }
    ~ScratchDir() {
        const std::string command = "rm -rf '" + path_ + "'";
        if (std::system(command.c_str()) != 0) {
        }
    }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// A text-mode traffic log with its line breaks and time prefixes taken out, so that trace lines can be
// searched whole wherever the log wrapped them.
inline std::string UnwrappedTextLog(const std::string& text) {
    static const std::regex kBreak("\n(\\[[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}\\] )?");
    std::string out = std::regex_replace(text, kBreak, "");
    static const std::regex kFirstPrefix("^\\[[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}\\] ");
    return std::regex_replace(out, kFirstPrefix, "");
}

// The master side of a raw pseudo-terminal whose slave is linked as COM<port> in a scratch directory
// named by SERIAL_PORTS_DIR: a "device" that the test drives byte by byte (and that can stop reading).
class PtyLine {
public:
    explicit PtyLine(int port) : port_(port) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            throw std::runtime_error("no pseudo-terminal");
        termios raw{};
        ::tcgetattr(master_, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(master_, TCSANOW, &raw);
        char name[128];
        if (::ptsname_r(master_, name, sizeof name) != 0)
            throw std::runtime_error("ptsname failed");
        slave_ = name;
        link_ = dir_.file("COM" + std::to_string(port));
        if (::symlink(slave_.c_str(), link_.c_str()) != 0)
            throw std::runtime_error("symlink failed");
        env_.reset(new modemsim_testing::ScopedEnv("SERIAL_PORTS_DIR", dir_.path()));
    }
    ~PtyLine() {
        env_.reset();
        if (master_ >= 0)
            ::close(master_);
    }

    int port() const { return port_; }
    const std::string& slavePath() const { return slave_; }
    int master() const { return master_; }

    void send(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else {
                pollfd p{master_, POLLOUT, 0};
                ::poll(&p, 1, 100);
            }
        }
    }

    // Reads what arrives until `quietMs` pass without a byte, or `limitMs` in all.
    std::string drain(int quietMs = 200, int limitMs = 5000) {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, quietMs) <= 0)
                break;
            char buffer[4096];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;  // the host flushed what poll saw: not the end of what arrives
            if (n <= 0)
                break;
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }

    // Reads until `text` has arrived (true) or `limitMs` passed.
    bool readUntil(const std::string& text, std::string& got, int limitMs = 5000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (got.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() >= end)
                return false;
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, static_cast<size_t>(n));
        }
        return true;
    }

private:
    int port_;
    ScratchDir dir_;
    int master_ = -1;
    std::string slave_;
    std::string link_;
    std::unique_ptr<modemsim_testing::ScopedEnv> env_;
};

// Milliseconds on the monotonic clock, for lower bounds on waits.
inline long long MonotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A logical duration as real milliseconds under SUITE_TIME_SCALE (for lower bounds on waits).
inline long long ScaledMs(long long ms) { return static_cast<long long>(ms * CClock::TimeScale()); }

}  // namespace pw_testing
