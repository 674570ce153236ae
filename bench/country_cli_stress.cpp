// Many command-line runs of the real country program side by side, against simulated modems of every
// family of data/sim/country: each run must identify and configure its modem. Runs that fail at random
// (a lost answer, a port that stops hearing) show up here long before a user meets them.
//
// Each of the parallel slots has its own simulated modem (COM1, COM2, ...; the families in turn) and its
// own working directory for Meridia.txt; all runs share one copy of the program and its catalogues, so
// they also share modem.ini beside it. A slot runs "country -l -c <port> <code>" again and again with a
// new country each time, and a run counts as configured when it exits 0, its message log says that
// modem.ini was written, modem.ini names the country for that port, and the modem's country setting
// changed.
//
// Run by hand: build/bin/country_cli_stress [RUNS [PARALLEL [PROGRAM]]]   (defaults 500, 8 and the
// country program beside this benchmark; a run takes 6 to 11 s at the real time scale, depending on how
// many questions the model needs, so the defaults take about 8 minutes; SUITE_TIME_SCALE shortens every
// wait). PROGRAM lets an older build be measured the same way.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_files.h"
#include "country/config/private_profile.h"
#include "tools/modemsim/modemsim.h"

extern char** environ;

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// The healthy modems of data/sim/country, one per model and so every command set.
const char* const kModemFiles[] = {
    "agere_ab12.txt",       "conexant_cx56000.txt", "conexant2_cx2400.txt",
    "conexant_mx200.txt",   "agere2_ag500.txt",     "agere_ab12x.txt",
};
constexpr int kModemKinds = sizeof kModemFiles / sizeof kModemFiles[0];

// Countries whose codes differ from one to the next for every command set, so that each run changes
// the modem's setting.
struct Country {
    const char* code;
    const char* name;
};
const Country kCountries[] = {
    {"US", "United States (US)"},
    {"DE", "Germany (DE)"},
    {"NO", "Norway (NO)"},
    {"GB", "United Kingdom (GB)"},
};
constexpr int kCountryCount = sizeof kCountries / sizeof kCountries[0];

struct RunResult {
    int index = 0;
    int port = 0;
    const char* country = "";
    int exitCode = -1;
    double seconds = 0;
    bool configured = false;
    std::string why;  // for a run that did not configure its modem
};

