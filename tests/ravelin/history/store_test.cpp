// The history's store: records written at start, progress and end read back field by field; the
// queries the front ends and resume rely on; the schema version and its migration.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "ravelin/history/history_test_util.h"
#include "ravelin/flash/flsh.h"

using history_test::SampleRecord;
using history_test::TempDir;

namespace {

std::vector<HistRecord> Collect(HistDb *pDb, const HistFilter &filter) {
    std::vector<HistRecord> out;
    int n = hist_Query(pDb, &filter, [](const HistRecord *p, void *pUser) {
        static_cast<std::vector<HistRecord> *>(pUser)->push_back(*p);
        return 1;
    }, &out);
    EXPECT_EQ(n, static_cast<int>(out.size()));
    return out;
}

std::vector<HistRecord> All(HistDb *pDb) {
    HistFilter filter;
    hist_InitFilter(&filter);
    return Collect(pDb, filter);
}

// Inserts and ends one update with the given result.
std::int64_t Finished(HistDb *pDb, const char *pszPort, int nResult, const char *pszDetail = "") {
    HistRecord r = SampleRecord(pszPort);
    EXPECT_GT(hist_Insert(pDb, &r), 0);
    r.nResult = nResult;
    os_CopyBounded(r.szResultText, flsh_ResultText(nResult), sizeof r.szResultText);
    os_CopyBounded(r.szDetail, pszDetail, sizeof r.szDetail);
    EXPECT_EQ(hist_Complete(pDb, &r), 1);
    return r.nId;
}

class HistoryStore : public ::testing::Test {
protected:
    void SetUp() override {
        char szError[256];
        m_pDb = hist_Open(m_dir.file("history.db").c_str(), szError, sizeof szError);
        ASSERT_NE(m_pDb, nullptr) << szError;
    }
    void TearDown() override { hist_Close(m_pDb); }
    TempDir m_dir;
    HistDb *m_pDb = nullptr;
};

TEST_F(HistoryStore, StartProgressAndEndAreReadBackFieldByField) {
    HistRecord r = SampleRecord("COM5");
    os_CopyBounded(r.szIdentity, "/dev/serial/by-path/pci-0000:00:16.3-serial", sizeof r.szIdentity);
    os_CopyBounded(r.szVersionBefore, "1.04", sizeof r.szVersionBefore);
    os_CopyBounded(r.szCountry, "Germany", sizeof r.szCountry);
    os_CopyBounded(r.szImagePath, "/srv/images/PADE107.HEX", sizeof r.szImagePath);
    r.nImageSize = 123456;
    os_CopyBounded(r.szImageSha256, std::string(64, 'a').c_str(), sizeof r.szImageSha256);
    os_CopyBounded(r.szImageVersion, "1.07", sizeof r.szImageVersion);
    r.fixedSpeed = 1;
    r.flashMode = 2;
    ASSERT_GT(hist_Insert(m_pDb, &r), 0);
    EXPECT_NE(r.szStarted[0], '\0');
    EXPECT_NE(r.szHost[0], '\0');
    EXPECT_NE(r.szUser[0], '\0');

    HistRecord stored;
    ASSERT_EQ(hist_Get(m_pDb, r.nId, &stored), 1);
    EXPECT_STREQ(stored.szEnded, "");
    EXPECT_EQ(stored.nResult, hist_kUnfinished);
    EXPECT_EQ(stored.nResumeOf, 0);
    EXPECT_EQ(stored.nLastPercent, -1);

    ASSERT_EQ(hist_Progress(m_pDb, &r, "Programming", 43, 5000), 1);
    ASSERT_EQ(hist_Get(m_pDb, r.nId, &stored), 1);
    EXPECT_STREQ(stored.szLastStatus, "Programming");
    EXPECT_EQ(stored.nLastPercent, 43);
    EXPECT_EQ(stored.nResult, hist_kUnfinished);

    r.nResult = FR_SUCCESSFUL;
    os_CopyBounded(r.szResultText, "Successful", sizeof r.szResultText);
    os_CopyBounded(r.szLoaderVersion, "1.08", sizeof r.szLoaderVersion);
    os_CopyBounded(r.szVerifiedVersion, "1.07", sizeof r.szVerifiedVersion);
    os_CopyBounded(r.szLastStatus, "Programming Done", sizeof r.szLastStatus);
    r.nLastPercent = 100;
    r.nRejectedBlocks = 2;
    r.nSpeed = 57600;  // the handshake lowered it
    ASSERT_EQ(hist_Complete(m_pDb, &r), 1);
    ASSERT_EQ(hist_Get(m_pDb, r.nId, &stored), 1);

    EXPECT_STREQ(stored.szStarted, r.szStarted);
    EXPECT_STREQ(stored.szEnded, r.szEnded);
    EXPECT_GE(std::string(stored.szEnded), std::string(stored.szStarted));
    EXPECT_STREQ(stored.szHost, r.szHost);
    EXPECT_STREQ(stored.szUser, r.szUser);
    EXPECT_STREQ(stored.szProgram, "ravelin-cli 1.0.0");
    EXPECT_STREQ(stored.szPort, "COM5");
    EXPECT_STREQ(stored.szPath, "/dev/pts/COM5");
    EXPECT_STREQ(stored.szIdentity, "/dev/serial/by-path/pci-0000:00:16.3-serial");
    EXPECT_STREQ(stored.szModel, "MODEL-A");
    EXPECT_STREQ(stored.szVersionBefore, "1.04");
    EXPECT_STREQ(stored.szCountry, "Germany");
    EXPECT_STREQ(stored.szImage, "PADE107.HEX");
    EXPECT_STREQ(stored.szImagePath, "/srv/images/PADE107.HEX");
    EXPECT_EQ(stored.nImageSize, 123456);
    EXPECT_EQ(std::string(stored.szImageSha256), std::string(64, 'a'));
    EXPECT_STREQ(stored.szImageVersion, "1.07");
    EXPECT_STREQ(stored.szProtocol, "generic");
    EXPECT_EQ(stored.nSpeed, 57600);
    EXPECT_EQ(stored.fixedSpeed, 1);
    EXPECT_EQ(stored.flashMode, 2);
    EXPECT_STREQ(stored.szLastStatus, "Programming Done");
    EXPECT_EQ(stored.nLastPercent, 100);
    EXPECT_EQ(stored.nResult, FR_SUCCESSFUL);
    EXPECT_STREQ(stored.szResultText, "Successful");
    EXPECT_EQ(stored.nRejectedBlocks, 2);
    EXPECT_STREQ(stored.szLoaderVersion, "1.08");
    EXPECT_STREQ(stored.szVerifiedVersion, "1.07");
}

TEST_F(HistoryStore, ProgressIsWrittenAtMostOnceASecondAndNothingHeldBackIsLost) {
    HistRecord r = SampleRecord("COM1");
    ASSERT_GT(hist_Insert(m_pDb, &r), 0);
    HistRecord stored;
    EXPECT_EQ(hist_Progress(m_pDb, &r, "Programming", 10, 1000), 1);
    EXPECT_EQ(hist_Progress(m_pDb, &r, "Programming", 20, 1500), 2);
    ASSERT_EQ(hist_Get(m_pDb, r.nId, &stored), 1);
    EXPECT_EQ(stored.nLastPercent, 10);
    // Nothing new, a second later: the held-back 20 % goes out now.
    EXPECT_EQ(hist_Progress(m_pDb, &r, "Programming", 20, 2000), 1);
    ASSERT_EQ(hist_Get(m_pDb, r.nId, &stored), 1);
    EXPECT_EQ(stored.nLastPercent, 20);
    // Nothing changed and nothing pending: no write.
    EXPECT_EQ(hist_Progress(m_pDb, &r, "Programming", 20, 9000), 2);
}

TEST_F(HistoryStore, QueriesFilterAndListNewestFirst) {
    std::int64_t a = Finished(m_pDb, "COM1", FR_SUCCESSFUL);
    std::int64_t b = Finished(m_pDb, "COM2", FR_TIMEOUT);
    HistRecord open = SampleRecord("com1");
    ASSERT_GT(hist_Insert(m_pDb, &open), 0);

    std::vector<HistRecord> all = All(m_pDb);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].nId, open.nId);
    EXPECT_EQ(all[1].nId, b);
    EXPECT_EQ(all[2].nId, a);

    struct Case {
        const char *pszPort;
        int bFailed, bUnfinished;
        std::vector<std::int64_t> ids;
    } cases[] = {
        {"COM1", 0, 0, {open.nId, a}},      // the port's name in any case
        {"", 1, 0, {b}},
        {"", 0, 1, {open.nId}},
        {"", 1, 1, {open.nId, b}},
        {"COM2", 0, 1, {}},
        {"COM9", 0, 0, {}},
    };
    for (const Case &c : cases) {
        HistFilter filter;
        hist_InitFilter(&filter);
        os_CopyBounded(filter.szPort, c.pszPort, sizeof filter.szPort);
        filter.bFailed = c.bFailed;
        filter.bUnfinished = c.bUnfinished;
        std::vector<std::int64_t> ids;
        for (const HistRecord &r : Collect(m_pDb, filter)) ids.push_back(r.nId);
        EXPECT_EQ(ids, c.ids) << c.pszPort << " failed " << c.bFailed << " unfinished " << c.bUnfinished;
    }

    HistFilter since;
    hist_InitFilter(&since);
    os_CopyBounded(since.szSince, "2999-01-01", sizeof since.szSince);
    EXPECT_TRUE(Collect(m_pDb, since).empty());
    os_CopyBounded(since.szSince, "2000-01-01", sizeof since.szSince);
    EXPECT_EQ(Collect(m_pDb, since).size(), 3u);
    since.nLimit = 1;
    EXPECT_EQ(Collect(m_pDb, since).size(), 1u);
}

