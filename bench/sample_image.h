// The benchmarks' sample image: random data (a fixed seed, so every run writes the same bytes) as
// Intel HEX, 16 bytes a record from 0x0200 on, clear of the boot jump at 0.
#pragma once

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace bench {

constexpr unsigned kImageStart = 0x0200;

inline std::string HexRecord(int type, unsigned offset, const unsigned char *data, unsigned count)
{
    unsigned sum = count + (offset >> 8) + (offset & 0xFF) + static_cast<unsigned>(type);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, ":%02X%04X%02X", count, offset & 0xFFFF, static_cast<unsigned>(type));
    std::string line = buffer;
    for (unsigned i = 0; i < count; ++i) {
        std::snprintf(buffer, sizeof buffer, "%02X", data[i]);
        line += buffer;
        sum += data[i];
    }
    std::snprintf(buffer, sizeof buffer, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + buffer;
}

// Writes `bytes` bytes (a multiple of 16) to `path` and returns them, the first at kImageStart.
inline std::vector<unsigned char> WriteSampleImage(const std::string &path, unsigned bytes)
{
    std::mt19937 rng(11);
    std::vector<unsigned char> data(bytes);
    std::ofstream out(path, std::ios::binary);
    for (unsigned i = 0; i < bytes; i += 16) {
        unsigned address = kImageStart + i;
        if (i == 0 || address % 0x10000 < 16) {
            unsigned char base[2] = {static_cast<unsigned char>(address >> 24), static_cast<unsigned char>(address >> 16)};
            out << HexRecord(4, 0, base, 2);
        }
        for (unsigned k = 0; k < 16; ++k) data[i + k] = static_cast<unsigned char>(rng());
        out << HexRecord(0, address & 0xFFFF, &data[i], 16);
    }
    out << ":00000001FF\r\n";
    return data;
}

} // namespace bench
