// Probing a full 36-port bank: 6 ports with simulated devices of different families, 30 ports with
// nothing behind them (they open, and nothing ever answers). Measures, with the real ravelin-cli:
//   - each answering device probed alone, and one empty port alone (the slowest single probe);
//   - all 36 ports probed at once: wall time, and the processor time of the probing process over the
//     whole run and over a window in which every remaining port waits on silence.
// The run at once should take no longer than the slowest single probe plus one second, and the
// process should use under 5% of one core while the devices are silent.
//
// Run by hand: build/bin/probe_36_ports   (about two minutes at the real time scale; SUITE_TIME_SCALE
// shortens every wait proportionally).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_files.h"
#include "tools/modemsim/modemsim.h"

namespace {

constexpr int kPortCount = 36;
// Sections of the demo bank that answer: a plain modem, a Lucent part, a Rockwell modem, a
// hexadecimal-country Rockwell modem, one left at 115200 baud, and an embedded platform.
const int kAnsweringSections[] = {1, 10, 12, 13, 15, 16};
// Where the answering devices sit in the 36-port bank.
const int kAnsweringPorts[] = {3, 8, 15, 22, 29, 36};

double TimeScale()
{
    const char *pszScale = std::getenv("SUITE_TIME_SCALE");
    double dScale = pszScale ? std::atof(pszScale) : 1.0;
    return dScale > 0 ? dScale : 1.0;
}

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Processor time (user + system) of a running process, in seconds, from /proc/<pid>/stat.
double ProcessCpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t nClose = text.rfind(')');
    if (nClose == std::string::npos) return -1;
    std::istringstream fields(text.substr(nClose + 2));
    std::string field;
    unsigned long long nUser = 0, nSystem = 0;
    for (int i = 3; fields >> field; ++i) {  // field 3 is the state
        if (i == 14) nUser = std::stoull(field);
        if (i == 15) {
            nSystem = std::stoull(field);
            break;
        }
    }
    return static_cast<double>(nUser + nSystem) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct ProbeRun {
    double dWall = 0;        // seconds
    double dCpu = 0;         // seconds of processor time of the whole run
    double dWindowWall = 0;  // the silent window
    double dWindowCpu = 0;
    int nExit = -1;
    std::string out;
};

// Runs ravelin-cli probe on the ports; when dWindowFrom < dWindowTo, also samples the process's
// processor time over that window (seconds since start).
ProbeRun RunProbe(const std::string &exe, const std::string &dir, const std::vector<std::string> &ports,
                  double dWindowFrom = 0, double dWindowTo = 0)
{
    std::vector<std::string> args = {exe, "probe"};
    args.insert(args.end(), ports.begin(), ports.end());
    std::vector<char *> argv;
    for (std::string &arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    std::string outPath = dir + "/probe.out";

    ProbeRun run;
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int hOut = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(hOut, 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (dWindowFrom < dWindowTo) {
        std::this_thread::sleep_until(start + std::chrono::duration<double>(dWindowFrom));
        auto windowStart = std::chrono::steady_clock::now();
        double dCpuStart = ProcessCpuSeconds(pid);
        std::this_thread::sleep_until(start + std::chrono::duration<double>(dWindowTo));
        double dCpuEnd = ProcessCpuSeconds(pid);
        run.dWindowWall = Seconds(std::chrono::steady_clock::now() - windowStart);
        run.dWindowCpu = dCpuEnd - dCpuStart;
    }
    int nStatus = 0;
    struct rusage usage {};
    wait4(pid, &nStatus, 0, &usage);
    run.dWall = Seconds(std::chrono::steady_clock::now() - start);
    run.dCpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
               usage.ru_stime.tv_usec / 1e6;
    run.nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    std::ifstream in(outPath);
    run.out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return run;
}

} // namespace

int main()
{
    const std::string source = bench::SourceDir();
    const double dScale = TimeScale();

    // ravelin-cli with the sample catalogue beside it, in a directory of our own.
    char szDir[] = "/tmp/probe-bench-XXXXXX";
    if (!mkdtemp(szDir)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = szDir;
    const std::string exe = dir + "/ravelin-cli";
    if (!bench::CopyFile(bench::SelfDir() + "/ravelin-cli", exe) || chmod(exe.c_str(), 0755) != 0 ||
        !bench::CopyFile(source + "/data/ravelin/Models.ini", dir + "/Models.ini") ||
        !bench::CopyFile(source + "/data/ravelin/Locks.ini", dir + "/Locks.ini")) {
        std::fprintf(stderr, "probe_36_ports: cannot set up ravelin-cli and the catalogue in %s\n", dir.c_str());
        return 1;
    }

    std::vector<modemsim::DeviceConfig> demo = modemsim::loadBank(source + "/data/sim/ident/demo_bank.ini");
    modemsim::Bank bank;
    std::vector<bool> answering(kPortCount + 1, false);
    for (int i = 0; i < 6; ++i) {
        modemsim::DeviceConfig config = demo.at(kAnsweringSections[i] - 1);
        config.set("port", std::to_string(kAnsweringPorts[i]));
        bank.add(config);
        answering[kAnsweringPorts[i]] = true;
    }
    for (int n = 1; n <= kPortCount; ++n) {
        if (answering[n]) continue;
        bank.add("port = " + std::to_string(n) + "\nname = empty port\nspeed = 38400\nfault.silent = on\n");
    }
    bank.start();
    setenv("SERIAL_PORTS_DIR", bank.dir().c_str(), 1);

    std::printf("probe_36_ports: time scale %.3g, %d ports, answering devices on", dScale, kPortCount);
    for (int n : kAnsweringPorts) std::printf(" COM%d", n);
    std::printf("\n\nSingle probes:\n");

    double dSlowest = 0;
    std::vector<int> singles(std::begin(kAnsweringPorts), std::end(kAnsweringPorts));
    singles.push_back(1);  // an empty port
    for (int n : singles) {
        ProbeRun run = RunProbe(exe, dir, {"COM" + std::to_string(n)});
        std::printf("  COM%-3d %-11s %6.2f s  exit %d\n", n, answering[n] ? "device" : "empty port", run.dWall,
                    run.nExit);
        if (run.dWall > dSlowest) dSlowest = run.dWall;
    }

    std::vector<std::string> all;
    for (int n = 1; n <= kPortCount; ++n) all.push_back("COM" + std::to_string(n));
    // After about 10 s (scaled) every answering device at 38400 baud is done; from then on the
    // remaining ports wait on silence until the 115200-baud attempt ends after about 18 s.
    ProbeRun full = RunProbe(exe, dir, all, 10.5 * dScale, 16.5 * dScale);

    int nIdentified = 0;
    std::istringstream rows(full.out);
    for (std::string row; std::getline(rows, row);) {
        std::istringstream columns(row);
        std::string port, status;
        columns >> port >> status;
        if (status == "0" || status == "9" || status == "10") ++nIdentified;
    }

    const double dLimit = dSlowest + 1.0 * dScale;
    const double dRunPercent = 100.0 * full.dCpu / full.dWall;
    const double dWindowPercent = full.dWindowWall > 0 ? 100.0 * full.dWindowCpu / full.dWindowWall : 0;
    std::printf("\nAll %d ports at once:\n", kPortCount);
    std::printf("  wall time                 %6.2f s (limit: slowest single %.2f s + %.2f s = %.2f s)  %s\n",
                full.dWall, dSlowest, 1.0 * dScale, dLimit, full.dWall <= dLimit ? "PASS" : "FAIL");
    std::printf("  processor, whole run      %6.3f s of %.2f s = %5.2f%% of one core\n", full.dCpu, full.dWall,
                dRunPercent);
    std::printf("  processor, silent window  %6.3f s of %.2f s = %5.2f%% of one core (limit 5%%)  %s\n",
                full.dWindowCpu, full.dWindowWall, dWindowPercent, dWindowPercent < 5.0 ? "PASS" : "FAIL");
    std::printf("  devices identified        %d of 6, exit code %d\n", nIdentified, full.nExit);
    std::printf("\n%s", full.out.c_str());

    bank.stop();
    unlink((dir + "/probe.out").c_str());
    unlink((dir + "/Models.ini").c_str());
    unlink((dir + "/Locks.ini").c_str());
    unlink(exe.c_str());
    rmdir(dir.c_str());
    return (full.dWall <= dLimit && dWindowPercent < 5.0 && nIdentified == 6) ? 0 : 1;
}
