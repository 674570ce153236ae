// The records of an update run, in-process with thread bodies of the test's own: a record for every
// selected device exists before its thread starts, a device whose thread cannot start is recorded
// with that end, and each record follows its device to its own result.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>

#include "ravelin/flash/flashinfo.h"
#include "ravelin/history/hist_journal.h"
#include "ravelin/history/hist_run.h"
#include "ravelin/history/history_test_util.h"

using history_test::TempDir;

namespace {

std::string g_dbPath;
std::atomic<int> g_nSeenBeforeStart{0};

// The flash body: finds its own record already in the history, programs "a while", ends with a
// result of its port's number (COM1 succeeds, COM2 times out).
int recordingBody(DeviceUpdate *pUpdate) {
    HistDb *pDb = hist_OpenExisting(g_dbPath.c_str(), nullptr, 0);
    HistRecord record;
    if (pDb != nullptr && hist_LatestForPort(pDb, flsh_PortDisplayName(pUpdate), &record) &&
        record.nResult == hist_kUnfinished)
        ++g_nSeenBeforeStart;
    hist_Close(pDb);
    flsh_ProgressCallback(pUpdate, flsh_cProgramming, 50, 0);
    pUpdate->nSpeed = 57600;
    pUpdate->nResult = std::string(flsh_PortDisplayName(pUpdate)) == "COM1" ? FR_SUCCESSFUL : FR_TIMEOUT;
    return 0;
}

int ignoreJournal(const char *const *, int, void *) { return 1; }

TEST(HistoryRun, RecordsBegunBeforeTheStartAreNotEndedByIdentificationsStatusAndFollowTheirDevices) {
    TempDir dir;
    g_dbPath = dir.file("history.db");
    g_nSeenBeforeStart = 0;
    hist_SetJournalSinkForTesting(ignoreJournal, nullptr);
    std::string image = dir.file("PADE107.HEX");
    std::FILE *pFile = std::fopen(image.c_str(), "w");
    std::fputs(":00000001FF\r\n", pFile);
    std::fclose(pFile);

    UpdateRun run;
    ASSERT_EQ(flsh_InitRun(&run), 1);
    for (const char *pszPort : {"\\\\.\\COM1", "\\\\.\\COM2", "\\\\.\\COM3"}) ASSERT_GT(flsh_RunAddPort(&run, pszPort, 38400), 0);
    for (int i = 0; i < 2; ++i) {
        RunDevice &device = *run.devices[static_cast<std::size_t>(i)];
        device.bSelected = 1;
        os_CopyBounded(device.szImagePath, image.c_str(), os_kPathLen);
        os_CopyBounded(device.szModel, "PL1400", sizeof device.szModel);
    }
    // COM3 is not selected (identification found nothing there): no record. The selected ones hold
    // identification's status 0 until the run starts them: no record may take that for their end.
    run.devices[2]->pUpdate->nResult = 1;
    run.devices[0]->pUpdate->nResult = 0;
    run.devices[1]->pUpdate->nResult = 0;
    HistRecorder *pRecorder = hist_OpenRecorder("test 1", g_dbPath.c_str(), nullptr, nullptr);
    HistRunRecords records;
    hist_RunBegin(pRecorder, &records, &run);
    ASSERT_EQ(records.rows.size(), 2u);
    for (const HistRunRecord &row : records.rows) EXPECT_FALSE(row.bEnded);
    ASSERT_EQ(flsh_RunStartUpdates(&run, 0, 0, 0, 0, recordingBody), 2);
    ASSERT_TRUE(flsh_RunWaitAllDone(&run, 10000));
    hist_RunPoll(pRecorder, &records, &run);
    EXPECT_EQ(g_nSeenBeforeStart.load(), 2);

    std::map<std::string, HistRecord> byPort;
    HistFilter filter;
    hist_InitFilter(&filter);
    hist_Query(hist_RecorderDb(pRecorder), &filter, [](const HistRecord *p, void *pUser) {
        (*static_cast<std::map<std::string, HistRecord> *>(pUser))[p->szPort] = *p;
        return 1;
    }, &byPort);
    ASSERT_EQ(byPort.size(), 2u);
    EXPECT_EQ(byPort["COM1"].nResult, FR_SUCCESSFUL);
    EXPECT_EQ(byPort["COM2"].nResult, FR_TIMEOUT);
    for (auto &[port, r] : byPort) {
        EXPECT_STREQ(r.szModel, "PL1400") << port;
        EXPECT_STREQ(r.szImage, "PADE107.HEX") << port;
        EXPECT_EQ(r.nSpeed, 57600) << port;
        EXPECT_EQ(std::string(r.szLastStatus).rfind("Programming", 0), 0u) << port << r.szLastStatus;
        EXPECT_EQ(r.nLastPercent, 50) << port;
    }
    // A second poll ends nothing twice.
    hist_RunPoll(pRecorder, &records, &run);
    EXPECT_TRUE(records.rows[0].bEnded && records.rows[1].bEnded);

    // A device whose thread cannot start ends with that result at the first poll.
    HistRunRecords again;
    hist_RunBegin(pRecorder, &again, &run);
    flsh_RunFailThreadStartsForTesting(true);
    flsh_RunStartUpdates(&run, 0, 0, 0, 0, recordingBody);
    flsh_RunFailThreadStartsForTesting(false);
    hist_RunPoll(pRecorder, &again, &run);
    HistRecord latest;
    ASSERT_EQ(hist_LatestForPort(hist_RecorderDb(pRecorder), "COM2", &latest), 1);
    EXPECT_EQ(latest.nId, again.rows[1].record.nId);
    EXPECT_EQ(latest.nResult, FR_THREAD_FAILED);
    EXPECT_STREQ(latest.szResultText, "Unable to start the update thread");
    EXPECT_NE(latest.szEnded[0], '\0');

    hist_CloseRecorder(pRecorder);
    flsh_FreeRun(&run);
    hist_SetJournalSinkForTesting(nullptr, nullptr);
}

}  // namespace