TEST_F(HistoryStore, LatestPerPortAndTheInterruptedOnes) {
    Finished(m_pDb, "COM1", FR_TIMEOUT);
    std::int64_t com1 = Finished(m_pDb, "COM1", FR_SUCCESSFUL);   // finished since: nothing to resume
    Finished(m_pDb, "COM2", FR_SUCCESSFUL);
    HistRecord com2 = SampleRecord("COM2");                       // then interrupted
    ASSERT_GT(hist_Insert(m_pDb, &com2), 0);
    std::int64_t com3 = Finished(m_pDb, "COM3", FR_PORT_OPEN_FAILED);
    std::int64_t com4 = Finished(m_pDb, "COM4", FR_BAD_HEX, "the line was lost");

    HistRecord latest;
    ASSERT_EQ(hist_LatestForPort(m_pDb, "com1", &latest), 1);
    EXPECT_EQ(latest.nId, com1);
    EXPECT_EQ(hist_LatestForPort(m_pDb, "COM7", &latest), 0);

    auto ids = [](HistDb *pDb, int (*pfnQuery)(HistDb *, HistRecordFn, void *)) {
        std::vector<std::int64_t> out;
        pfnQuery(pDb, [](const HistRecord *p, void *pUser) {
            static_cast<std::vector<std::int64_t> *>(pUser)->push_back(p->nId);
            return 1;
        }, &out);
        return out;
    };
    EXPECT_EQ(ids(m_pDb, hist_LatestPerPort), (std::vector<std::int64_t>{com4, com3, com2.nId, com1}));
    EXPECT_EQ(ids(m_pDb, hist_Interrupted), (std::vector<std::int64_t>{com4, com2.nId}));
}

