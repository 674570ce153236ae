// `ravelin-cli probe` as users run it: the real executable, with its catalogue beside it, against a
// simulated bank.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/sim_bank_fixture.h"
#include "ravelin/serial/urswin32.h"
#include "ident_test_catalogue.h"

using ident_testing::DeviceFile;

namespace {

struct RunResult {
    int nExit = -1;
    std::string out;
    std::string err;
};

std::string ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A copy of ravelin-cli in a temporary directory, so that "beside the executable" is ours to fill.
class ProbeTest : public SimBankTest {
protected:
    void SetUp() override
    {
        ident_testing::UseShortTimeScale();
        SimBankTest::SetUp();
        dir_ = ident_testing::MakeTempDir();
        ASSERT_FALSE(dir_.empty());
        exe_ = dir_ + "/ravelin-cli";
        std::string source = std::string(SUITE_BIN_DIR) + "/ravelin-cli";
        ASSERT_EQ(access(source.c_str(), X_OK), 0) << source << " is not built";
        std::ifstream in(source, std::ios::binary);
        std::ofstream out(exe_, std::ios::binary);
        out << in.rdbuf();
        out.close();
        ASSERT_EQ(chmod(exe_.c_str(), 0755), 0);
        WriteCatalogue(ident_testing::kModelsIni, ident_testing::kLocksIni);
    }
    void TearDown() override
    {
        ident_testing::RemoveTree(dir_);
        SimBankTest::TearDown();
    }

    void WriteCatalogue(const char *pszModels, const char *pszLocks)
    {
        unlink((dir_ + "/Models.ini").c_str());
        unlink((dir_ + "/Locks.ini").c_str());
        if (pszModels) ident_testing::WriteFile(dir_ + "/Models.ini", pszModels);
        if (pszLocks) ident_testing::WriteFile(dir_ + "/Locks.ini", pszLocks);
    }

    RunResult Run(const std::vector<std::string> &args) { return Finish(Start(args)); }

    // Starts the probe without waiting for it.
    pid_t Start(const std::vector<std::string> &args)
    {
        std::string outPath = dir_ + "/stdout.txt", errPath = dir_ + "/stderr.txt";
        // Everything the child needs is prepared before fork: the simulator's threads run meanwhile,
        // so the child must not allocate.
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(exe_.c_str()));
        argv.push_back(const_cast<char *>("probe"));
        for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        pid_t pid = fork();
        if (pid == 0) {
            int hOut = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int hErr = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(hOut, 1);
            dup2(hErr, 2);
            execv(argv[0], argv.data());
            _exit(127);
        }
        return pid;
    }

    RunResult Finish(pid_t pid)
    {
        RunResult result;
        int nStatus = 0;
        waitpid(pid, &nStatus, 0);
        result.nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
        result.out = ReadAll(dir_ + "/stdout.txt");
        result.err = ReadAll(dir_ + "/stderr.txt");
        return result;
    }

    std::string dir_;
    std::string exe_;
};

TEST_F(ProbeTest, JsonNamesEachDeviceInPortOrder)
{
    addDevice(DeviceFile("plain_version.dev"));      // COM1
    addDevice(DeviceFile("rockwell_hex.dev"));       // COM6
    addDevice(DeviceFile("wopen.dev"));              // COM7
    addDevice(DeviceFile("octa_ta2.dev"));           // COM9
    addDevice(DeviceFile("lucent_f_rrfl.dev"));      // COM12
    addDevice(DeviceFile("silent.dev"));             // COM16
    std::string missing = bank().dir() + "/COM30";   // a native path to nothing: shown with its reason
    RunResult run = Run({"COM16", "--json", "COM12", missing, "com9", "7", "COM6", "COM1"});
    EXPECT_EQ(run.nExit, 0) << run.err;
    EXPECT_EQ(run.out,
              "[\n"
              "  {\"port\": \"COM1\", \"status\": 0, \"model\": \"MX-3320\", \"version\": \"4.10a\", "
              "\"country\": \"PTT GERMAN\", \"special_build\": \"\", \"version_suffix\": \"RT\"},\n"
              "  {\"port\": \"COM6\", \"status\": 0, \"model\": \"RK-3360\", \"version\": \"3.02-NZ1\", "
              "\"country\": \"PTT NEW ZEALAND\", \"special_build\": \"\", \"version_suffix\": \"K\"},\n"
              "  {\"port\": \"COM7\", \"status\": 0, \"model\": \"WX-2401\", \"version\": \"7.43B\", "
              "\"country\": \"\", \"special_build\": \"\", \"version_suffix\": \"B\"},\n"
              "  {\"port\": \"COM9\", \"status\": 0, \"model\": \"Octa-TA2\", \"version\": \"1.11\", "
              "\"country\": \"Universal\", \"special_build\": \"\", \"version_suffix\": \"\"},\n"
              "  {\"port\": \"COM12\", \"status\": 9, \"model\": \"LU-56K\", \"version\": \"5.10\", "
              "\"country\": \"PTT GERMAN\", \"special_build\": \"\", \"version_suffix\": \"\", "
              "\"lucent\": {\"sector_size\": 64, \"type\": 3, \"flash_version\": 4271, \"variant\": 0}},\n"
              "  {\"port\": \"COM16\", \"status\": 11, \"model\": \"\", \"version\": \"\", "
              "\"country\": \"\", \"special_build\": \"\", \"version_suffix\": \"\"},\n"
              "  {\"port\": \"" + missing + "\", \"status\": 1, \"error\": \"no such port: " + missing +
                  " does not exist\"}\n"
              "]\n");
    EXPECT_EQ(run.err, "ravelin-cli probe: " + missing + ": no such port: " + missing + " does not exist\n");
}

