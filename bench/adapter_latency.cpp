// What a USB serial adapter's latency timer costs each download protocol. Every protocol runs against
// a simulated device at 115200 baud (paced both ways) three times: on a direct line, behind an adapter
// at its default latency (16 ms), and behind one at 1 ms (what the host's low-latency request makes
// of it; the request cannot travel over a pseudo-terminal, so the device key adapter.latency_ms says
// it). The figures are each run's speed as a share of the direct line's:
//
//   transfer  the image data: first to last progress report of the download
//   download  the whole download: from its start (status 5) to the protocol's return, with the
//             protocol's fixed pauses (they are the same on every line)
//
// Stop-and-wait protocols pay the latency once per answer they wait for; a protocol paced by CTS
// alone pays it only for its last answer. Each case runs REPEATS times and keeps its shortest times:
// on a shared machine a run is only ever slowed down by others.
//
//   build/bin/adapter_latency [KIB [REPEATS]]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "bench/sample_image.h"
#include "ravelin/flash/flsh.h"
#include "ravelin/protocols/cfflsh.h"
#include "ravelin/protocols/flsh_choice.h"
#include "ravelin/protocols/lucflsh.h"
#include "ravelin/protocols/rockflsh.h"
#include "ravelin/protocols/siemensflsh.h"
#include "ravelin/support/oswin32.h"
#include "tools/modemsim/modemsim.h"

namespace {

using Clock = std::chrono::steady_clock;

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

struct Protocol {
    const char *label;
    std::string deviceKeys;  // besides port and pacing
    FlashProtocol run;
    std::string imagePath;
    void (*prepare)(DeviceUpdate *update);
    std::uint32_t flags;
};

struct Timing {
    int result = -1;
    double transfer = 0;  // seconds
    double download = 0;
};

void prepareLucent(DeviceUpdate *update)
{
    update->flashMode = flsh_kGoFlash;
    update->identity.nLucentVariant = 0;
    update->identity.lucent.nType = 0;
}

Timing runOnce(const Protocol &protocol, long latencyMs)
{
    modemsim::Bank bank;
    setenv("SERIAL_PORTS_DIR", bank.dir().c_str(), 1);
    bank.add("port = 1\nthrottle = on\nthrottle_input = on\nadapter.latency_ms = " +
             std::to_string(latencyMs) + "\n" + protocol.deviceKeys);
    bank.start();
    DeviceUpdate update;
    flsh_InitDeviceUpdate(&update, "\\\\.\\COM1");
    std::snprintf(update.szImagePath, sizeof update.szImagePath, "%s", protocol.imagePath.c_str());
    update.nSpeed = 115200;
    update.flags = protocol.flags;
    update.restoreDefaults = 0;
    if (protocol.prepare != nullptr)
        protocol.prepare(&update);
    g_reports = 0;
    Timing timing;
    timing.result = protocol.run(timingCallback, &update);
    Clock::time_point end = Clock::now();
    timing.transfer = std::chrono::duration<double>(g_last - g_first).count();
    timing.download = std::chrono::duration<double>(end - g_start).count();
    flsh_FreeDeviceUpdate(&update);
    bank.stop();
    return timing;
}

std::string hexImage(const std::string &path, unsigned bytes)
{
    std::mt19937 rng(3);
    std::string out;
    for (unsigned a = 0; a < bytes; a += 16) {
        unsigned char data[16];
        for (auto &b : data) b = static_cast<unsigned char>(rng());
        out += bench::HexRecord(0, a, data, 16);
    }
    out += ":00000001FF\r\n";
    std::ofstream(path, std::ios::binary) << out;
    return path;
}

std::string siemensImage(const std::string &path, unsigned bytes)
{
    // Blocks of 127 data bytes behind their length byte: 128 bytes on the wire, one answer byte each.
    std::string blocks;
    std::mt19937 rng(5);
    for (unsigned n = 0; n < bytes / 127; ++n) {
        blocks += static_cast<char>(127);
        for (int i = 0; i < 127; ++i) blocks += static_cast<char>(rng());
    }
    std::ofstream(path, std::ios::binary) << blocks;
    return path;
}

// The shortest transfer and the shortest download of `repeats` runs; the result of the first that
// failed, else success.
Timing best(const Protocol &protocol, long latencyMs, int repeats)
{
    Timing kept;
    for (int i = 0; i < repeats; ++i) {
        Timing t = runOnce(protocol, latencyMs);
        if (i == 0 || t.transfer < kept.transfer)
            kept.transfer = t.transfer;
        if (i == 0 || t.download < kept.download)
            kept.download = t.download;
        if (i == 0 || kept.result == FR_SUCCESSFUL)
            kept.result = t.result;
    }
    return kept;
}

} // namespace

