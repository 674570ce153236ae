// The records of a whole update run (the wizard's progress page, ravelin-cli run): one per selected
// device, begun after flsh_RunStartUpdates, kept up to date by every poll, ended as each device gets
// its result.
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

// One record per selected device (image and its version, model and fixed speed from the run's choices),
// inserted now; a device the run refused before its thread started is ended at once.
void hist_RunBegin(HistRecorder *pRecorder, HistRunRecords *pRecords, UpdateRun *pRun);
// Progress of the running devices, the end of those that have their result.
void hist_RunPoll(HistRecorder *pRecorder, HistRunRecords *pRecords, UpdateRun *pRun);
// The record of a device (null when it has none).
HistRunRecord *hist_RunRecordOf(HistRunRecords *pRecords, int nDevice);
