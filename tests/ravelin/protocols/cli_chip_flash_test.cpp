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
    // The result line of a successful update; speed is the one the download ran at.
    std::string json(int port, const char *model, long speed)
    {
        return "{\"port\": \"COM" + std::to_string(port) + "\", \"model\": \"" + model +
               "\", \"result\": 0, \"result_text\": \"Successful\", \"detail\": \"\", \"loader_version\": \"\", \"speed\": " +
               std::to_string(speed) + ", \"highest_block_address\": 0, \"rejected_blocks\": 0}\n";
    }
    // The sample catalogue and one more Rockwell model, RW-NL, whose entry names no loader: an image
    // named for its prefix RN must get the loader of the model it is flashed as.
    void addModelWithoutLoader()
    {
        std::string models = chiptest::readFile(dir.file("Models.ini"));
        std::size_t at = models.find("NumModels=20");
        ASSERT_NE(std::string::npos, at);
        models.replace(at, 12, "NumModels=21");
        models += "MODEL_21=74,{RW-NL},{RN},{ROCKWELL3},{x},{;}\n";
        chiptest::writeFile(dir.file("Models.ini"), models);
        // The default loader is there too, so that taking it instead of the model's shows.
        chiptest::writeFile(dir.file("F35Aload.s37"), "S0030000FC\r\nS9030000FC\r\n");
        chiptest::writeFile(dir.file("RN0100.HEX"), chiptest::readFile(sample("RCDEMO.HEX")));
    }

    chiptest::TempDir dir;
    std::string exe;
};

TEST_F(CliChipFlashTest, RockwellModelGetsLoaderAndImage)
{
    modemsim::Device &dev = addDevice("port = 3\nspeed = 115200\nthrottle = off\nfamily = rockwell-loader\n");
    RunResult result = run("flash --port COM3 --image '" + sample("RCDEMO.HEX") + "' --model RW56-C-2 --json");
    ASSERT_EQ(0, result.exitCode) << result.err;
    EXPECT_EQ(json(3, "RW56-C-2", 115200), result.out) << "ROCKWELL3 downloads at 115200";
    EXPECT_EQ(chiptest::readFile(sample("RWload3.s37")), dev.state().value("rockwell.loader"));
    EXPECT_EQ(chiptest::readFile(sample("RCDEMO.HEX")), dev.state().value("rockwell.image"));
    EXPECT_EQ((std::vector<std::string>{"AT&F&W&W1Z", "AT**", "AT&F&W&W1Z"}), dev.state().commands());
}

TEST_F(CliChipFlashTest, SiemensModelGetsItsBlocks)
{
    modemsim::Device &dev = addDevice("port = 4\nspeed = 115200\nthrottle = off\nfamily = siemens\n");
    RunResult result = run("flash --port COM4 --image '" + sample("MCDEMO.BIN") + "' --model MC75 --json");
    ASSERT_EQ(0, result.exitCode) << result.err;
    EXPECT_EQ(json(4, "MC75", 115200), result.out);
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

TEST_F(CliChipFlashTest, AModelNamedWithoutIdentificationChoosesItsOwnRockwellLoader)
{
    // flash --model and run -P/-M name the model instead of identifying the device; the loader
    // look-up by model must read it there as after identification, not fall back to the default.
    addModelWithoutLoader();
    const std::string image = "'" + dir.file("RN0100.HEX") + "'";
    struct Case {
        std::string (*command)(int port, const std::string &image);
        int exitWithoutLoader;
    };
    const Case cases[] = {
        {[](int port, const std::string &img) {
             return "flash --port COM" + std::to_string(port) + " --image " + img + " --model RW56-C-2";
         },
         FR_HEX_OPEN_FAILED},
        {[](int port, const std::string &img) {
             return "run -P COM" + std::to_string(port) + " -F " + img + " -M rw56-c-2 --yes";
         },
         10},  // 10: a device was not updated
    };
    const std::string device = "\nspeed = 115200\nthrottle = off\nfamily = rockwell-loader\n";
    int port = 3;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.command(port, image));
        modemsim::Device &dev = addDevice("port = " + std::to_string(port) + device);
        RunResult result = run(c.command(port, image));
        EXPECT_EQ(0, result.exitCode) << result.out << result.err;
        EXPECT_EQ(chiptest::readFile(sample("RWload3.s37")), dev.state().value("rockwell.loader"))
            << "the loader of RW56-C-2, not the default";
        EXPECT_EQ(chiptest::readFile(sample("RCDEMO.HEX")), dev.state().value("rockwell.image"));

        // Without the model's loader the update ends before the device hears anything.
        std::filesystem::rename(dir.file("RWload3.s37"), dir.file("RWload3.s37.away"));
        modemsim::Device &bare = addDevice("port = " + std::to_string(port + 1) + device);
        RunResult missing = run(c.command(port + 1, image));
        std::filesystem::rename(dir.file("RWload3.s37.away"), dir.file("RWload3.s37"));
        EXPECT_EQ(c.exitWithoutLoader, missing.exitCode) << missing.out << missing.err;
        EXPECT_NE(std::string::npos, missing.out.find("Unable to open .HEX file")) << missing.out;
        EXPECT_EQ("", bare.transcript().bytes(modemsim::Transcript::Direction::kFromHost));
        EXPECT_EQ("", bare.state().value("rockwell.loader"));
        port += 2;
    }
}

TEST_F(CliChipFlashTest, ABadLucentImageEndsBeforeTheFlashFactsAreAsked)
{
    // flash asks a Lucent/Agere device for its flash facts before the protocol runs: a bad image
    // must end the update before that question too.
    std::string text = chiptest::readFile(std::string(SUITE_SOURCE_DIR) + "/data/sim/lucent/LA0100.HEX");
    std::size_t second = text.find("\r\n:") + 2;
    std::size_t end = text.find("\r\n", second);
    char &last = text[end - 1];
    last = last == '0' ? '1' : '0';  // the second record's checksum no longer adds up
    chiptest::writeFile(dir.file("LA0100.HEX"), text);
    modemsim::Device &dev = addDevice("port = 3\nspeed = 115200\nthrottle = off\ndialogues = ident-lucent, lucent-loader\n"
                                      "ati.0 = LX56 Version 4.40\nati.5 = U5610 RRFL,40,10AF\nlucent.variant = 0\n");
    RunResult result = run("flash --port COM3 --image '" + dir.file("LA0100.HEX") + "' --model LX56 --json");
    EXPECT_EQ(FR_BAD_HEX, result.exitCode) << result.out << result.err;
    EXPECT_NE(std::string::npos, result.out.find("\"result_text\": \"Bad .HEX file\"")) << result.out;
    EXPECT_EQ("", dev.transcript().bytes(modemsim::Transcript::Direction::kFromHost)) << "bytes the device heard";
    EXPECT_EQ(0u, dev.state().flash.extent());
}

} // namespace
