// The history as a front end writes it: one recorder per process, opened at the first update, that
// never stops an update. When the database cannot be opened or written the recorder says so once,
// through the warning function (stderr for ravelin-cli) and in hist_RecorderWarning (a line on the
// wizard's status page), and every later write is skipped; the updates go on.
//
// Each device update: hist_InitRecord, what the front end knows that the update record does not (the
// model's name, the image's version, the record resumed), then hist_BeginDevice when the update starts,
// hist_ProgressDevice on every poll, hist_EndDevice when it has its result (which also sends the
// journal entry) and hist_VerifiedDevice after a check of the version.
#pragma once

#include <cstdint>

#include "ravelin/history/history.h"

struct DeviceUpdate;
struct HistRecorder;

typedef void (*HistWarnFn)(const char *pszWarning, void *pUser);

// pszProgram: name and version ("ravelin-cli 1.0.0"). pszPath: the database, null for
// hist_DefaultPath. pfnWarn may be null. Never null.
HistRecorder *hist_OpenRecorder(const char *pszProgram, const char *pszPath, HistWarnFn pfnWarn, void *pUser);
void hist_CloseRecorder(HistRecorder *pRecorder);
// The warning given ("" while the history works), copied into pszText.
void hist_RecorderWarning(HistRecorder *pRecorder, char *pszText, int nCapacity);
// The open database (opening it now when it is not yet), null when it cannot be opened. For queries
// through the same handle; the recorder keeps it.
HistDb *hist_RecorderDb(HistRecorder *pRecorder);

// Fills the record's empty fields from an update record about to start: port, device node and its
// by-path link, model, version and country identification found, image (name, path, size, SHA-256),
// protocol, speed, fixed speed, flash mode. The program's name comes from the recorder.
void hist_FillFromUpdate(HistRecorder *pRecorder, HistRecord *pRecord, const DeviceUpdate *pUpdate);

// Fills (hist_FillFromUpdate) and inserts. Returns the id, 0 when the history is not written.
std::int64_t hist_BeginDevice(HistRecorder *pRecorder, HistRecord *pRecord, const DeviceUpdate *pUpdate);
// Reads the update's status, percent, speed, loader version and rejected blocks; written at most once
// a second.
void hist_ProgressDevice(HistRecorder *pRecorder, HistRecord *pRecord, DeviceUpdate *pUpdate);
// The update has its result: result, its text, detail, last status and the rest, then the journal.
void hist_EndDevice(HistRecorder *pRecorder, HistRecord *pRecord, DeviceUpdate *pUpdate);
// The check after the update: the version the device reported, and why it failed ("" when it did not).
void hist_VerifiedDevice(HistRecorder *pRecorder, HistRecord *pRecord, const char *pszVersion,
                         const char *pszFailure);

// The protocol the family flags choose, as the history names it: "generic", "lucent", "rockwell",
// "siemens" or "dot".
const char *hist_ProtocolName(std::uint32_t flags);

// The by-path link (in pszByPathDir, normally /dev/serial/by-path) that leads to the same device node
// as pszNode; "" when none does. Returns 1 when found.
int hist_FindByPathLink(const char *pszByPathDir, const char *pszNode, char *pszLink, int nCapacity);
