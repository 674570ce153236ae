// Reading a modem's identification answers: which catalogue model it is and which firmware version it
// carries. Pure text work, apart from the worker's I/O.
#pragma once

#include "country/config/catalogue.h"

#include <string>
#include <vector>

// One identification question: the command sent, the pattern whose whole match is the answer read,
// and how long (logical ms) the answer may take.
struct IdentifyQuestion {
    const char* command;
    const char* pattern;
    long timeoutMs;
};

// ATI first; then, in order, the further questions asked while the model or the version is unknown.
const std::vector<IdentifyQuestion>& IdentifyQuestions();

// Models of the 56000 line print no version in any answer: their name is all it takes.
bool ModelNeedsNoVersion(const std::string& modelName);

// The first model, in catalogue order, whose name stands in the answer as a whole word: its first
// occurrence must be followed by the end of the text, NUL, LF, CR or a space (so "AB12" does not match
// "AB12-X"; a later occurrence is not considered). nullptr when no model passes.
const ModelRecord* MatchModel(const std::vector<ModelRecord>& models, const std::string& answer);

// The firmware version digit(s) of an answer; false when the answer holds none.
//  - with "Version": the character before the first "." after it ("Modem Version 3.2a" gives "3");
//  - else with "_V": the text after it up to the next "." ("_V2.15" gives "2");
//  - else an answer that begins with a letter: the text from its second character up to the first ".";
//  - else the character before the first ".".
bool ParseVersion(const std::string& answer, std::string* version);
