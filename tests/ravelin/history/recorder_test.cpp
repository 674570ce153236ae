// The front ends' recorder over real update records: what it fills in, the journal entry at the end,
// one warning for a history that cannot be written, several processes writing one database at once.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "ravelin/flash/flsh.h"
#include "ravelin/history/hist_journal.h"
#include "ravelin/history/hist_recorder.h"
#include "ravelin/history/hist_sha256.h"
#include "ravelin/history/history_test_util.h"
#include "ravelin/support/oswin32.h"

using history_test::TempDir;

namespace {

struct JournalFake {
    std::vector<std::map<std::string, std::string>> entries;
    static int sink(const char *const *ppszFields, int nFields, void *pUser) {
        std::map<std::string, std::string> entry;
        for (int i = 0; i < nFields; ++i) {
            std::string field = ppszFields[i];
            std::size_t at = field.find('=');
            entry[field.substr(0, at)] = field.substr(at + 1);
        }
        static_cast<JournalFake *>(pUser)->entries.push_back(entry);
        return 1;
    }
};

struct Warnings {
    std::vector<std::string> texts;
    static void note(const char *pszText, void *pUser) { static_cast<Warnings *>(pUser)->texts.push_back(pszText); }
};

class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        hist_SetJournalSinkForTesting(JournalFake::sink, &journal);
        ASSERT_EQ(flsh_InitDeviceUpdate(&update, "\\\\.\\COM5"), 1);
        image = dir.file("PADE107.HEX");
        std::FILE *pFile = std::fopen(image.c_str(), "w");
        std::fputs(":10020000000102030405060708090A0B0C0D0E0F68\r\n:00000001FF\r\n", pFile);
        std::fclose(pFile);
        os_CopyBounded(update.szImagePath, image.c_str(), os_kPathLen);
        os_CopyBounded(update.identity.szModel, "PL1400", devid_kTextLen);
        os_CopyBounded(update.identity.szVersion, " 1.05 ", devid_kTextLen);
        os_CopyBounded(update.identity.szCountry, "Germany", devid_kTextLen);
        update.nSpeed = 115200;
    }
    void TearDown() override {
        flsh_FreeDeviceUpdate(&update);
        hist_SetJournalSinkForTesting(nullptr, nullptr);
    }
    TempDir dir;
    DeviceUpdate update;
    std::string image;
    JournalFake journal;
    Warnings warnings;
};