TEST(HistoryResume, WhichEndsMayLeaveTheDeviceInItsLoader) {
    struct Case {
        int nResult;
        bool bResume;
    } cases[] = {
        {hist_kUnfinished, true},          {FR_SUCCESSFUL, false},         {FR_HANDSHAKE_FAILURE, true},
        {FR_ABORTED, true},                {FR_BAD_HEX, false},            {FR_VERIFY_FAILED, true},
        {FR_TIMEOUT, true},                {FR_HEX_OPEN_FAILED, false},    {FR_PORT_OPEN_FAILED, false},
        {FR_SECTOR_SIZES, false},          {FR_TYPES, false},              {FR_WRONG_VERSION, true},
        {FR_SORT_FAILED, false},           {FR_UNPROTECT_FAILED, true},    {FR_LOADER_VERSION_FAILED, true},
        {FR_AFTER_FLASH_FAILED, true},     {FR_NO_DOT, true},              {FR_THREAD_FAILED, false},
    };
    for (const Case &c : cases) {
        HistRecord r;
        hist_InitRecord(&r);
        r.nResult = c.nResult;
        EXPECT_EQ(hist_NeedsResume(&r), c.bResume) << "result " << c.nResult;
    }
}

TEST_F(HistoryStore, AResumeNamesTheRecordItFinishes) {
    HistRecord first = SampleRecord("COM5");
    ASSERT_GT(hist_Insert(m_pDb, &first), 0);
    HistRecord again = SampleRecord("COM5");
    again.nResumeOf = first.nId;
    ASSERT_GT(hist_Insert(m_pDb, &again), 0);
    HistRecord stored;
    ASSERT_EQ(hist_Get(m_pDb, again.nId, &stored), 1);
    EXPECT_EQ(stored.nResumeOf, first.nId);
}

