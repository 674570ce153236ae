// Opening the history: WAL, a busy timeout, and the schema brought forward to hist_kSchemaVersion.
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "ravelin/history/hist_internal.h"
#include "ravelin/support/oswin32.h"

namespace {

// Several benches' processes may write at once; a writer waits this long for another's transaction.
constexpr int kBusyTimeoutMs = 10000;

// Each step brings the schema from version (index) to version (index + 1). Steps are only ever added.
const char *const kMigrations[] = {
    // 0 -> 1: the first schema.
    "CREATE TABLE updates ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " started TEXT NOT NULL, ended TEXT,"
    " host TEXT NOT NULL DEFAULT '', user_name TEXT NOT NULL DEFAULT '', program TEXT NOT NULL DEFAULT '',"
    " port TEXT NOT NULL DEFAULT '', path TEXT NOT NULL DEFAULT '', identity TEXT NOT NULL DEFAULT '',"
    " model TEXT NOT NULL DEFAULT '', version_before TEXT NOT NULL DEFAULT '', country TEXT NOT NULL DEFAULT '',"
    " image TEXT NOT NULL DEFAULT '', image_path TEXT NOT NULL DEFAULT '', image_size INTEGER NOT NULL DEFAULT 0,"
    " image_sha256 TEXT NOT NULL DEFAULT '', image_version TEXT NOT NULL DEFAULT '',"
    " protocol TEXT NOT NULL DEFAULT '', speed INTEGER NOT NULL DEFAULT 0,"
    " fixed_speed INTEGER NOT NULL DEFAULT 0, flash_mode INTEGER NOT NULL DEFAULT 0,"
    " last_status TEXT NOT NULL DEFAULT '', last_percent INTEGER NOT NULL DEFAULT -1,"
    " result INTEGER, result_text TEXT NOT NULL DEFAULT '', detail TEXT NOT NULL DEFAULT '',"
    " rejected_blocks INTEGER NOT NULL DEFAULT 0, loader_version TEXT NOT NULL DEFAULT '',"
    " verified_version TEXT NOT NULL DEFAULT '', resume_of INTEGER REFERENCES updates(id));"
    "CREATE INDEX updates_port ON updates(port COLLATE NOCASE, id);"
    "CREATE INDEX updates_started ON updates(started);",
};
constexpr int kStepCount = static_cast<int>(sizeof kMigrations / sizeof kMigrations[0]);
static_assert(kStepCount == hist_kSchemaVersion, "one migration step per schema version");

void copyError(const std::string &text, char *pszError, int nErrorLen) {
    if (pszError != nullptr && nErrorLen > 0) os_CopyBounded(pszError, text.c_str(), nErrorLen);
}

int readUserVersion(sqlite3 *pDb, int *pnVersion) {
    sqlite3_stmt *pStmt = nullptr;
    if (sqlite3_prepare_v2(pDb, "PRAGMA user_version", -1, &pStmt, nullptr) != SQLITE_OK) return 0;
    int rc = sqlite3_step(pStmt);
    if (rc == SQLITE_ROW) *pnVersion = sqlite3_column_int(pStmt, 0);
    sqlite3_finalize(pStmt);
    return rc == SQLITE_ROW;
}

// Runs the missing steps in one immediate transaction, so that two processes opening a new database
// at once do not both create it.
int migrate(HistDb *pDb) {
    int nVersion = 0;
    if (!readUserVersion(pDb->pDb, &nVersion)) {
        hist_SetError(pDb, "cannot read the schema version");
        return 0;
    }
    if (nVersion > hist_kSchemaVersion) {
        pDb->lastError = "the database has schema version " + std::to_string(nVersion) +
                         ", newer than this program's " + std::to_string(hist_kSchemaVersion);
        return 0;
    }
    if (nVersion == hist_kSchemaVersion) return 1;
    if (sqlite3_exec(pDb->pDb, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        hist_SetError(pDb, "cannot start the schema update");
        return 0;
    }
    // Read again inside the transaction: another process may have migrated meanwhile.
    int ok = readUserVersion(pDb->pDb, &nVersion);
    for (int i = nVersion; ok && i < kStepCount; ++i)
        ok = sqlite3_exec(pDb->pDb, kMigrations[i], nullptr, nullptr, nullptr) == SQLITE_OK;
    if (ok) {
        std::string set = "PRAGMA user_version = " + std::to_string(hist_kSchemaVersion);
        ok = sqlite3_exec(pDb->pDb, set.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    if (ok) ok = sqlite3_exec(pDb->pDb, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!ok) {
        hist_SetError(pDb, "cannot update the schema");
        sqlite3_exec(pDb->pDb, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    return ok;
}

// The switch to WAL of a new database takes its lock without the busy handler: a second process that
// opens the same new file at that moment is told "locked" at once. It is asked again, in short sleeps,
// within the busy timeout; once the file is in WAL the switch is a no-op for every later open.
bool switchToWal(sqlite3 *pDb) {
    constexpr int kRetrySleepMs = 10;
    for (int nWaitedMs = 0;; nWaitedMs += kRetrySleepMs) {
        int rc = sqlite3_exec(pDb, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) return true;
        if ((rc & 0xff) != SQLITE_BUSY || nWaitedMs >= kBusyTimeoutMs) return false;
        sqlite3_sleep(kRetrySleepMs);
    }
}

HistDb *openWith(const char *pszPath, int nFlags, bool bMigrate, char *pszError, int nErrorLen) {
    if (pszPath == nullptr || pszPath[0] == '\0') {
        copyError("no history file named", pszError, nErrorLen);
        return nullptr;
    }
    HistDb *pDb = new HistDb;
    int rc = sqlite3_open_v2(pszPath, &pDb->pDb, nFlags, nullptr);
    if (rc != SQLITE_OK) {
        std::string text = std::string(pszPath) + ": " +
                           (pDb->pDb ? sqlite3_errmsg(pDb->pDb) : sqlite3_errstr(rc));
        copyError(text, pszError, nErrorLen);
        hist_Close(pDb);
        return nullptr;
    }
    sqlite3_busy_timeout(pDb->pDb, kBusyTimeoutMs);
    sqlite3_extended_result_codes(pDb->pDb, 1);
    bool ok = true;
    if (nFlags & SQLITE_OPEN_READWRITE) {
        // WAL: readers never block the writer, and a writer killed half-way leaves a database whose
        // last committed transaction is intact.
        ok = switchToWal(pDb->pDb);
        if (!ok) hist_SetError(pDb, "cannot switch to WAL");
    }
    // Starts and ends are synced to disk at their commit: the PC losing power must not lose them.
    if (ok) ok = sqlite3_exec(pDb->pDb, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (ok) ok = sqlite3_exec(pDb->pDb, "PRAGMA foreign_keys=ON", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (ok && bMigrate) ok = migrate(pDb) != 0;
    if (ok && !bMigrate) {
        int nVersion = 0;
        ok = readUserVersion(pDb->pDb, &nVersion) && nVersion == hist_kSchemaVersion;
        if (!ok) pDb->lastError = "the database's schema is not this program's";
    }
    if (!ok) {
        copyError(std::string(pszPath) + ": " + pDb->lastError, pszError, nErrorLen);
        hist_Close(pDb);
        return nullptr;
    }
    return pDb;
}

}  // namespace

int hist_DefaultPath(char *pszPath, int nCapacity) {
    if (pszPath == nullptr || nCapacity <= 0) return 0;
    pszPath[0] = '\0';
    std::string path;
    const char *pszEnv = std::getenv("RAVELIN_HISTORY");
    if (pszEnv != nullptr && pszEnv[0] != '\0') {
        path = pszEnv;
    } else {
        char szDir[os_kPathLen];
        if (os_GetExeDir(szDir, sizeof szDir) == 0) return 0;
        path = std::string(szDir) + "history.db";
    }
    if (path.size() >= static_cast<size_t>(nCapacity)) return 0;
    std::memcpy(pszPath, path.c_str(), path.size() + 1);
    return static_cast<int>(path.size());
}

HistDb *hist_Open(const char *pszPath, char *pszError, int nErrorLen) {
    copyError("", pszError, nErrorLen);
    return openWith(pszPath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, true, pszError,
                    nErrorLen);
}

HistDb *hist_OpenExisting(const char *pszPath, char *pszError, int nErrorLen) {
    copyError("", pszError, nErrorLen);
    HistDb *pDb = openWith(pszPath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, true, pszError, nErrorLen);
    // A reader without write access (another user's bench) still reads a current database.
    if (pDb == nullptr && pszPath != nullptr && ::access(pszPath, 0) == 0)
        pDb = openWith(pszPath, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, false, pszError, nErrorLen);
    return pDb;
}

void hist_Close(HistDb *pDb) {
    if (pDb == nullptr) return;
    if (pDb->pDb != nullptr) sqlite3_close_v2(pDb->pDb);
    delete pDb;
}

const char *hist_LastError(const HistDb *pDb) {
    return pDb == nullptr ? "no history database" : pDb->lastError.c_str();
}

void hist_SetError(HistDb *pDb, const char *pszWhat) {
    pDb->lastError = std::string(pszWhat) + ": " + sqlite3_errmsg(pDb->pDb);
}
