// The records of a whole update run (the wizard's progress page, ravelin-cli run): one per selected
// device, inserted just before flsh_RunStartUpdates (so that a process killed at any moment after the
// first device thread started leaves every record), kept up to date by every poll after it, ended as
// each device gets its result.
#pragma once

#include <vector>

#include "ravelin/history/hist_recorder.h"

struct UpdateRun;

struct HistRunRecord {
    int nDevice = -1;       // index in the run's devices
    bool bEnded = false;
    HistRecord record;
};

struct HistRunRecords {
    std::vector<HistRunRecord> rows;
};

// One record per selected device (image and its version, model, protocol and fixed speed from the run's
// choices), inserted now. Call it before flsh_RunStartUpdates: until then a device's result is still
// its identification's.
void hist_RunBegin(HistRecorder *pRecorder, HistRunRecords *pRecords, UpdateRun *pRun);
// After flsh_RunStartUpdates: progress of the running devices, the end of those that have their result
// (a device the run refused before its thread started ends at the first poll).
void hist_RunPoll(HistRecorder *pRecorder, HistRunRecords *pRecords, UpdateRun *pRun);
// The record of a device (null when it has none).
HistRunRecord *hist_RunRecordOf(HistRunRecords *pRecords, int nDevice);