TEST_F(HistoryStore, CompletingARecordThatIsGoneFails) {
    HistRecord r = SampleRecord("COM5");
    r.nId = 999;
    r.nResult = FR_SUCCESSFUL;
    EXPECT_EQ(hist_Complete(m_pDb, &r), 0);
    EXPECT_NE(std::string(hist_LastError(m_pDb)), "");
}

TEST(HistorySchema, NewDatabaseHasTheCurrentVersionInWalAndANewerOneIsRefused) {
    TempDir dir;
    std::string path = dir.file("h.db");
    HistDb *pDb = hist_Open(path.c_str(), nullptr, 0);
    ASSERT_NE(pDb, nullptr);
    hist_Close(pDb);

    sqlite3 *pRaw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &pRaw), SQLITE_OK);
    auto scalar = [&](const char *pszSql) {
        sqlite3_stmt *pStmt = nullptr;
        std::string value;
        if (sqlite3_prepare_v2(pRaw, pszSql, -1, &pStmt, nullptr) == SQLITE_OK && sqlite3_step(pStmt) == SQLITE_ROW)
            value = reinterpret_cast<const char *>(sqlite3_column_text(pStmt, 0));
        sqlite3_finalize(pStmt);
        return value;
    };
    EXPECT_EQ(scalar("PRAGMA user_version"), std::to_string(hist_kSchemaVersion));
    EXPECT_EQ(scalar("PRAGMA journal_mode"), "wal");
    ASSERT_EQ(sqlite3_exec(pRaw, "PRAGMA user_version = 99", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(pRaw);

    char szError[256];
    EXPECT_EQ(hist_Open(path.c_str(), szError, sizeof szError), nullptr);
    EXPECT_NE(std::string(szError).find("newer"), std::string::npos) << szError;
}

TEST(HistorySchema, AnEmptyFileIsMigratedForwardAndAMissingOneIsNotCreatedByReaders) {
    TempDir dir;
    std::string path = dir.file("h.db");
    char szError[256];
    EXPECT_EQ(hist_OpenExisting(path.c_str(), szError, sizeof szError), nullptr);
    EXPECT_NE(szError[0], '\0');
    EXPECT_NE(::access(path.c_str(), 0), 0);

    // A version-0 database (an empty file): the first open brings it to the current schema.
    std::FILE *pFile = std::fopen(path.c_str(), "w");
    ASSERT_NE(pFile, nullptr);
    std::fclose(pFile);
    HistDb *pDb = hist_OpenExisting(path.c_str(), szError, sizeof szError);
    ASSERT_NE(pDb, nullptr) << szError;
    HistRecord r = SampleRecord("COM1");
    EXPECT_GT(hist_Insert(pDb, &r), 0);
    hist_Close(pDb);
}

TEST(HistoryPath, TheEnvironmentNamesTheFileElseItLiesBesideTheExecutable) {
    char szPath[os_kPathLen];
    ::setenv("RAVELIN_HISTORY", "/tmp/elsewhere/h.db", 1);
    ASSERT_GT(hist_DefaultPath(szPath, sizeof szPath), 0);
    EXPECT_STREQ(szPath, "/tmp/elsewhere/h.db");
    ::unsetenv("RAVELIN_HISTORY");
    os_SetExeDirForTesting("/opt/bench");
    ASSERT_GT(hist_DefaultPath(szPath, sizeof szPath), 0);
    EXPECT_STREQ(szPath, "/opt/bench/history.db");
    os_SetExeDirForTesting(nullptr);
}

TEST(HistoryNullHandle, WritesWithoutADatabaseDoNothingAndFailQuietly) {
    HistRecord r = SampleRecord("COM1");
    EXPECT_EQ(hist_Insert(nullptr, &r), 0);
    EXPECT_NE(r.szStarted[0], '\0');
    EXPECT_EQ(hist_Progress(nullptr, &r, "Programming", 5, 1000), 0);
    EXPECT_EQ(hist_Complete(nullptr, &r), 0);
    HistFilter filter;
    hist_InitFilter(&filter);
    EXPECT_EQ(hist_Query(nullptr, &filter, nullptr, nullptr), -1);
}

}  // namespace

