// Updates cut off half-way and finished: the real ravelin-cli killed with SIGKILL while the maker's
// loader programs, an update whose line is lost, a dot download killed; then `history` shows them,
// `probe` names them and `resume --yes` brings each device's memory to exactly the image, with a
// record that points at the first one.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/sim_bank_fixture.h"
#include "flash_test_util.h"
#include "ravelin/flash/flsh.h"
#include "ravelin/history/history.h"

extern char **environ;

namespace {

using flashtest::readFile;

struct CliResult {
    int exitCode = -1;
    std::string out, err;
};

// The maker's loader behind a modem at 38400 that takes each speed it hears, paced as a real line
// (a 4 KiB block takes about a second, scaled): there is time to cut an update off half-way.
// It already reports the image's version, so that the check after the update can pass.
const char kLoaderDevice[] = "port = 1\nspeed = 38400\nautobaud = on\nfamily = loader\nloader.version = 2.00\n"
                             "loader.max_speed = 115200\nati.0 = PL1400 Version 1.07\nati.9 = GERMANY\n";
constexpr std::uint32_t kLoaderBase = 0x0800;
const char kDotDevice[] = "port = 2\nspeed = 115200\nfamily = dot\ndot.block = 128\nati.0 = DT200 Version 1.01\n"
                          "ati.9 = NORWAY\n";

class CliResumeTest : public SimBankTest {
protected:
    void SetUp() override
    {
        setenv("SUITE_TIME_SCALE", "0.2", 1);
        SimBankTest::SetUp();
        exe = dir.file("ravelin-cli");
        std::filesystem::copy_file(std::string(SUITE_BIN_DIR) + "/ravelin-cli", exe);
        chmod(exe.c_str(), 0755);
        std::string data = std::string(SUITE_SOURCE_DIR) + "/data/ravelin/";
        std::filesystem::copy_file(data + "Models.ini", dir.file("Models.ini"));
        std::filesystem::copy_file(data + "Locks.ini", dir.file("Locks.ini"));
        database = dir.file("history.db");
        setenv("RAVELIN_HISTORY", database.c_str(), 1);
    }
    void TearDown() override
    {
        if (child > 0) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        SimBankTest::TearDown();
        unsetenv("RAVELIN_HISTORY");
        unsetenv("SUITE_TIME_SCALE");
    }

    CliResult cli(const std::string &args)
    {
        std::string out = dir.file("out.txt"), err = dir.file("err.txt");
        std::string command = "'" + exe + "' " + args + " >'" + out + "' 2>'" + err + "' </dev/null";
        int status = std::system(command.c_str());
        CliResult result;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = readFile(out);
        result.err = readFile(err);
        return result;
    }

