// Kills `ravelin-cli flash` at random moments and finishes every update it cut off:
//   flash_kill_resume [KILLS] [SEED]          (default 100 kills, seed 2326)
// One simulated device with the maker's loader, paced as a real line; the images alternate between
// two of the same size and different bytes, so each round must leave the other image exactly. After
// every kill: the history opens, PRAGMA integrity_check says ok, no record is lost (every id inserted
// so far is still there, in order), the latest record says how far the update got, and when it
// needs finishing, `ravelin-cli resume --yes` brings the device's memory to exactly the image.
// Prints where the kills landed and the counts; exits 1 when any check failed.
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_files.h"
#include "fixtures/sim_bank_fixture.h"
#include "ravelin/history/history.h"

extern char **environ;

namespace {

constexpr std::uint32_t kBase = 0x0800;   // above the boot jump the family writes at address 0
constexpr std::size_t kImageBytes = 12 * 1024;

using Clock = std::chrono::steady_clock;

std::string g_dir;

std::string hexRecord(int nType, std::uint32_t nOffset, const std::vector<std::uint8_t> &data)
{
    char szLine[80];
    int nSum = static_cast<int>(data.size()) + static_cast<int>(nOffset >> 8) + static_cast<int>(nOffset & 0xFF) + nType;
    int n = std::snprintf(szLine, sizeof szLine, ":%02X%04X%02X", static_cast<unsigned>(data.size()),
                          static_cast<unsigned>(nOffset), static_cast<unsigned>(nType));
    for (std::uint8_t b : data) {
        n += std::snprintf(szLine + n, sizeof szLine - static_cast<std::size_t>(n), "%02X", b);
        nSum += b;
    }
    std::snprintf(szLine + n, sizeof szLine - static_cast<std::size_t>(n), "%02X\r\n", (-nSum) & 0xFF);
    return szLine;
}

std::vector<std::uint8_t> writeImage(const std::string &path, int nSeed)
{
    std::vector<std::uint8_t> bytes(kImageBytes);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + nSeed * 101 + i / 256);
    std::string text;
    for (std::size_t at = 0; at < bytes.size(); at += 16)
        text += hexRecord(0, kBase + static_cast<std::uint32_t>(at),
                          std::vector<std::uint8_t>(bytes.begin() + at, bytes.begin() + at + 16));
    text += ":00000001FF\r\n";
    FILE *pFile = std::fopen(path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), pFile);
    std::fclose(pFile);
    return bytes;
}

bool holdsExactly(modemsim::Device &dev, const std::vector<std::uint8_t> &bytes)
{
    if (dev.state().flash.extent() > kBase + bytes.size()) return false;
    return dev.state().flash.read(kBase, static_cast<std::uint32_t>(bytes.size())) == bytes;
}

pid_t spawnCli(const std::string &args, const std::string &log)
{
    std::string command = "exec '" + g_dir + "/ravelin-cli' " + args + " >>'" + log + "' 2>&1 </dev/null";
    const char *argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char **>(argv), environ) != 0) return -1;
    return pid;
}