TEST_F(ProbeTest, DeviceBytesAreEscapedInJsonAndMaskedInTheTable)
{
    // Valid UTF-8 ("é" C3 A9, "€" E2 82 AC) passes through; every byte of anything else becomes
    // U+FFFD: a lone E9, a surrogate (ED A0 80), an overlong "/" (C0 AF).
    addDevice("port = 2\nspeed = 38400\nati.0 = MX-3320 Version "
              "4.1\"q\\\\z\\x01\\xe9\\xc3\\xa9\\xed\\xa0\\x80\\xe2\\x82\\xac\\xc0\\xaf B\\t7\nati.9 = 6\n");
    RunResult json = Run({"COM2", "--json"});
    EXPECT_EQ(json.nExit, 0) << json.err;
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_NE(json.out.find("\"version\": \"4.1\\\"q\\\\z\\u0001" + replacement + "\xC3\xA9" + replacement + replacement +
                            replacement + "\xE2\x82\xAC" + replacement + replacement + "\""),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"version_suffix\": \"B\\t7\""), std::string::npos) << json.out;

    RunResult table = Run({"COM2"});
    EXPECT_EQ(table.nExit, 0) << table.err;
    EXPECT_NE(table.out.find("4.1\"q\\z" + std::string(12, '?') + " "), std::string::npos) << table.out;
}

TEST_F(ProbeTest, TableHasOneAlignedRowPerOpenedPort)
{
    addDevice(DeviceFile("plain_ati1.dev"));    // COM2
    addDevice(DeviceFile("rockwell_ati4.dev")); // COM4
    RunResult run = Run({"COM4", "COM2", "COM33"});
    EXPECT_EQ(run.nExit, 0) << run.err;
    std::vector<std::string> lines;
    std::istringstream in(run.out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 4u) << run.out;
    EXPECT_EQ(lines[0].rfind("PORT", 0), 0u);
    EXPECT_EQ(lines[1].rfind("COM2 ", 0), 0u);
    EXPECT_EQ(lines[2].rfind("COM4 ", 0), 0u);
    EXPECT_EQ(lines[3].rfind("COM33  1", 0), 0u) << "a named port that does not open is shown";
    EXPECT_NE(run.err.find("ravelin-cli probe: COM33: no such port"), std::string::npos) << run.err;
    // Every column starts at the same place in every row.
    const char *apszColumns[][3] = {{"MODEL", "MX-3310", "RK-2814"},
                                    {"VERSION", "3.05", "V2.07"},
                                    {"COUNTRY", "PTT FRANCE", "GERMANY"}};
    for (const auto &column : apszColumns) {
        size_t nAt = lines[0].find(column[0]);
        EXPECT_EQ(lines[1].find(column[1]), nAt) << run.out;
        EXPECT_EQ(lines[2].find(column[2]), nAt) << run.out;
    }
    EXPECT_NE(lines[1].find("SB-17"), std::string::npos);
}

TEST_F(ProbeTest, NothingIdentifiedExitsWith3)
{
    addDevice(DeviceFile("silent.dev"));  // COM16
    RunResult run = Run({"COM16", "--json"});
    EXPECT_EQ(run.nExit, 3) << run.err;
    EXPECT_NE(run.out.find("\"port\": \"COM16\", \"status\": 11"), std::string::npos) << run.out;

    // No port opened at all.
    RunResult none = Run({"COM31", "--json"});
    EXPECT_EQ(none.nExit, 3);
    EXPECT_EQ(none.out, "[\n  {\"port\": \"COM31\", \"status\": 1, \"error\": \"no such port: " + bank().dir() +
                            "/COM31 does not exist (SERIAL_PORTS_DIR=" + bank().dir() + " has no such entry)\"}\n]\n");
}

TEST_F(ProbeTest, CatalogueThatFailsToLoadExitsWith2AndSaysWhy)
{
    WriteCatalogue(nullptr, ident_testing::kLocksIni);
    RunResult noModels = Run({"COM1", "--json"});
    EXPECT_EQ(noModels.nExit, 2);
    EXPECT_NE(noModels.err.find("Unable to find \"Models.ini\".\n\n\"Models.ini\" is required by Ravelin."),
              std::string::npos)
        << noModels.err;
    EXPECT_EQ(noModels.out, "");

    WriteCatalogue(ident_testing::kModelsIni, "[Version]\r\nVersion=0\r\n");
    RunResult oldLocks = Run({"COM1"});
    EXPECT_EQ(oldLocks.nExit, 2);
    EXPECT_NE(oldLocks.err.find("The version of \"Locks.ini\" is invalid with this version of Ravelin."),
              std::string::npos)
        << oldLocks.err;
}

