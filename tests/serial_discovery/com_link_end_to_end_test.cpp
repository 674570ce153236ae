// A USB adapter numbered by `ports --assign` and reached by its COM number alone, with no
// SERIAL_PORTS_DIR: the test bed's /dev/ttyUSB4 is a pseudo-terminal whose other side a simulated
// device serves, and /dev/serial/com/COM5 is the link udev makes from the rule. Both programs follow
// the one rule: $SERIAL_PORTS_DIR/COMn, else /dev/serial/com/COMn when it exists, else /dev/ttyS<n-1>.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "country/PortWriter/PortNames.h"
#include "machine_testbed.h"
#include "ravelin/serial/urs_names.h"
#include "tools/modemsim/modemsim.h"
#include "tools/serial-discovery/disc_rules.h"
#include "tools/serial-discovery/disc_rulesfile.h"
#include "tools/serial-discovery/disc_udev.h"

using bench_testing::MachineTestbed;
using bench_testing::Outcome;
using bench_testing::ReadFile;
using bench_testing::WriteFile;

namespace fs = std::filesystem;

namespace {

std::string UpdateProgramPath(const char *pszName)
{
    char szPath[1100];
    return urs_ResolvePortPath(pszName, szPath, sizeof szPath) ? szPath : "(does not fit)";
}

TEST(ComNamingRuleTest, BothProgramsReadComNumbersAlike)
{
    MachineTestbed bed;
    bed.addBenchMachine();
    bed.link("serial/com/COM5", "../../ttyUSB4");
    unsetenv("SERIAL_PORTS_DIR");
    struct Case {
        const char *name, *serialPortsDir, *path;
    };
    const Case cases[] = {
        {"COM5", nullptr, "/dev/serial/com/COM5"},
        {"com5", nullptr, "/dev/serial/com/COM5"},
        {"COM1", nullptr, "/dev/ttyS0"},
        {"COM6", nullptr, "/dev/ttyS5"},
        {"COM5", "/tmp/bank", "/tmp/bank/COM5"},
        {"COM1", "/tmp/bank", "/tmp/bank/COM1"},
        {"COM5", "", "/dev/serial/com/COM5"},  // set but empty: as if not set
        {"/dev/ttyUSB2", nullptr, "/dev/ttyUSB2"},
    };
    for (const Case &c : cases) {
        if (c.serialPortsDir != nullptr) setenv("SERIAL_PORTS_DIR", c.serialPortsDir, 1);
        else unsetenv("SERIAL_PORTS_DIR");
        EXPECT_EQ(c.path, UpdateProgramPath(c.name)) << c.name;
        EXPECT_EQ(c.path, ResolvePortDevicePath(std::string("\\\\.\\") + c.name)) << c.name;
    }
    unsetenv("SERIAL_PORTS_DIR");
}

// The bench machine, COM5 given to the single adapter by `ports --assign`, its link made as udev makes
// it, and a simulated device behind the adapter.
class ComLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("SUITE_TIME_SCALE", "0.2", 1);
        unsetenv("SERIAL_PORTS_DIR");
        dir = bench_testing::MakeScratchDir();
        ASSERT_FALSE(dir.empty());
        setenv("RAVELIN_COM_RULES", (dir + "/61-ravelin-com.rules").c_str(), 1);
        setenv("RAVELIN_UDEVADM", "true", 1);
        bed.addBenchMachine();
        bed.shadowOtherPorts();
        Outcome assigned = bench_testing::RunProgram(
            "'" + std::string(SUITE_BIN_DIR) + "/ravelin-cli' ports --assign /dev/ttyUSB4=COM5", dir);
        ASSERT_EQ(0, assigned.exitCode) << assigned.err;
        ASSERT_EQ("COM5 = /dev/ttyUSB4 (FT232R USB UART (FTDI))\n", assigned.out);
        // What udev does with the rule: the link for each port the rule matches.
        DiscRules rules;
        std::string error;
        ASSERT_TRUE(disc_ReadRules(disc_RulesPath(), &rules, &error)) << error;
        std::vector<DiscPort> ports;
        ASSERT_TRUE(disc_ListPorts(&ports, &error)) << error;
        for (const DiscRule &rule : rules.rules)
            for (const DiscPort &port : ports)
                if (disc_RuleMatches(rule, port))
                    bed.link("serial/com/COM" + std::to_string(rule.com), "../../" + port.kernel);
        ASSERT_EQ("../../ttyUSB4", fs::read_symlink(bed.root() + "/dev/serial/com/COM5").string());
        // The programs open COM5 by its link; behind it a serial driver (the adapter's).
        adapter = bed.driver("/dev/serial/com/COM5");
    }
    void TearDown() override
    {
        if (bank) bank->stop();
        adapter.reset();
        unsetenv("SUITE_TIME_SCALE");
        unsetenv("RAVELIN_COM_RULES");
        unsetenv("RAVELIN_UDEVADM");
        bench_testing::RemoveTree(dir);
    }

    // The simulated device behind the adapter's node.
    modemsim::Device &deviceBehindAdapter(const std::string &text)
    {
        bank = std::make_unique<modemsim::Bank>();
        modemsim::Device &device = bank->add(text + "\nport = 5\n");
        int master = bed.master("/dev/ttyUSB4");
        EXPECT_GE(master, 0);
        device.serveMaster(master);
        bank->start();
        return device;
    }

    // A copy of a program in the scratch directory with its catalogue beside it.
    std::string install(const std::string &program, const std::string &dataDir, const std::vector<std::string> &files)
    {
        std::string exe = dir + "/" + program;
        fs::copy_file(std::string(SUITE_BIN_DIR) + "/" + program, exe);
        chmod(exe.c_str(), 0755);
        for (const std::string &file : files) fs::copy_file(std::string(SUITE_SOURCE_DIR) + "/" + dataDir + "/" + file, dir + "/" + file);
        return exe;
    }

    Outcome run(const std::string &commandLine) { return bench_testing::RunProgram("cd '" + dir + "' && " + commandLine, dir); }

    std::string transcripts() { return bank ? bank->transcripts() : ""; }

    MachineTestbed bed;
    std::unique_ptr<bench_testing::LineDriver> adapter;
    std::unique_ptr<modemsim::Bank> bank;
    std::string dir;
};

