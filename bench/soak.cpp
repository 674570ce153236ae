// The soak: a bank of 36 simulated devices of the maker's own loader, updated again and again in one
// process through the run object that ravelin-cli run and the wizard drive (identify, plan, flash,
// results). Every round checks that each device holds exactly the image, then records the process's
// resident memory, open descriptors and threads once the round's device threads have ended. A
// long-lived front end (a service bench left open all day) must not grow with every run.
//
// Run by hand: build/bin/soak [--rounds N] [--kib N] [--every N]
//   --rounds  rounds in a row (default 50)
//   --kib     image size in KiB (default 8)
//   --every   print every Nth round (default 5; the first and last are always printed)
//   --log     write the engine's log.txt; a failed soak keeps it (its directory is printed)
// SUITE_TIME_SCALE shortens every wait of the simulator and the engine (default here 0.5).
//
// Exit code 0 when every round updated every device correctly and, from the end of round 1 to the
// end of the last, the heap in use and resident memory grew by no more than their allowances and
// the descriptors, threads and temporary files did not grow at all; 1 otherwise.
#include <dirent.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_files.h"
#include "bench/sample_image.h"
#include "ravelin/catalogue/catalogue.h"
#include "ravelin/flash/flashinfo.h"
#include "ravelin/protocols/flsh_choice.h"
#include "ravelin/support/log.h"
#include "ravelin/support/osclock.h"
#include "ravelin/support/oswin32.h"
#include "tools/modemsim/modemsim.h"

