// The country program run as a user runs it: the real executable, copied with its catalogues into a
// scratch directory (its files live beside it), against simulated modems, with the process services
// replaced by the recording fake.
#include "country/wizard/command_line_options.h"
#include "country/wizard/country_app.h"
#include "fixtures/sim_bank_fixture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

const bool kTimeScaleSet = [] {
    setenv("SUITE_TIME_SCALE", "0.5", 0);
    return true;
}();

std::string Quoted(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

class CountryProgramTest : public SimBankTest {
protected:
    void SetUp() override
    {
        SimBankTest::SetUp();
        std::string pattern = (fs::temp_directory_path() / "country-program-XXXXXX").string();
        ASSERT_NE(nullptr, mkdtemp(pattern.data()));
        dir = pattern;
        fs::copy_file(fs::path(SUITE_BIN_DIR) / "country", dir / "country");
        for (const char* name : {"Country.ini", "Models.ini"})
            fs::copy_file(fs::path(SUITE_SOURCE_DIR) / "data/country" / name, dir / name);
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
        SimBankTest::TearDown();
    }

    // Runs the copied program in its own directory; its exit code, or -1 when it did not exit normally.
    // Standard output and error go to stdout.txt and stderr.txt there. shellPrefix runs first in the
    // same shell (limits for the program).
    int Run(const std::string& arguments, const std::string& shellPrefix = "")
    {
        std::string command = "cd " + Quoted(dir.string()) + " && " + shellPrefix + " " +
                              std::string(kFakeProcessServicesVariable) + "=" +
                              Quoted((dir / "requests.txt").string()) + " ./country " + arguments + " >" +
                              Quoted((dir / "stdout.txt").string()) + " 2>" + Quoted((dir / "stderr.txt").string());
        int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string Read(const std::string& name)
    {
        std::ifstream in(dir / name, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    bool Exists(const std::string& name) { return fs::exists(dir / name); }

    modemsim::Device& AddModem(const std::string& file, int port, const std::string& extraKeys = "")
    {
        std::ifstream in(fs::path(SUITE_SOURCE_DIR) / "data/sim/country" / file);
        std::ostringstream content;
        content << in.rdbuf();
        return addDevice(content.str() + "\nport = " + std::to_string(port) + "\n" + extraKeys);
    }

    std::string HostBytes(modemsim::Device& device)
    {
        return device.transcript().bytes(modemsim::Transcript::Direction::kFromHost);
    }

    fs::path dir;
};

TEST_F(CountryProgramTest, CommandLineRunConfiguresTheModemOnThePortAndExitsZero)
{
    modemsim::Device& modem = AddModem("agere_ab12.txt", 3);
    EXPECT_EQ(0, Run("-c 3 US"));
    EXPECT_EQ("b5", modem.state().country());
    EXPECT_EQ("[3]\r\nModelName=AB12\r\nCountryName=United States (US)\r\nCountryCode=b5\r\nCommandSetName=Agere\r\n"
              "CommandSet=1\r\nCommPort=3\r\n",
              Read("modem.ini"));
    EXPECT_FALSE(Exists("Meridia.txt"));  // no log option, no message log
    EXPECT_FALSE(Exists("requests.txt"));
}

TEST_F(CountryProgramTest, TheMessageLogSaysWhatWasSet)
{
    AddModem("conexant2_cx2400.txt", 4);
    EXPECT_EQ(0, Run("/L /C 4 no"));
    EXPECT_EQ("COM4: CX2400 set to \"Norway (NO)\" (country code 82, command set Conexant2); modem.ini written.\n",
              Read("Meridia.txt"));
    EXPECT_NE(std::string::npos, Read("modem.ini").find("[4]\r\nModelName=CX2400\r\n"));
}

TEST_F(CountryProgramTest, AModemThatStopsAnsweringMidSequenceGivesExitCodeOne)
{
    modemsim::Device& modem = AddModem("agere_hangs.txt", 3);
    EXPECT_EQ(1, Run("-l -c 3 US"));
    EXPECT_EQ("b5", modem.state().country());
    EXPECT_FALSE(Exists("modem.ini"));
    EXPECT_EQ("Unable to configure the modem on COM3.\n", Read("Meridia.txt"));
}

TEST_F(CountryProgramTest, NoModemOnThePortIsReported)
{
    AddModem("unknown_model.txt", 6);
    EXPECT_EQ(1, Run("-l -c 6 US"));
    EXPECT_EQ(kNoValidDevice, Read("Meridia.txt"));
    EXPECT_FALSE(Exists("modem.ini"));
}

TEST_F(CountryProgramTest, ACodeThatIsNotInCountryIniSendsNothing)
{
    modemsim::Device& modem = AddModem("agere_ab12.txt", 3);
    EXPECT_EQ(1, Run("-l -c 3 XX"));
    EXPECT_EQ("Country/region code \"XX\" is not in country.ini\n", Read("Meridia.txt"));
    EXPECT_EQ("", HostBytes(modem));
    EXPECT_EQ("", modem.state().country());
}

TEST_F(CountryProgramTest, LogWithoutCountryCodeWritesOnlyTheMustSupplyLine)
{
    EXPECT_EQ(1, Run("-l"));
    EXPECT_EQ(kMustSupplyCountryCode, Read("Meridia.txt"));
}

TEST_F(CountryProgramTest, MissingCataloguesAreReported)
{
    EXPECT_EQ(1, Run("-l"));
    EXPECT_EQ(kMustSupplyCountryCode, Read("stderr.txt"));
    fs::remove(dir / "Models.ini");
    EXPECT_EQ(1, Run("-l -c 3 US"));
    EXPECT_EQ(kModelsIniMissing, Read("Meridia.txt"));
    fs::remove(dir / "Country.ini");
    EXPECT_EQ(1, Run("-l -c 3 US"));
    EXPECT_EQ(kCountryIniMissing, Read("Meridia.txt"));
}

TEST_F(CountryProgramTest, CataloguesAreFoundWhateverTheCaseOfTheirNames)
{
    modemsim::Device& modem = AddModem("conexant_cx56000.txt", 2);
    fs::rename(dir / "Country.ini", dir / "COUNTRY.INI");
    fs::rename(dir / "Models.ini", dir / "models.ini");
    EXPECT_EQ(0, Run("-c 2 de"));
    EXPECT_EQ("22", modem.state().country());
}

TEST_F(CountryProgramTest, SiblingFlagOnlyStartsTheSibling)
{
    modemsim::Device& modem = AddModem("agere_ab12.txt", 3);
    EXPECT_EQ(0, Run("-l -s -? -c 3 US -t"));
    EXPECT_EQ("start " + (dir / "Meridia").string() + " -t\n", Read("requests.txt"));
    EXPECT_FALSE(Exists("Meridia.txt"));
    EXPECT_FALSE(Exists("modem.ini"));
    EXPECT_EQ("", HostBytes(modem));
}

TEST_F(CountryProgramTest, HelpOpensHelpTextBesideTheProgram)
{
    std::ofstream(dir / "help.TXT") << "help";
    EXPECT_EQ(0, Run("-?"));
    EXPECT_EQ("open " + (dir / "help.TXT").string() + "\n", Read("requests.txt"));
    EXPECT_FALSE(Exists("Meridia.txt"));
}

TEST_F(CountryProgramTest, HelpWithoutHelpTextFailsAndOpensNothing)
{
    EXPECT_EQ(1, Run("/?"));
    EXPECT_FALSE(Exists("requests.txt"));
    EXPECT_NE(std::string::npos, Read("stderr.txt").find("Help.txt"));
}

TEST_F(CountryProgramTest, ShutDownFollowsTheCommandLineRun)
{
    AddModem("agere_ab12.txt", 3);
    EXPECT_EQ(0, Run("-s -c 3 US"));
    EXPECT_EQ("poweroff\n", Read("requests.txt"));
}

TEST_F(CountryProgramTest, EveryMessageAlsoGoesToStandardErrorWithOrWithoutTheLog)
{
    AddModem("unknown_model.txt", 6);
    EXPECT_EQ(1, Run("-c 6 US"));
    EXPECT_EQ(kNoValidDevice, Read("stderr.txt"));
    EXPECT_FALSE(Exists("Meridia.txt"));

    AddModem("conexant2_cx2400.txt", 4);
    EXPECT_EQ(0, Run("-l -c 4 NO"));
    EXPECT_EQ("COM4: CX2400 set to \"Norway (NO)\" (country code 82, command set Conexant2); modem.ini written.\n",
              Read("stderr.txt"));
    EXPECT_EQ(Read("Meridia.txt"), Read("stderr.txt"));
}

TEST_F(CountryProgramTest, StartUpMessagesOnStandardErrorUseLineBreaksWhileTheLogKeepsItsOwn)
{
    EXPECT_EQ(1, Run("-l"));
    EXPECT_EQ(kMustSupplyCountryCode, Read("stderr.txt"));
    fs::remove(dir / "Models.ini");
    EXPECT_EQ(1, Run("-l -c 3 US"));
    EXPECT_EQ(kModelsIniMissing, Read("Meridia.txt"));
    EXPECT_EQ("Unable to find \"Models.ini\".\n\n\"Models.ini\" is required by Meridia.\n", Read("stderr.txt"));
    fs::remove(dir / "Country.ini");
    EXPECT_EQ(1, Run("-c 3 US"));
    EXPECT_EQ("Unable to find \"Country.ini\".\n\n\"Country.ini\" is required by Meridia.\n", Read("stderr.txt"));
}

TEST_F(CountryProgramTest, HelpFlagsPrintTheUsageWithTheExitCodesAndStartNothing)
{
    modemsim::Device& modem = AddModem("agere_ab12.txt", 3);
    for (const char* flag : {"--help", "-h"}) {
        EXPECT_EQ(0, Run(std::string("-l -t -c 3 US ") + flag)) << flag;
        const std::string usage = Read("stdout.txt");
        EXPECT_EQ(0u, usage.find("Usage: country ")) << flag;
        EXPECT_NE(std::string::npos, usage.find("Exit codes:\n  0  ")) << flag;
        EXPECT_NE(std::string::npos, usage.find("\n  1  failed")) << flag;
        EXPECT_EQ("", Read("stderr.txt")) << flag;
    }
    EXPECT_FALSE(Exists("requests.txt"));
    EXPECT_FALSE(Exists("Meridia.txt"));
    EXPECT_EQ("", HostBytes(modem));
}

TEST_F(CountryProgramTest, TheProjectShipsAHelpTextBesideTheProgram)
{
    const fs::path shipped = fs::path(SUITE_BIN_DIR) / "Help.txt";
    ASSERT_TRUE(fs::exists(shipped));
    fs::copy_file(shipped, dir / "Help.txt");
    EXPECT_EQ(0, Run("-?"));
    EXPECT_EQ("open " + (dir / "Help.txt").string() + "\n", Read("requests.txt"));
    // It explains the command line and what to do when something goes wrong.
    const std::string help = Read("Help.txt");
    EXPECT_NE(std::string::npos, help.find("country -c 3 US"));
    EXPECT_NE(std::string::npos, help.find("is in use by another program"));
}

TEST_F(CountryProgramTest, PortMayBeGivenAsAComName)
{
    modemsim::Device& modem = AddModem("agere_ab12.txt", 2);
    EXPECT_EQ(0, Run("-c COM2 US"));
    EXPECT_EQ("b5", modem.state().country());
    EXPECT_NE(std::string::npos, Read("modem.ini").find("[2]\r\nModelName=AB12\r\n"));
}

TEST_F(CountryProgramTest, PortsThatCannotBeUsedEachSayWhy)
{
    // A port that does not exist: its entry names nothing.
    ASSERT_EQ(0, ::symlink((dir / "no-such-device").c_str(), portPath(9).c_str()));
    EXPECT_EQ(1, Run("-l -c 9 US"));
    const std::string missing = Read("Meridia.txt");
    EXPECT_EQ(0u, missing.find("COM9 does not exist (")) << missing;
    EXPECT_NE(std::string::npos, missing.find("No such file or directory")) << missing;
    EXPECT_EQ(missing, Read("stderr.txt"));

    // A port another program holds.
    modemsim::Device& modem = AddModem("agere_ab12.txt", 3);
    const int holder = ::open(portPath(3).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(0, ::flock(holder, LOCK_EX | LOCK_NB));
    EXPECT_EQ(1, Run("-l -c 3 US"));
    ::close(holder);
    const std::string inUse = Read("Meridia.txt");
    EXPECT_EQ(0u, inUse.find("COM3 is in use by another program (")) << inUse;
    EXPECT_EQ("", modem.state().country());

    // Numbers no port can have.
    for (const char* port : {"0", "256", "COM300"}) {
        EXPECT_EQ(1, Run(std::string("-l -c ") + port + " US")) << port;
        const std::string expected = "COM" + std::to_string(PortNumberFromText(port)) +
                                     " is out of range: the port number must be 1 to 255.\n";
        EXPECT_EQ(expected, Read("Meridia.txt")) << port;
    }
    EXPECT_FALSE(Exists("modem.ini"));
}

TEST_F(CountryProgramTest, AModemIniThatCannotBeWrittenIsReportedAndTheOldFileStaysWhole)
{
    modemsim::Device& modem = AddModem("agere_ab12.txt", 3);
    // An older record of another port, longer than the program may write under the limit below.
    std::string old = "[1]\r\nModelName=CX2400\r\nCountryName=Norway (NO)\r\n";
    for (int i = 0; i < 60; ++i)
        old += "Note" + std::to_string(i) + "=kept as it was\r\n";
    ASSERT_GT(old.size(), 1024u);
    std::ofstream(dir / "modem.ini", std::ios::binary) << old;

    // Files of at most 1 KiB (ulimit counts 512-byte blocks); writing past it fails instead of ending
    // the program.
    EXPECT_EQ(1, Run("-c 3 US", "trap '' XFSZ; ulimit -f 2;"));
    EXPECT_EQ("b5", modem.state().country());  // the modem itself was configured
    const std::string message = Read("stderr.txt");
    EXPECT_EQ(0u, message.find("The modem on COM3 was set to \"United States (US)\", but modem.ini could not be "
                               "written: cannot write "))
        << message;
    EXPECT_NE(std::string::npos, message.find("File too large")) << message;
    EXPECT_EQ(old, Read("modem.ini"));
    EXPECT_FALSE(Exists("modem.ini.new"));
}

}  // namespace
