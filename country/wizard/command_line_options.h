// The country program's command line: flags introduced by "-" or "/", a port after "c", and a trailing
// two-letter country code.
#pragma once

#include <string>
#include <vector>

struct CommandLineOptions {
    bool startSibling = false;   // t, T
    bool quiet = false;          // q, Q (accepted, changes nothing)
    // r, R -> 2; r2, R2 -> 3. Kept for scripts that pass it; identification always takes the command
    // set from the identified model's catalogue entry, so the value changes nothing.
    int commandSetValue = 1;
    bool commandLineMode = false;  // any parameter; d, D clears it
    bool shutDownAfterwards = false;  // s, S
    bool log = false;            // l, L; d, D
    bool help = false;           // ?
    bool usage = false;          // -h, --help: the usage text on standard output
    int portNumber = 1;          // the parameter after c, C: a number, or a COM name (COM2 is 2)
    std::string countryCode;     // the last parameter when it is not a flag, in upper case
};

// The port number a "-c" parameter names: "3" or "COM3" (any case); 0 when it names none.
int PortNumberFromText(const std::string& text);

// Parameters in order, without the program name. A flag's text after its introducer must equal a listed
// flag exactly ("r2" is not "r"); other flags are ignored but still make it a command-line start.
CommandLineOptions ParseCommandLine(const std::vector<std::string>& parameters);
