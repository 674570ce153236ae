// `ravelin-cli flash` of Lucent/Agere models as users run it: the real executable, the sample
// catalogue and loader files beside it, against simulated Lucent/Agere devices. The device's flash
// facts decide between the resident loader and a full flash, and an image built for another flash
// part never reaches the device.
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

// The lines of a file without their CR LF, '\n'-joined, each with a prefix.
std::string fileLines(const std::string &path, const std::string &prefix)
{
    std::string text = readFile(path), joined, line;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find("\r\n", at);
        line = text.substr(at, end - at);
        joined += (joined.empty() ? "" : "\n") + prefix + line;
        at = end == std::string::npos ? text.size() : end + 2;
    }
    return joined;
}

class CliLucentTest : public SimBankTest {
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
        for (const char *pszName : {"Models.ini", "Locks.ini", "NewFlashLdr.hex", "OcmFldr.hex"})
            std::filesystem::copy_file(data + pszName, dir.file(pszName));
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

    // A Lucent/Agere device at 115200 baud; ati5 is its "ATI5" page (type letter first, flash facts).
    modemsim::Device &addLucent(int nPort, const std::string &ati5, const std::string &extra = "")
    {
        return addDevice("port = " + std::to_string(nPort) +
                         "\nspeed = 115200\nthrottle = off\ndialogues = ident-lucent, lucent-loader\n"
                         "ati.5 = " + ati5 + "\n" + extra);
    }

    // An image whose first record carries the header: flash version (low byte first), type letter,
    // sector size; then a few records of its own.
    std::string writeImage(const std::string &name, std::uint16_t nVersion, char chType, std::uint8_t nSector,
                           std::vector<std::uint8_t> *pBytes)
    {
        std::vector<std::uint8_t> first(32);
        for (std::size_t i = 0; i < 28; ++i) first[i] = static_cast<std::uint8_t>(0xC0 + i);
        first[28] = static_cast<std::uint8_t>(nVersion & 0xFF);
        first[29] = static_cast<std::uint8_t>(nVersion >> 8);
        first[30] = static_cast<std::uint8_t>(chType);
        first[31] = nSector;
        std::vector<std::string> lines = {hexRecord(0, 0, first)};
        *pBytes = first;
        for (int r = 0; r < 4; ++r) {
            std::vector<std::uint8_t> data(16, static_cast<std::uint8_t>(0x30 + r));
            lines.push_back(hexRecord(0, static_cast<std::uint32_t>(pBytes->size()), data));
            pBytes->insert(pBytes->end(), data.begin(), data.end());
        }
        lines.push_back(":00000001FF");
        std::string path = dir.file(name);
        flashtest::writeFile(path, crlfLines(lines));
        return path;
    }

    std::string flashArgs(int nPort, const std::string &image, const std::string &model)
    {
        return "flash --port COM" + std::to_string(nPort) + " --image '" + image + "' --model " + model +
               " --speed 115200 --no-restore-defaults --json";
    }

    static std::string json(int nPort, const char *pszModel, int nResult, const char *pszText, const char *pszLoader)
    {
        return "{\"port\": \"COM" + std::to_string(nPort) + "\", \"model\": \"" + pszModel +
               "\", \"result\": " + std::to_string(nResult) + ", \"result_text\": \"" + pszText +
               "\", \"detail\": \"\", \"loader_version\": \"" + pszLoader + "\", \"speed\": 115200, \"highest_block_address\": 0, "
               "\"rejected_blocks\": 0}\n";
    }

    flashtest::TempDir dir;
    std::string exe;
};

TEST_F(CliLucentTest, MatchingImageGoesThroughTheResidentLoader)
{
    // Status 9: type U, 64-word sectors, flash version 10AF; the image says the same.
    modemsim::Device &dev = addLucent(3, "U5610 RRFL,40,10AF", "lucent.variant = 1\n");
    std::vector<std::uint8_t> bytes;
    std::string image = writeImage("LA0100.HEX", 0x10AF, 'U', 0x40, &bytes);
    RunResult result = run(flashArgs(3, image, "LX56"));
    ASSERT_EQ(0, result.exitCode) << result.err << transcripts();
    EXPECT_EQ(json(3, "LX56", 0, "Successful", "4.4"), result.out);
    EXPECT_EQ(bytes, dev.state().flash.read(0, static_cast<std::uint32_t>(bytes.size())));
    EXPECT_EQ("1", dev.state().value("lucent.go"));
    EXPECT_EQ("", dev.state().value("lucent.loader_lines"));
    // The facts query in the variant the device speaks, then its GO command.
    auto commands = dev.state().commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ("AT&&WGO", commands.back());
    EXPECT_NE(std::string::npos, result.err.find("P 100  Programming Done")) << result.err;
}

