// The country program's command-line parse under hostile input: the bytes split at every NUL are the
// parameters after the program name, as main() hands them to the start-up.
#include "country/config/text_fields.h"
#include "country/wizard/command_line_options.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Fail(const char* what, const std::string& detail)
{
    std::fprintf(stderr, "country_cmdline: %s: %s\n", what, detail.c_str());
    std::abort();
}

std::vector<std::string> SplitAtNul(const uint8_t* data, size_t size)
{
    std::vector<std::string> parameters;
    const std::string input(reinterpret_cast<const char*>(data), size);
    if (input.empty())
        return parameters;
    size_t start = 0;
    for (;;) {
        const size_t nul = input.find('\0', start);
        parameters.push_back(input.substr(start, nul == std::string::npos ? std::string::npos : nul - start));
        if (nul == std::string::npos)
            return parameters;
        start = nul + 1;
    }
}

bool IsFlag(const std::string& parameter)
{
    return !parameter.empty() && (parameter[0] == '-' || parameter[0] == '/');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<std::string> parameters = SplitAtNul(data, size);
    const CommandLineOptions options = ParseCommandLine(parameters);

    // What holds whatever the parameters are: a start without parameters shows the wizard, the country
    // code can only be the last parameter, the port only one of the parameters (or the default).
    if (parameters.empty() && options.commandLineMode)
        Fail("no parameters, yet a command-line start", "");
    if (!parameters.empty()) {
        const std::string& last = parameters.back();
        const bool lastTurnsItOff = last.size() == 2 && IsFlag(last) && (last[1] == 'd' || last[1] == 'D');
        if (options.commandLineMode == lastTurnsItOff)
            Fail("command-line start does not follow the last parameter", last);
        if (!options.countryCode.empty() && options.countryCode != ToUpperAscii(last))
            Fail("country code is not the last parameter", options.countryCode);
        if (options.countryCode.empty() && !last.empty() && !IsFlag(last))
            Fail("the last parameter was not taken as the country code", last);
    }
    if (options.commandSetValue < 1 || options.commandSetValue > 3)
        Fail("command set out of range", std::to_string(options.commandSetValue));
    bool portNamed = options.portNumber == 1;
    for (const std::string& parameter : parameters) {
        const int port = PortNumberFromText(parameter);
        portNamed = portNamed || port == options.portNumber;
        if (parameter.size() > 3 && EqualsNoCase(parameter.substr(0, 3), "COM") && port < 0)
            Fail("a COM name gave a negative port", parameter);
    }
    if (!portNamed)
        Fail("port taken from no parameter", std::to_string(options.portNumber));
    return 0;
}
