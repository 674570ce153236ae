// ravelin-cli run and flash record every update, and ravelin-cli history lists them: the real
// executable against a simulated bank, the database where RAVELIN_HISTORY says.
#include <gtest/gtest.h>

#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "fixtures/sim_bank_fixture.h"
#include "ravelin/flash/flash_test_util.h"
#include "ravelin/history/hist_sha256.h"
#include "ravelin/history/history.h"
#include "suite_version.h"

using flashtest::crlfLines;
using flashtest::hexRecord;
using flashtest::readFile;

namespace {

struct RunResult {
    int exitCode = -1;
    std::string out, err;
};

const char kDeviceBase[] = "speed = 38400\nautobaud = on\nthrottle = off\nloader.version = 2.00\nloader.max_speed = 115200\n";

// Six devices of four protocols, each with the image the plan chooses and what its record must say.
struct BenchRow {
    int nPort;
    const char *pszDevice;
    const char *pszImage;
    const char *pszSample;    // under data/sim; null: an image written for the port
    const char *pszModel, *pszVersion, *pszCountry, *pszImageVersion, *pszProtocol, *pszLoader;
};
const BenchRow kBench[] = {
    {1, "family = loader\nati.0 = PL1400\nati.0 += Version 1.05 EU\nati.9 = GERMANY\n", "PADE107.HEX", nullptr,
     "PL1400", "1.05", "Germany", "107", "generic", "2.0"},
    {2, "family = loader\nati.0 = PL3360 Version 2.31\nati.9 = UNITED KINGDOM\n", "PBGB234.HEX", nullptr, "PL3360",
     "2.31", "United Kingdom", "234", "generic", "2.0"},
    {7, "family = loader\nati.0 = OctaA Version 2.02\nati.9 = SWITZERLAND\n", "OACH203.HEX", nullptr, "OctaA", "2.02",
     "Switzerland", "203", "generic", "2.0"},
    {11,
     "family = rockwell-loader\nmodel = RW56-C-2\nati.0 = 56000\nati.2 = 0000\nati.4 = Modem Configuration Page\n"
     "ati.4 += RW56-C-2\nati.4 += 3.07\nati.4 += PTT SWEDEN\n",
     "RCSE308.HEX", "chips/RCDEMO.HEX", "RW56-C-2", "3.07", "Sweden", "308", "rockwell", ""},
    {12, "family = ident-wopen, siemens\nmodel = MC75\nversion = 2.10 C\n", "MCQU211.USF", "chips/MCDEMO.BIN", "MC75",
     "2.10C", "Universal", "211", "siemens", ""},
    {13, "family = dot\nmodel = DT200\ndot.block = 128\nati.0 = DT200 Version 1.00\nati.9 = NORWAY\n", "DANO101.HEX",
     "chips/DADEMO.HEX", "DT200", "1.00", "Norway", "101", "dot", ""},
};

// A JSON line of history --json as key -> raw value (strings unquoted, "null" for null): enough for
// the flat objects it prints, whose strings here hold no escapes.
std::map<std::string, std::string> parseJsonLine(const std::string &line)
{
    std::map<std::string, std::string> fields;
    std::regex pair("\"([a-z_0-9]+)\": (\"((?:[^\"\\\\]|\\\\.)*)\"|[^,}]+)");
    for (auto it = std::sregex_iterator(line.begin(), line.end(), pair); it != std::sregex_iterator(); ++it)
        fields[(*it)[1]] = (*it)[3].matched ? (*it)[3].str() : (*it)[2].str();
    return fields;
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

std::string sha256sum(const std::string &path)
{
    std::FILE *pPipe = ::popen(("sha256sum '" + path + "'").c_str(), "r");
    char szLine[256] = "";
    if (pPipe != nullptr) {
        if (std::fgets(szLine, sizeof szLine, pPipe) == nullptr) szLine[0] = '\0';
        ::pclose(pPipe);
    }
    return std::string(szLine).substr(0, 64);
}

class CliHistoryTest : public SimBankTest {
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
        for (const char *pszLoader : {"NewFlashLdr.hex", "OcmFldr.hex"})
            std::filesystem::copy_file(data + pszLoader, dir.file(pszLoader));
        std::filesystem::copy_file(sample("chips/RWload3.s37"), dir.file("RWload3.s37"));
        std::filesystem::create_directory(images());
        db = dir.file("records/history.db");
        std::filesystem::create_directory(dir.file("records"));
        setenv("RAVELIN_HISTORY", db.c_str(), 1);
        setenv("RAVELIN_JOURNAL", "off", 1);   // nothing into the machine's own journal
    }
    void TearDown() override
    {
        SimBankTest::TearDown();
        unsetenv("SUITE_TIME_SCALE");
        unsetenv("RAVELIN_HISTORY");
        unsetenv("RAVELIN_JOURNAL");
    }

    std::string images() const { return dir.file("images"); }
    static std::string sample(const std::string &name) { return std::string(SUITE_SOURCE_DIR) + "/data/sim/" + name; }

    RunResult cli(const std::string &args)
    {
        std::string out = dir.file("out.txt"), err = dir.file("err.txt");
        std::string command = "'" + exe + "' " + args + " >'" + out + "' 2>'" + err + "' </dev/null";
        int status = std::system(command.c_str());
        RunResult result;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = readFile(out);
        result.err = readFile(err);
        return result;
    }

    // Starts the command without waiting (the shell execs it: the pid is the program's own).
    pid_t start(const std::string &args, const std::string &name)
    {
        std::string command = "exec '" + exe + "' " + args + " >'" + dir.file(name + ".out") + "' 2>'" +
                              dir.file(name + ".err") + "' </dev/null";
        const char *pszCommand = command.c_str();
        pid_t pid = fork();
        if (pid == 0) {
            execl("/bin/sh", "sh", "-c", pszCommand, static_cast<char *>(nullptr));
            _exit(127);
        }
        return pid;
    }
    static int waitFor(pid_t pid)
    {
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }

    // An image of 16-byte records from address 0 over nBytes.
    std::string writeLongImage(const std::string &name, std::uint32_t nBytes)
    {
        std::vector<std::string> records;
        for (std::uint32_t a = 0; a < nBytes; a += 16)
            records.push_back(hexRecord(0, a, std::vector<std::uint8_t>(16, static_cast<std::uint8_t>(a >> 4))));
        records.push_back(":00000001FF");
        std::string path = dir.file(name);
        flashtest::writeFile(path, crlfLines(records));
        return path;
    }

    // The newest record of the port as the database holds it now (read while others write).
    bool latest(const char *pszPort, HistRecord *pRecord)
    {
        HistDb *pDb = hist_OpenExisting(db.c_str(), nullptr, 0);
        if (pDb == nullptr) return false;
        bool bFound = hist_LatestForPort(pDb, pszPort, pRecord) == 1;
        hist_Close(pDb);
        return bFound;
    }

    void writeImage(const std::string &path, int nSeed)
    {
        std::vector<std::uint8_t> first(16), second(8);
        for (std::size_t i = 0; i < 16; ++i) first[i] = static_cast<std::uint8_t>(nSeed * 16 + i);
        for (std::size_t i = 0; i < 8; ++i) second[i] = static_cast<std::uint8_t>(nSeed * 16 + 16 + i);
        flashtest::writeFile(path, crlfLines({hexRecord(0, 0x0200, first), hexRecord(0, 0x0310, second), ":00000001FF"}));
    }

    std::vector<std::map<std::string, std::string>> historyJson(const std::string &args = "")
    {
        RunResult result = cli("history --json" + args);
        EXPECT_EQ(0, result.exitCode) << result.err;
        std::vector<std::map<std::string, std::string>> records;
        for (const std::string &line : lines(result.out)) records.push_back(parseJsonLine(line));
        return records;
    }

    flashtest::TempDir dir;
    std::string exe, db;
};

const char *const kDecidedKeys[] = {
    "id", "started", "ended", "host", "user", "program", "port", "path", "identity", "model", "version_before",
    "country", "image", "image_path", "image_size", "image_sha256", "image_version", "protocol", "speed",
    "fixed_speed", "flash_mode", "last_status", "last_percent", "result", "result_text", "detail",
    "rejected_blocks", "loader_version", "verified_version", "resume_of"};

TEST_F(CliHistoryTest, ARunOfSixDevicesGivesSixRecordsWithEveryFieldRight)
{
    std::string ports;
    for (const BenchRow &row : kBench) {
        addDevice("port = " + std::to_string(row.nPort) + "\n" + kDeviceBase + row.pszDevice);
        std::string image = images() + "/" + row.pszImage;
        if (row.pszSample != nullptr)
            std::filesystem::copy_file(sample(row.pszSample), image);
        else
            writeImage(image, row.nPort);
        ports += (ports.empty() ? "COM" : ",COM") + std::to_string(row.nPort);
    }
    std::string before = [] {
        char szNow[hist_kTimeLen];
        hist_UtcNow(szNow, sizeof szNow);
        return std::string(szNow);
    }();
    RunResult run = cli("run --ports " + ports + " --images '" + images() + "' --yes");
    ASSERT_EQ(0, run.exitCode) << run.out << run.err << transcripts();
    EXPECT_EQ(std::string::npos, run.err.find("warning")) << run.err;

    auto records = historyJson();
    ASSERT_EQ(std::size(kBench), records.size());
    char szHost[256] = "";
    gethostname(szHost, sizeof szHost - 1);
    std::string user = getpwuid(getuid())->pw_name;
    std::map<std::string, const BenchRow *> byPort;
    for (const BenchRow &row : kBench) byPort["COM" + std::to_string(row.nPort)] = &row;
    std::vector<long> ids;
    for (const auto &record : records) {
        SCOPED_TRACE(record.at("port"));
        EXPECT_EQ(std::size(kDecidedKeys), record.size());
        for (const char *pszKey : kDecidedKeys) EXPECT_EQ(1u, record.count(pszKey)) << pszKey;
        ASSERT_EQ(1u, byPort.count(record.at("port")));
        const BenchRow &row = *byPort.at(record.at("port"));
        std::string image = images() + "/" + row.pszImage;
        ids.push_back(std::stol(record.at("id")));
        EXPECT_GE(record.at("started"), before);
        EXPECT_GE(record.at("ended"), record.at("started"));
        EXPECT_TRUE(std::regex_match(record.at("ended"), std::regex("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ")));
        EXPECT_EQ(szHost, record.at("host"));
        EXPECT_EQ(user, record.at("user"));
        EXPECT_EQ("ravelin-cli " SUITE_VERSION, record.at("program"));
        char szNode[PATH_MAX];
        ASSERT_NE(nullptr, realpath(portPath(row.nPort).c_str(), szNode));
        EXPECT_EQ(szNode, record.at("path"));
        EXPECT_EQ("", record.at("identity"));   // pseudo-terminals have no by-path link
        EXPECT_EQ(row.pszModel, record.at("model"));
        EXPECT_EQ(row.pszVersion, record.at("version_before"));
        EXPECT_EQ(row.pszCountry, record.at("country"));
        EXPECT_EQ(row.pszImage, record.at("image"));
        EXPECT_EQ(image, record.at("image_path"));
        EXPECT_EQ(std::to_string(std::filesystem::file_size(image)), record.at("image_size"));
        EXPECT_EQ(sha256sum(image), record.at("image_sha256"));
        EXPECT_EQ(row.pszImageVersion, record.at("image_version"));
        EXPECT_EQ(row.pszProtocol, record.at("protocol"));
        EXPECT_GT(std::stol(record.at("speed")), 0);
        EXPECT_EQ("false", record.at("fixed_speed"));
        EXPECT_EQ("0", record.at("flash_mode"));
        EXPECT_NE("", record.at("last_status"));
        EXPECT_EQ("0", record.at("result"));
        EXPECT_EQ("Successful", record.at("result_text"));
        EXPECT_EQ("", record.at("detail"));
        EXPECT_EQ("0", record.at("rejected_blocks"));
        EXPECT_EQ(row.pszLoader, record.at("loader_version"));
        EXPECT_EQ("", record.at("verified_version"));
        EXPECT_EQ("null", record.at("resume_of"));
    }
    // Newest first, one id each.
    for (std::size_t i = 1; i < ids.size(); ++i) EXPECT_GT(ids[i - 1], ids[i]);
    // The generic loader's record holds the speed it ran at (the run's 38400): what a resume needs.
    for (const auto &record : records)
        if (record.at("protocol") == "generic") {
            EXPECT_EQ("38400", record.at("speed")) << record.at("port");
        }

    // The same records as CSV, with the header row.
    RunResult csv = cli("history --csv --port com1");
    ASSERT_EQ(0, csv.exitCode) << csv.err;
    auto csvLines = lines(csv.out);
    ASSERT_EQ(2u, csvLines.size()) << csv.out;
    std::string header;
    for (const char *pszKey : kDecidedKeys) header += (header.empty() ? "" : ",") + std::string(pszKey);
    EXPECT_EQ(header, csvLines[0]);
    EXPECT_EQ(0u, csvLines[1].find(records.back().at("id") + ",")) << csvLines[1];
    EXPECT_NE(std::string::npos, csvLines[1].find(",PADE107.HEX,")) << csvLines[1];

    // The table for a person.
    RunResult table = cli("history");
    ASSERT_EQ(0, table.exitCode);
    EXPECT_EQ(std::size(kBench) + 1, lines(table.out).size()) << table.out;
    EXPECT_EQ(0u, table.out.find("ID")) << table.out;
    EXPECT_NE(std::string::npos, table.out.find("DANO101.HEX")) << table.out;
}

TEST_F(CliHistoryTest, FailuresAndFiltersAndTheCheckOfTheVersion)
{
    // COM2's loader rejects a block nine times; COM1 keeps reporting its old version after the update.
    for (int nPort : {1, 2}) {
        std::string faults = nPort == 2 ? "loader.error_block = 1\nloader.error_count = 9\n" : "";
        addDevice("port = " + std::to_string(nPort) + "\n" + kDeviceBase + kBench[0].pszDevice + faults);
    }
    writeImage(images() + "/PADE107.HEX", 1);
    RunResult run = cli("run --ports COM1-COM2 --images '" + images() + "' --yes --verify");
    EXPECT_EQ(10, run.exitCode) << run.out << run.err;

    auto all = historyJson();
    ASSERT_EQ(2u, all.size());
    std::map<std::string, std::map<std::string, std::string>> byPort;
    for (auto &record : all) byPort[record.at("port")] = record;
    EXPECT_EQ("4", byPort["COM2"].at("result"));
    EXPECT_EQ("Failure to verify update", byPort["COM2"].at("result_text"));
    EXPECT_NE("0", byPort["COM2"].at("rejected_blocks"));
    // The update itself succeeded, but the device still reports 1.05: the record says so.
    EXPECT_EQ("4", byPort["COM1"].at("result"));
    EXPECT_EQ("1.05", byPort["COM1"].at("verified_version"));
    EXPECT_NE(std::string::npos, byPort["COM1"].at("detail").find("reports version 1.05")) << byPort["COM1"].at("detail");

    struct Case {
        const char *pszArgs;
        std::size_t nRecords;
    } cases[] = {
        {" --failed", 2}, {" --unfinished", 0}, {" --port COM2", 1}, {" --port 2 --failed", 1},
        {" --since 2000-01-01", 2}, {" --since 2999-12-31T23:59", 0}, {" --failed --unfinished", 2},
    };
    for (const Case &c : cases) EXPECT_EQ(c.nRecords, historyJson(c.pszArgs).size()) << c.pszArgs;

    for (const char *pszBad : {"--since yesterday", "--since 2026-13-01", "--json --csv", "--port nowhere", "--bogus"})
        EXPECT_EQ(2, cli(std::string("history ") + pszBad).exitCode) << pszBad;
}

TEST_F(CliHistoryTest, FlashRecordsItsUpdateAndAMissingHistoryListsNothing)
{
    RunResult empty = cli("history");
    EXPECT_EQ(0, empty.exitCode);
    EXPECT_EQ("No updates on record.\n", empty.out);
    EXPECT_FALSE(std::filesystem::exists(db));   // reading creates nothing

    addDevice("port = 3\nspeed = 19200\nthrottle = off\nfamily = loader\nloader.version = 2.00\nloader.max_speed = 38400\n");
    std::string image = dir.file("PBGB234.HEX");
    writeImage(image, 3);
    RunResult flash = cli("flash --port COM3 --image '" + image + "' --model PL3360 --speed 115200");
    ASSERT_EQ(0, flash.exitCode) << flash.err;
    auto records = historyJson(" --port COM3");
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ("PL3360", records[0].at("model"));
    EXPECT_EQ("PBGB234.HEX", records[0].at("image"));
    EXPECT_EQ("234", records[0].at("image_version"));
    EXPECT_EQ(sha256sum(image), records[0].at("image_sha256"));
    EXPECT_EQ("38400", records[0].at("speed"));   // lowered to the loader's own by the handshake
    EXPECT_EQ("0", records[0].at("result"));
    EXPECT_EQ("generic", records[0].at("protocol"));
}

TEST_F(CliHistoryTest, AHistoryThatCannotBeWrittenWarnsOnceAndTheUpdateGoesOn)
{
    addDevice(std::string("port = 1\n") + kDeviceBase + kBench[0].pszDevice);
    addDevice(std::string("port = 2\n") + kDeviceBase + kBench[0].pszDevice);
    writeImage(images() + "/PADE107.HEX", 1);
    // A missing directory, and one in which no file can be made: read-only for this user, or, for
    // root, who writes read-only directories anyway, /proc, where nobody creates files.
    std::filesystem::create_directory(dir.file("locked"));
    chmod(dir.file("locked").c_str(), 0555);
    std::string locked = geteuid() == 0 ? "/proc/ravelin-history-test.db" : dir.file("locked/history.db");
    for (std::string place : {dir.file("missing/history.db"), locked}) {
        SCOPED_TRACE(place);
        setenv("RAVELIN_HISTORY", place.c_str(), 1);
        RunResult run = cli("run --ports COM1-COM2 --images '" + images() + "' --yes");
        EXPECT_EQ(0, run.exitCode) << run.out << run.err;
        EXPECT_NE(std::string::npos, run.out.find("2 of 2 devices were updated successfully")) << run.out;
        std::size_t at = run.err.find("ravelin-cli run: warning: the update history cannot be written (");
        EXPECT_NE(std::string::npos, at) << run.err;
        EXPECT_EQ(std::string::npos, run.err.find("warning", at + 30)) << "more than one warning:\n" << run.err;
        EXPECT_FALSE(std::filesystem::exists(place));
    }
    chmod(dir.file("locked").c_str(), 0755);
}

// Two flash processes on one database; one is killed with SIGKILL half-way through programming, one
// is interrupted with SIGINT, a third runs to its end meanwhile. The killed one's record says it never
// ended and how far it got; the others ended as they did.
TEST_F(CliHistoryTest, ProcessesWriteAtOnceAndAKilledOneLeavesItsLastStatus)
{
    for (int nPort : {3, 4, 5})
        addDevice("port = " + std::to_string(nPort) + "\nspeed = 19200\nthrottle = on\nfamily = loader\nloader.version = 2.00\n"
                  "loader.max_speed = 38400\n");
    std::string big = writeLongImage("PADE107.HEX", 0x10000), small = writeLongImage("PBGB234.HEX", 0x800);
    std::string options = " --model PL1400 --no-restore-defaults --speed 115200";
    pid_t killed = start("flash --port COM3 --image '" + big + "'" + options, "com3");
    pid_t interrupted = start("flash --port COM4 --image '" + big + "'" + options, "com4");
    pid_t finished = start("flash --port COM5 --image '" + small + "'" + options, "com5");
    ASSERT_GT(killed, 0);
    ASSERT_GT(interrupted, 0);
    ASSERT_GT(finished, 0);
    // Until the history says both long ones are programming, past their first percent.
    HistRecord r3, r4;
    auto programming = [](const HistRecord &r) {
        return std::strncmp(r.szLastStatus, "Programming", 11) == 0 && r.nLastPercent > 0;
    };
    bool bBoth = false;
    for (int i = 0; i < 600 && !bBoth; ++i) {
        bBoth = latest("COM3", &r3) && programming(r3) && latest("COM4", &r4) && programming(r4);
        if (!bBoth) usleep(50 * 1000);
    }
    ASSERT_TRUE(bBoth) << r3.szLastStatus << " " << r3.nLastPercent << " / " << r4.szLastStatus << " "
                       << r4.nLastPercent << "\n" << readFile(dir.file("com3.err")) << readFile(dir.file("com4.err"));
    kill(killed, SIGKILL);
    EXPECT_EQ(-SIGKILL, waitFor(killed));
    kill(interrupted, SIGINT);
    EXPECT_EQ(2, waitFor(interrupted));
    EXPECT_EQ(0, waitFor(finished)) << readFile(dir.file("com5.err"));

    auto unfinished = historyJson(" --unfinished");
    ASSERT_EQ(1u, unfinished.size());
    EXPECT_EQ("COM3", unfinished[0].at("port"));
    EXPECT_EQ("null", unfinished[0].at("ended"));
    EXPECT_EQ("null", unfinished[0].at("result"));
    EXPECT_EQ(0u, unfinished[0].at("last_status").rfind("Programming", 0)) << unfinished[0].at("last_status");
    EXPECT_GT(std::stoi(unfinished[0].at("last_percent")), 0);
    EXPECT_LT(std::stoi(unfinished[0].at("last_percent")), 100);
    EXPECT_EQ(sha256sum(big), unfinished[0].at("image_sha256"));
    // The speed the loader runs at, lowered from 115200 by the handshake: what a resume at fixed speed needs.
    EXPECT_EQ("38400", unfinished[0].at("speed"));

    auto failed = historyJson(" --failed");
    ASSERT_EQ(1u, failed.size());
    EXPECT_EQ("COM4", failed[0].at("port"));
    EXPECT_EQ("2", failed[0].at("result"));
    EXPECT_EQ("Aborted by user", failed[0].at("result_text"));
    auto all = historyJson();
    EXPECT_EQ(3u, all.size());

    // Both need finishing; the one that ended well does not.
    HistDb *pDb = hist_OpenExisting(db.c_str(), nullptr, 0);
    ASSERT_NE(nullptr, pDb);
    std::vector<std::string> ports;
    hist_Interrupted(pDb, [](const HistRecord *p, void *pUser) {
        static_cast<std::vector<std::string> *>(pUser)->push_back(p->szPort);
        return 1;
    }, &ports);
    hist_Close(pDb);
    std::sort(ports.begin(), ports.end());
    EXPECT_EQ((std::vector<std::string>{"COM3", "COM4"}), ports);
}

}  // namespace
