// Writing the history: the insert at the start, the progress, the completion; one transaction each.
#include <cstring>

#include "ravelin/flash/flsh.h"
#include "ravelin/history/hist_internal.h"
#include "ravelin/support/oswin32.h"

void hist_FillHostAndUser(HistRecord *pRecord);

namespace {

// Progress is written at most this often: a record that says how far an update got, without a
// write per block.
constexpr std::int64_t kProgressIntervalMs = 1000;

void bindText(sqlite3_stmt *pStmt, int nIndex, const char *pszText) {
    sqlite3_bind_text(pStmt, nIndex, pszText, -1, SQLITE_TRANSIENT);
}

// Runs a prepared statement to its end; sqlite's autocommit makes it one transaction.
int runStatement(HistDb *pDb, sqlite3_stmt *pStmt, const char *pszWhat) {
    int rc = sqlite3_step(pStmt);
    if (rc != SQLITE_DONE) hist_SetError(pDb, pszWhat);
    sqlite3_finalize(pStmt);
    return rc == SQLITE_DONE;
}

sqlite3_stmt *prepare(HistDb *pDb, const char *pszSql, const char *pszWhat) {
    sqlite3_stmt *pStmt = nullptr;
    if (sqlite3_prepare_v2(pDb->pDb, pszSql, -1, &pStmt, nullptr) != SQLITE_OK) {
        hist_SetError(pDb, pszWhat);
        sqlite3_finalize(pStmt);
        return nullptr;
    }
    return pStmt;
}

int writeProgress(HistDb *pDb, HistRecord *pRecord, std::int64_t nNowMs) {
    std::lock_guard<std::mutex> guard(pDb->lock);
    sqlite3_stmt *pStmt = prepare(pDb,
        "UPDATE updates SET last_status = ?1, last_percent = ?2, speed = ?3, loader_version = ?4,"
        " rejected_blocks = ?5 WHERE id = ?6",
        "cannot record the progress");
    if (pStmt == nullptr) return 0;
    bindText(pStmt, 1, pRecord->szLastStatus);
    sqlite3_bind_int(pStmt, 2, pRecord->nLastPercent);
    sqlite3_bind_int(pStmt, 3, pRecord->nSpeed);
    bindText(pStmt, 4, pRecord->szLoaderVersion);
    sqlite3_bind_int(pStmt, 5, pRecord->nRejectedBlocks);
    sqlite3_bind_int64(pStmt, 6, pRecord->nId);
    // Progress is not worth a sync to disk: in WAL mode it survives the process being killed either
    // way, and the next start or end, which is synced, takes it to disk with it. A power cut may cost
    // the last second of progress, never a start or an end.
    sqlite3_exec(pDb->pDb, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    int nOk = runStatement(pDb, pStmt, "cannot record the progress");
    sqlite3_exec(pDb->pDb, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    if (!nOk) return 0;
    pRecord->nProgressSpeed = pRecord->nSpeed;
    pRecord->nProgressWrittenMs = nNowMs;
    pRecord->bProgressPending = 0;
    return 1;
}

}  // namespace

std::int64_t hist_Insert(HistDb *pDb, HistRecord *pRecord) {
    if (pRecord->szStarted[0] == '\0') hist_UtcNow(pRecord->szStarted, hist_kTimeLen);
    hist_FillHostAndUser(pRecord);
    if (pDb == nullptr) return 0;
    std::lock_guard<std::mutex> guard(pDb->lock);
    sqlite3_stmt *pStmt = prepare(pDb,
        "INSERT INTO updates (started, host, user_name, program, port, path, identity, model, version_before,"
        " country, image, image_path, image_size, image_sha256, image_version, protocol, speed, fixed_speed,"
        " flash_mode, last_status, last_percent, resume_of)"
        " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20,"
        " ?21, ?22)",
        "cannot record the update's start");
    if (pStmt == nullptr) return 0;
    bindText(pStmt, 1, pRecord->szStarted);
    bindText(pStmt, 2, pRecord->szHost);
    bindText(pStmt, 3, pRecord->szUser);
    bindText(pStmt, 4, pRecord->szProgram);
    bindText(pStmt, 5, pRecord->szPort);
    bindText(pStmt, 6, pRecord->szPath);
    bindText(pStmt, 7, pRecord->szIdentity);
    bindText(pStmt, 8, pRecord->szModel);
    bindText(pStmt, 9, pRecord->szVersionBefore);
    bindText(pStmt, 10, pRecord->szCountry);
    bindText(pStmt, 11, pRecord->szImage);
    bindText(pStmt, 12, pRecord->szImagePath);
    sqlite3_bind_int64(pStmt, 13, pRecord->nImageSize);
    bindText(pStmt, 14, pRecord->szImageSha256);
    bindText(pStmt, 15, pRecord->szImageVersion);
    bindText(pStmt, 16, pRecord->szProtocol);
    sqlite3_bind_int(pStmt, 17, pRecord->nSpeed);
    sqlite3_bind_int(pStmt, 18, pRecord->fixedSpeed);
    sqlite3_bind_int(pStmt, 19, pRecord->flashMode);
    bindText(pStmt, 20, pRecord->szLastStatus);
    sqlite3_bind_int(pStmt, 21, pRecord->nLastPercent);
    if (pRecord->nResumeOf > 0)
        sqlite3_bind_int64(pStmt, 22, pRecord->nResumeOf);
    else
        sqlite3_bind_null(pStmt, 22);
    if (!runStatement(pDb, pStmt, "cannot record the update's start")) return 0;
    pRecord->nId = sqlite3_last_insert_rowid(pDb->pDb);
    pRecord->nProgressSpeed = pRecord->nSpeed;
    return pRecord->nId;
}

int hist_Progress(HistDb *pDb, HistRecord *pRecord, const char *pszStatus, int nPercent, std::int64_t nNowMs) {
    const char *pszNew = pszStatus ? pszStatus : "";
    bool bChanged = std::strncmp(pRecord->szLastStatus, pszNew, hist_kTextLen - 1) != 0 ||
                    pRecord->nLastPercent != nPercent || pRecord->nProgressSpeed != pRecord->nSpeed;
    if (bChanged) {
        os_CopyBounded(pRecord->szLastStatus, pszNew, hist_kTextLen);
        pRecord->nLastPercent = nPercent;
        pRecord->bProgressPending = 1;
    }
    if (!pRecord->bProgressPending) return 2;
    if (pDb == nullptr || pRecord->nId <= 0) return 0;
    if (pRecord->nProgressWrittenMs != 0 && nNowMs - pRecord->nProgressWrittenMs < kProgressIntervalMs) return 2;
    // 0 is the "never written" mark: a clock that starts at 0 still counts as written.
    return writeProgress(pDb, pRecord, nNowMs == 0 ? 1 : nNowMs);
}

int hist_Complete(HistDb *pDb, HistRecord *pRecord) {
    if (pRecord->szEnded[0] == '\0') hist_UtcNow(pRecord->szEnded, hist_kTimeLen);
    if (pDb == nullptr || pRecord->nId <= 0) return 0;
    std::lock_guard<std::mutex> guard(pDb->lock);
    sqlite3_stmt *pStmt = prepare(pDb,
        "UPDATE updates SET ended = ?1, result = ?2, result_text = ?3, detail = ?4, last_status = ?5,"
        " last_percent = ?6, rejected_blocks = ?7, loader_version = ?8, verified_version = ?9, speed = ?10,"
        " model = ?11, version_before = ?12, country = ?13, protocol = ?14, image_version = ?15, flash_mode = ?17"
        " WHERE id = ?16",
        "cannot record the update's end");
    if (pStmt == nullptr) return 0;
    bindText(pStmt, 1, pRecord->szEnded);
    sqlite3_bind_int(pStmt, 2, pRecord->nResult);
    bindText(pStmt, 3, pRecord->szResultText);
    bindText(pStmt, 4, pRecord->szDetail);
    bindText(pStmt, 5, pRecord->szLastStatus);
    sqlite3_bind_int(pStmt, 6, pRecord->nLastPercent);
    sqlite3_bind_int(pStmt, 7, pRecord->nRejectedBlocks);
    bindText(pStmt, 8, pRecord->szLoaderVersion);
    bindText(pStmt, 9, pRecord->szVerifiedVersion);
    sqlite3_bind_int(pStmt, 10, pRecord->nSpeed);
    bindText(pStmt, 11, pRecord->szModel);
    bindText(pStmt, 12, pRecord->szVersionBefore);
    bindText(pStmt, 13, pRecord->szCountry);
    bindText(pStmt, 14, pRecord->szProtocol);
    bindText(pStmt, 15, pRecord->szImageVersion);
    sqlite3_bind_int64(pStmt, 16, pRecord->nId);
    sqlite3_bind_int(pStmt, 17, pRecord->flashMode);
    if (!runStatement(pDb, pStmt, "cannot record the update's end")) return 0;
    if (sqlite3_changes(pDb->pDb) != 1) {
        pDb->lastError = "the update's record is gone";
        return 0;
    }
    pRecord->bProgressPending = 0;
    return 1;
}

int hist_SetVerified(HistDb *pDb, std::int64_t nId, const char *pszVersion, const char *pszDetail) {
    if (pDb == nullptr || nId <= 0) return 0;
    std::lock_guard<std::mutex> guard(pDb->lock);
    // A device that reports the wrong version (or none) after a successful update was not updated as
    // far as anyone can tell: the record must not say "Successful". The check's failure joins what the
    // update itself said.
    sqlite3_stmt *pStmt = prepare(pDb,
        "UPDATE updates SET verified_version = ?1,"
        " result = CASE WHEN ?2 <> '' AND result = 0 THEN ?4 ELSE result END,"
        " result_text = CASE WHEN ?2 <> '' AND result = 0 THEN ?5 ELSE result_text END,"
        " detail = CASE WHEN ?2 = '' THEN detail WHEN detail = '' THEN ?2 ELSE detail || '; ' || ?2 END"
        " WHERE id = ?3",
        "cannot record the check of the version");
    if (pStmt == nullptr) return 0;
    bindText(pStmt, 1, pszVersion ? pszVersion : "");
    bindText(pStmt, 2, pszDetail ? pszDetail : "");
    sqlite3_bind_int64(pStmt, 3, nId);
    sqlite3_bind_int(pStmt, 4, FR_VERIFY_FAILED);
    bindText(pStmt, 5, flsh_ResultText(FR_VERIFY_FAILED));
    return runStatement(pDb, pStmt, "cannot record the check of the version");
}
