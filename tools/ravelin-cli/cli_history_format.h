// The forms of ravelin-cli history's output, and the reading of its --since.
#pragma once

#include <string>

#include "ravelin/history/history.h"

// "2026-12-09", "2026-12-09T10:00", "2026-12-09 10:00:00Z": the same prefix of the records' own form,
// which then compares as the time it names. False for anything else.
bool cli_HistorySince(const std::string &text, std::string *pSince);
// One record as a JSON object on one line, with exactly the keys of hist_RecordFields.
std::string cli_HistoryJson(const HistRecord &record);
// The CSV header row and one record's row (no line end).
std::string cli_HistoryCsvHeader();
std::string cli_HistoryCsv(const HistRecord &record);
