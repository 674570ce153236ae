// The update program's command line: every switch, values that switches wait for, toggling, and the
// examples users write.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ravelin/catalogue/catalogue.h"
#include "ravelin/flash/command_line.h"
#include "ravelin/support/oswin32.h"

namespace {

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        os_SetExeDirForTesting((std::string(SUITE_SOURCE_DIR) + "/data/ravelin/").c_str());
        ASSERT_EQ(cat_kLoaded, cat_Load());
    }
    void TearDown() override
    {
        cat_Free();
        os_SetExeDirForTesting(nullptr);
    }

    static CommandLineSettings parse(const std::vector<const char *> &params)
    {
        std::vector<const char *> argv{"ravelin"};
        argv.insert(argv.end(), params.begin(), params.end());
        CommandLineSettings settings;
        flsh_InitCommandLine(&settings);
        flsh_ParseCommandLine(&settings, static_cast<int>(argv.size()), argv.data());
        return settings;
    }
};

// Every field, so that "changes nothing" can be checked as a whole.
std::string describe(const CommandLineSettings &s)
{
    return "D" + std::to_string(s.bLogging) + " W" + std::to_string(s.bModelPage) + " S" + std::to_string(s.bStatusPage) +
           " B" + std::to_string(s.nBootCode) + " H" + std::to_string(s.bDetection) + " V" + std::to_string(s.bPageSet) +
           " L" + std::to_string(s.bFullFlash) + " C" + std::to_string(s.nAfterFlashCheck) + " E" +
           std::to_string(s.bRestoreDefaults) + " M" + s.model.szName + " P" + s.szPort + " F" + s.szHexFile + " R" +
           std::to_string(s.nSpeed) + " pending" + std::to_string(s.nPending);
}

TEST_F(CommandLineTest, NoParametersGiveTheDefaults)
{
    CommandLineSettings s = parse({});
    EXPECT_EQ("D0 W0 S0 B0 H0 V0 L0 C0 E1 MOCTAA P FSORTED.HEX R38400 pending0", describe(s));
    EXPECT_EQ(cat_FindEntryByName("OctaA")->nModelId, s.model.nModelId);
}

TEST_F(CommandLineTest, EverySwitchInEitherCaseWithEitherIntroducer)
{
    struct Case {
        char chLetter;
        std::function<bool(const CommandLineSettings &)> isSet;
    };
    const Case cases[] = {
        {'B', [](const CommandLineSettings &s) { return s.nBootCode == 1; }},
        {'C', [](const CommandLineSettings &s) { return s.nAfterFlashCheck == 1; }},
        {'D', [](const CommandLineSettings &s) { return s.bLogging == 1; }},
        {'E', [](const CommandLineSettings &s) { return s.bRestoreDefaults == 0; }},
        {'H', [](const CommandLineSettings &s) { return s.bDetection == 1; }},
        {'L', [](const CommandLineSettings &s) { return s.bFullFlash == 1; }},
        {'S', [](const CommandLineSettings &s) { return s.bStatusPage == 1; }},
        {'V', [](const CommandLineSettings &s) { return s.bPageSet == 1; }},
        {'W', [](const CommandLineSettings &s) { return s.bModelPage == 1; }},
        {'F', [](const CommandLineSettings &s) { return s.nPending == flsh_kPendingHexFile; }},
        {'M', [](const CommandLineSettings &s) { return s.nPending == flsh_kPendingModel; }},
        {'P', [](const CommandLineSettings &s) { return s.nPending == flsh_kPendingPort; }},
        {'R', [](const CommandLineSettings &s) { return s.nPending == flsh_kPendingSpeed; }},
    };
    const std::string defaults = describe(parse({}));
    for (const Case &c : cases) {
        for (const char *pszIntro : {"-", "/"}) {
            for (char chLetter : {c.chLetter, static_cast<char>(c.chLetter - 'A' + 'a')}) {
                std::string param = std::string(pszIntro) + chLetter;
                CommandLineSettings s = parse({param.c_str()});
                EXPECT_TRUE(c.isSet(s)) << param;
                EXPECT_NE(defaults, describe(s)) << param;
            }
        }
    }
}