const char kPl1400[] =
    "speed = 38400\nautobaud = on\nthrottle = off\nfamily = loader\nloader.version = 2.00\n"
    "loader.max_speed = 115200\nati.0 = PL1400\nati.0 += Version 1.05 EU\nati.9 = GERMANY\n";

std::string HexRecord(std::uint32_t address, const std::vector<std::uint8_t> &data)
{
    char szHead[16];
    std::snprintf(szHead, sizeof szHead, ":%02X%04X00", static_cast<unsigned>(data.size()), static_cast<unsigned>(address));
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF);
    std::string line = szHead;
    for (std::uint8_t b : data) {
        char sz[3];
        std::snprintf(sz, sizeof sz, "%02X", b);
        line += sz;
        sum += b;
    }
    char szSum[3];
    std::snprintf(szSum, sizeof szSum, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + szSum;
}

TEST_F(ComLinkTest, ProbeReachesTheAdapterAsCom5)
{
    deviceBehindAdapter(kPl1400);
    std::string exe = install("ravelin-cli", "data/ravelin", {"Models.ini", "Locks.ini"});
    Outcome probe = run("'" + exe + "' probe COM5 --json");
    ASSERT_EQ(0, probe.exitCode) << probe.err << transcripts();
    EXPECT_NE(std::string::npos, probe.out.find("{\"port\": \"COM5\", \"status\": 0, \"model\": \"PL1400\"")) << probe.out;
    EXPECT_NE(std::string::npos, probe.out.find("\"version\": \"1.05\"")) << probe.out;
}

TEST_F(ComLinkTest, FlashThroughCom5LeavesTheImageInTheDevice)
{
    modemsim::Device &device = deviceBehindAdapter(kPl1400);
    std::string exe = install("ravelin-cli", "data/ravelin", {"Models.ini", "Locks.ini"});
    std::vector<std::uint8_t> data(64);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(0x5A ^ (i * 7));
    std::vector<std::uint8_t> first(data.begin(), data.begin() + 32), second(data.begin() + 32, data.end());
    WriteFile(dir + "/IMAGE.HEX", HexRecord(0x0400, first) + "\r\n" + HexRecord(0x0420, second) + "\r\n:00000001FF\r\n");
    Outcome flash = run("'" + exe + "' flash --port COM5 --image IMAGE.HEX --model PL1400 --no-restore-defaults --json");
    ASSERT_EQ(0, flash.exitCode) << flash.err << transcripts();
    EXPECT_NE(std::string::npos, flash.out.find("{\"port\": \"COM5\", \"model\": \"PL1400\", \"result\": 0")) << flash.out;
    for (std::size_t i = 0; i < data.size(); ++i)
        EXPECT_EQ(data[i], device.state().flash.byte(static_cast<std::uint32_t>(0x400 + i))) << i;
}

TEST_F(ComLinkTest, CountryProgramSetsTheModemOnCom5)
{
    modemsim::Device &modem = deviceBehindAdapter(ReadFile(std::string(SUITE_SOURCE_DIR) + "/data/sim/country/agere_ab12.txt"));
    install("country", "data/country", {"Country.ini", "Models.ini"});
    Outcome set = run("./country -c 5 DE");
    ASSERT_EQ(0, set.exitCode) << set.err << transcripts();
    EXPECT_EQ("[5]\r\nModelName=AB12\r\nCountryName=Germany (DE)\r\nCountryCode=fd\r\nCommandSetName=Agere\r\n"
              "CommandSet=1\r\nCommPort=5\r\n",
              ReadFile(dir + "/modem.ini"));
    EXPECT_EQ("fd", modem.state().country()) << "the modem itself took Germany's code";
}

}  // namespace
