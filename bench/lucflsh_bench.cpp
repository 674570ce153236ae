// The Lucent/Agere download protocol against simulated devices whose line is paced at 115200 baud
// (10 bits a byte, 11,520 bytes/s each way):
//
//   1. Throughput of one device: the image file's bytes over the time from the first image line to
//      the last acknowledgement, as a share of the line rate and as a share of the protocol's own
//      ceiling. A line is handed to the driver at once and goes out on the wire during the 8 ms pause
//      that follows it; the acknowledgement "\r\nOK\r\n" (6 bytes) comes back within that pause as
//      long as line and answer take less than 8 ms on the wire (lines up to 86 bytes). So each line
//      costs the longer of the pause and line + answer time, and the ceiling is
//      line bytes / max(0.008, (line bytes + 6) / 11520) per second.
//   2. Processor use of 36 devices updated at once (one thread each, as the update run does): the
//      sum of the flash threads' own processor time over the wall time of the run, in % of one core.
//      The per-line waits block in the operating system; the goal is under 2 %.
//
// Run by hand (the protocol's fixed sleeps run at full length): build/bin/lucflsh_bench [KIB] [DEVICES]
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ravelin/protocols/lucflsh.h"
#include "tools/modemsim/modemsim.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kLineRate = 11520.0;   // bytes a second at 115200 baud
constexpr double kPauseSeconds = 0.008;
constexpr double kAckBytes = 6.0;
constexpr unsigned kRecordBytes = 16;
constexpr unsigned kLineBytes = 1 + 8 + 2 * kRecordBytes + 2 + 2;  // ":LLAAAATT", data, checksum, CR LF

struct Timing {
    Clock::time_point firstLine, lastLine;
    bool bStarted = false;
};
thread_local Timing *t_pTiming = nullptr;
long g_nImageLines = 0;

int timingCallback(DeviceUpdate *pOwner, int nStatus, std::int32_t nValue, std::intptr_t nDetail)
{
    if (t_pTiming != nullptr && nStatus == flsh_cProgramming) {
        if (!t_pTiming->bStarted) {
            t_pTiming->firstLine = Clock::now();
            t_pTiming->bStarted = true;
        }
        t_pTiming->lastLine = Clock::now();
    }
    return flsh_ProgressCallback(pOwner, nStatus, nValue, nDetail);
}

std::string record(int nType, unsigned nOffset, const unsigned char *pData, unsigned nCount)
{
    unsigned nSum = nCount + (nOffset >> 8) + (nOffset & 0xFF) + static_cast<unsigned>(nType);
    char szBuffer[16];
    std::snprintf(szBuffer, sizeof szBuffer, ":%02X%04X%02X", nCount, nOffset & 0xFFFF, static_cast<unsigned>(nType));
    std::string line = szBuffer;
    for (unsigned i = 0; i < nCount; ++i) {
        std::snprintf(szBuffer, sizeof szBuffer, "%02X", pData[i]);
        line += szBuffer;
        nSum += pData[i];
    }
    std::snprintf(szBuffer, sizeof szBuffer, "%02X\r\n", (0x100 - (nSum & 0xFF)) & 0xFF);
    return line + szBuffer;
}

// Data records only (no extended address record: every line is a full kLineBytes line), then the end.
long writeImage(const std::string &path, unsigned nBytes)
{
    std::mt19937 rng(11);
    std::ofstream out(path, std::ios::binary);
    long nFileBytes = 0;
    for (unsigned a = 0; a < nBytes && a < 0x10000; a += kRecordBytes) {
        unsigned char data[kRecordBytes];
        for (auto &b : data) b = static_cast<unsigned char>(rng());
        std::string line = record(0, a, data, kRecordBytes);
        out << line;
        nFileBytes += static_cast<long>(line.size());
        ++g_nImageLines;
    }
    out << ":00000001FF\r\n";
    ++g_nImageLines;
    return nFileBytes + 13;
}

struct Job {
    DeviceUpdate update;
    Timing timing;
    int nResult = -1;
    double dCpuSeconds = 0;
};

void runJob(Job *pJob)
{
    t_pTiming = &pJob->timing;
    pJob->nResult = lucflsh_Flash(timingCallback, &pJob->update);
    timespec cpu;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
    pJob->dCpuSeconds = static_cast<double>(cpu.tv_sec) + static_cast<double>(cpu.tv_nsec) / 1e9;
}