int main(int argc, char **argv)
{
    unsigned kib = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 8;
    int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    unsetenv("SUITE_TIME_SCALE");
    std::string dir = (std::filesystem::temp_directory_path() / "adapter-latency").string();
    std::filesystem::create_directories(dir);
    os_SetExeDirForTesting(dir.c_str());
    std::ofstream(dir + "/F35Aload.s37", std::ios::binary) << "S00600004844521B\r\nS9030000FC\r\n";

    std::string hex = hexImage(dir + "/image.hex", kib * 1024);
    std::string loaderImage = dir + "/loader.hex";
    bench::WriteSampleImage(loaderImage, kib * 1024);
    std::string blocks = siemensImage(dir + "/image.sie", kib * 1024);
    const Protocol protocols[] = {
        {"generic loader 2.00 (4096-byte blocks)",
         "speed = 19200\nfamily = loader\nloader.max_speed = 115200\nloader.version = 2.00\n", flsh_Update, loaderImage, nullptr, 0},
        {"generic loader 1.07 (128-byte blocks)",
         "speed = 19200\nfamily = loader\nloader.max_speed = 115200\nloader.version = 1.07\n", flsh_Update, loaderImage, nullptr, 0},
        {"Lucent/Agere (an OK per line)", "speed = 115200\ndialogues = ident-lucent, lucent-loader\n", lucflsh_Flash, hex,
         prepareLucent, FLF_LUCENT},
        {"Rockwell (CTS only)", "speed = 115200\nfamily = rockwell-loader\n", rockflsh_Flash, hex, nullptr, 0x4A00},
        {"Siemens (a byte per 128-byte block)", "speed = 115200\nfamily = siemens\n", siemensflsh_Flash, blocks, nullptr,
         FLF_SIEMENS},
        {"dot/64 (a dot per block)", "speed = 115200\nfamily = dot\ndot.block = 64\n", cfflsh_Flash, hex, nullptr, 0x10000u},
        {"dot/128 (a dot per block)", "speed = 115200\nfamily = dot\ndot.block = 128\n", cfflsh_Flash, hex, nullptr, 0x10080u},
    };

    std::printf("%u KiB images, 115200 baud both ways, best of %d runs; speed as a share of the direct line\n\n", kib,
                repeats);
    std::printf("| Protocol | direct: transfer, download | 16 ms: transfer, download | 1 ms: transfer, download |\n");
    std::printf("|---|---|---|---|\n");
    for (const Protocol &protocol : protocols) {
        Timing direct = best(protocol, 0, repeats);
        Timing slow = best(protocol, 16, repeats);
        Timing fast = best(protocol, 1, repeats);
        auto share = [](double directSeconds, double seconds) { return seconds > 0 ? 100.0 * directSeconds / seconds : 0.0; };
        bool ok = direct.result == FR_SUCCESSFUL && slow.result == FR_SUCCESSFUL && fast.result == FR_SUCCESSFUL;
        std::printf("| %s | %.2f s, %.2f s | %.0f %%, %.0f %% | %.0f %%, %.0f %% |%s\n", protocol.label, direct.transfer,
                    direct.download, share(direct.transfer, slow.transfer), share(direct.download, slow.download),
                    share(direct.transfer, fast.transfer), share(direct.download, fast.download),
                    ok ? "" : "  (a run failed: results above are not comparable)");
        if (!ok)
            std::printf("   results: direct %d, 16 ms %d, 1 ms %d\n", direct.result, slow.result, fast.result);
        std::fflush(stdout);
    }
    os_SetExeDirForTesting(nullptr);
    std::filesystem::remove_all(dir);
    return 0;
}
