#include "country/wizard/command_line_options.h"

#include <gtest/gtest.h>

namespace {

CommandLineOptions Parse(std::vector<std::string> parameters)
{
    return ParseCommandLine(parameters);
}

TEST(CommandLineOptions, NoParametersMeanTheWizardWithDefaults)
{
    CommandLineOptions options = Parse({});
    EXPECT_FALSE(options.commandLineMode);
    EXPECT_FALSE(options.startSibling);
    EXPECT_FALSE(options.quiet);
    EXPECT_FALSE(options.shutDownAfterwards);
    EXPECT_FALSE(options.log);
    EXPECT_FALSE(options.help);
    EXPECT_EQ(1, options.commandSetValue);
    EXPECT_EQ(1, options.portNumber);
    EXPECT_EQ("", options.countryCode);
}

TEST(CommandLineOptions, PortAndCountryCode)
{
    CommandLineOptions options = Parse({"-c", "3", "us"});
    EXPECT_TRUE(options.commandLineMode);
    EXPECT_EQ(3, options.portNumber);
    EXPECT_EQ("US", options.countryCode);
    // The last parameter is both the port and the code.
    options = Parse({"/C", "3"});
    EXPECT_EQ(3, options.portNumber);
    EXPECT_EQ("3", options.countryCode);
}

TEST(CommandLineOptions, EveryFlagInBothCasesAndBothIntroducers)
{
    for (const char* introducer : {"-", "/"}) {
        std::string i = introducer;
        CommandLineOptions lower = Parse({i + "t", i + "q", i + "s", i + "l", i + "?"});
        CommandLineOptions upper = Parse({i + "T", i + "Q", i + "S", i + "L"});
        for (const CommandLineOptions& options : {lower, upper}) {
            EXPECT_TRUE(options.startSibling);
            EXPECT_TRUE(options.quiet);
            EXPECT_TRUE(options.shutDownAfterwards);
            EXPECT_TRUE(options.log);
            EXPECT_TRUE(options.commandLineMode);
            EXPECT_EQ("", options.countryCode);  // a flag is never the country code
        }
        EXPECT_TRUE(lower.help);
        EXPECT_FALSE(upper.help);
    }
}

TEST(CommandLineOptions, FlagsMustMatchExactly)
{
    EXPECT_EQ(2, Parse({"-r"}).commandSetValue);
    EXPECT_EQ(2, Parse({"-R"}).commandSetValue);
    EXPECT_EQ(3, Parse({"-r2"}).commandSetValue);
    EXPECT_EQ(3, Parse({"/R2"}).commandSetValue);
    CommandLineOptions options = Parse({"-r3", "-log", "-tt", "-"});
    EXPECT_EQ(1, options.commandSetValue);
    EXPECT_FALSE(options.log);
    EXPECT_FALSE(options.startSibling);
    EXPECT_TRUE(options.commandLineMode);
}

TEST(CommandLineOptions, DebugFlagMeansTheWizardWithLogsUntilAnotherParameterFollows)
{
    CommandLineOptions options = Parse({"-d"});
    EXPECT_FALSE(options.commandLineMode);
    EXPECT_TRUE(options.log);
    options = Parse({"-D", "-s"});
    EXPECT_TRUE(options.commandLineMode);
    EXPECT_TRUE(options.log);
    options = Parse({"-s", "-d"});
    EXPECT_FALSE(options.commandLineMode);
    EXPECT_TRUE(options.shutDownAfterwards);
}

TEST(CommandLineOptions, AFlagWhereThePortWasExpectedLeavesTheDefaultPort)
{
    CommandLineOptions options = Parse({"-c", "-l", "5", "DE"});
    EXPECT_EQ(1, options.portNumber);
    EXPECT_TRUE(options.log);
    EXPECT_EQ("DE", options.countryCode);
    options = Parse({"-c", "12", "-c", "7", "fr"});
    EXPECT_EQ(7, options.portNumber);
    EXPECT_EQ("FR", options.countryCode);
}

TEST(CommandLineOptions, PortIsANumberOrAComName)
{
    struct Case {
        const char* text;
        int port;
    };
    const Case cases[] = {
        {"2", 2}, {"COM2", 2}, {"com12", 12}, {"Com3", 3}, {"COM", 0}, {"COMx", 0}, {"COM2a", 0}, {"abc", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.port, PortNumberFromText(c.text)) << c.text;
        EXPECT_EQ(c.port, Parse({"-c", c.text, "US"}).portNumber) << c.text;
    }
}

TEST(CommandLineOptions, DashHAndDoubleDashHelpAskForTheUsageText)
{
    for (const char* flag : {"-h", "--help"}) {
        CommandLineOptions options = Parse({"-c", flag, "US"});
        EXPECT_TRUE(options.usage) << flag;
        EXPECT_FALSE(options.help) << flag;  // not the help text file
        EXPECT_EQ(1, options.portNumber) << flag;  // nor taken as the port
        EXPECT_EQ("US", options.countryCode) << flag;
    }
    EXPECT_FALSE(Parse({"-?"}).usage);
    EXPECT_FALSE(Parse({"/h"}).usage);
}

}  // namespace
