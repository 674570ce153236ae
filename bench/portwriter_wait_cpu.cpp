// How much a waiting port writer costs, and how fast it sees a byte.
//
// 1. 36 port writers each wait 5 s for an answer from a silent simulated device; the process's processor
//    time over that span, as a share of one core, must stay under 1%.
// 2. A byte written into a raw pseudo-terminal is matched by a waiting WaitFor; the time from the write
//    to the return must stay within 5 ms.
//
// Run by hand: build/bin/portwriter_wait_cpu
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "country/PortWriter/PortWriter.h"
#include "tools/modemsim/modemsim.h"

namespace {

constexpr int kWriters = 36;
constexpr long kWaitMs = 5000;
constexpr int kLatencySamples = 50;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

double NowSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Returns the share of one core used while kWriters writers wait on silent devices (or -1 on failure).
double MeasureIdleWaitCpu() {
    modemsim::Bank bank;
    setenv("SERIAL_PORTS_DIR", bank.dir().c_str(), 1);
    for (int port = 1; port <= kWriters; ++port)
        bank.add("port = " + std::to_string(port) + "\nspeed = 38400\nfault.silent = on\n");
    bank.start();

    std::vector<std::unique_ptr<CPortSettings>> settings;
    std::vector<std::unique_ptr<CPortWriter>> writers;
    for (int port = 1; port <= kWriters; ++port) {
        settings.emplace_back(new CPortSettings(static_cast<uint8_t>(port), 38400, 8, 1, 0, 0));
        writers.emplace_back(new CPortWriter(nullptr, nullptr, nullptr));
        if (!writers.back()->Open(settings.back().get(), CPortWriter::kLogNone, 0, true)) {
            std::fprintf(stderr, "COM%d did not open\n", port);
            return -1;
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let start-up settle

    std::atomic<int> timedOut{0};
    const double cpuStart = CpuSeconds();
    const double wallStart = NowSeconds();
    std::vector<std::thread> threads;
    for (auto& writer : writers) {
        CPortWriter* w = writer.get();
        threads.emplace_back([w, &timedOut] {
            if (w->WaitFor("OK", kWaitMs, false) == CPortWriter::kTimedOut)
                ++timedOut;
        });
    }
    for (auto& t : threads)
        t.join();
    const double wall = NowSeconds() - wallStart;
    const double cpu = CpuSeconds() - cpuStart;

    writers.clear();
    bank.stop();
    unsetenv("SERIAL_PORTS_DIR");
    std::printf("idle waits: %d writers x %ld ms, %d timed out as expected, wall %.3f s, cpu %.4f s\n", kWriters,
                kWaitMs, timedOut.load(), wall, cpu);
    return cpu / wall;
}

// Returns the worst time in ms from a byte's write to the end of the wait that matched it (or -1).
double MeasureMatchLatency(double& medianMs, double& p95Ms) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return -1;
    termios raw{};
    tcgetattr(master, &raw);
    cfmakeraw(&raw);
    tcsetattr(master, TCSANOW, &raw);
    char slave[128];
    ptsname_r(master, slave, sizeof slave);
    char dirTemplate[] = "/tmp/pwbench.XXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    const std::string link = dir + "/COM1";
    if (symlink(slave, link.c_str()) != 0)
        return -1;
    setenv("SERIAL_PORTS_DIR", dir.c_str(), 1);

    CPortSettings settings(1, 38400, 8, 1, 0, 0);
    CPortWriter writer(nullptr, nullptr, nullptr);
    if (!writer.Open(&settings, CPortWriter::kLogNone, 0, true))
        return -1;

    std::vector<double> samples;
    for (int i = 0; i < kLatencySamples; ++i) {
        std::atomic<double> matchedAt{0};
        std::thread waiter([&writer, &matchedAt] {
            if (writer.WaitFor("Z", 10000, false) == CPortWriter::kMatched)
                matchedAt = NowSeconds();
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(30));  // the wait is asleep by now
        const double sentAt = NowSeconds();
        if (write(master, "Z", 1) != 1)
            break;
        waiter.join();
        if (matchedAt.load() > 0)
            samples.push_back((matchedAt.load() - sentAt) * 1000.0);
    }
    writer.Close();
    unlink(link.c_str());
    rmdir(dir.c_str());
    close(master);
    unsetenv("SERIAL_PORTS_DIR");
    if (samples.size() != static_cast<size_t>(kLatencySamples))
        return -1;
    std::sort(samples.begin(), samples.end());
    medianMs = samples[samples.size() / 2];
    p95Ms = samples[samples.size() * 95 / 100];
    return samples.back();
}

}  // namespace

int main() {
    const double share = MeasureIdleWaitCpu();
    double medianMs = 0, p95Ms = 0;
    const double worstMs = MeasureMatchLatency(medianMs, p95Ms);
    if (share < 0 || worstMs < 0) {
        std::printf("FAILED to set up the measurement\n");
        return 2;
    }
    std::printf("cpu of %d waiting port writers: %.3f%% of one core (limit 1%%)\n", kWriters, share * 100.0);
    std::printf("byte to match: median %.3f ms, 95th percentile %.3f ms, worst %.3f ms over %d bytes (limit 5 ms)\n",
                medianMs, p95Ms, worstMs, kLatencySamples);
    double load[1] = {0};
    if (getloadavg(load, 1) == 1)
        std::printf("machine load average while measuring: %.2f\n", load[0]);
    const bool ok = share < 0.01 && worstMs <= 5.0;
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