TEST_F(CommandLineTest, ValuesFollowTheirSwitches)
{
    CommandLineSettings s = parse({"/P", "COM3", "/R", "115200", "-F", "PADE105.HEX", "-m", "pl1400"});
    EXPECT_STREQ("COM3", s.szPort);
    EXPECT_EQ(115200, s.nSpeed);
    EXPECT_STREQ("PADE105.HEX", s.szHexFile);
    EXPECT_STREQ("PL1400", s.model.szName);
    EXPECT_EQ(cat_FindEntryByName("PL1400")->nModelId, s.model.nModelId);
    EXPECT_EQ(flsh_kPendingNone, s.nPending);

    EXPECT_STREQ("", parse({"-M", "NoSuchModel"}).model.szName);
    EXPECT_EQ(0, parse({"/R", "fast"}).nSpeed);
    EXPECT_EQ(9600, parse({"/R", "9600baud"}).nSpeed);
}

TEST_F(CommandLineTest, ASwitchAsPendingValueIsTakenAndAlsoActs)
{
    // "/M /B": B becomes the model name (no such model: the name is empty) and sets the boot code.
    CommandLineSettings s = parse({"/M", "/B"});
    EXPECT_STREQ("", s.model.szName);
    EXPECT_EQ(1, s.nBootCode);
    EXPECT_EQ(flsh_kPendingNone, s.nPending);
}

TEST_F(CommandLineTest, APendingValueIsTakenExactlyAsWritten)
{
    CommandLineSettings s = parse({"-F", "/home/me/A.HEX", "-P", "/dev/ttyUSB0"});
    EXPECT_STREQ("/home/me/A.HEX", s.szHexFile);
    EXPECT_STREQ("/dev/ttyUSB0", s.szPort);
    EXPECT_EQ("D0 W0 S0 B0 H0 V0 L0 C0 E1 MOCTAA P/dev/ttyUSB0 F/home/me/A.HEX R38400 pending0", describe(s));
    EXPECT_STREQ("-image.hex", parse({"-F", "-image.hex"}).szHexFile);
}

TEST_F(CommandLineTest, TogglingRepeatingAndIgnoredParameters)
{
    EXPECT_EQ(0, parse({"-e"}).bRestoreDefaults);
    EXPECT_EQ(0, parse({"-E", "/e"}).bRestoreDefaults);   // E twice leaves it off
    EXPECT_EQ(1, parse({"-V"}).bPageSet);
    EXPECT_EQ(0, parse({"-V", "/v"}).bPageSet);            // V twice toggles back
    EXPECT_EQ(1, parse({"-V", "/v", "-V"}).bPageSet);

    const std::string defaults = describe(parse({}));
    for (const char *pszParam : {"-X", "/BB", "word", "-", "/"})
        EXPECT_EQ(defaults, describe(parse({pszParam}))) << pszParam;

    // P as the last parameter leaves the port empty: every port takes part.
    CommandLineSettings last = parse({"-S", "-P"});
    EXPECT_STREQ("", last.szPort);
    EXPECT_EQ(flsh_kPendingPort, last.nPending);
}

TEST_F(CommandLineTest, TheParameterFormOfTheSplitterStripsNothingItself)
{
    CommandLineSettings s;
    flsh_InitCommandLine(&s);
    flsh_ParseCommandParameter(&s, "P", true, false);
    flsh_ParseCommandParameter(&s, "COM7", false, false);
    flsh_ParseCommandParameter(&s, "h", true, true);
    EXPECT_STREQ("COM7", s.szPort);
    EXPECT_EQ(1, s.bDetection);
}

} // namespace
