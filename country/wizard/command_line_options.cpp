#include "country/wizard/command_line_options.h"

#include "country/config/text_fields.h"

namespace {

bool IsFlag(const std::string& parameter)
{
    return !parameter.empty() && (parameter[0] == '-' || parameter[0] == '/');
}

void ApplyFlag(const std::string& flag, CommandLineOptions* options, bool* expectingPort)
{
    if (flag == "c" || flag == "C") {
        *expectingPort = true;
    } else if (flag == "d" || flag == "D") {
        options->commandLineMode = false;
        options->log = true;
    } else if (flag == "l" || flag == "L") {
        options->log = true;
    } else if (flag == "r" || flag == "R") {
        options->commandSetValue = 2;
    } else if (flag == "r2" || flag == "R2") {
        options->commandSetValue = 3;
    } else if (flag == "s" || flag == "S") {
        options->shutDownAfterwards = true;
    } else if (flag == "t" || flag == "T") {
        options->startSibling = true;
    } else if (flag == "q" || flag == "Q") {
        options->quiet = true;
    } else if (flag == "?") {
        options->help = true;
    }
}

}  // namespace

int PortNumberFromText(const std::string& text)
{
    // Users copy the port's name from the system's or the wizard's lists as often as its number.
    if (text.size() > 3 && EqualsNoCase(text.substr(0, 3), "COM")) {
        const std::string digits = text.substr(3);
        for (char c : digits)
            if (c < '0' || c > '9')
                return 0;
        return LeadingInt(digits);
    }
    return LeadingInt(text);
}

CommandLineOptions ParseCommandLine(const std::vector<std::string>& parameters)
{
    CommandLineOptions options;
    bool expectingPort = false;
    for (size_t i = 0; i < parameters.size(); ++i) {
        const std::string& parameter = parameters[i];
        const bool last = i + 1 == parameters.size();
        // Every parameter makes it a command-line start; "d" below turns that off again, and a later
        // parameter turns it back on.
        options.commandLineMode = true;
        if (parameter == "-h" || parameter == "--help") {
            options.usage = true;
            expectingPort = false;
            continue;
        }
        if (IsFlag(parameter)) {
            // A flag where the port was expected leaves the port at its default.
            expectingPort = false;
            ApplyFlag(parameter.substr(1), &options, &expectingPort);
            continue;
        }
        if (expectingPort) {
            options.portNumber = PortNumberFromText(parameter);
            expectingPort = false;
        }
        if (last)
            options.countryCode = ToUpperAscii(parameter);
    }
    return options;
}