    // Starts ravelin-cli in the background (its output in bg.txt); the pid is the program's own.
    void start(const std::string &args)
    {
        std::string command = "exec '" + exe + "' " + args + " >'" + dir.file("bg.txt") + "' 2>&1 </dev/null";
        const char *argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
        ASSERT_EQ(0, posix_spawn(&child, "/bin/sh", nullptr, nullptr, const_cast<char **>(argv), environ));
    }
    void killChild()
    {
        ASSERT_GT(child, 0);
        ASSERT_EQ(0, kill(child, SIGKILL));
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        child = -1;
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << readFile(dir.file("bg.txt"));
    }
    // The background program's exit code once it has ended by itself.
    int waitChild()
    {
        int status = 0;
        waitpid(child, &status, 0);
        child = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The latest record of a port, read as another process reads it.
    bool latest(const char *pszPort, HistRecord *pRecord)
    {
        if (::access(database.c_str(), F_OK) != 0) return false;
        char szError[256];
        HistDb *pDb = hist_OpenExisting(database.c_str(), szError, sizeof szError);
        if (pDb == nullptr) return false;
        bool bFound = hist_LatestForPort(pDb, pszPort, pRecord) == 1;
        hist_Close(pDb);
        return bFound;
    }

    template <typename Condition>
    static bool waitFor(Condition condition, int nMs)
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    // The update is programming: the record says so and the device holds some blocks, not all.
    bool programming(const char *pszPort, const std::string &counter, int nAtLeast)
    {
        HistRecord record;
        if (!latest(pszPort, &record) || std::string(record.szLastStatus) != "Programming") return false;
        return countOf(counter) >= nAtLeast;
    }
    int countOf(const std::string &counter)
    {
        modemsim::Device &dev = counter == "loader" ? device(1) : device(2);
        if (counter == "loader") {
            std::string blocks = dev.state().value("loader.blocks");
            return static_cast<int>(std::count(blocks.begin(), blocks.end(), ';'));
        }
        std::string blocks = dev.state().value("dot.blocks");
        return blocks.empty() ? 0 : std::stoi(blocks);
    }

    // An image of nBytes data bytes from address nBase in 16-byte records. (The maker's families
    // put a jump of their own into the first bytes at address 0, so their images start above it.)
    std::vector<std::uint8_t> writeImage(const std::string &name, std::size_t nBytes, std::uint32_t nBase = 0)
    {
        std::vector<std::uint8_t> bytes(nBytes);
        for (std::size_t i = 0; i < nBytes; ++i) bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
        std::vector<std::string> lines;
        for (std::size_t at = 0; at < nBytes; at += 16) {
            std::uint32_t address = nBase + static_cast<std::uint32_t>(at);
            if (at == 0 || address % 0x10000 == 0)
                lines.push_back(flashtest::hexRecord(4, 0, {static_cast<std::uint8_t>(address >> 24),
                                                            static_cast<std::uint8_t>(address >> 16)}));
            std::vector<std::uint8_t> record(bytes.begin() + at, bytes.begin() + std::min(at + 16, nBytes));
            lines.push_back(flashtest::hexRecord(0, address & 0xFFFF, record));
        }
        lines.push_back(":00000001FF");
        flashtest::writeFile(dir.file(name), flashtest::crlfLines(lines));
        return bytes;
    }

    // The device's memory is exactly the bytes (and nothing beyond them but what pads a block).
    static ::testing::AssertionResult holdsExactly(modemsim::Device &dev, const std::vector<std::uint8_t> &bytes,
                                                   std::uint8_t nPad, std::size_t nBlock, std::uint32_t nBase = 0)
    {
        std::size_t nPadded = (bytes.size() + nBlock - 1) / nBlock * nBlock;
        if (dev.state().flash.extent() > nBase + nPadded)
            return ::testing::AssertionFailure() << "written up to " << dev.state().flash.extent();
        std::vector<std::uint8_t> held = dev.state().flash.read(nBase, static_cast<std::uint32_t>(nPadded + 256));
        for (std::size_t i = 0; i < held.size(); ++i) {
            std::uint8_t expected = i < bytes.size() ? bytes[i] : i < nPadded ? nPad : 0xFF;
            if (held[i] != expected)
                return ::testing::AssertionFailure() << "byte " << i << " is " << int(held[i]) << ", not " << int(expected);
        }
        return ::testing::AssertionSuccess();
    }

    // `history`, `probe` and `resume` after the cut: each says what the issue promises.
    void expectNamedAndResumed(const char *pszPort, const char *pszImage, std::int64_t nFirst)
    {
        CliResult probe = cli(std::string("probe ") + pszPort);
        std::string notice = std::string(pszPort) + ": the update with " + pszImage + " was interrupted on ";
        EXPECT_NE(std::string::npos, probe.err.find(notice)) << probe.err;
        EXPECT_NE(std::string::npos,
                  probe.err.find(std::string("; its device may be waiting in its flash loader. To finish it: "
                                             "ravelin-cli resume ") + pszPort + "\n"))
            << probe.err;

        CliResult resume = cli(std::string("resume --yes ") + pszPort);
        ASSERT_EQ(0, resume.exitCode) << resume.out << resume.err << readFile(dir.file("bg.txt"));
        EXPECT_NE(std::string::npos, resume.out.find("1 of 1 devices were updated successfully")) << resume.out;
        HistRecord record;
        ASSERT_TRUE(latest(pszPort, &record));
        EXPECT_EQ(FR_SUCCESSFUL, record.nResult);
        EXPECT_EQ(nFirst, record.nResumeOf);
        EXPECT_NE(nFirst, record.nId);
        EXPECT_STREQ(pszImage, record.szImage);
        EXPECT_NE(std::string(""), record.szVerifiedVersion);
        // Finished: nothing is named any more, and resume has nothing left to do.
        CliResult again = cli(std::string("probe ") + pszPort);
        EXPECT_EQ(std::string::npos, again.err.find("was interrupted")) << again.err;
        EXPECT_EQ(0, cli("resume --yes").exitCode);
    }

    flashtest::TempDir dir;
    std::string exe, database;
    pid_t child = -1;
};

TEST_F(CliResumeTest, KilledWhileTheLoaderProgramsIsNamedAndFinished)
{
    modemsim::Device &dev = addDevice(kLoaderDevice);
    std::vector<std::uint8_t> image = writeImage("PADE107.HEX", 40 * 1024, kLoaderBase);
    start("run -P COM1 -F '" + dir.file("PADE107.HEX") + "' -M PL1400 --yes");
    ASSERT_TRUE(waitFor([&] { return programming("COM1", "loader", 2); }, 60000)) << readFile(dir.file("bg.txt"));
    killChild();
    ASSERT_LT(countOf("loader"), 10) << "the update ended before it was cut off";
    HistRecord first;
    ASSERT_TRUE(latest("COM1", &first));

    CliResult history = cli("history --unfinished --json");
    ASSERT_EQ(0, history.exitCode) << history.err;
    EXPECT_NE(std::string::npos, history.out.find("\"port\": \"COM1\"")) << history.out;
    EXPECT_NE(std::string::npos, history.out.find("\"last_status\": \"Programming\"")) << history.out;
    EXPECT_NE(std::string::npos, history.out.find("\"result\": null")) << history.out;

    expectNamedAndResumed("COM1", "PADE107.HEX", first.nId);
    EXPECT_TRUE(holdsExactly(dev, image, 0xFF, 128, kLoaderBase));
    // Finished at fixed speed: the loader was entered once, by the update that was cut off.
    EXPECT_EQ("1", dev.state().value("loader.entries"));
}

TEST_F(CliResumeTest, LineLostHalfWayIsNamedAndFinished)
{
    modemsim::Device &dev = addDevice(kLoaderDevice);
    std::vector<std::uint8_t> image = writeImage("PADE107.HEX", 40 * 1024, kLoaderBase);
    start("run -P COM1 -F '" + dir.file("PADE107.HEX") + "' -M PL1400 --yes");
    ASSERT_TRUE(waitFor([&] { return programming("COM1", "loader", 2); }, 60000)) << readFile(dir.file("bg.txt"));
    int generation = dev.lineGeneration();
    dev.loseLine(500);  // the cable comes out, and goes back in half a second later (scaled)
    EXPECT_EQ(10, waitChild()) << readFile(dir.file("bg.txt"));
    ASSERT_TRUE(dev.waitForLine(generation + 1, 10000));
    HistRecord first;
    ASSERT_TRUE(latest("COM1", &first));
    EXPECT_NE(FR_SUCCESSFUL, first.nResult);
    EXPECT_NE(std::string::npos, std::string(first.szDetail).find("the line was lost")) << first.szDetail;

    CliResult history = cli("history --failed --json");
    EXPECT_NE(std::string::npos, history.out.find("the line was lost")) << history.out;

    expectNamedAndResumed("COM1", "PADE107.HEX", first.nId);
    EXPECT_TRUE(holdsExactly(dev, image, 0xFF, 128, kLoaderBase));
    EXPECT_EQ("1", dev.state().value("loader.entries"));
}

TEST_F(CliResumeTest, KilledDotDownloadIsFinishedAfterThePowerCycle)
{
    modemsim::Device &dev = addDevice(kDotDevice);
    std::vector<std::uint8_t> image = writeImage("DANO101.HEX", 24 * 1024);
    start("run -P COM2 -F '" + dir.file("DANO101.HEX") + "' -M DT200 --yes");
    ASSERT_TRUE(waitFor([&] { return programming("COM2", "dot", 4); }, 60000)) << readFile(dir.file("bg.txt"));
    killChild();
    ASSERT_LT(countOf("dot"), 150) << "the download ended before it was cut off";
    HistRecord first;
    ASSERT_TRUE(latest("COM2", &first));
    EXPECT_EQ(hist_kUnfinished, first.nResult);
    EXPECT_STREQ("dot", first.szProtocol);

    CliResult dry = cli("resume --dry-run COM2");
    EXPECT_EQ(0, dry.exitCode) << dry.out << dry.err;
    EXPECT_NE(std::string::npos, dry.out.find("the dot download, after the device is switched off and on")) << dry.out;

    expectNamedAndResumed("COM2", "DANO101.HEX", first.nId);
    // The boot code took the image afresh from its start; the padding of the last block is zeros.
    EXPECT_TRUE(holdsExactly(dev, image, 0x00, 128));
    EXPECT_EQ("1", dev.state().value("dot.restarts"));
    EXPECT_EQ("1", dev.state().value("dot.firmware_starts"));
}

// Where the user next meets the port, each command names the update cut off there; an update that
// ended well, or failed before the device was touched, is named nowhere.
TEST_F(CliResumeTest, RunFlashAndProbeNameTheInterruptedPortsOnly)
{
    char szError[256];
    HistDb *pDb = hist_Open(database.c_str(), szError, sizeof szError);
    ASSERT_NE(nullptr, pDb) << szError;
    struct Row {
        const char *pszPort;
        int nResult;
        const char *pszDetail;
        bool bNamed;
    };
    const Row rows[] = {
        {"COM4", hist_kUnfinished, "", true},
        {"COM5", FR_TIMEOUT, "", true},
        {"COM6", FR_SUCCESSFUL, "", false},
        {"COM7", FR_PORT_OPEN_FAILED, "", false},
        {"COM8", FR_PORT_OPEN_FAILED, "the line was lost", true},
    };
    for (const Row &row : rows) {
        HistRecord record;
        hist_InitRecord(&record);
        std::snprintf(record.szPort, sizeof record.szPort, "%s", row.pszPort);
        std::snprintf(record.szModel, sizeof record.szModel, "PL1400");
        std::snprintf(record.szImage, sizeof record.szImage, "PADE107.HEX");
        std::snprintf(record.szLastStatus, sizeof record.szLastStatus, "Programming");
        record.nLastPercent = 43;
        ASSERT_GT(hist_Insert(pDb, &record), 0);
        if (row.nResult != hist_kUnfinished) {
            record.nResult = row.nResult;
            std::snprintf(record.szDetail, sizeof record.szDetail, "%s", row.pszDetail);
            ASSERT_EQ(1, hist_Complete(pDb, &record));
        }
    }
    hist_Close(pDb);
    auto notice = [](const char *pszPort) {
        return std::string(pszPort) + ": the update with PADE107.HEX was interrupted on ";
    };
    CliResult probe = cli("probe COM4 COM5 COM6 COM7 COM8");
    CliResult run = cli("run --ports COM4-COM8 --images '" + dir.path() + "' --dry-run");
    CliResult flash = cli("flash --port COM5 --image '" + dir.file("PADE107.HEX") + "' --model PL1400");
    for (const Row &row : rows) {
        SCOPED_TRACE(row.pszPort);
        EXPECT_EQ(row.bNamed, probe.err.find(notice(row.pszPort)) != std::string::npos) << probe.err;
        EXPECT_EQ(row.bNamed, run.out.find(notice(row.pszPort)) != std::string::npos) << run.out;
    }
    EXPECT_NE(std::string::npos, flash.err.find(notice("COM5"))) << flash.err;
    EXPECT_EQ(std::string::npos, flash.err.find(notice("COM4"))) << "flash names its own port only";
    // A dry run of resume names each one and how it would be finished; nothing is touched.
    CliResult dry = cli("resume --dry-run");
    EXPECT_NE(std::string::npos, dry.out.find(notice("COM4"))) << dry.out;
    EXPECT_NE(std::string::npos, dry.out.find(notice("COM8"))) << dry.out;
    EXPECT_EQ(std::string::npos, dry.out.find(notice("COM6"))) << dry.out;
}

// A record's status is written at most once a second, so it can lag its device: the entry the
// record suggests finds the device elsewhere, and the other entry finishes the update.
TEST_F(CliResumeTest, ARecordThatLagsItsDeviceIsFinishedTheOtherWay)
{
    modemsim::Device &dev = addDevice(kLoaderDevice);
    std::vector<std::uint8_t> image = writeImage("PADE107.HEX", 40 * 1024, kLoaderBase);
    auto interrupted = [&](const char *pszStatus) {
        char szError[256];
        HistDb *pDb = hist_Open(database.c_str(), szError, sizeof szError);
        HistRecord record;
        hist_InitRecord(&record);
        std::snprintf(record.szPort, sizeof record.szPort, "COM1");
        std::snprintf(record.szModel, sizeof record.szModel, "PL1400");
        std::snprintf(record.szImage, sizeof record.szImage, "PADE107.HEX");
        std::snprintf(record.szImagePath, sizeof record.szImagePath, "%s", dir.file("PADE107.HEX").c_str());
        std::snprintf(record.szLastStatus, sizeof record.szLastStatus, "%s", pszStatus);
        record.nSpeed = 38400;
        std::int64_t nId = hist_Insert(pDb, &record);
        hist_Close(pDb);
        return nId;
    };
    // "Programming" on record, but the device never left its firmware: fixed speed gets no prompt,
    // the handshake from the start finishes it.
    std::int64_t nFirst = interrupted("Programming");
    ASSERT_GT(nFirst, 0);
    CliResult resume = cli("resume --yes");
    ASSERT_EQ(0, resume.exitCode) << resume.out << resume.err;
    EXPECT_TRUE(holdsExactly(dev, image, 0xFF, 128, kLoaderBase));
    EXPECT_EQ("1", dev.state().value("loader.entries"));
    HistRecord record;
    ASSERT_TRUE(latest("COM1", &record));
    EXPECT_EQ(nFirst, record.nResumeOf);

    // "Restoring Factory Defaults" on record, but the device was already in its loader at 38400: the
    // handshake finds no loader to enter, fixed speed finishes it.
    dev.state().flash.eraseAll();
    start("run -P COM1 -F '" + dir.file("PADE107.HEX") + "' -M PL1400 --yes");
    ASSERT_TRUE(waitFor([&] { return countOf("loader") >= 3; }, 60000)) << readFile(dir.file("bg.txt"));
    killChild();
    std::int64_t nSecond = interrupted("Restoring Factory Defaults");
    resume = cli("resume --yes");
    ASSERT_EQ(0, resume.exitCode) << resume.out << resume.err;
    EXPECT_TRUE(holdsExactly(dev, image, 0xFF, 128, kLoaderBase));
    EXPECT_EQ("2", dev.state().value("loader.entries")) << "one entry each: the first resume's, the run's";
    ASSERT_TRUE(latest("COM1", &record));
    EXPECT_EQ(nSecond, record.nResumeOf);
}

TEST_F(CliResumeTest, NothingToFinishAndWhatIsRefused)
{
    addDevice(kLoaderDevice);
    // No history yet: nothing to finish, and a named port has no interrupted update.
    EXPECT_EQ(0, cli("resume --yes").exitCode);
    CliResult named = cli("resume --yes COM1");
    EXPECT_EQ(3, named.exitCode);
    EXPECT_NE(std::string::npos, named.out.find("COM1: no interrupted update to finish.")) << named.out;
    EXPECT_EQ(64, cli("resume --fast").exitCode);

    // An update cut off, and its image changed since: the same image cannot be finished any more.
    writeImage("PADE107.HEX", 40 * 1024, kLoaderBase);
    start("run -P COM1 -F '" + dir.file("PADE107.HEX") + "' -M PL1400 --yes");
    ASSERT_TRUE(waitFor([&] { return programming("COM1", "loader", 1); }, 60000)) << readFile(dir.file("bg.txt"));
    killChild();
    writeImage("PADE107.HEX", 20 * 1024, kLoaderBase);
    CliResult changed = cli("resume --yes");
    EXPECT_EQ(7, changed.exitCode) << changed.out << changed.err;
    EXPECT_NE(std::string::npos, changed.out.find("has changed since")) << changed.out;
    HistRecord record;
    ASSERT_TRUE(latest("COM1", &record));
    EXPECT_EQ(hist_kUnfinished, record.nResult) << "nothing was started, so nothing was recorded";
}

} // namespace
