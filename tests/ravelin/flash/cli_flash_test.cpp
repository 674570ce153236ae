// `ravelin-cli sort-hex` and `ravelin-cli flash` as users run them: the real executable, with the
// sample catalogue beside it, against simulated loaders.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/sim_bank_fixture.h"
#include "flash_test_util.h"
#include "ravelin/serial/urswin32.h"

using flashtest::crlfLines;
using flashtest::hexRecord;
using flashtest::readFile;

namespace {

struct RunResult {
    int exitCode = -1;
    std::string out, err;
};

class CliTest : public SimBankTest {
protected:
    void SetUp() override
    {
        setenv("SUITE_TIME_SCALE", "0.2", 1);
        SimBankTest::SetUp();
        // A copy of the executable, so that "beside the executable" holds the sample catalogue.
        exe = dir.file("ravelin-cli");
        // The updates' records go to the test's own directory.
        setenv("RAVELIN_HISTORY", dir.file("history.db").c_str(), 1);
        setenv("RAVELIN_JOURNAL", "off", 1);   // nothing into the machine's own journal
        std::filesystem::copy_file(std::string(SUITE_BIN_DIR) + "/ravelin-cli", exe);
        chmod(exe.c_str(), 0755);
        std::string data = std::string(SUITE_SOURCE_DIR) + "/data/ravelin/";
        std::filesystem::copy_file(data + "Models.ini", dir.file("Models.ini"));
        std::filesystem::copy_file(data + "Locks.ini", dir.file("Locks.ini"));
    }
    void TearDown() override
    {
        SimBankTest::TearDown();
        unsetenv("SUITE_TIME_SCALE");
        unsetenv("RAVELIN_HISTORY");
        unsetenv("RAVELIN_JOURNAL");
    }

    RunResult run(const std::string &args)
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

    // Starts the command without waiting for it. The shell execs it, so the pid is the program's
    // own and a signal sent to it reaches the program. With stderrPath empty, stderr goes to err.txt.
    pid_t start(const std::string &args, const std::string &stderrPath = "")
    {
        std::string err = stderrPath.empty() ? dir.file("err.txt") : stderrPath;
        std::string command = "exec '" + exe + "' " + args + " >'" + dir.file("out.txt") + "' 2>'" + err + "' </dev/null";
        // Prepared before fork: the simulator's threads run meanwhile, so the child must not allocate.
        const char *pszCommand = command.c_str();
        pid_t pid = fork();
        if (pid == 0) {
            execl("/bin/sh", "sh", "-c", pszCommand, static_cast<char *>(nullptr));
            _exit(127);
        }
        return pid;
    }
    RunResult wait(pid_t pid)
    {
        int status = 0;
        waitpid(pid, &status, 0);
        RunResult result;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = readFile(dir.file("out.txt"));
        result.err = readFile(dir.file("err.txt"));
        return result;
    }

    // A run of 16-byte records from address 0 over nBytes.
    std::string writeLongImage(std::uint32_t nBytes)
    {
        std::vector<std::string> lines;
        for (std::uint32_t a = 0; a < nBytes; a += 16)
            lines.push_back(hexRecord(0, a, std::vector<std::uint8_t>(16, static_cast<std::uint8_t>(a >> 4))));
        lines.push_back(":00000001FF");
        return writeImage(lines);
    }

    std::string writeImage(const std::vector<std::string> &lines)
    {
        std::string path = dir.file("IMAGE.HEX");
        flashtest::writeFile(path, crlfLines(lines));
        return path;
    }

