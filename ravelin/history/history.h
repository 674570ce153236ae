// The update history: one record per device update in an SQLite database (history.db beside the
// executable, or the file RAVELIN_HISTORY names), shared by the wizard and ravelin-cli.
//
// A record is inserted when an update starts, its progress is written at most once a second, and it is
// completed when the update ends; every write is a transaction of its own, so a process killed
// half-way leaves a record that says "started, never ended" and how far it got. Several processes may
// write at once (WAL, a busy timeout). The front ends record what the run reports; nothing in the
// update engine knows about the history.
//
// Failures never throw: every function answers 0 (or a null handle) and leaves a text for
// hist_LastError. Every writing function accepts a null handle and then does nothing, so that a front
// end whose database could not be opened goes on updating.
#pragma once

#include <cstdint>

#include "ravelin/support/oswin32.h"

// Text capacities, terminator included; longer texts are cut.
constexpr int hist_kTimeLen = 24;       // "2026-12-09T10:41:07Z"
constexpr int hist_kTextLen = 96;       // host, user, program, model, versions, country, statuses
constexpr int hist_kPortLen = 32;       // "COM5"
constexpr int hist_kShaLen = 65;        // 64 lower-case hex digits
constexpr int hist_kProtocolLen = 16;   // "generic", "lucent", "rockwell", "siemens", "dot"
constexpr int hist_kDetailLen = 256;

// The schema version this program writes (PRAGMA user_version); older databases are migrated forward.
constexpr int hist_kSchemaVersion = 1;

// The result of an update that has not ended (its "result" is null).
constexpr int hist_kUnfinished = -1;

// One device update. Integer fields hold 0 and texts "" when unknown, except nResult (hist_kUnfinished
// while unfinished) and nLastPercent (-1 before any progress). nResumeOf is 0 for "none".
struct HistRecord {
    std::int64_t nId;
    char szStarted[hist_kTimeLen];           // UTC, ISO 8601
    char szEnded[hist_kTimeLen];             // "" while unfinished
    char szHost[hist_kTextLen];
    char szUser[hist_kTextLen];
    char szProgram[hist_kTextLen];           // name and version, "ravelin-cli 1.0.0"
    char szPort[hist_kPortLen];              // display name, "COM5"
    char szPath[os_kPathLen];                // device node, "/dev/ttyS4"
    char szIdentity[os_kPathLen];            // the /dev/serial/by-path link when known
    char szModel[hist_kTextLen];
    char szVersionBefore[hist_kTextLen];     // firmware version identification found
    char szCountry[hist_kTextLen];
    char szImage[hist_kTextLen];             // file name, "PADE107.HEX"
    char szImagePath[os_kPathLen];
    std::int64_t nImageSize;
    char szImageSha256[hist_kShaLen];
    char szImageVersion[hist_kTextLen];
    char szProtocol[hist_kProtocolLen];
    std::int32_t nSpeed;                     // the speed the download ran at
    std::int32_t fixedSpeed;
    std::int32_t flashMode;
    char szLastStatus[hist_kTextLen];
    std::int32_t nLastPercent;
    std::int32_t nResult;                    // an update result (FR_...), hist_kUnfinished while running
    char szResultText[hist_kTextLen];
    char szDetail[hist_kDetailLen];
    std::int32_t nRejectedBlocks;
    char szLoaderVersion[hist_kTextLen];
    char szVerifiedVersion[hist_kTextLen];   // the version read back after the update, when checked
    std::int64_t nResumeOf;                  // the id of the record this update finishes, 0 for none

    // The writer's own bookkeeping (not stored): when progress was last written, and whether a
    // change is waiting for the next second.
    std::int64_t nProgressWrittenMs;
    std::int32_t bProgressPending;
    std::int32_t nProgressSpeed;             // the speed last written with the progress
};

// A fresh record: everything empty, nResult hist_kUnfinished, nLastPercent -1.
void hist_InitRecord(HistRecord *pRecord);

// The database's path: $RAVELIN_HISTORY when set and not empty, else history.db beside the executable
// (the directory log.txt goes to). Returns its length, 0 when it does not fit.
int hist_DefaultPath(char *pszPath, int nCapacity);

struct HistDb;

