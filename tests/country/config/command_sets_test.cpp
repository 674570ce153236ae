#include "country/config/command_sets.h"

#include <gtest/gtest.h>

namespace {

std::string Joined(const std::vector<CommandStep>& steps)
{
    std::string all;
    for (const CommandStep& step : steps)
        all += step.command;
    return all;
}

TEST(CommandSequence, AgereWithoutAmpersandGSendsTheCountryAndTheProfileOnly)
{
    auto steps = CommandSequence(kCommandSetAgere, 181, false);
    EXPECT_EQ("AT%T19,0,b5\r\nAT&F&W\r\n", Joined(steps));
    for (const CommandStep& step : steps) {
        EXPECT_EQ(0, step.pauseBeforeSendMs);
        EXPECT_EQ(0, step.pauseAfterOkMs);
    }
}

TEST(CommandSequence, AgereWithAmpersandGWrapsTheSequence)
{
    EXPECT_EQ("AT&G\r\nAT%T19,0,b5\r\nAT&F&W\r\nAT&G1\r\n", Joined(CommandSequence(kCommandSetAgere, 181, true)));
    EXPECT_EQ("AT&G\r\nAT%T19,0,0\r\nAT&F&W\r\nAT&G1\r\n", Joined(CommandSequence(kCommandSetAgere2, 0, true)));
}

TEST(CommandSequence, ConexantSendsTheCodeInDecimal)
{
    auto steps = CommandSequence(kCommandSetConexant, 181, true);
    EXPECT_EQ("AT*NC181\r\nAT&F&W&W1\r\nATZ\r\n", Joined(steps));
    for (const CommandStep& step : steps)
        EXPECT_EQ(0, step.pauseBeforeSendMs + step.pauseAfterOkMs);
}

TEST(CommandSequence, Conexant2And3PauseAfterTheCountryAndBeforeTheReset)
{
    for (int set : std::vector<int>{kCommandSetConexant2, kCommandSetConexant3, 0, 9}) {
        auto steps = CommandSequence(set, 181, false);
        ASSERT_EQ(3u, steps.size()) << set;
        EXPECT_EQ("AT+GCI=b5\r\n", steps[0].command);
        EXPECT_EQ(1000, steps[0].pauseAfterOkMs);
        EXPECT_EQ(0, steps[0].pauseBeforeSendMs);
        EXPECT_EQ("AT&F&W&W1\r\n", steps[1].command);
        EXPECT_EQ(0, steps[1].pauseBeforeSendMs + steps[1].pauseAfterOkMs);
        EXPECT_EQ("ATZ\r\n", steps[2].command);
        EXPECT_EQ(1000, steps[2].pauseBeforeSendMs);
        EXPECT_EQ(0, steps[2].pauseAfterOkMs);
    }
}

TEST(CommandSequence, HexCodesAreLowerCaseWithoutPrefix)
{
    EXPECT_EQ("b5", HexCountryCode(181));
    EXPECT_EQ("0", HexCountryCode(0));
    EXPECT_EQ("fe", HexCountryCode(254));
}

ModelRecord LockedModel()
{
    ModelRecord model;
    model.name = "Locked";
    model.defaultCommandSet = kCommandSetConexant;
    model.locks = {{4, kCommandSetConexant2}, {5, kCommandSetConexant3}};
    return model;
}

TEST(ChooseCommandSet, ModelsWithoutLocksUseTheirDefault)
{
    ModelRecord model;
    model.defaultCommandSet = kCommandSetAgere2;
    CommandSetChoice choice = ChooseCommandSet(model, "9");
    EXPECT_EQ(kCommandSetAgere2, choice.commandSet);
    EXPECT_FALSE(choice.noLockMatched);
}

TEST(ChooseCommandSet, TheLockOfTheVersionChoosesAndTheLastMatchWins)
{
    EXPECT_EQ(kCommandSetConexant3, ChooseCommandSet(LockedModel(), "5").commandSet);
    EXPECT_EQ(kCommandSetConexant2, ChooseCommandSet(LockedModel(), "4x").commandSet);
    ModelRecord model = LockedModel();
    model.locks.push_back({4, kCommandSetAgere2});
    EXPECT_EQ(kCommandSetAgere2, ChooseCommandSet(model, "4").commandSet);
}

TEST(ChooseCommandSet, NoMatchingLockFallsBackToTheDefault)
{
    CommandSetChoice choice = ChooseCommandSet(LockedModel(), "7");
    EXPECT_EQ(kCommandSetConexant, choice.commandSet);
    EXPECT_TRUE(choice.noLockMatched);
    // A version without digits reads as 0.
    EXPECT_TRUE(ChooseCommandSet(LockedModel(), "a").noLockMatched);
}

}  // namespace