TEST_F(RecorderTest, AnUpdateFromStartToEndIsRecordedAndJournalled) {
    std::string db = dir.file("history.db");
    HistRecorder *pRecorder = hist_OpenRecorder("ravelin-cli 9.9", db.c_str(), Warnings::note, &warnings);
    HistRecord record;
    hist_InitRecord(&record);
    ASSERT_GT(hist_BeginDevice(pRecorder, &record, &update), 0);

    flsh_ProgressCallback(&update, flsh_cProgramming, 43, 0);
    os_CopyBounded(update.szLoaderVersion, "2.0", flsh_kLoaderVersionLen);
    update.nSpeed = 57600;
    hist_ProgressDevice(pRecorder, &record, &update);
    HistRecord stored;
    ASSERT_EQ(hist_Get(hist_RecorderDb(pRecorder), record.nId, &stored), 1);
    EXPECT_EQ(stored.nResult, hist_kUnfinished);
    EXPECT_EQ(stored.nLastPercent, 43);
    EXPECT_EQ(std::string(stored.szLastStatus).rfind("Programming", 0), 0u) << stored.szLastStatus;
    EXPECT_EQ(stored.nSpeed, 57600);
    EXPECT_STREQ(stored.szLoaderVersion, "2.0");
    EXPECT_TRUE(journal.entries.empty());

    update.nResult = FR_TIMEOUT;
    flsh_SetResultDetail(&update, "the line was lost");
    hist_EndDevice(pRecorder, &record, &update);
    ASSERT_EQ(hist_Get(hist_RecorderDb(pRecorder), record.nId, &stored), 1);
    EXPECT_STREQ(stored.szProgram, "ravelin-cli 9.9");
    EXPECT_STREQ(stored.szPort, "COM5");
    EXPECT_STREQ(stored.szModel, "PL1400");
    EXPECT_STREQ(stored.szVersionBefore, "1.05");
    EXPECT_STREQ(stored.szCountry, "Germany");
    EXPECT_STREQ(stored.szImage, "PADE107.HEX");
    EXPECT_STREQ(stored.szImagePath, image.c_str());
    char szSum[hist_kShaLen];
    std::int64_t nSize = 0;
    ASSERT_EQ(hist_Sha256File(image.c_str(), szSum, &nSize), 1);
    EXPECT_STREQ(stored.szImageSha256, szSum);
    EXPECT_EQ(stored.nImageSize, nSize);
    EXPECT_STREQ(stored.szProtocol, "generic");
    EXPECT_EQ(stored.nResult, FR_TIMEOUT);
    EXPECT_STREQ(stored.szResultText, "Timeout updating device");
    EXPECT_STREQ(stored.szDetail, "the line was lost");
    EXPECT_TRUE(hist_NeedsResume(&stored));

    ASSERT_EQ(journal.entries.size(), 1u);
    const auto &entry = journal.entries[0];
    EXPECT_EQ(entry.at("MESSAGE_ID"), hist_kJournalMessageId);
    EXPECT_EQ(std::string(hist_kJournalMessageId).size(), 32u);
    EXPECT_EQ(entry.at("RAVELIN_PORT"), "COM5");
    EXPECT_EQ(entry.at("RAVELIN_MODEL"), "PL1400");
    EXPECT_EQ(entry.at("RAVELIN_IMAGE"), "PADE107.HEX");
    EXPECT_EQ(entry.at("RAVELIN_IMAGE_SHA256"), szSum);
    EXPECT_EQ(entry.at("RAVELIN_RESULT"), "5");
    EXPECT_EQ(entry.at("RAVELIN_RESULT_TEXT"), "Timeout updating device");
    EXPECT_EQ(entry.at("RAVELIN_HISTORY_ID"), std::to_string(record.nId));
    EXPECT_EQ(entry.at("PRIORITY"), "4");
    EXPECT_EQ(entry.at("MESSAGE"), "COM5: PADE107.HEX onto PL1400: Timeout updating device (the line was lost)");
    EXPECT_TRUE(warnings.texts.empty());
    hist_CloseRecorder(pRecorder);
}

TEST_F(RecorderTest, TheJournalSwitchedOffHearsNothingAndTheHistoryStillDoes) {
    HistRecorder *pRecorder = hist_OpenRecorder("t", dir.file("h.db").c_str(), nullptr, nullptr);
    for (const char *pszSwitch : {"off", "0", "on"}) {
        ::setenv("RAVELIN_JOURNAL", pszSwitch, 1);
        journal.entries.clear();
        HistRecord record;
        hist_InitRecord(&record);
        ASSERT_GT(hist_BeginDevice(pRecorder, &record, &update), 0);
        update.nResult = FR_SUCCESSFUL;
        hist_EndDevice(pRecorder, &record, &update);
        HistRecord stored;
        ASSERT_EQ(hist_Get(hist_RecorderDb(pRecorder), record.nId, &stored), 1);
        EXPECT_EQ(stored.nResult, FR_SUCCESSFUL);
        EXPECT_EQ(journal.entries.size(), std::strcmp(pszSwitch, "on") == 0 ? 1u : 0u) << pszSwitch;
    }
    ::unsetenv("RAVELIN_JOURNAL");
    hist_CloseRecorder(pRecorder);
}