// Opens (creating when missing) the database, sets WAL and the busy timeout and migrates the schema
// forward. Null on failure, with the reason in pszError (may be null). A database of a newer schema
// than this program knows is refused.
HistDb *hist_Open(const char *pszPath, char *pszError, int nErrorLen);
// Opens only an existing database, without creating or migrating it (for readers).
HistDb *hist_OpenExisting(const char *pszPath, char *pszError, int nErrorLen);
void hist_Close(HistDb *pDb);
// The reason of the last failure on this handle ("" when none).
const char *hist_LastError(const HistDb *pDb);

// The update starts: fills szStarted (now, when empty), host, user when empty, and inserts the record.
// Sets pRecord->nId. Returns the id, 0 on failure (or a null handle).
std::int64_t hist_Insert(HistDb *pDb, HistRecord *pRecord);

// Progress: keeps status and percent in the record and writes them, with the record's speed, loader
// version and rejected blocks (a resume needs the speed the loader runs at), when at least a second
// has passed since the last write (nNowMs from os_MonotonicMs). A change held back is written by the
// next call after the second, or by hist_Complete. Returns 1 when written, 2 when nothing was written
// (held back, or nothing changed), 0 on failure.
int hist_Progress(HistDb *pDb, HistRecord *pRecord, const char *pszStatus, int nPercent, std::int64_t nNowMs);

// The update ended: fills szEnded (now, when empty) and writes every field that the end may have
// learnt (result, texts, speed, loader and verified versions, rejected blocks, last status...).
// Returns 1 when written, 0 on failure.
int hist_Complete(HistDb *pDb, HistRecord *pRecord);

// After the update: the version the device reported when identified again, and why that failed the
// check (may be "" or null). A failed check turns a Successful result into "Failure to verify update"
// (FR_VERIFY_FAILED), the check's text joining the detail. Returns 1 when written.
int hist_SetVerified(HistDb *pDb, std::int64_t nId, const char *pszVersion, const char *pszDetail);

// Reading. A filter field left empty or 0 does not filter.
struct HistFilter {
    char szPort[hist_kPortLen];     // display name, compared without regard to case
    char szSince[hist_kTimeLen];    // "2026-12-09" or "2026-12-09T10:00:00Z": started at or after
    std::int32_t bFailed;           // ended with a result other than Successful
    std::int32_t bUnfinished;       // never ended
    std::int32_t nLimit;            // at most this many records (0: all)
};
void hist_InitFilter(HistFilter *pFilter);

// Called once per record, newest first; answers nonzero to go on, 0 to stop.
typedef int (*HistRecordFn)(const HistRecord *pRecord, void *pUser);

// Records that pass the filter, newest first (both conditions when bFailed and bUnfinished are set
// match either). Returns the number of records handed over, -1 on failure.
int hist_Query(HistDb *pDb, const HistFilter *pFilter, HistRecordFn pfnRecord, void *pUser);
// One record by its id. Returns 1 when found.
int hist_Get(HistDb *pDb, std::int64_t nId, HistRecord *pRecord);
// The newest record of a port (display name). Returns 1 when found.
int hist_LatestForPort(HistDb *pDb, const char *pszPort, HistRecord *pRecord);
// The newest record of every port, newest first. Returns the count, -1 on failure.
int hist_LatestPerPort(HistDb *pDb, HistRecordFn pfnRecord, void *pUser);
// The newest record of every port when that record needs finishing (hist_NeedsResume), newest first.
// Returns the count, -1 on failure.
int hist_Interrupted(HistDb *pDb, HistRecordFn pfnRecord, void *pUser);

// True when the record's update may have left its device in the flash loader: it never ended, or it
// ended with a result that the loader can be left running after (handshake failure, abort, time-out,
// verify failure, loader version failure, after-flash failure, no dot, the line lost, ...), unless the
// device reported a version when identified again after it (then it runs its firmware).
bool hist_NeedsResume(const HistRecord *pRecord);

// PRAGMA integrity_check: 1 when it says "ok", else 0 with its first complaint in pszResult.
int hist_IntegrityCheck(HistDb *pDb, char *pszResult, int nCapacity);

// The current UTC time as ISO 8601 ("2026-12-09T10:41:07Z").
void hist_UtcNow(char *pszTime, int nCapacity);