TEST_F(ProbeTest, UsageErrorsExitWith2AndHelpDocumentsEverything)
{
    EXPECT_EQ(Run({"--bogus"}).nExit, 2);
    EXPECT_EQ(Run({"LPT1"}).nExit, 2);
    EXPECT_EQ(Run({"COM0"}).nExit, 2);
    RunResult help = Run({"--help"});
    EXPECT_EQ(help.nExit, 0);
    for (const char *pszTopic : {"--json", "--log", "COM1 to COM36", "\"special_build\"", "\"flash_version\"",
                                 "Exit code", "Models.ini"})
        EXPECT_NE(help.out.find(pszTopic), std::string::npos) << pszTopic;
}

// COM2 to COM36 as entries of the bank's directory that lead nowhere: like missing entries, they are
// ports that do not exist, and the sweep leaves them out.
class DeadPortEntries {
public:
    explicit DeadPortEntries(const std::string &dir)
    {
        for (int n = 2; n <= 36; ++n) {
            std::string link = dir + "/COM" + std::to_string(n);
            if (symlink((dir + "/no-device-" + std::to_string(n)).c_str(), link.c_str()) == 0) links_.push_back(link);
        }
    }
    ~DeadPortEntries()
    {
        for (const std::string &link : links_) unlink(link.c_str());
    }
    std::size_t Count() const { return links_.size(); }

private:
    std::vector<std::string> links_;
};

TEST_F(ProbeTest, WithoutPortsProbesCom1To36AndLogsOnRequest)
{
    addDevice(DeviceFile("plain_version.dev"));  // COM1
    DeadPortEntries dead(bank().dir());
    ASSERT_EQ(dead.Count(), 35u);
    RunResult run = Run({"--json", "--log"});
    EXPECT_EQ(run.nExit, 0) << run.err;
    EXPECT_EQ(run.out.rfind("[\n  {\"port\": \"COM1\", \"status\": 0, \"model\": \"MX-3320\"", 0), 0u) << run.out;
    EXPECT_EQ(run.out.find("\"port\": \"COM", 10), std::string::npos) << "ports that do not open are left out";
    std::string log = ReadAll(dir_ + "/log.txt");
    EXPECT_NE(log.find("urs_OpenPort: <COM36>, Invalid Handle Error, GetLastError = 00000002"), std::string::npos)
        << "every port up to COM36 was tried";
    EXPECT_NE(log.find("<COM1>  Model MX-3320 Version 4.10a  Country PTT GERMAN, SpecialBuild "), std::string::npos)
        << log.substr(0, 2000);
    EXPECT_EQ(device(1).state().commands(), std::vector<std::string>({"AT", "ATE1V1Q0", "AT+WOPEN=1", "ATI", "ATI9"}));
}

// A port another program holds is shown with who holds it, also in the sweep of COM1 to COM36,
// where ports that do not exist are left out.
TEST_F(ProbeTest, APortInUseIsShownWithItsHolder)
{
    addDevice(DeviceFile("plain_version.dev"));  // COM1
    addDevice("port = 2\nspeed = 38400\n");
    UrsPort held{};
    ASSERT_EQ(urs_OpenPort(&held, portName(2).c_str()), URS_OK);
    RunResult run = Run({"--json"});
    urs_ClosePort(&held);
    EXPECT_EQ(run.nExit, 0) << run.err;
    std::string why = "in use by process " + std::to_string(getpid()) + " (";
    EXPECT_NE(run.out.find("{\"port\": \"COM2\", \"status\": 1, \"error\": \"" + why), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("ravelin-cli probe: COM2: " + why), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("\"COM3\""), std::string::npos) << "ports that do not exist are left out";
}

// Ctrl-C or SIGTERM: every identification stops at its next step, the ports are released, and
// the probe ends with 4 after showing what it had (a device cut short while it had not answered
// yet shows as not answering).
TEST_F(ProbeTest, InterruptStopsTheIdentificationAndExitsWith4)
{
    addDevice(DeviceFile("silent.dev"));  // COM16: would take seconds to give up on
    for (int nSignal : {SIGINT, SIGTERM}) {
        std::size_t nHeard = device(16).state().commands().size();
        pid_t pid = Start({"COM16", "--json"});
        ASSERT_GT(pid, 0);
        // Once the device has heard a command of this run, identification is under way.
        for (int i = 0; i < 1000 && device(16).state().commands().size() == nHeard; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        kill(pid, nSignal);
        RunResult run = Finish(pid);
        EXPECT_EQ(run.nExit, 4) << run.err;
        EXPECT_EQ(run.out.rfind("[\n  {\"port\": \"COM16\", \"status\": ", 0), 0u) << run.out;
        EXPECT_NE(run.err.find("ravelin-cli probe: interrupted"), std::string::npos) << run.err;
    }
}

} // namespace
