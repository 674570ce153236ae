// Programming throughput of the generic loader protocol: a 256 KiB image written into a simulated
// loader whose line is paced at 115200 baud (10 bits a byte, 11,520 bytes/s), with 4096-byte blocks
// (loader 2.00) and with 128-byte blocks (loader 1.07). The figure is the image's bytes over the
// time from the first block to the last accepted block, as a share of the line rate.
//
//   build/bin/flash_throughput [KIB]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "bench/sample_image.h"
#include "ravelin/flash/flsh.h"
#include "tools/modemsim/modemsim.h"

namespace {

using Clock = std::chrono::steady_clock;
Clock::time_point g_firstBlock, g_lastBlock;

int timingCallback(DeviceUpdate *owner, int status, std::int32_t value, std::intptr_t detail)
{
    if (status == flsh_cProgramStart) g_firstBlock = Clock::now();
    if (status == flsh_cProgramming) g_lastBlock = Clock::now();
    return flsh_ProgressCallback(owner, status, value, detail);
}

void writeImage(const std::string &path, unsigned bytes)
{
    std::mt19937 rng(7);
    std::ofstream out(path, std::ios::binary);
    for (unsigned a = 0; a < bytes; a += 16) {
        if (a % 0x10000 == 0) {
            unsigned char base[2] = {static_cast<unsigned char>(a >> 24), static_cast<unsigned char>(a >> 16)};
            out << bench::HexRecord(4, 0, base, 2);
        }
        unsigned char data[16];
        for (auto &b : data) b = static_cast<unsigned char>(rng());
        out << bench::HexRecord(0, a & 0xFFFF, data, 16);
    }
    out << ":00000001FF\r\n";
}

void measure(const char *label, const char *version, const std::string &image, unsigned bytes)
{
    modemsim::Bank bank;
    setenv("SERIAL_PORTS_DIR", bank.dir().c_str(), 1);
    bank.add(std::string("port = 1\nspeed = 19200\nthrottle = on\nfamily = loader\nloader.max_speed = 115200\n"
                         "loader.version = ") + version + "\n");
    bank.start();
    DeviceUpdate update;
    flsh_InitDeviceUpdate(&update, "\\\\.\\COM1");
    std::snprintf(update.szImagePath, sizeof update.szImagePath, "%s", image.c_str());
    update.nSpeed = 115200;
    update.restoreDefaults = 0;
    auto start = Clock::now();
    int result = flsh_Update(timingCallback, &update);
    double total = std::chrono::duration<double>(Clock::now() - start).count();
    double programming = std::chrono::duration<double>(g_lastBlock - g_firstBlock).count();
    double rate = bytes / programming;
    std::printf("%-22s result %d (%s), speed %d, programming %.2f s, %.0f bytes/s = %.1f %% of 11520; "
                "whole update %.2f s\n",
                label, result, flsh_ResultText(result), static_cast<int>(update.nSpeed), programming, rate,
                100.0 * rate / 11520.0, total);
    flsh_FreeDeviceUpdate(&update);
    bank.stop();
}

} // namespace

int main(int argc, char **argv)
{
    unsigned kib = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 256;
    unsetenv("SUITE_TIME_SCALE");
    std::string image = (std::filesystem::temp_directory_path() / "flash-throughput-IMAGE.HEX").string();
    writeImage(image, kib * 1024);
    std::printf("image: %u KiB, line paced at 115200 baud (11520 bytes/s)\n", kib);
    measure("4096-byte blocks", "2.00", image, kib * 1024);
    measure("128-byte blocks", "1.07", image, kib * 1024);
    std::filesystem::remove(image);
    return 0;
}
