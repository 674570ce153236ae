// A record as the named fields ravelin-cli prints (history --json, --csv), in their fixed order. The
// names are what scripts read: they are never renamed, and new ones are only added at the end.
#pragma once

#include <string>

#include "ravelin/history/history.h"

enum HistFieldKind {
    hist_kFieldText,     // a string
    hist_kFieldNumber,   // an integer
    hist_kFieldBool,     // true or false
    hist_kFieldNull,     // no value: "ended" and "result" while unfinished, "resume_of" for a first update,
                         // "last_percent" before any progress
};

struct HistField {
    const char *pszName;
    HistFieldKind kind;
    std::string value;   // the text, or the number's or the truth's digits/word; "" for null
};

constexpr int hist_kFieldCount = 30;

void hist_RecordFields(const HistRecord *pRecord, HistField aFields[hist_kFieldCount]);

// One CSV field (RFC 4180): quoted when it holds a comma, a quote or a line break, quotes doubled.
std::string hist_CsvField(const std::string &text);