namespace {

// The package links history.db beside the executable to /var/lib/ravelin: SQLite's own files must
// go beside the real file, in the directory that is writable, with the database file's permissions.
TEST(HistoryLink, TheWalAndSharedMemoryFilesLieBesideTheRealFile) {
    TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("lib").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(dir.file("var").c_str(), 02775), 0);
    std::string real = dir.file("var/history.db");
    std::FILE *pFile = std::fopen(real.c_str(), "w");   // the postinst's empty file
    ASSERT_NE(pFile, nullptr);
    std::fclose(pFile);
    ASSERT_EQ(::chmod(real.c_str(), 0664), 0);
    ASSERT_EQ(::symlink(real.c_str(), dir.file("lib/history.db").c_str()), 0);

    HistDb *pDb = hist_Open(dir.file("lib/history.db").c_str(), nullptr, 0);
    ASSERT_NE(pDb, nullptr);
    HistRecord r = SampleRecord("COM1");
    ASSERT_GT(hist_Insert(pDb, &r), 0);
    struct stat st;
    ASSERT_EQ(::stat((real + "-wal").c_str(), &st), 0) << "no WAL beside the real file";
    EXPECT_EQ(st.st_mode & 0777, 0664u);
    EXPECT_EQ(::stat((real + "-shm").c_str(), &st), 0);
    EXPECT_NE(::lstat(dir.file("lib/history.db-wal").c_str(), &st), 0) << "a WAL beside the link";
    hist_Close(pDb);
    // Still a link: nothing replaced it with a file of its own.
    ASSERT_EQ(::lstat(dir.file("lib/history.db").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    // A link whose file is not there yet (a purge, a copied tree): the file is made where it points.
    std::string later = dir.file("var/later.db");
    ASSERT_EQ(::symlink(later.c_str(), dir.file("lib/later.db").c_str()), 0);
    pDb = hist_Open(dir.file("lib/later.db").c_str(), nullptr, 0);
    ASSERT_NE(pDb, nullptr);
    hist_Close(pDb);
    ASSERT_EQ(::lstat(later.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    ASSERT_EQ(::lstat(dir.file("lib/later.db").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

}  // namespace
