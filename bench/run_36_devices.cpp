// A whole bank updated at once: `ravelin-cli run --yes` on 36 simulated devices of the maker's own
// loader, their lines paced at 115200 baud, against the same run on one device alone. Measures, for
// the real ravelin-cli process: wall time of the whole run (identification, plan, flash), its
// processor time, and its peak resident memory. With one thread per port the bank should take at most
// 1.05 times as long as one device, and the process should use at most 10 % of one core meanwhile.
//
// Run by hand: build/bin/run_36_devices [KIB]   (image size, default 64 KiB: about 6 s of line time
// at 115200 baud; SUITE_TIME_SCALE shortens every wait proportionally).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_files.h"
#include "bench/sample_image.h"
#include "tools/modemsim/modemsim.h"

namespace {

constexpr int kPortCount = 36;

struct Measured {
    double dWall = 0, dCpu = 0;
    long nPeakKiB = 0;
    int nExit = -1;
    std::string out;
};

Measured RunCli(const std::string &exe, const std::string &dir, const std::string &ports)
{
    std::string images = dir + "/images", outPath = dir + "/run.out";
    std::vector<std::string> args = {exe, "run", "--ports", ports, "--images", images, "--yes"};
    std::vector<char *> argv;
    for (std::string &arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    Measured m;
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int hOut = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int hErr = open("/dev/null", O_WRONLY);
        dup2(hOut, 1);
        dup2(hErr, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int nStatus = 0;
    struct rusage usage {};
    wait4(pid, &nStatus, 0, &usage);
    m.dWall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.dCpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    m.nPeakKiB = usage.ru_maxrss;
    m.nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    std::ifstream in(outPath);
    m.out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return m;
}

std::string Device(int nPort)
{
    return "port = " + std::to_string(nPort) +
           "\nspeed = 38400\nautobaud = on\nthrottle = on\nfamily = loader\nloader.version = 2.00\n"
           "loader.max_speed = 115200\nati.0 = PL1400\nati.0 += Version 1.05 EU\nati.9 = GERMANY\n";
}

// Runs the update on ports 1..nCount of a fresh bank and checks every device's memory.
Measured Measure(const std::string &exe, const std::string &dir, int nCount, const std::vector<unsigned char> &image)
{
    modemsim::Bank bank;
    for (int n = 1; n <= nCount; ++n) bank.add(Device(n));
    bank.start();
    setenv("SERIAL_PORTS_DIR", bank.dir().c_str(), 1);
    Measured m = RunCli(exe, dir, nCount == 1 ? "COM1" : "COM1-COM" + std::to_string(nCount));
    int nWrong = 0;
    for (int n = 1; n <= nCount; ++n) {
        for (size_t i = 0; i < image.size(); ++i) {
            if (bank.device(n).state().flash.byte(static_cast<uint32_t>(bench::kImageStart + i)) != image[i]) {
                ++nWrong;
                break;
            }
        }
    }
    bank.stop();
    if (nWrong != 0) std::printf("  %d of %d devices do not hold the image\n", nWrong, nCount);
    return m;
}

void Report(const char *pszLabel, const Measured &m)
{
    std::printf("  %-16s exit %d  wall %7.2f s  cpu %6.2f s (%5.1f %% of one core)  peak memory %ld KiB\n", pszLabel,
                m.nExit, m.dWall, m.dCpu, 100.0 * m.dCpu / m.dWall, m.nPeakKiB);
}

} // namespace

int main(int argc, char **argv)
{
    unsigned nKiB = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 64;
    char szDir[] = "/tmp/run-bench-XXXXXX";
    if (!mkdtemp(szDir)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = szDir, exe = dir + "/ravelin-cli", source = bench::SourceDir();
    mkdir((dir + "/images").c_str(), 0755);
    if (!bench::CopyFile(bench::SelfDir() + "/ravelin-cli", exe) || chmod(exe.c_str(), 0755) != 0 ||
        !bench::CopyFile(source + "/data/ravelin/Models.ini", dir + "/Models.ini") ||
        !bench::CopyFile(source + "/data/ravelin/Locks.ini", dir + "/Locks.ini")) {
        std::fprintf(stderr, "run_36_devices: cannot set up ravelin-cli and the catalogue in %s\n", dir.c_str());
        return 1;
    }
    std::vector<unsigned char> image = bench::WriteSampleImage(dir + "/images/PADE107.HEX", nKiB * 1024);
    const char *pszScale = std::getenv("SUITE_TIME_SCALE");
    std::printf("run_36_devices: %u KiB image, lines paced at 115200 baud, time scale %s\n", nKiB,
                pszScale ? pszScale : "1");

    Measured one = Measure(exe, dir, 1, image);
    Report("1 device", one);
    Measured all = Measure(exe, dir, kPortCount, image);
    Report("36 devices", all);
    double dRatio = all.dWall / one.dWall;
    double dShare = 100.0 * all.dCpu / all.dWall;
    std::printf("\n  36 at once / 1 alone: %.3f (bound 1.05)  %s\n", dRatio, dRatio <= 1.05 ? "ok" : "OVER");
    std::printf("  processor use with 36: %.1f %% of one core (bound 10 %%)  %s\n", dShare, dShare <= 10.0 ? "ok" : "OVER");
    std::printf("  peak memory with 36: %ld KiB\n", all.nPeakKiB);
    std::string remove = "rm -rf '" + dir + "'";
    if (std::system(remove.c_str()) != 0) std::fprintf(stderr, "run_36_devices: %s left behind\n", dir.c_str());
    return all.nExit == 0 && one.nExit == 0 ? 0 : 1;
}