// Runs the program in workDir and waits for it; the exit code, or -1 when it did not end normally.
int RunCountry(const std::string& exe, const std::string& workDir, const std::vector<std::string>& arguments)
{
    std::vector<std::string> args = {exe};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    posix_spawn_file_actions_addopen(&actions, 2, "stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;
    const int parallel = argc > 2 ? std::max(1, std::atoi(argv[2])) : 8;
    const std::string program = argc > 3 ? argv[3] : bench::SelfDir() + "/country";
    const std::string source = bench::SourceDir();

    char dirTemplate[] = "/tmp/country-stress-XXXXXX";
    if (mkdtemp(dirTemplate) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = dirTemplate;
    const std::string exe = dir + "/country";
    if (!bench::CopyFile(program, exe) || chmod(exe.c_str(), 0755) != 0 ||
        !bench::CopyFile(source + "/data/country/Country.ini", dir + "/Country.ini") ||
        !bench::CopyFile(source + "/data/country/Models.ini", dir + "/Models.ini")) {
        std::fprintf(stderr, "country_cli_stress: cannot set up the program and its catalogues in %s\n", dir.c_str());
        return 1;
    }

    modemsim::Bank bank;
    std::vector<modemsim::Device*> modems;
    for (int slot = 0; slot < parallel; ++slot) {
        modemsim::DeviceConfig config =
            modemsim::DeviceConfig::load(source + "/data/sim/country/" + kModemFiles[slot % kModemKinds]);
        config.set("port", std::to_string(slot + 1));
        modems.push_back(&bank.add(config));
        mkdir((dir + "/slot" + std::to_string(slot + 1)).c_str(), 0755);
    }
    bank.start();
    setenv("SERIAL_PORTS_DIR", bank.dir().c_str(), 1);

    const char* scale = std::getenv("SUITE_TIME_SCALE");
    std::printf("country_cli_stress: %d runs, %d at a time, time scale %s, modems:", runs, parallel,
                scale != nullptr ? scale : "1");
    for (int slot = 0; slot < parallel; ++slot)
        std::printf(" COM%d=%s", slot + 1, modems[slot]->config().name.c_str());
    std::printf("\n");
    std::fflush(stdout);

    std::atomic<int> next{0};
    std::mutex resultsLock;
    std::vector<RunResult> results;
    const auto start = std::chrono::steady_clock::now();

    auto slotLoop = [&](int slot) {
        const int port = slot + 1;
        const std::string workDir = dir + "/slot" + std::to_string(port);
        int round = 0;
        for (int index = next++; index < runs; index = next++, ++round) {
            const Country& country = kCountries[round % kCountryCount];
            RunResult result;
            result.index = index;
            result.port = port;
            result.country = country.code;
            const std::string before = modems[slot]->state().country();
            unlink((workDir + "/Meridia.txt").c_str());
            const auto runStart = std::chrono::steady_clock::now();
            result.exitCode = RunCountry(exe, workDir, {"-l", "-c", std::to_string(port), country.code});
            result.seconds = Seconds(std::chrono::steady_clock::now() - runStart);

            const std::string message = ReadFile(workDir + "/Meridia.txt");
            const std::string recorded =
                ProfileGetString(dir + "/modem.ini", std::to_string(port), "CountryName", "", 256);
            const std::string after = modems[slot]->state().country();
            if (result.exitCode != 0)
                result.why = "exit " + std::to_string(result.exitCode);
            else if (message.find("modem.ini written") == std::string::npos)
                result.why = "message log does not say that modem.ini was written";
            else if (recorded != country.name)
                result.why = "modem.ini names \"" + recorded + "\"";
            else if (after.empty() || after == before)
                result.why = "the modem's country setting stayed \"" + after + "\"";
            result.configured = result.why.empty();
            if (!result.configured)
                result.why += "; Meridia.txt: " + message + "; stderr: " + ReadFile(workDir + "/stderr.txt");
            std::lock_guard<std::mutex> hold(resultsLock);
            results.push_back(result);
            if (results.size() % 50 == 0) {
                std::printf("  %zu runs done\n", results.size());
                std::fflush(stdout);
            }
        }
    };
    std::vector<std::thread> slots;
    for (int slot = 0; slot < parallel; ++slot)
        slots.emplace_back(slotLoop, slot);
    for (std::thread& t : slots)
        t.join();
    const double total = Seconds(std::chrono::steady_clock::now() - start);

    int failures = 0;
    const RunResult* slowest = nullptr;
    const RunResult* fastest = nullptr;
    double sum = 0;
    for (const RunResult& r : results) {
        sum += r.seconds;
        if (slowest == nullptr || r.seconds > slowest->seconds)
            slowest = &r;
        if (fastest == nullptr || r.seconds < fastest->seconds)
            fastest = &r;
        if (!r.configured) {
            ++failures;
            std::printf("  FAILED run %d on COM%d (%s) after %.2f s: %s\n", r.index, r.port, r.country, r.seconds,
                        r.why.c_str());
        }
    }
    std::printf("\nruns %zu, configured %zu, failures %d\n", results.size(), results.size() - failures, failures);
    if (!results.empty())
        std::printf("run time: fastest %.2f s, mean %.2f s, slowest %.2f s (run %d on COM%d, %s); all runs %.1f s\n",
                    fastest->seconds, sum / results.size(), slowest->seconds, slowest->index, slowest->port,
                    slowest->country, total);
    // Per modem: a lost answer shows as a run some seconds (a time-out) slower than the others of its model.
    for (int slot = 0; slot < parallel; ++slot) {
        int count = 0;
        double least = 0, most = 0;
        for (const RunResult& r : results) {
            if (r.port != slot + 1)
                continue;
            least = count == 0 ? r.seconds : std::min(least, r.seconds);
            most = count == 0 ? r.seconds : std::max(most, r.seconds);
            ++count;
        }
        std::printf("  COM%d %-18s %3d runs, %.2f s to %.2f s\n", slot + 1, modems[slot]->config().name.c_str(), count,
                    least, most);
    }
    if (failures > 0) {
        // The end of each modem's transcript: enough to see the last runs' dialogue.
        bank.stop();
        for (modemsim::Device* modem : modems) {
            const std::string text = modem->transcript().text();
            const size_t keep = 6000;
            std::printf("\n---- COM%d (%s), last part of its transcript ----\n%s", modem->port(),
                        modem->config().name.c_str(), text.substr(text.size() > keep ? text.size() - keep : 0).c_str());
        }
    }

    bank.stop();
    std::string cleanup = "rm -rf '" + dir + "'";
    if (std::system(cleanup.c_str()) != 0)
        std::fprintf(stderr, "country_cli_stress: could not remove %s\n", dir.c_str());
    return failures == 0 ? 0 : 1;
}
