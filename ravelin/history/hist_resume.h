// Interrupted updates as the front ends meet them: the line that names one where the user next
// meets its port, and how an interrupted update is finished (ravelin-cli resume, the wizard's offer).
// Which records need finishing is hist_NeedsResume's one rule (history.h).
#pragma once

#include <cstdint>

#include "ravelin/history/history.h"

// "COM5: the update with PADE107.HEX was interrupted on 2026-12-09 at 10:41 (Programming, 43 %); its
// device may be waiting in its flash loader. To finish it: ravelin-cli resume COM5"
// The date and time are local time, as a person at the bench reads a clock: when the update ended,
// or when it started for one that never ended. "(Programming)" without a percent before any
// progress; "(Starting)" before any status. Returns the text's length (cut to nCapacity - 1).
int hist_InterruptedNotice(const HistRecord *pRecord, char *pszText, int nCapacity);

// The record's start or end time (ISO 8601, UTC) as local date "2026-12-09" and time "10:41".
// Returns 1, or 0 (both left "") when the text is no such time.
int hist_LocalDateTime(const char *pszUtc, char *pszDate, int nDateLen, char *pszTime, int nTimeLen);

// How an interrupted update is taken up again, without identification.
struct HistResumePlan {
    std::int32_t fixedSpeed;   // nonzero: the device waits in its loader; no handshake, no entry command
    std::int32_t nSpeed;       // the speed to program at (the speed the loader ran at, for the generic loader)
    std::int32_t bPowerCycle;  // the user must switch the device off and on (the dot download)
    std::int32_t flashMode;    // as the interrupted update had it
};

// The plan for a record and its model's family flags:
// - the maker's own loader: fixed speed at the recorded speed once the loader had been entered and
//   its speed agreed (the last status was "Handshaking Done" or "Programming"); an update cut off
//   before that, or after the loader was left ("Programming Done"), starts from the start;
// - the dot download: fixed speed (the boot code waits for its dot), after a power cycle;
// - the other protocols: from their start (their own entry finds the device where it is).
void hist_PlanResume(const HistRecord *pRecord, std::uint32_t flags, HistResumePlan *pPlan);

struct DeviceUpdate;
struct UpdateRun;

// Adds the record's port to the run as the one-port path adds -P: not identified, the record's
// image (its path) as an image of the record's model, the plan's speed and fixed speed; a dot device
// is asked to be switched off and on (the power-cycle entry of its protocol). Returns the device's
// index, or -1 when the port or the model is unknown (the catalogue must be loaded).
int hist_AddResumeDevice(UpdateRun *pRun, const HistRecord *pRecord, const char *pszDevicePath);

// The flash thread body of a resumed update. The maker's own loader at fixed speed first waits out
// the loader's second of silence (a block cut off half-way is then dropped); and because a record's
// last status can lag its device by a second, an entry that finds the device elsewhere is tried once
// the other way: fixed speed that gets no prompt for its first block goes on with the handshake from
// the start, a handshake that finds no loader goes on at fixed speed. Other protocols run as the run
// runs them. Stores the result in the record, as flsh_RunProtocol does; returns 0.
int hist_ResumeFlash(DeviceUpdate *pUpdate);

// How long the maker's loader is left silent before a resumed update's first command, in
// milliseconds (scaled by the time scale): longer than the loader's second.
constexpr int hist_kLoaderSilenceMs = 1500;

#include <string>
#include <vector>

struct HistRecorder;

// The latest record of every port that needs finishing (hist_NeedsResume), newest first; only the
// ports named when pPorts is not null (display names, compared without regard to case). The
// database is pszPath, or hist_DefaultPath for null; one that does not exist yet holds none. False
// with the reason in *pError when it cannot be read.
bool hist_FindInterrupted(const char *pszPath, const std::vector<std::string> *pPorts,
                          std::vector<HistRecord> *pRecords, std::string *pError);

// A resumed update's record names the record it finishes: kept in pRecord and written to its row
// (which hist_BeginDevice or hist_RunBegin has inserted). Nothing for a null id or recorder.
void hist_NoteResumeOf(HistRecorder *pRecorder, HistRecord *pRecord, std::int64_t nResumeOf);