namespace {

constexpr int kPortCount = 36;
constexpr int kIdentifyPolls = 25;   // one-second polls, as ravelin-cli run waits
constexpr int kPollMs = 1000;
// Allowances for the memory figures between the end of round 1 and the end of the last. The heap in
// use (the allocator's live bytes) is the exact figure: it holds still from round to round, and a
// leak of 100 bytes per device and round adds 176 KiB over 50 rounds. Resident memory also holds
// what the allocator keeps for reuse and the thread stacks it caches; a few pages of that may come
// and go with what happened to be touched last.
constexpr long kHeapAllowanceKiB = 64;
constexpr long kRssAllowanceKiB = 1024;
// How long the device threads of a finished round may take to leave the process.
constexpr int kThreadSettleMs = 10000;

struct Options {
    int nRounds = 50;
    unsigned nKiB = 8;
    int nEvery = 5;
    bool bLog = false;
};

struct Figures {
    long nRssKiB = 0;
    long nHeapKiB = 0;
    int nDescriptors = 0;
    int nThreads = 0;
    int nTempFiles = 0;
};

int CountEntries(const std::string &dir)
{
    DIR *pDir = opendir(dir.c_str());
    if (pDir == nullptr) return -1;
    int nCount = 0;
    while (const dirent *pEntry = readdir(pDir))
        if (std::strcmp(pEntry->d_name, ".") != 0 && std::strcmp(pEntry->d_name, "..") != 0) ++nCount;
    closedir(pDir);
    return nCount;
}

long ResidentKiB()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// The descriptor count leaves out the one opendir holds while it counts.
Figures Measure(const std::string &tempDir)
{
    Figures f;
    f.nRssKiB = ResidentKiB();
    struct mallinfo2 info = mallinfo2();
    f.nHeapKiB = static_cast<long>((info.uordblks + info.hblkhd) / 1024);
    f.nDescriptors = CountEntries("/proc/self/fd") - 1;
    f.nThreads = CountEntries("/proc/self/task");
    f.nTempFiles = CountEntries(tempDir);
    return f;
}

// A device thread stores its result before it ends; the round's figures are taken once the threads
// are gone. A thread that never ends keeps the count up and shows as growth.
void WaitForThreads(int nExpected)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kThreadSettleMs);
    while (CountEntries("/proc/self/task") > nExpected && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

std::string DeviceText(int nPort)
{
    return "port = " + std::to_string(nPort) +
           "\nspeed = 38400\nautobaud = on\nthrottle = on\nfamily = loader\nloader.version = 2.00\n"
           "loader.max_speed = 115200\nati.0 = PL1400\nati.0 += Version 1.05 EU\nati.9 = GERMANY\n";
}

// Back to the state before the first round: erased memory, and none of what the simulator records
// for tests (commands, loader notes, transcript), which would otherwise grow in this same process
// and hide or fake the engine's own growth.
void ResetDevice(modemsim::Device &device)
{
    modemsim::DeviceState &state = device.state();
    state.flash.eraseAll();
    state.clearCommands();
    state.setValue("loader.blocks", "");
    device.transcript().clear();
}

bool HoldsImage(modemsim::Device &device, const std::vector<unsigned char> &image)
{
    const modemsim::FlashMemory &flash = device.state().flash;
    return flash.extent() == bench::kImageStart + image.size() &&
           flash.read(bench::kImageStart, static_cast<uint32_t>(image.size())) == image;
}

// What a round did: devices updated, devices that do not hold exactly the image (every image byte in
// place and nothing written beyond), and of those the ones the run called successful, the worst
// outcome there is. The dialogue of the first few wrong devices is printed, to show what happened.
struct RoundOutcome {
    int nUpdated = 0;
    int nWrong = 0;
    int nWrongButSuccessful = 0;
};

RoundOutcome CheckRound(modemsim::Bank &bank, const std::vector<int> &results, const std::vector<unsigned char> &image)
{
    constexpr int kTranscriptsShown = 2;
    RoundOutcome outcome;
    for (int n = 1; n <= kPortCount; ++n) {
        bool bSuccessful = results[static_cast<size_t>(n - 1)] == FR_SUCCESSFUL;
        if (bSuccessful) ++outcome.nUpdated;
        if (HoldsImage(bank.device(n), image)) continue;
        if (bSuccessful) ++outcome.nWrongButSuccessful;
        if (++outcome.nWrong <= kTranscriptsShown)
            std::printf("---- COM%d does not hold the image; its dialogue:\n%s", n, bank.device(n).transcript().text().c_str());
    }
    return outcome;
}

// One whole update of the bank, as ravelin-cli run --yes does it. Returns each port's result
// (index: port number - 1); a port that was not identified or planned keeps kNotUpdated.
constexpr int kNotUpdated = -100;

std::vector<int> RunOnce(const std::string &imagesDir)
{
    std::vector<int> results(kPortCount, kNotUpdated);
    UpdateRun run;
    flsh_InitRun(&run);
    for (int n = 1; n <= kPortCount; ++n)
        flsh_RunAddPort(&run, modemsim::Bank::portName(n).c_str(), 38400);
    flsh_RunSetImageDir(&run, imagesDir.c_str());
    if (flsh_RunScanImages(&run, 0) == 0) {
        std::printf("  no image found\n");
        flsh_FreeRun(&run);
        return results;
    }
    flsh_RunStartIdentification(&run);
    for (int nPoll = 0; nPoll < kIdentifyPolls && !flsh_RunAllIdentified(&run); ++nPoll)
        flsh_RunWaitAllDone(&run, kPollMs);
    int nLeft = flsh_RunPostProcess(&run, 0);
    flsh_RunBuildModelList(&run);
    char szDropped[512] = "";
    flsh_RunDropModelsWithoutImages(&run, szDropped, sizeof szDropped);
    if (nLeft != kPortCount) std::printf("  only %d of %d devices identified\n", nLeft, kPortCount);
    for (int i = 0; i < nLeft; ++i) {
        char szReason[flsh_kPlanReasonLen];
        int nImage = flsh_RunPlanImage(&run, i, szReason, sizeof szReason);
        if (nImage >= 0)
            flsh_RunAssignImage(&run, i, nImage);
        else
            std::printf("  %s: %s\n", flsh_PortDisplayName(run.devices[static_cast<size_t>(i)]->pUpdate), szReason);
    }
    flsh_RunStartUpdates(&run, 0, 0, 0, 1, flsh_RunProtocol);
    std::int32_t nLowest = 0;
    while (!flsh_RunPoll(&run, &nLowest, nullptr)) flsh_RunWaitAllDone(&run, kPollMs);
    for (int i = 0; i < nLeft; ++i) {
        const RunDevice &device = *run.devices[static_cast<size_t>(i)];
        if (!device.bSelected) continue;
        const char *pszPort = flsh_PortDisplayName(device.pUpdate);   // "COMn"
        int nPort = std::atoi(pszPort + 3);
        if (nPort >= 1 && nPort <= kPortCount) results[static_cast<size_t>(nPort - 1)] = flsh_RunResult(&run, i);
        if (flsh_RunResult(&run, i) != FR_SUCCESSFUL) std::printf("  %s: %s\n", pszPort, flsh_RunResultText(&run, i));
    }
    flsh_FreeRun(&run);
    return results;
}

bool ParseOptions(int argc, char **argv, Options *pOptions)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--log") {
            pOptions->bLog = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        int nValue = std::atoi(argv[++i]);
        if (nValue <= 0) return false;
        if (arg == "--rounds") {
            pOptions->nRounds = nValue;
        } else if (arg == "--kib" && nValue <= 1024) {
            pOptions->nKiB = static_cast<unsigned>(nValue);
        } else if (arg == "--every") {
            pOptions->nEvery = nValue;
        } else {
            return false;
        }
    }
    return true;
}

