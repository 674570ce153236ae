// The end of every update as one entry in the system journal, with structured fields a department
// collects with the journal's own forwarding:
//   MESSAGE_ID            hist_kJournalMessageId, the same for every update's end
//   MESSAGE               "COM5: PADE107.HEX onto MODEL-A: Successful"
//   PRIORITY              6 (info) for a success, 4 (warning) otherwise
//   RAVELIN_PORT, RAVELIN_MODEL, RAVELIN_IMAGE, RAVELIN_IMAGE_SHA256,
//   RAVELIN_RESULT        the result code, RAVELIN_RESULT_TEXT its text
//   RAVELIN_HISTORY_ID    the record's id in the history (0 when the history could not be written)
// A device that fails the check of its version after a successful update gets a second entry for the
// same RAVELIN_HISTORY_ID with the result "Failure to verify update": the last entry of an id holds.
// No journal (a container without one) is no error: the entry is dropped. RAVELIN_JOURNAL=off (or 0)
// sends nothing: for a bench that wants no entries, and for the tests, which must not fill the
// machine's own journal.
#pragma once

#include "ravelin/history/history.h"

// Our MESSAGE_ID: 128 bits as 32 hex digits, fixed for good (journalctl MESSAGE_ID=...).
extern const char hist_kJournalMessageId[];

// Where entries go: the fields as "NAME=value" texts. Answers 1 when the entry was taken.
typedef int (*HistJournalSink)(const char *const *ppszFields, int nFields, void *pUser);

// Sends the end of the record's update. Returns what the sink answered (0 without a journal, or when
// RAVELIN_JOURNAL switches the entries off).
int hist_JournalUpdateEnd(const HistRecord *pRecord);

// Tests only: entries go to pfnSink instead of the journal (null puts the journal back).
void hist_SetJournalSinkForTesting(HistJournalSink pfnSink, void *pUser);
