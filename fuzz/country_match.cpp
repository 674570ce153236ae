// The country program's model and firmware-version matching under hostile input. The bytes up to the
// first NUL are what a modem answered; the bytes after it are Models.ini, the only part of the matching
// that comes from a file. Each identification question's pattern picks the answer out of the text with
// the program's regular-expression wrapper, then the worker's steps run on it: the catalogue model,
// the version, the command set its locks choose and the commands that set would send.
#include "country/PortWriter/Regexp2.h"
#include "country/config/catalogue.h"
#include "country/config/command_sets.h"
#include "country/config/executable_dir.h"
#include "country/config/identify.h"
#include "fuzz/fresh_scratch.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

void Fail(const char* what, const std::string& detail)
{
    std::fprintf(stderr, "country_match: %s: %s\n", what, detail.c_str());
    std::abort();
}

bool IsSubstring(const std::string& part, const std::string& whole)
{
    return whole.find(part) != std::string::npos;
}

// What the worker does with one answer, with the checks that hold whatever the answer says.
void Identify(const std::string& answer)
{
    const ModelRecord* model = MatchModel(Models(), answer);
    if (model != nullptr) {
        const size_t at = answer.find(model->name);
        if (model->name.empty() || at == std::string::npos)
            Fail("model matched without its name in the answer", model->name);
        const size_t end = at + model->name.size();
        if (end < answer.size() && std::string("\0\n\r ", 4).find(answer[end]) == std::string::npos)
            Fail("model matched inside a longer word", model->name);
    }
    std::string version;
    const bool versionFound = ParseVersion(answer, &version);
    if (versionFound && !IsSubstring(version, answer))
        Fail("version not taken from the answer", version);
    if (model == nullptr || !(versionFound || ModelNeedsNoVersion(model->name)))
        return;

    const CommandSetChoice choice = ChooseCommandSet(*model, version);
    if (choice.commandSet < kCommandSetAgere || choice.commandSet > kCommandSetAgere2)
        Fail("command set out of range", std::to_string(choice.commandSet));
    if (choice.noLockMatched && (model->locks.empty() || choice.commandSet != model->defaultCommandSet))
        Fail("no lock matched, yet the default set was not taken", model->name);
    // The country code comes from Country.ini in the program: any 32-bit value is possible there.
    const int code = static_cast<int>(answer.size() * 2654435761u);
    for (const CommandStep& step : CommandSequence(choice.commandSet, code, model->needsAmpersandG == 1)) {
        const std::string& command = step.command;
        if (command.size() < 4 || command.compare(0, 2, "AT") != 0 ||
            command.compare(command.size() - 2, 2, "\r\n") != 0)
            Fail("malformed country command", command);
        if (step.pauseBeforeSendMs < 0 || step.pauseAfterOkMs < 0)
            Fail("negative pause", command);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find('\0');
    const std::string text = input.substr(0, split);
    const std::string catalogue = split == std::string::npos ? std::string() : input.substr(split + 1);

    SetExecutableDirectoryOverride(fuzz::ScratchDir());
    fuzz::WriteFreshScratch("Models.ini", reinterpret_cast<const uint8_t*>(catalogue.data()), catalogue.size());
    LoadModels();

    // The raw text too: a question's pattern may take all of it.
    Identify(text);
    for (const IdentifyQuestion& question : IdentifyQuestions()) {
        Regexp2 expression(question.pattern);
        if (!expression.Match(text))
            continue;
        if (expression.SubstringCount() < 1 || expression.SubstringCount() > expression.CaptureCount() + 1)
            Fail("offset pairs out of range", question.pattern);
        for (int i = 0; i < expression.SubstringCount(); ++i)
            if (!IsSubstring(expression.Substring(i), text))
                Fail("capture not taken from the text", question.pattern);
        Identify(expression.Substring(0));
    }
    FreeModels();
    return 0;
}
