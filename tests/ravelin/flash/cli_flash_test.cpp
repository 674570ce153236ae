// `ravelin-cli sort-hex` and `ravelin-cli flash` as users run them: the real executable, with the
// sample catalogue beside it, against simulated loaders.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fixtures/sim_bank_fixture.h"
#include "flash_test_util.h"

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
    RunResult result = run("flash --port COM3 --image '" + image +
                           "' --model PL3360 --speed 115200 --after-flash --no-restore-defaults --json");
    ASSERT_EQ(0, result.exitCode) << result.err << transcripts();
    EXPECT_EQ("{\"port\": \"COM3\", \"model\": \"PL3360\", \"result\": 0, \"result_text\": \"Successful\", "
              "\"loader_version\": \"2.0\", \"speed\": 38400, \"highest_block_address\": 512, \"rejected_blocks\": 0}\n",
              result.out);
    for (std::size_t i = 0; i < data.size(); ++i) EXPECT_EQ(data[i], dev.state().flash.byte(0x200 + i));
    auto commands = dev.state().commands();
    ASSERT_GE(commands.size(), 4u);
    EXPECT_EQ("ATN", commands[2]) << "the family's mode command";
    // Progress went to stderr as plain lines (no terminal), ending with the programming done.
    EXPECT_NE(std::string::npos, result.err.find("P 100  Programming Done")) << result.err;
}

TEST_F(CliTest, FlashEndsWithTheUpdateResultAsExitCode)
{
    modemsim::Device &dev = addDevice("port = 3\nspeed = 19200\nthrottle = off\nfamily = loader\n");
    std::string bad = hexRecord(0, 0, {1, 2, 3});
    bad.back() = bad.back() == '0' ? '1' : '0';
    std::string image = writeImage({bad, ":00000001FF"});
    RunResult result = run("flash --port COM3 --image '" + image + "' --model PL1400");
    EXPECT_EQ(3, result.exitCode);
    EXPECT_EQ("COM3: Bad .HEX file\n", result.out);
    EXPECT_TRUE(dev.state().commands().empty());

    RunResult noPort = run("flash --port COM9 --image '" + image + "' --model PL1400");
    EXPECT_EQ(7, noPort.exitCode);
    EXPECT_EQ("COM9: Unable to open port\n", noPort.out);
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