    flashtest::TempDir dir;
    std::string exe;
};

TEST_F(CliTest, SortHexWritesTheSortedImageOrFailsWithCode11)
{
    std::string a = hexRecord(0, 0x20, {1}), b = hexRecord(0, 0x10, {2});
    std::string in = writeImage({a, b, ":00000001FF"});
    RunResult ok = run("sort-hex '" + in + "' '" + dir.file("OUT.HEX") + "'");
    EXPECT_EQ(0, ok.exitCode) << ok.err;
    EXPECT_EQ(crlfLines({":020000020000FC", b, a, ":00000001FF"}), readFile(dir.file("OUT.HEX")));

    std::string bad = writeImage({a, hexRecord(7, 0, {1})});
    RunResult failed = run("sort-hex '" + bad + "' '" + dir.file("OUT.HEX") + "'");
    EXPECT_EQ(11, failed.exitCode);
    EXPECT_EQ("Error sorting the .hex file\n" + bad + ":2: not a record\n", failed.err);

    EXPECT_EQ(2, run("sort-hex only-one-argument").exitCode);
}

TEST_F(CliTest, FlashProgramsTheDeviceAndReportsAsJson)
{
    // PL3360 is of the NEWMODEMS family: fast polls and the mode command before programming.
    modemsim::Device &dev = addDevice("port = 3\nspeed = 19200\nthrottle = off\nfamily = loader\n"
                                      "loader.version = 2.00\nloader.max_speed = 38400\n");
    std::vector<std::uint8_t> data(32);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(0xA0 + i);
    std::string image = writeImage({hexRecord(0, 0x0200, data), ":00000001FF"});
    // "Com3": every front end reads a port the same way (this one once refused it).
    RunResult result = run("flash --port Com3 --image '" + image +
                           "' --model PL3360 --speed 115200 --after-flash --no-restore-defaults --json");
    ASSERT_EQ(0, result.exitCode) << result.err << transcripts();
    EXPECT_EQ("{\"port\": \"COM3\", \"model\": \"PL3360\", \"result\": 0, \"result_text\": \"Successful\", "
              "\"detail\": \"\", \"loader_version\": \"2.0\", \"speed\": 38400, \"highest_block_address\": 512, "
              "\"rejected_blocks\": 0}\n",
              result.out);
    for (std::size_t i = 0; i < data.size(); ++i) EXPECT_EQ(data[i], dev.state().flash.byte(0x200 + i));
    auto commands = dev.state().commands();
    ASSERT_GE(commands.size(), 4u);
    EXPECT_EQ("ATN", commands[2]) << "the family's mode command";
    // Progress went to stderr as plain lines (no terminal), ending with the programming done.
    EXPECT_NE(std::string::npos, result.err.find("P 100  Programming Done")) << result.err;
    // The first line says something: the record's blank initial status is not shown.
    EXPECT_NE(std::string::npos, result.err.substr(0, result.err.find('\n')).find_first_not_of(" \t\r")) << result.err;
}

TEST_F(CliTest, FlashEndsWithTheUpdateResultAsExitCode)
{
    modemsim::Device &dev = addDevice("port = 3\nspeed = 19200\nthrottle = off\nfamily = loader\n");
    std::string bad = hexRecord(0, 0, {1, 2, 3});
    bad.back() = bad.back() == '0' ? '1' : '0';
    std::string image = writeImage({bad, ":00000001FF"});
    RunResult result = run("flash --port 3 --image '" + image + "' --model PL1400");
    EXPECT_EQ(3, result.exitCode);
    EXPECT_EQ("COM3: Bad .HEX file\n", result.out);
    EXPECT_TRUE(dev.state().commands().empty());

    RunResult noPort = run("flash --port COM9 --image '" + image + "' --model PL1400");
    EXPECT_EQ(7, noPort.exitCode);
    EXPECT_EQ("COM9: Unable to open port\n", noPort.out);
}

// Why a port cannot be opened goes to stderr, for each obstacle a user meets.
TEST_F(CliTest, FlashSaysWhyThePortCannotBeOpened)
{
    addDevice("port = 3\nspeed = 19200\nthrottle = off\nfamily = loader\n");
    std::string image = writeImage({hexRecord(0, 0, {1}), ":00000001FF"});

    UrsPort held{};
    ASSERT_EQ(URS_OK, urs_OpenPort(&held, portName(3).c_str()));
    struct Case {
        std::string port, why;
    } cases[] = {
        {"COM9", "COM9: no such port: " + bank().dir() + "/COM9 does not exist (SERIAL_PORTS_DIR=" + bank().dir() +
                     " has no such entry)"},
        {"COM3", "COM3: in use by process " + std::to_string(getpid()) + " ("},
        {"/dev/null", "/dev/null: not a serial line: /dev/null is a device without serial line settings"},
    };
    for (const Case &c : cases) {
        RunResult result = run("flash --port '" + c.port + "' --image '" + image + "' --model PL1400 --json");
        EXPECT_EQ(7, result.exitCode) << c.port;
        EXPECT_NE(std::string::npos, result.err.find("ravelin-cli flash: " + c.why)) << result.err;
        EXPECT_NE(std::string::npos, result.out.find("\"detail\": " )) << result.out;
    }
    urs_ClosePort(&held);
}

// Mended fault: a device unplugged during the update was reported only as a time-out.
TEST_F(CliTest, FlashReportsALostLine)
{
    addDevice("port = 3\nspeed = 19200\nthrottle = off\nfamily = loader\nloader.version = 2.00\n"
              "fault.disconnect_after = 3000\n");
    std::string image = writeLongImage(0x3000);
    RunResult result = run("flash --port COM3 --image '" + image + "' --model PL1400 --no-restore-defaults --json --log");
    EXPECT_NE(0, result.exitCode);
    EXPECT_NE(std::string::npos, result.err.find("ravelin-cli flash: COM3: the line was lost")) << result.err;
    EXPECT_NE(std::string::npos, result.out.find("\"detail\": \"the line was lost\"")) << result.out;
    EXPECT_NE(std::string::npos, readFile(dir.file("log.txt")).find("<COM3> the line was lost"));
}

// Ctrl-C (SIGINT) or SIGTERM during programming: the update stops at the next block with result 2,
// the sorted image's temporary file is gone, and the user learns what to do about the device.
TEST_F(CliTest, FlashInterruptedStopsWithResult2AndCleansUp)
{
    for (int nSignal : {SIGINT, SIGTERM}) {
        addDevice("port = " + std::to_string(nSignal == SIGINT ? 3 : 4) +
                  "\nspeed = 19200\nthrottle = on\nfamily = loader\nloader.version = 2.00\n");
        flashtest::TempDir tmp;
        modemsim_testing::ScopedEnv tmpEnv("TMPDIR", tmp.path());
        std::string image = writeLongImage(0x10000);
        std::string port = nSignal == SIGINT ? "COM3" : "COM4";
        modemsim::Device &dev = device(nSignal == SIGINT ? 3 : 4);
        pid_t pid = start("flash --port " + port + " --image '" + image + "' --model PL1400 --no-restore-defaults");
        ASSERT_GT(pid, 0);
        // Interrupt once the first block has been programmed.
        for (int i = 0; i < 3000 && dev.state().value("loader.blocks").empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_FALSE(dev.state().value("loader.blocks").empty()) << transcripts();
        kill(pid, nSignal);
        RunResult result = wait(pid);
        EXPECT_EQ(2, result.exitCode) << result.err;
        EXPECT_EQ(port + ": Aborted by user\n", result.out);
        EXPECT_NE(std::string::npos, result.err.find("interrupted")) << result.err;
        EXPECT_NE(std::string::npos, result.err.find("power-cycle it, or program it again with --fixed-speed"));
        EXPECT_TRUE(std::filesystem::is_empty(tmp.path())) << "the sorted image is removed";
        EXPECT_NE(0xFFu, dev.state().flash.byte(0x0000)) << "the first block was programmed";
        EXPECT_EQ(0xFFu, dev.state().flash.byte(0xFFF0)) << "the last block was not";
    }
}

TEST_F(CliTest, FlashHandshakeFailureGivesTheLoaderHint)
{
    addDevice("port = 3\nspeed = 19200\nthrottle = off\nfamily = loader\nloader.speed_letter = X\n");
    std::string image = writeImage({hexRecord(0, 0, {1}), ":00000001FF"});
    RunResult result = run("flash --port COM3 --image '" + image + "' --model PL1400 --no-restore-defaults");
    EXPECT_EQ(1, result.exitCode);
    EXPECT_EQ("COM3: Handshake failure\n", result.out);
    EXPECT_NE(std::string::npos, result.err.find("power-cycle it, or program it again with --fixed-speed")) << result.err;
}

// On a terminal the bar shows the programmed share of the image: it never goes back, whatever the
// statuses before and after programming carry, and stderr starts with the bar, not a blank line.
TEST_F(CliTest, FlashProgressOnATerminalNeverGoesBack)
{
    addDevice("port = 3\nspeed = 19200\nthrottle = on\nfamily = loader\nloader.version = 2.00\n");
    std::string image = writeLongImage(0x8000);
    int hMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(hMaster, 0);
    ASSERT_EQ(0, grantpt(hMaster));
    ASSERT_EQ(0, unlockpt(hMaster));
    char szSlave[128];
    ASSERT_EQ(0, ptsname_r(hMaster, szSlave, sizeof szSlave));
    pid_t pid = start("flash --port COM3 --image '" + image + "' --model PL1400 --after-flash --no-restore-defaults",
                      szSlave);
    ASSERT_GT(pid, 0);
    std::string screen;
    int status = 0;
    for (;;) {
        struct pollfd pfd = {hMaster, POLLIN, 0};
        if (poll(&pfd, 1, 100) > 0) {
            char buf[4096];
            ssize_t n = read(hMaster, buf, sizeof buf);
            if (n > 0) screen.append(buf, static_cast<std::size_t>(n));
        }
        if (waitpid(pid, &status, WNOHANG) == pid) break;
    }
    close(hMaster);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status)) << screen;
    ASSERT_FALSE(screen.empty());
    EXPECT_EQ('\r', screen[0]) << screen;
    std::vector<int> percents;
    std::regex bar("\\] +([0-9]+)%");
    for (auto it = std::sregex_iterator(screen.begin(), screen.end(), bar); it != std::sregex_iterator(); ++it)
        percents.push_back(std::stoi((*it)[1]));
    ASSERT_GE(percents.size(), 3u) << screen;
    for (std::size_t i = 1; i < percents.size(); ++i)
        EXPECT_LE(percents[i - 1], percents[i]) << screen;
    EXPECT_EQ(100, percents.back());
}

TEST_F(CliTest, FlashRefusesUsageAndCatalogueErrors)
{
    std::string image = writeImage({hexRecord(0, 0, {1}), ":00000001FF"});
    RunResult unknown = run("flash --port COM3 --image '" + image + "' --model NoSuchModel");
    EXPECT_EQ(2, unknown.exitCode);
    EXPECT_NE(std::string::npos, unknown.err.find("model 'NoSuchModel' is not in the catalogue"));
    EXPECT_EQ(2, run("flash --port COM3 --image '" + image + "'").exitCode);
    EXPECT_EQ(2, run("flash --port COM3 --model PL1400 --image '" + image + "' --speed fast").exitCode);
    EXPECT_EQ(2, run("flash --port nowhere --model PL1400 --image '" + image + "'").exitCode);
    EXPECT_EQ(0, run("flash --help").exitCode);
    std::filesystem::remove(dir.file("Models.ini"));
    RunResult noCatalogue = run("flash --port COM3 --image '" + image + "' --model PL1400");
    EXPECT_EQ(2, noCatalogue.exitCode);
}

} // namespace