TEST_F(RecorderTest, AFailedCheckOfTheVersionTurnsSuccessIntoAVerifyFailure) {
    HistRecorder *pRecorder = hist_OpenRecorder("t", dir.file("h.db").c_str(), nullptr, nullptr);
    struct Case {
        const char *pszVersion, *pszFailure;
        int nResult;
        bool bResume;
    } cases[] = {
        {"1.07", "", FR_SUCCESSFUL, false},
        {"1.05", "updated, but reports version 1.05", FR_VERIFY_FAILED, false},
        {"", "updated, but reports no version (identification status 1)", FR_VERIFY_FAILED, true},
    };
    for (const Case &c : cases) {
        HistRecord record;
        hist_InitRecord(&record);
        ASSERT_GT(hist_BeginDevice(pRecorder, &record, &update), 0);
        update.nResult = FR_SUCCESSFUL;
        update.szResultDetail[0] = '\0';
        hist_EndDevice(pRecorder, &record, &update);
        hist_VerifiedDevice(pRecorder, &record, c.pszVersion, c.pszFailure);
        HistRecord stored;
        ASSERT_EQ(hist_Get(hist_RecorderDb(pRecorder), record.nId, &stored), 1);
        EXPECT_EQ(stored.nResult, c.nResult) << c.pszFailure;
        EXPECT_EQ(record.nResult, c.nResult) << c.pszFailure;
        EXPECT_STREQ(stored.szVerifiedVersion, c.pszVersion);
        EXPECT_STREQ(stored.szDetail, c.pszFailure);
        EXPECT_EQ(hist_NeedsResume(&stored), c.bResume) << c.pszFailure;
        // The journal's last entry for the id holds the result that stands.
        ASSERT_FALSE(journal.entries.empty());
        EXPECT_EQ(journal.entries.back().at("RAVELIN_HISTORY_ID"), std::to_string(record.nId));
        EXPECT_EQ(journal.entries.back().at("RAVELIN_RESULT"), std::to_string(c.nResult));
    }
    hist_CloseRecorder(pRecorder);
}

