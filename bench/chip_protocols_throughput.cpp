// Line use of the three chip downloads that pace themselves by the line (Rockwell: CTS only; Siemens:
// one control byte per block; dot/upload: a dot per block after a fixed 35 ms pause), each against a
// simulated device whose line runs at the protocol's speed, 115200 baud (10 bits a byte, 11,520
// bytes/s), both ways: the device hears no faster than the line, so the host's writes back up as
// behind CTS.
//
// For each: the bytes the host put on the wire per second of the transfer, as a share of the line
// rate and as a share of the ceiling the protocol's own pauses and per-block answers allow, and the
// processor time of the whole process (host and simulated device) per second of transfer.
//
//   build/bin/chip_protocols_throughput [KIB]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "bench/sample_image.h"
#include "ravelin/protocols/cfflsh.h"
#include "ravelin/protocols/flsh_choice.h"
#include "ravelin/protocols/rockflsh.h"
#include "ravelin/protocols/siemensflsh.h"
#include "ravelin/support/oswin32.h"
#include "tools/modemsim/modemsim.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kLineRate = 11520.0;  // bytes/s at 115200 baud

// The start of the download (status 5) and the first and last progress reports of the data transfer.
Clock::time_point g_start, g_first, g_last;
long g_reports = 0;

int timingCallback(DeviceUpdate *owner, int status, std::int32_t value, std::intptr_t detail)
{
    if (status == flsh_cProgramStart)
        g_start = Clock::now();
    if (status == flsh_cProgramming) {
        if (g_reports++ == 0)
            g_first = Clock::now();
        g_last = Clock::now();
    }
    return flsh_ProgressCallback(owner, status, value, detail);
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string hexImage(unsigned bytes)
{
    std::mt19937 rng(3);
    std::string out;
    for (unsigned a = 0; a < bytes; a += 16) {
        unsigned char data[16];
        for (auto &b : data) b = static_cast<unsigned char>(rng());
        out += bench::HexRecord(0, a, data, 16);
    }
    return out + ":00000001FF\r\n";
}

struct Run {
    const char *label;
    std::string deviceKeys;
    std::uint32_t flags;
    FlashProtocol protocol;
    std::string image;          // file contents
    double wireBytesPerReport;  // bytes on the wire between two progress reports
    double ceilingShare;        // share of the line rate the protocol's own pauses and answers allow
    const char *ceilingText;
    // Rockwell lines are not answered: the host's last write only reached the line's buffers, so the
    // transfer is timed from the start to the device's final confirmation (the protocol's return
    // less its fixed 4 s pause after it) and counts every byte sent.
    bool bUntilConfirmed;
    double wireBytesInAll;
};

void measure(const Run &run, const std::string &dir)
{
    modemsim::Bank bank;
    setenv("SERIAL_PORTS_DIR", bank.dir().c_str(), 1);
    bank.add("port = 1\nspeed = 115200\nthrottle = on\nthrottle_input = on\n" + run.deviceKeys);
    bank.start();
    std::string path = dir + "/image" + std::to_string(run.flags) + ".img";
    std::ofstream(path, std::ios::binary) << run.image;
    DeviceUpdate update;
    flsh_InitDeviceUpdate(&update, "\\\\.\\COM1");
    std::snprintf(update.szImagePath, sizeof update.szImagePath, "%s", path.c_str());
    update.flags = run.flags;
    update.restoreDefaults = 0;
    g_reports = 0;
    double cpuBefore = cpuSeconds();
    int result = run.protocol(timingCallback, &update);
    Clock::time_point end = Clock::now();
    double cpu = cpuSeconds() - cpuBefore;
    double seconds = std::chrono::duration<double>(g_last - g_first).count();
    double rate = (g_reports - 1) * run.wireBytesPerReport / seconds;
    if (run.bUntilConfirmed) {
        seconds = std::chrono::duration<double>(end - g_start).count() - 4.0;
        rate = run.wireBytesInAll / seconds;
    }
    std::printf("%-12s result %d, %ld reports over %.2f s: %.0f bytes/s on the wire = %.1f %% of the line rate, "
                "%.1f %% of the ceiling (%.1f %% of the line: %s); processor %.2f %% of one core\n",
                run.label, result, g_reports, seconds, rate, 100.0 * rate / kLineRate,
                100.0 * rate / (kLineRate * run.ceilingShare), 100.0 * run.ceilingShare, run.ceilingText,
                100.0 * cpu / seconds);
    flsh_FreeDeviceUpdate(&update);
    bank.stop();
}

} // namespace

int main(int argc, char **argv)
{
    unsigned kib = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 16;
    unsetenv("SUITE_TIME_SCALE");
    std::string dir = (std::filesystem::temp_directory_path() / "chip-throughput").string();
    std::filesystem::create_directories(dir);
    os_SetExeDirForTesting(dir.c_str());
    const std::string loader = "S00600004844521B\r\nS9030000FC\r\n";
    std::ofstream(dir + "/F35Aload.s37", std::ios::binary) << loader;
    std::printf("%u KiB of data per image, line at 115200 baud both ways (%.0f bytes/s)\n", kib, kLineRate);

    // Rockwell: every image line (45 bytes for 16 data bytes) is one report; nothing but CTS paces.
    std::string hex = hexImage(kib * 1024);
    measure({"Rockwell", "family = rockwell-loader\n", 0x4A00, rockflsh_Flash, hex, 45.0, 1.0,
             "CTS only, no per-line answer", true, static_cast<double>(5 + loader.size() + hex.size())},
            dir);

    // Siemens: blocks of 127 data bytes, 128 bytes on the wire, each answered by one byte.
    std::string blocks;
    std::mt19937 rng(5);
    for (unsigned n = 0; n < kib * 1024 / 127; ++n) {
        blocks += static_cast<char>(127);
        for (int i = 0; i < 127; ++i) blocks += static_cast<char>(rng());
    }
    measure({"Siemens", "family = siemens\n", FLF_SIEMENS, siemensflsh_Flash, blocks, 128.0, 128.0 / 129.0,
             "one answer byte per 128-byte block", false, 0},
            dir);

    // Dot/upload: "W" and the block, a 35 ms pause, then the dot. The pause starts when the write
    // returns, while the line still carries the block: a block costs the longer of the pause and its
    // own line time, and the dot's byte.
    for (int size : {64, 128}) {
        double wire = size + 1;
        double blockSeconds = std::max(0.035, wire / kLineRate) + 1.0 / kLineRate;
        double ceiling = wire / blockSeconds / kLineRate;
        std::string keys = "family = dot\ndot.block = " + std::to_string(size) + "\n";
        measure({size == 64 ? "dot/64" : "dot/128", keys, size == 64 ? 0x10000u : 0x10080u, cfflsh_Flash, hex, wire,
                 ceiling, "35 ms pause and a dot per block", false, 0},
                dir);
    }
    os_SetExeDirForTesting(nullptr);
    std::filesystem::remove_all(dir);
    return 0;
}