TEST_F(CliLucentTest, ImagesForAnotherFlashPartNeverReachTheDevice)
{
    struct Case {
        std::uint16_t nVersion;
        char chType;
        std::uint8_t nSector;
        int nExit;
        const char *pszText;
    } const kCases[] = {
        {0x10AF, 'U', 0x10, 8, "Incompatible sector sizes"},
        {0x10AF, 'C', 0x40, 9, "Incompatible types"},
    };
    int nPort = 3;
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.pszText);
        modemsim::Device &dev = addLucent(nPort, "U5610 RRFL,40,10AF");
        std::vector<std::uint8_t> bytes;
        std::string image = writeImage("LA0100.HEX", c.nVersion, c.chType, c.nSector, &bytes);
        RunResult result = run(flashArgs(nPort, image, "LX56"));
        EXPECT_EQ(c.nExit, result.exitCode) << result.err;
        EXPECT_EQ(json(nPort, "LX56", c.nExit, c.pszText, ""), result.out);
        EXPECT_EQ("", dev.state().value("lucent.go"));
        EXPECT_EQ("", dev.state().value("lucent.loader_lines"));
        EXPECT_EQ(0u, dev.state().flash.extent());
        ++nPort;
    }

    // A device that does not tell its facts: nothing is programmed, and the user is told why.
    modemsim::Device &mute = addDevice("port = 9\nspeed = 115200\nfault.silent = on\n");
    std::vector<std::uint8_t> bytes;
    std::string image = writeImage("LA0100.HEX", 0x10AF, 'U', 0x40, &bytes);
    RunResult result = run(flashArgs(9, image, "LX56"));
    EXPECT_EQ(7, result.exitCode);
    EXPECT_NE(std::string::npos, result.err.find("COM9: the device did not tell its Lucent/Agere flash facts"))
        << result.err;
    EXPECT_EQ(0u, mute.state().flash.extent());
}

TEST_F(CliLucentTest, ANewFlashVersionOrFullFlashSendsTheLoaderFirst)
{
    struct Case {
        std::uint16_t nVersion;
        const char *pszExtra;  // further arguments
    } const kCases[] = {
        {0x10B0, ""},               // the image is for another flash version: full flash
        {0x10AF, " --full-flash"},  // asked for
    };
    int nPort = 3;
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.pszExtra);
        modemsim::Device &dev = addLucent(nPort, "U5610 RRFL,40,10AF");
        std::vector<std::uint8_t> bytes;
        std::string image = writeImage("LA0100.HEX", c.nVersion, 'U', 0x40, &bytes);
        RunResult result = run(flashArgs(nPort, image, "LX56") + c.pszExtra);
        ASSERT_EQ(0, result.exitCode) << result.err << transcripts();
        EXPECT_EQ(json(nPort, "LX56", 0, "Successful", "4.4"), result.out);
        EXPECT_EQ(fileLines(dir.file("NewFlashLdr.hex"), "at&&f"), dev.state().value("lucent.loader_lines"));
        EXPECT_EQ("", dev.state().value("lucent.go"));
        EXPECT_EQ(bytes, dev.state().flash.read(0, static_cast<std::uint32_t>(bytes.size())));
        ++nPort;
    }
}

TEST_F(CliLucentTest, AgereDeviceWithoutFlashFactsGetsTheAgereLoaderAt115200)
{
    // Status 10: the flash query is not answered; the family always flashes fully with OcmFldr.hex.
    modemsim::Device &dev = addLucent(4, "S6010", "lucent.variant = 2\nlucent.new_loader = OCM Ver:1.3\n");
    std::vector<std::uint8_t> bytes;
    std::string image = writeImage("LB0100.HEX", 0, 'S', 0x00, &bytes);
    RunResult result = run("flash --port COM4 --image '" + image + "' --model AX56 --json");
    ASSERT_EQ(0, result.exitCode) << result.err << transcripts();
    EXPECT_NE(std::string::npos, result.out.find("\"loader_version\": \"1.3\", \"speed\": 115200")) << result.out;
    EXPECT_EQ(fileLines(dir.file("OcmFldr.hex"), "at&&z"), dev.state().value("lucent.loader_lines"));
    EXPECT_EQ("115200", dev.state().value("lucent.host_speed"));
    EXPECT_EQ("1", dev.state().value("lucent.defaults"));
    EXPECT_EQ(bytes, dev.state().flash.read(0, static_cast<std::uint32_t>(bytes.size())));
}

} // namespace