std::string FiguresText(const Figures &f)
{
    char szText[160];
    std::snprintf(szText, sizeof szText, "resident %6ld KiB  heap in use %5ld KiB  descriptors %3d  threads %3d  temp files %d",
                  f.nRssKiB, f.nHeapKiB, f.nDescriptors, f.nThreads, f.nTempFiles);
    return szText;
}

} // namespace

int main(int argc, char **argv)
{
    // One allocator arena and no per-thread caches of freed blocks, so that the figures show what the
    // process holds and not how the allocator spreads the 72 threads of a round over its arenas or
    // how full the caches of the simulator's 36 long-lived threads happen to be: with the defaults
    // both figures creep upwards over dozens of rounds (resident about +2 MiB, heap in use about
    // +130 KiB over 50) and stay flat with these settings. The allocator reads them at start-up only,
    // so the soak starts itself once more with them.
    if (std::getenv("SOAK_ALLOCATOR_SET") == nullptr) {
        std::string tunables = "glibc.malloc.arena_max=1:glibc.malloc.tcache_count=0";
        if (const char *pszOld = std::getenv("GLIBC_TUNABLES")) tunables = std::string(pszOld) + ":" + tunables;
        setenv("GLIBC_TUNABLES", tunables.c_str(), 1);
        setenv("SOAK_ALLOCATOR_SET", "1", 1);
        execv("/proc/self/exe", argv);
        std::perror("soak: cannot start itself again with the allocator settings");
        return 1;
    }
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        std::fprintf(stderr, "usage: soak [--rounds N] [--kib N (1-1024)] [--every N] [--log]\n");
        return 2;
    }
    // The engine reads the scale once, the simulator on every wait: both see the same value.
    setenv("SUITE_TIME_SCALE", std::getenv("SUITE_TIME_SCALE") ? std::getenv("SUITE_TIME_SCALE") : "0.5", 1);
    const char *pszScale = std::getenv("SUITE_TIME_SCALE");

    char szDir[] = "/tmp/soak-XXXXXX";
    if (!mkdtemp(szDir)) {
        std::perror("soak: mkdtemp");
        return 1;
    }
    // The engine's sorted copies of the image go to TMPDIR: a private one shows any left behind.
    const std::string dir = szDir, imagesDir = dir + "/images", tempDir = dir + "/tmp", source = bench::SourceDir();
    mkdir(imagesDir.c_str(), 0755);
    mkdir(tempDir.c_str(), 0755);
    if (!bench::CopyFile(source + "/data/ravelin/Models.ini", dir + "/Models.ini") ||
        !bench::CopyFile(source + "/data/ravelin/Locks.ini", dir + "/Locks.ini")) {
        std::fprintf(stderr, "soak: cannot copy the sample catalogue from %s/data/ravelin\n", source.c_str());
        return 1;
    }
    // The catalogue is read from "beside the executable": here, the soak's directory.
    os_SetExeDirForTesting(dir.c_str());
    if (cat_Load() != cat_kLoaded) {
        std::fprintf(stderr, "soak: the sample catalogue does not load\n");
        return 1;
    }
    if (options.bLog) {
        log_SetEnabled(true);
        if (log_Open() == nullptr) std::fprintf(stderr, "soak: cannot write %s/log.txt\n", dir.c_str());
    }
    std::vector<unsigned char> image = bench::WriteSampleImage(imagesDir + "/PADE107.HEX", options.nKiB * 1024);

    int nExit = 0;
    int nLastRound = 0;
    Figures first, last;
    {
        modemsim::Bank bank;
        for (int n = 1; n <= kPortCount; ++n) bank.add(DeviceText(n));
        bank.start();
        setenv("SERIAL_PORTS_DIR", bank.dir().c_str(), 1);
        // After the bank has made its own directory, which would otherwise count as one.
        setenv("TMPDIR", tempDir.c_str(), 1);
        const int nBaseThreads = CountEntries("/proc/self/task");
        std::printf("soak: %d devices, %d rounds, %u KiB image, lines paced at 115200 baud, time scale %s\n",
                    kPortCount, options.nRounds, options.nKiB, pszScale);
        auto start = std::chrono::steady_clock::now();
        int nRoundsDone = 0;
        for (int nRound = 1; nRound <= options.nRounds; ++nRound) {
            auto roundStart = std::chrono::steady_clock::now();
            RoundOutcome outcome = CheckRound(bank, RunOnce(imagesDir), image);
            // Before the figures, so that they hold only what the engine keeps.
            for (int n = 1; n <= kPortCount; ++n) ResetDevice(bank.device(n));
            WaitForThreads(nBaseThreads);
            Figures now = Measure(tempDir);
            if (nRound == 1) first = now;
            last = now;
            nRoundsDone = nRound;
            double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - roundStart).count();
            bool bFailed = outcome.nUpdated != kPortCount || outcome.nWrong != 0;
            if (bFailed || nRound == 1 || nRound == options.nRounds || nRound % options.nEvery == 0) {
                std::printf("round %3d  %5.1f s  updated %2d/%d  wrong memory %d  %s\n", nRound, dSeconds,
                            outcome.nUpdated, kPortCount, outcome.nWrong, FiguresText(now).c_str());
                std::fflush(stdout);
            }
            if (outcome.nWrongButSuccessful > 0)
                std::printf("round %d: %d device(s) reported successful do not hold the image\n", nRound,
                            outcome.nWrongButSuccessful);
            if (bFailed) {
                std::printf("round %d failed\n", nRound);
                nExit = 1;
                break;
            }
        }
        double dTotal = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("\n%d rounds in %.0f s\n", nRoundsDone, dTotal);
        nLastRound = nRoundsDone;
        bank.stop();
    }
    if (options.bLog) log_Close();
    cat_Free();
    os_SetExeDirForTesting(nullptr);

    long nHeapGrowth = last.nHeapKiB - first.nHeapKiB;
    long nRssGrowth = last.nRssKiB - first.nRssKiB;
    int nFdGrowth = last.nDescriptors - first.nDescriptors;
    int nThreadGrowth = last.nThreads - first.nThreads;
    int nTempGrowth = last.nTempFiles - first.nTempFiles;
    auto verdict = [](bool bOk) { return bOk ? "ok" : "OVER"; };
    std::printf("after round 1:    %s\n", FiguresText(first).c_str());
    std::printf("after round %-4d  %s\n", nLastRound, FiguresText(last).c_str());
    std::printf("growth: heap in use %+ld KiB (allowance %ld) %s, resident %+ld KiB (allowance %ld) %s, "
                "descriptors %+d %s, threads %+d %s, temporary files %+d %s\n",
                nHeapGrowth, kHeapAllowanceKiB, verdict(nHeapGrowth <= kHeapAllowanceKiB), nRssGrowth,
                kRssAllowanceKiB, verdict(nRssGrowth <= kRssAllowanceKiB), nFdGrowth, verdict(nFdGrowth <= 0),
                nThreadGrowth, verdict(nThreadGrowth <= 0), nTempGrowth, verdict(nTempGrowth <= 0));
    if (nHeapGrowth > kHeapAllowanceKiB || nRssGrowth > kRssAllowanceKiB || nFdGrowth > 0 || nThreadGrowth > 0 ||
        nTempGrowth > 0 || first.nTempFiles > 0)
        nExit = 1;
    if (nExit != 0 && options.bLog) {
        std::printf("the engine's log is kept in %s/log.txt\n", dir.c_str());
        return nExit;
    }
    std::string remove = "rm -rf '" + dir + "'";
    if (std::system(remove.c_str()) != 0) std::fprintf(stderr, "soak: %s left behind\n", dir.c_str());
    return nExit;
}
