// Sorting speed of `ravelin-cli sort-hex` against `srec_cat IN -intel -o OUT -intel` on the same
// image in the same run: a 4 MiB image in 64 linear bases of 16-byte records, the bases and the
// records inside each base in random order. Also the sorter alone, in-process.
//
//   build/bin/sort_hex_vs_srec_cat [RUNS]        (ravelin-cli is taken from beside this program)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ravelin/flash/hex_image.h"

namespace {

std::string record(int type, unsigned offset, const std::vector<unsigned char> &data)
{
    unsigned sum = static_cast<unsigned>(data.size()) + (offset >> 8) + (offset & 0xFF) + static_cast<unsigned>(type);
    char buffer[80];
    int n = std::snprintf(buffer, sizeof buffer, ":%02X%04X%02X", static_cast<unsigned>(data.size()), offset & 0xFFFF,
                          static_cast<unsigned>(type));
    std::string line(buffer, static_cast<std::size_t>(n));
    for (unsigned char b : data) {
        std::snprintf(buffer, sizeof buffer, "%02X", b);
        line += buffer;
        sum += b;
    }
    std::snprintf(buffer, sizeof buffer, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + buffer;
}

void writeImage(const std::string &path)
{
    std::mt19937 rng(4242);
    std::vector<int> bases(64);
    for (int i = 0; i < 64; ++i) bases[static_cast<std::size_t>(i)] = i;
    std::shuffle(bases.begin(), bases.end(), rng);
    std::ofstream out(path, std::ios::binary);
    for (int base : bases) {
        out << record(4, 0, {static_cast<unsigned char>(base >> 8), static_cast<unsigned char>(base)});
        std::vector<unsigned> offsets;
        for (unsigned a = 0; a < 0x10000; a += 16) offsets.push_back(a);
        std::shuffle(offsets.begin(), offsets.end(), rng);
        for (unsigned a : offsets) {
            std::vector<unsigned char> data(16);
            for (auto &b : data) b = static_cast<unsigned char>(rng());
            out << record(0, a, data);
        }
    }
    out << ":00000001FF\r\n";
}

double secondsOf(const std::string &command)
{
    auto start = std::chrono::steady_clock::now();
    int status = std::system(command.c_str());
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (status != 0) {
        std::fprintf(stderr, "failed (%d): %s\n", status, command.c_str());
        std::exit(1);
    }
    return seconds;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::string binDir = std::filesystem::canonical("/proc/self/exe").parent_path().string();
    std::string cli = binDir + "/ravelin-cli";
    std::string dir = (std::filesystem::temp_directory_path() / ("sort-bench-" + std::to_string(std::random_device{}()))).string();
    std::filesystem::create_directories(dir);
    std::string in = dir + "/IMAGE.HEX";
    writeImage(in);
    std::printf("image: %s, %.1f MB of text, 4 MiB of data in 64 bases of 4096 16-byte records\n", in.c_str(),
                static_cast<double>(std::filesystem::file_size(in)) / 1e6);

    std::vector<double> ours, theirs, inProcess;
    for (int i = 0; i < runs; ++i) {
        ours.push_back(secondsOf("'" + cli + "' sort-hex '" + in + "' '" + dir + "/ours.hex'"));
        theirs.push_back(secondsOf("srec_cat '" + in + "' -intel -o '" + dir + "/theirs.hex' -intel 2>/dev/null"));
        auto work = std::make_unique<SortWork>();
        work->pOwner = nullptr;
        auto start = std::chrono::steady_clock::now();
        if (sortHexFile(in.c_str(), (dir + "/inproc.hex").c_str(), work.get(), nullptr) != 0) return 1;
        inProcess.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::printf("runs: %d (median, best)\n", runs);
    std::printf("ravelin-cli sort-hex : %.3f s, %.3f s\n", median(ours), *std::min_element(ours.begin(), ours.end()));
    std::printf("srec_cat             : %.3f s, %.3f s\n", median(theirs),
                *std::min_element(theirs.begin(), theirs.end()));
    std::printf("sortHexFile in-process: %.3f s, %.3f s\n", median(inProcess),
                *std::min_element(inProcess.begin(), inProcess.end()));
    std::printf("sort-hex / srec_cat (median): %.2f\n", median(ours) / median(theirs));
    std::filesystem::remove_all(dir);
    return 0;
}