int waitCli(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// integrity_check, the ids in order, the latest record; false with the reason in *pWhy.
struct Check {
    bool bOk = false;
    std::string why;
    std::vector<long long> ids;
    std::string lastStatus;
    bool bUnfinished = false;
    int nResult = -1;
};

Check checkDatabase(const std::string &path)
{
    Check check;
    sqlite3 *pDb = nullptr;
    if (sqlite3_open_v2(path.c_str(), &pDb, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        check.why = std::string("cannot open: ") + sqlite3_errmsg(pDb);
        sqlite3_close(pDb);
        return check;
    }
    sqlite3_busy_timeout(pDb, 5000);
    sqlite3_stmt *pStmt = nullptr;
    std::string integrity;
    if (sqlite3_prepare_v2(pDb, "PRAGMA integrity_check", -1, &pStmt, nullptr) == SQLITE_OK) {
        while (sqlite3_step(pStmt) == SQLITE_ROW) integrity += reinterpret_cast<const char *>(sqlite3_column_text(pStmt, 0));
    }
    sqlite3_finalize(pStmt);
    if (integrity != "ok") {
        check.why = "integrity_check: " + integrity;
        sqlite3_close(pDb);
        return check;
    }
    if (sqlite3_prepare_v2(pDb, "SELECT id, last_status, result IS NULL, IFNULL(result, -1) FROM updates ORDER BY id",
                           -1, &pStmt, nullptr) != SQLITE_OK) {
        check.why = std::string("cannot read: ") + sqlite3_errmsg(pDb);
        sqlite3_close(pDb);
        return check;
    }
    while (sqlite3_step(pStmt) == SQLITE_ROW) {
        check.ids.push_back(sqlite3_column_int64(pStmt, 0));
        const unsigned char *pszStatus = sqlite3_column_text(pStmt, 1);
        check.lastStatus = pszStatus != nullptr ? reinterpret_cast<const char *>(pszStatus) : "";
        check.bUnfinished = sqlite3_column_int(pStmt, 2) != 0;
        check.nResult = sqlite3_column_int(pStmt, 3);
    }
    sqlite3_finalize(pStmt);
    sqlite3_close(pDb);
    check.bOk = true;
    return check;
}

} // namespace

int main(int argc, char **argv)
{
    int nKills = argc > 1 ? std::atoi(argv[1]) : 100;
    unsigned nSeed = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : 2326u;
    setenv("SUITE_TIME_SCALE", "0.2", 0);

    char szDir[] = "/tmp/flash_kill_resume.XXXXXX";
    if (mkdtemp(szDir) == nullptr) return 2;
    g_dir = szDir;
    std::string source = bench::SourceDir();
    if (!bench::CopyFile(bench::SelfDir() + "/ravelin-cli", g_dir + "/ravelin-cli") ||
        !bench::CopyFile(source + "/data/ravelin/Models.ini", g_dir + "/Models.ini") ||
        !bench::CopyFile(source + "/data/ravelin/Locks.ini", g_dir + "/Locks.ini")) {
        std::fprintf(stderr, "flash_kill_resume: cannot set up %s (is ravelin-cli built?)\n", szDir);
        return 2;
    }
    chmod((g_dir + "/ravelin-cli").c_str(), 0755);
    std::string database = g_dir + "/history.db";
    setenv("RAVELIN_HISTORY", database.c_str(), 1);
    mkdir((g_dir + "/a").c_str(), 0755);
    mkdir((g_dir + "/b").c_str(), 0755);
    const std::string images[2] = {g_dir + "/a/PADE107.HEX", g_dir + "/b/PADE107.HEX"};
    const std::vector<std::uint8_t> bytes[2] = {writeImage(images[0], 1), writeImage(images[1], 2)};
    std::string log = g_dir + "/cli.log";

    modemsim_testing::SimBank sim;
    modemsim::Device &dev = sim.addDevice("port = 1\nspeed = 38400\nautobaud = on\nfamily = loader\n"
                                          "loader.version = 2.00\nloader.max_speed = 115200\n"
                                          "ati.0 = PL1400 Version 1.07\nati.9 = GERMANY\n");
    auto flashArgs = [&](int nImage) { return "flash --port COM1 --model PL1400 --image '" + images[nImage] + "'"; };

    // How long an update takes whole: the kills fall anywhere in it.
    auto t0 = Clock::now();
    int nCalibration = waitCli(spawnCli(flashArgs(1), log));
    double dFullMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    if (nCalibration != 0 || !holdsExactly(dev, bytes[1])) {
        std::fprintf(stderr, "flash_kill_resume: the whole update failed (%d); see %s\n", nCalibration, log.c_str());
        return 1;
    }
    std::printf("one whole update: %.0f ms (time scale %s); %d kills, seed %u\n", dFullMs,
                std::getenv("SUITE_TIME_SCALE"), nKills, nSeed);

    std::vector<long long> idsBefore = checkDatabase(database).ids;  // the whole update's record
    std::mt19937 random(nSeed);
    // Within the update: the whole one's time less the process's own start and end.
    std::uniform_real_distribution<double> moment(0.0, dFullMs * 0.9);
    std::map<std::string, int> landed;
    int nFailures = 0, nFailedRounds = 0, nUnfinished = 0, nResumed = 0, nExact = 0, nKilled = 0;
    for (int nRound = 0; nRound < nKills; ++nRound) {
        int nImage = nRound % 2;
        const std::vector<std::uint8_t> &previous = bytes[1 - nImage];
        double dAfterMs = moment(random);
        pid_t pid = spawnCli(flashArgs(nImage), log);
        std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long long>(dAfterMs * 1000)));
        bool bKilled = kill(pid, SIGKILL) == 0;
        int status = 0;
        waitpid(pid, &status, 0);
        bKilled = bKilled && WIFSIGNALED(status);
        nKilled += bKilled ? 1 : 0;
        dev.waitForHostOpens(0, 5000);

        bool bRoundFailed = false;
        auto fail = [&](const std::string &why) {
            std::printf("round %d (kill after %.0f ms): %s\n", nRound, dAfterMs, why.c_str());
            if (nFailures++ == 0) {  // the device's side of the first failure, for a look
                FILE *pFile = std::fopen((g_dir + "/transcript.txt").c_str(), "w");
                if (pFile != nullptr) {
                    std::string text = dev.transcript().text();
                    std::fwrite(text.data(), 1, text.size(), pFile);
                    std::fclose(pFile);
                }
            }
            if (!bRoundFailed) ++nFailedRounds;
            bRoundFailed = true;
        };
        Check check = checkDatabase(database);
        if (!check.bOk) {
            fail(check.why);
            continue;
        }
        // Every record inserted so far is still there, in order, and at most this round's one is new.
        bool bKept = check.ids.size() >= idsBefore.size() && check.ids.size() <= idsBefore.size() + 1 &&
                     std::equal(idsBefore.begin(), idsBefore.end(), check.ids.begin());
        if (!bKept) fail("records lost or out of order");
        bool bNewRecord = check.ids.size() > idsBefore.size();
        std::string where = !bNewRecord ? "before the record" : check.bUnfinished ? check.lastStatus : "ended";
        ++landed[where.empty() ? "started" : where];
        idsBefore = check.ids;

        if (bNewRecord && check.bUnfinished) {
            ++nUnfinished;
            int nResume = waitCli(spawnCli("resume --yes", log));
            Check after = checkDatabase(database);
            if (nResume != 0) fail("resume ended with " + std::to_string(nResume));
            if (!after.bOk || after.bUnfinished || after.nResult != 0 || after.ids.size() != idsBefore.size() + 1)
                fail("resume left no successful record");
            else
                ++nResumed;
            if (holdsExactly(dev, bytes[nImage]))
                ++nExact;
            else
                fail("memory after resume is not the image");
            idsBefore = after.ids;
        } else if (bNewRecord) {
            // Ended by itself before the kill (or with a result that needs no resume).
            if (check.nResult == 0 && !holdsExactly(dev, bytes[nImage])) fail("a successful update left other memory");
            if (check.nResult != 0) {
                int nResume = waitCli(spawnCli("resume --yes", log));
                if (nResume != 0 || !holdsExactly(dev, bytes[nImage])) fail("resume after a failed end did not finish");
                idsBefore = checkDatabase(database).ids;
            }
        } else if (!holdsExactly(dev, previous)) {
            fail("killed before its record, yet the device was touched");
        }
    }
    std::printf("kills landed:");
    for (const auto &[where, count] : landed) std::printf("  %s %d", where.c_str(), count);
    std::printf("\nkilled %d of %d; unfinished records %d, resumed %d, exact memory after resume %d; records %zu;"
                " checks failed %d\n",
                nKilled, nKills, nUnfinished, nResumed, nExact, idsBefore.size(), nFailures);
    std::printf("%d passed, %d failed\n", nKills - nFailedRounds, nFailedRounds);
    if (nFailures == 0) {
        std::string command = "rm -rf '" + g_dir + "'";
        if (std::system(command.c_str()) != 0) std::fprintf(stderr, "flash_kill_resume: %s stays\n", szDir);
    } else {
        std::printf("kept for a look: %s\n", szDir);
    }
    return nFailures == 0 ? 0 : 1;
}
