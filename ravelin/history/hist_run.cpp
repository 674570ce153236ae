// The run's records: begun from the run's choices, polled with the run, ended with each result.
#include "ravelin/history/hist_run.h"

#include "ravelin/flash/flashinfo.h"
#include "ravelin/support/oswin32.h"

void hist_RunBegin(HistRecorder *pRecorder, HistRunRecords *pRecords, UpdateRun *pRun) {
    for (std::size_t i = 0; i < pRun->devices.size(); ++i) {
        RunDevice &device = *pRun->devices[i];
        if (!device.bSelected) continue;
        HistRunRecord row;
        row.nDevice = static_cast<int>(i);
        HistRecord &r = row.record;
        hist_InitRecord(&r);
        // The run's choices first: a device the run refused never had them copied into its update.
        os_CopyBounded(r.szModel, device.szModel, hist_kTextLen);
        os_CopyBounded(r.szImagePath, device.szImagePath, os_kPathLen);
        if (device.nImage >= 0 && device.nImage < static_cast<int>(pRun->images.size()))
            os_CopyBounded(r.szImageVersion, pRun->images[static_cast<std::size_t>(device.nImage)].szVersionText,
                           hist_kTextLen);
        r.fixedSpeed = device.bFixedSpeed;
        os_CopyBounded(r.szProtocol, hist_ProtocolName(device.flags), hist_kProtocolLen);
        hist_BeginDevice(pRecorder, &r, device.pUpdate);
        pRecords->rows.push_back(row);
    }
}

void hist_RunPoll(HistRecorder *pRecorder, HistRunRecords *pRecords, UpdateRun *pRun) {
    for (HistRunRecord &row : pRecords->rows) {
        if (row.bEnded || row.nDevice < 0 || row.nDevice >= static_cast<int>(pRun->devices.size())) continue;
        DeviceUpdate *pUpdate = pRun->devices[static_cast<std::size_t>(row.nDevice)]->pUpdate;
        if (pUpdate->nResult != FR_NONE) {
            hist_EndDevice(pRecorder, &row.record, pUpdate);
            row.bEnded = true;
        } else {
            hist_ProgressDevice(pRecorder, &row.record, pUpdate);
        }
    }
}

HistRunRecord *hist_RunRecordOf(HistRunRecords *pRecords, int nDevice) {
    for (HistRunRecord &row : pRecords->rows)
        if (row.nDevice == nDevice) return &row;
    return nullptr;
}