TEST_F(RecorderTest, AHistoryThatCannotBeWrittenWarnsOnceAndTheJournalStillHearsTheEnd) {
    std::filesystem::create_directory(dir.file("ro"));
    // An existing database made read-only after it was created: opening works, writing does not.
    std::string readOnly = dir.file("ro/history.db");
    hist_Close(hist_Open(readOnly.c_str(), nullptr, 0));
    chmod(readOnly.c_str(), 0444);
    chmod(dir.file("ro").c_str(), 0555);
    // A database that opens but takes no record: its table is gone (works for root too, who writes
    // read-only files anyway).
    std::string broken = dir.file("broken.db");
    hist_Close(hist_Open(broken.c_str(), nullptr, 0));
    sqlite3 *pRaw = nullptr;
    ASSERT_EQ(sqlite3_open(broken.c_str(), &pRaw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(pRaw, "DROP TABLE updates", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(pRaw);
    std::vector<std::string> places = {dir.file("missing/history.db"), broken};
    places.push_back(geteuid() != 0 ? readOnly : "/proc/ravelin-history-test.db");
    for (const std::string &place : places) {
        SCOPED_TRACE(place);
        warnings.texts.clear();
        journal.entries.clear();
        HistRecorder *pRecorder = hist_OpenRecorder("t", place.c_str(), Warnings::note, &warnings);
        for (int i = 0; i < 3; ++i) {
            HistRecord record;
            hist_InitRecord(&record);
            hist_BeginDevice(pRecorder, &record, &update);
            flsh_ProgressCallback(&update, flsh_cProgramming, 10 * i, 0);
            hist_ProgressDevice(pRecorder, &record, &update);
            update.nResult = FR_SUCCESSFUL;
            hist_EndDevice(pRecorder, &record, &update);
            EXPECT_STREQ(record.szImageSha256, journal.entries.back().at("RAVELIN_IMAGE_SHA256").c_str());
        }
        ASSERT_EQ(warnings.texts.size(), 1u);
        EXPECT_EQ(warnings.texts[0].rfind("the update history cannot be written (", 0), 0u) << warnings.texts[0];
        char szWarning[512];
        hist_RecorderWarning(pRecorder, szWarning, sizeof szWarning);
        EXPECT_EQ(warnings.texts[0], szWarning);
        EXPECT_EQ(journal.entries.size(), 3u);
        hist_CloseRecorder(pRecorder);
    }
    chmod(dir.file("ro").c_str(), 0755);
}

TEST_F(RecorderTest, ARelativeImagePathIsRecordedAsAnAbsoluteOne) {
    char szCwd[PATH_MAX];
    ASSERT_NE(getcwd(szCwd, sizeof szCwd), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    os_CopyBounded(update.szImagePath, "PADE107.HEX", os_kPathLen);
    HistRecorder *pRecorder = hist_OpenRecorder("t", dir.file("h.db").c_str(), nullptr, nullptr);
    HistRecord record;
    hist_InitRecord(&record);
    hist_FillFromUpdate(pRecorder, &record, &update);
    EXPECT_EQ(chdir(szCwd), 0);
    char szReal[PATH_MAX];
    ASSERT_NE(realpath(image.c_str(), szReal), nullptr);
    char szRecorded[PATH_MAX];
    ASSERT_NE(realpath(record.szImagePath, szRecorded), nullptr) << record.szImagePath;
    EXPECT_EQ(record.szImagePath[0], '/');
    EXPECT_STREQ(szRecorded, szReal);
    EXPECT_STREQ(record.szImage, "PADE107.HEX");
    EXPECT_EQ(std::string(record.szImageSha256).size(), 64u);
    hist_CloseRecorder(pRecorder);
}

TEST(HistoryByPath, TheLinkToTheSameNodeIsFound) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("by-path"));
    for (const char *pszNode : {"ttyS0", "ttyS4"}) {
        std::FILE *pFile = std::fopen(dir.file(pszNode).c_str(), "w");
        std::fclose(pFile);
    }
    std::filesystem::create_symlink(dir.file("ttyS0"), dir.file("by-path/pci-0000:00:16.3-serial"));
    std::filesystem::create_symlink(dir.file("ttyS4"), dir.file("by-path/pnp-0000:04-serial"));
    char szLink[os_kPathLen];
    EXPECT_EQ(hist_FindByPathLink(dir.file("by-path").c_str(), dir.file("ttyS4").c_str(), szLink, sizeof szLink), 1);
    EXPECT_EQ(std::string(szLink), dir.file("by-path/pnp-0000:04-serial"));
    EXPECT_EQ(hist_FindByPathLink(dir.file("by-path").c_str(), dir.file("ttyS9").c_str(), szLink, sizeof szLink), 0);
    EXPECT_STREQ(szLink, "");
    EXPECT_EQ(hist_FindByPathLink(dir.file("nowhere").c_str(), dir.file("ttyS4").c_str(), szLink, sizeof szLink), 0);
}

// Several benches' processes on one database: each forks, inserts, progresses and completes its own
// records as fast as it can. Every record of every process is there, complete, and the file is sound.
TEST(HistoryProcesses, SeveralProcessesWriteAtOnceAndNothingIsLost) {
    TempDir dir;
    std::string db = dir.file("history.db");
    constexpr int kProcesses = 4;
    constexpr int kRecords = 40;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        pid_t pid = fork();
        if (pid == 0) {
            HistDb *pDb = hist_Open(db.c_str(), nullptr, 0);
            int nFailures = pDb == nullptr ? 1 : 0;
            for (int i = 0; pDb != nullptr && i < kRecords; ++i) {
                HistRecord r = history_test::SampleRecord(("COM" + std::to_string(p + 1)).c_str());
                r.nRejectedBlocks = i;
                if (hist_Insert(pDb, &r) <= 0) ++nFailures;
                if (hist_Progress(pDb, &r, "Programming", i, 1000 + i * 1000) != 1) ++nFailures;
                r.nResult = FR_SUCCESSFUL;
                if (hist_Complete(pDb, &r) != 1) ++nFailures;
            }
            hist_Close(pDb);
            _exit(nFailures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed";
    }
    HistDb *pDb = hist_OpenExisting(db.c_str(), nullptr, 0);
    ASSERT_NE(pDb, nullptr);
    for (int p = 0; p < kProcesses; ++p) {
        HistFilter filter;
        hist_InitFilter(&filter);
        os_CopyBounded(filter.szPort, ("COM" + std::to_string(p + 1)).c_str(), sizeof filter.szPort);
        std::vector<int> seen;
        hist_Query(pDb, &filter, [](const HistRecord *r, void *pUser) {
            if (r->nResult == FR_SUCCESSFUL && r->nLastPercent == r->nRejectedBlocks)
                static_cast<std::vector<int> *>(pUser)->push_back(r->nRejectedBlocks);
            return 1;
        }, &seen);
        EXPECT_EQ(seen.size(), static_cast<std::size_t>(kRecords)) << "COM" << p + 1;
    }
    char szCheck[256];
    EXPECT_EQ(hist_IntegrityCheck(pDb, szCheck, sizeof szCheck), 1) << szCheck;
    hist_Close(pDb);
}

}  // namespace