void initJob(Job *pJob, int nPort, const std::string &image)
{
    flsh_InitDeviceUpdate(&pJob->update, ("\\\\.\\COM" + std::to_string(nPort)).c_str());
    std::snprintf(pJob->update.szImagePath, sizeof pJob->update.szImagePath, "%s", image.c_str());
    pJob->update.nSpeed = 115200;
    pJob->update.flags = FLF_LUCENT;
    pJob->update.flashMode = flsh_kGoFlash;
    pJob->update.restoreDefaults = 0;
    pJob->update.identity.nLucentVariant = 0;
    pJob->update.identity.lucent.nType = 0;
}

std::string deviceText(int nPort)
{
    return "port = " + std::to_string(nPort) +
           "\nspeed = 115200\nthrottle = on\nthrottle_input = on\ndialogues = ident-lucent, lucent-loader\n";
}

void measureThroughput(const std::string &image, long nFileBytes)
{
    modemsim::Bank bank;
    setenv("SERIAL_PORTS_DIR", bank.dir().c_str(), 1);
    bank.add(deviceText(1));
    bank.start();
    Job job;
    initJob(&job, 1, image);
    runJob(&job);
    double dSeconds = std::chrono::duration<double>(job.timing.lastLine - job.timing.firstLine).count();
    double dRate = static_cast<double>(nFileBytes) / dSeconds;
    double dCeiling = kLineBytes / std::max(kPauseSeconds, (kLineBytes + kAckBytes) / kLineRate);
    std::printf("one device: result %d (%s), %ld image bytes in %.2f s = %.0f bytes/s\n"
                "  = %.1f %% of the line rate (11520 bytes/s)\n"
                "  = %.1f %% of the protocol's ceiling (%.0f bytes/s: %u-byte lines, each followed by an 8 ms pause)\n",
                job.nResult, flsh_ResultText(job.nResult), nFileBytes, dSeconds, dRate, 100.0 * dRate / kLineRate,
                100.0 * dRate / dCeiling, dCeiling, kLineBytes);
    flsh_FreeDeviceUpdate(&job.update);
    bank.stop();
}

void measureProcessorUse(const std::string &image, int nDevices)
{
    modemsim::Bank bank;
    setenv("SERIAL_PORTS_DIR", bank.dir().c_str(), 1);
    for (int n = 1; n <= nDevices; ++n) bank.add(deviceText(n));
    bank.start();
    std::vector<Job> jobs(static_cast<std::size_t>(nDevices));
    for (int n = 1; n <= nDevices; ++n) initJob(&jobs[static_cast<std::size_t>(n - 1)], n, image);
    auto start = Clock::now();
    std::vector<std::thread> threads;
    for (Job &job : jobs) threads.emplace_back(runJob, &job);
    for (std::thread &thread : threads) thread.join();
    double dWall = std::chrono::duration<double>(Clock::now() - start).count();
    double dCpu = 0;
    int nSuccessful = 0;
    for (Job &job : jobs) {
        dCpu += job.dCpuSeconds;
        nSuccessful += job.nResult == FR_SUCCESSFUL;
        flsh_FreeDeviceUpdate(&job.update);
    }
    double dLines = static_cast<double>(nDevices) * static_cast<double>(g_nImageLines);
    std::printf("%d devices at once: %d successful, wall %.1f s, flash threads' processor time %.3f s\n"
                "  = %.2f %% of one core over the whole run (goal: under 2 %%), %.1f us per image line\n",
                nDevices, nSuccessful, dWall, dCpu, 100.0 * dCpu / dWall, 1e6 * dCpu / dLines);
    bank.stop();
}

} // namespace

int main(int argc, char **argv)
{
    unsigned nKib = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 16;
    int nDevices = argc > 2 ? std::atoi(argv[2]) : 36;
    unsetenv("SUITE_TIME_SCALE");
    std::string image = (std::filesystem::temp_directory_path() / "lucflsh-bench-IMAGE.HEX").string();
    long nFileBytes = writeImage(image, nKib * 1024);
    std::printf("image: %u KiB in %u-byte records, line paced at 115200 baud both ways\n", nKib, kRecordBytes);
    measureThroughput(image, nFileBytes);
    measureProcessorUse(image, nDevices);
    std::filesystem::remove(image);
    return 0;
}
