// The chip families' country command sequences, as data: which set a modem needs, what each step sends
// and where a step pauses. The worker (ModemJob) sends them; keeping them apart from the I/O lets tests
// check every byte without a port.
#pragma once

#include "country/config/catalogue.h"

#include <string>
#include <vector>

struct CommandStep {
    std::string command;       // sent exactly as is, CR LF included
    int pauseBeforeSendMs = 0;  // between the Flush and the Send
    int pauseAfterOkMs = 0;     // after the step's "OK"
};

struct CommandSetChoice {
    int commandSet = kCommandSetAgere;
    // True when the model has version locks but none names this version: the default set is used then.
    bool noLockMatched = false;
};

// No locks: the model's default set. With locks: the set of the last lock whose version equals the
// version text read as a decimal number; when none does, the default set again.
CommandSetChoice ChooseCommandSet(const ModelRecord& model, const std::string& versionText);

// The country code as the modem is given it: lower-case hexadecimal without prefix (181 gives "b5").
std::string HexCountryCode(int code);

// The steps of one command set, in order; values outside 1-5 send the Conexant2/3 sequence.
std::vector<CommandStep> CommandSequence(int commandSet, int countryCode, bool needsAmpersandG);
