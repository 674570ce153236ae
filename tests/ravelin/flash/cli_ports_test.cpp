// `ravelin-cli ports` as a service engineer runs it: the real executable against a simulated bank.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/sim_bank_fixture.h"
#include "flash_test_util.h"
#include "ravelin/serial/urs_portcheck.h"
#include "ravelin/serial/urswin32.h"

using flashtest::readFile;

namespace {

struct PortsRun {
    int exitCode = -1;
    std::string out, err;
    std::vector<std::string> lines;
};

class PortsTest : public SimBankTest {
protected:
    PortsRun run(const std::string &args)
    {
        std::string out = dir.file("out.txt"), err = dir.file("err.txt");
        std::string command = "'" + std::string(SUITE_BIN_DIR) + "/ravelin-cli' ports " + args + " >'" + out +
                              "' 2>'" + err + "' </dev/null";
        int status = std::system(command.c_str());
        PortsRun result;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = readFile(out);
        result.err = readFile(err);
        std::istringstream in(result.out);
        for (std::string line; std::getline(in, line);) result.lines.push_back(line);
        return result;
    }

    flashtest::TempDir dir;
};

TEST_F(PortsTest, OneLinePerNamedPortWithWhatItMapsToAndWhyItCannotBeUsed)
{
    addDevice("port = 3\nspeed = 38400\n");
    std::string com3 = portPath(3);
    std::string target = std::filesystem::canonical(com3).string();
    PortsRun result = run("com3 9 /dev/null");
    EXPECT_EQ(1, result.exitCode) << "a named port cannot be used";
    ASSERT_GE(result.lines.size(), 4u) << result.out;
    EXPECT_EQ(0u, result.lines[0].rfind("PORT", 0));
    // The simulator holds its end of each line itself, so it shows as the holder of a usable port.
    UrsPortCheck check;
    urs_CheckPort(portName(3).c_str(), false, &check);
    char szMode[8];
    std::snprintf(szMode, sizeof szMode, "%04o", check.nMode);
    EXPECT_EQ(0u, result.lines[1].rfind("COM3", 0)) << result.out;
    for (const std::string &part : {com3 + " -> " + target, std::string(" yes "), " " + std::string(check.szGroup) + " ",
                                    " " + std::string(szMode) + " ", std::string(" (")})
        EXPECT_NE(std::string::npos, result.lines[1].find(part)) << part << "\n" << result.out;
    EXPECT_NE(std::string::npos, result.lines[1].find(std::to_string(getpid()))) << result.out;
    EXPECT_EQ(0u, result.lines[2].rfind("COM9", 0)) << result.out;
    std::istringstream com9(result.lines[2]);
    std::string name, path, exists;
    com9 >> name >> path >> exists;
    EXPECT_EQ(bank().dir() + "/COM9", path);
    EXPECT_EQ("no", exists);
    EXPECT_NE(std::string::npos, result.lines[2].find("no: no such port")) << result.out;
    EXPECT_EQ(0u, result.lines[3].rfind("/dev/null", 0)) << result.out;
    EXPECT_NE(std::string::npos, result.lines[3].find("no: not a serial line")) << result.out;

    EXPECT_EQ(0, run("COM3").exitCode) << "every named port can be used";
    EXPECT_EQ(2, run("LPT1").exitCode);
}

TEST_F(PortsTest, JsonNamesTheProcessThatHoldsAPort)
{
    addDevice("port = 3\nspeed = 38400\n");
    UrsPort held{};
    ASSERT_EQ(URS_OK, urs_OpenPort(&held, portName(3).c_str()));
    PortsRun result = run("COM3 --json");
    urs_ClosePort(&held);
    EXPECT_EQ(1, result.exitCode);
    std::string pid = std::to_string(getpid());
    for (const std::string &part :
         {"{\"ports\": [\n  {\"port\": \"COM3\", \"path\": \"" + portPath(3) + "\"", std::string("\"exists\": true"),
          std::string("\"can_open\": false"), "\"problem\": \"in use by process " + pid + " (",
          "\"holder_pid\": " + pid, std::string("\"modem_manager\": {\"running\": "),
          std::string("ENV{ID_MM_DEVICE_IGNORE}=\\\"1\\\"")})
        EXPECT_NE(std::string::npos, result.out.find(part)) << part << "\n" << result.out;
}

// Without names: COM1 to COM36, and the modem manager service when one runs.
TEST_F(PortsTest, AllThirtySixPortsAndAModemManagerThatWouldDisturbThem)
{
    addDevice("port = 1\nspeed = 38400\n");
    std::string fake = dir.file("ModemManager");
    std::filesystem::copy_file("/bin/sleep", fake);
    chmod(fake.c_str(), 0755);
    const char *pszFake = fake.c_str();
    pid_t manager = fork();
    if (manager == 0) {
        execl(pszFake, "ModemManager", "30", static_cast<char *>(nullptr));
        _exit(127);
    }
    ASSERT_GT(manager, 0);
    char szName[64];
    for (int i = 0; i < 200 && urs_FindModemManager(szName, sizeof szName) != manager; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));

    PortsRun result = run("");
    kill(manager, SIGKILL);
    waitpid(manager, nullptr, 0);
    EXPECT_EQ(0, result.exitCode) << result.err;
    ASSERT_GE(result.lines.size(), 37u) << result.out;
    for (int n = 1; n <= 36; ++n)
        EXPECT_EQ(0u, result.lines[static_cast<std::size_t>(n)].rfind("COM" + std::to_string(n) + " ", 0)) << n;
    EXPECT_NE(std::string::npos, result.out.find("A modem manager service runs (process " + std::to_string(manager) +
                                                 ", ModemManager)"))
        << result.out;
    EXPECT_NE(std::string::npos, result.out.find("ENV{ID_MM_DEVICE_IGNORE}=\"1\"")) << result.out;
}

} // namespace
