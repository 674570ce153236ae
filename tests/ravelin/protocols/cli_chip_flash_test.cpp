// `ravelin-cli flash` as users run it for one model of each chip download family: the real
// executable with the sample catalogue and the sample files beside it, against simulated devices.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "chip_test_util.h"

namespace {

struct RunResult {
    int exitCode = -1;
    std::string out, err;
};

class CliChipFlashTest : public SimBankTest {
protected:
    void SetUp() override
    {
        setenv("SUITE_TIME_SCALE", "0.2", 1);
        SimBankTest::SetUp();
        exe = dir.file("ravelin-cli");
        // The updates' records go to the test's own directory.
        setenv("RAVELIN_HISTORY", dir.file("history.db").c_str(), 1);
        setenv("RAVELIN_JOURNAL", "off", 1);   // nothing into the machine's own journal
        std::filesystem::copy_file(std::string(SUITE_BIN_DIR) + "/ravelin-cli", exe);
        chmod(exe.c_str(), 0755);
        std::string data = std::string(SUITE_SOURCE_DIR) + "/data/ravelin/";
        std::filesystem::copy_file(data + "Models.ini", dir.file("Models.ini"));
        std::filesystem::copy_file(data + "Locks.ini", dir.file("Locks.ini"));
        std::filesystem::copy_file(sample("RWload3.s37"), dir.file("RWload3.s37"));
    }
    void TearDown() override
    {
        SimBankTest::TearDown();
        unsetenv("SUITE_TIME_SCALE");
        unsetenv("RAVELIN_HISTORY");
        unsetenv("RAVELIN_JOURNAL");
    }
    static std::string sample(const std::string &name)
    {
        return std::string(SUITE_SOURCE_DIR) + "/data/sim/chips/" + name;
    }
    RunResult run(const std::string &args)
    {
        std::string out = dir.file("out.txt"), err = dir.file("err.txt");
        std::string command = "'" + exe + "' " + args + " >'" + out + "' 2>'" + err + "' </dev/null";
        int status = std::system(command.c_str());
        RunResult result;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = chiptest::readFile(out);
        result.err = chiptest::readFile(err);
        return result;
    }
    std::string json(int port, const char *model)
    {
        return "{\"port\": \"COM" + std::to_string(port) + "\", \"model\": \"" + model +
               "\", \"result\": 0, \"result_text\": \"Successful\", \"detail\": \"\", \"loader_version\": \"\", \"speed\": 38400, "
               "\"highest_block_address\": 0, \"rejected_blocks\": 0}\n";
    }

    chiptest::TempDir dir;
    std::string exe;
};

TEST_F(CliChipFlashTest, RockwellModelGetsLoaderAndImage)
{
    modemsim::Device &dev = addDevice("port = 3\nspeed = 115200\nthrottle = off\nfamily = rockwell-loader\n");
    RunResult result = run("flash --port COM3 --image '" + sample("RCDEMO.HEX") + "' --model RW56-C-2 --json");
    ASSERT_EQ(0, result.exitCode) << result.err;
    EXPECT_EQ(json(3, "RW56-C-2"), result.out);
    EXPECT_EQ(chiptest::readFile(sample("RWload3.s37")), dev.state().value("rockwell.loader"));
    EXPECT_EQ(chiptest::readFile(sample("RCDEMO.HEX")), dev.state().value("rockwell.image"));
    EXPECT_EQ((std::vector<std::string>{"AT&F&W&W1Z", "AT**", "AT&F&W&W1Z"}), dev.state().commands());
}

TEST_F(CliChipFlashTest, SiemensModelGetsItsBlocks)
{
    modemsim::Device &dev = addDevice("port = 4\nspeed = 115200\nthrottle = off\nfamily = siemens\n");
    RunResult result = run("flash --port COM4 --image '" + sample("MCDEMO.BIN") + "' --model MC75 --json");
    ASSERT_EQ(0, result.exitCode) << result.err;
    EXPECT_EQ(json(4, "MC75"), result.out);
    EXPECT_EQ(chiptest::readFile(sample("MCDEMO.BIN")), dev.state().value("siemens.file"));
}

TEST_F(CliChipFlashTest, DotModelsByCommandAndByPowerCycle)
{
    modemsim::Device &byCommand =
        addDevice("port = 5\nspeed = 115200\nthrottle = off\nfamily = dot\ndot.block = 128\n");
    modemsim::Device &byPower =
        addDevice("port = 6\nspeed = 115200\nthrottle = off\nfamily = dot\ndot.power_cycle_ms = 500\n");
    RunResult command = run("flash --port COM5 --image '" + sample("DADEMO.HEX") + "' --model DT200");
    EXPECT_EQ(0, command.exitCode) << command.err;
    EXPECT_EQ("COM5: Successful\n", command.out);
    // 300 data bytes in 128-byte blocks: three blocks, the last padded.
    EXPECT_EQ(384u, byCommand.state().value("dot.data").size());
    EXPECT_EQ(std::vector<std::string>{"AT**"}, byCommand.state().commands());

    RunResult power = run("flash --port COM6 --image '" + sample("DBDEMO.HEX") + "' --model DT220");
    EXPECT_EQ(0, power.exitCode) << power.err;
    EXPECT_EQ("COM6: Successful\n", power.out);
    EXPECT_EQ(256u, byPower.state().value("dot.data").size());
    EXPECT_TRUE(byPower.state().commands().empty());
}

TEST_F(CliChipFlashTest, AMissingRockwellLoaderIsReportedAsAnUnopenableFile)
{
    std::filesystem::remove(dir.file("RWload3.s37"));
    modemsim::Device &dev = addDevice("port = 3\nspeed = 115200\nthrottle = off\nfamily = rockwell-loader\n");
    RunResult result = run("flash --port COM3 --image '" + sample("RCDEMO.HEX") + "' --model RW56-C-2");
    EXPECT_EQ(FR_HEX_OPEN_FAILED, result.exitCode);
    EXPECT_EQ("COM3: Unable to open .HEX file\n", result.out);
    EXPECT_TRUE(dev.state().commands().empty());
}

} // namespace
