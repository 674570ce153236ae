#include "country/config/command_sets.h"

#include "country/config/text_fields.h"

#include <cstdio>

namespace {

// Conexant modems drop commands that follow a country change or a reset too closely.
const int kConexantSettleMs = 1000;

CommandStep Step(const std::string& command, int pauseBeforeSendMs = 0, int pauseAfterOkMs = 0)
{
    CommandStep step;
    step.command = command;
    step.pauseBeforeSendMs = pauseBeforeSendMs;
    step.pauseAfterOkMs = pauseAfterOkMs;
    return step;
}

}  // namespace

CommandSetChoice ChooseCommandSet(const ModelRecord& model, const std::string& versionText)
{
    CommandSetChoice choice;
    choice.commandSet = model.defaultCommandSet;
    if (model.locks.empty())
        return choice;
    int version = LeadingInt(versionText);
    bool matched = false;
    for (const VersionLock& lock : model.locks) {
        if (lock.version == version) {
            choice.commandSet = lock.commandSet;
            matched = true;
        }
    }
    choice.noLockMatched = !matched;
    return choice;
}

std::string HexCountryCode(int code)
{
    char text[16];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(code));
    return text;
}

std::vector<CommandStep> CommandSequence(int commandSet, int countryCode, bool needsAmpersandG)
{
    std::vector<CommandStep> steps;
    const std::string hex = HexCountryCode(countryCode);
    switch (commandSet) {
    case kCommandSetAgere:
    case kCommandSetAgere2:
        if (needsAmpersandG)
            steps.push_back(Step("AT&G\r\n"));
        steps.push_back(Step("AT%T19,0," + hex + "\r\n"));
        steps.push_back(Step("AT&F&W\r\n"));
        if (needsAmpersandG)
            steps.push_back(Step("AT&G1\r\n"));
        break;
    case kCommandSetConexant:
        steps.push_back(Step("AT*NC" + std::to_string(countryCode) + "\r\n"));
        steps.push_back(Step("AT&F&W&W1\r\n"));
        steps.push_back(Step("ATZ\r\n"));
        break;
    default:
        steps.push_back(Step("AT+GCI=" + hex + "\r\n", 0, kConexantSettleMs));
        steps.push_back(Step("AT&F&W&W1\r\n"));
        steps.push_back(Step("ATZ\r\n", kConexantSettleMs, 0));
        break;
    }
    return steps;
}
