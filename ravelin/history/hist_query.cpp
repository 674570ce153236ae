// Reading the history: filtered lists newest first, one record, the newest record per port.
#include <cstring>
#include <string>

#include "ravelin/history/hist_internal.h"
#include "ravelin/support/oswin32.h"

const char hist_kColumns[] =
    "id, started, ended, host, user_name, program, port, path, identity, model, version_before, country,"
    " image, image_path, image_size, image_sha256, image_version, protocol, speed, fixed_speed, flash_mode,"
    " last_status, last_percent, result, result_text, detail, rejected_blocks, loader_version,"
    " verified_version, resume_of";

void hist_ColumnText(sqlite3_stmt *pStmt, int nColumn, char *pszOut, int nCapacity) {
    const unsigned char *pText = sqlite3_column_text(pStmt, nColumn);
    os_CopyBounded(pszOut, pText ? reinterpret_cast<const char *>(pText) : "", nCapacity);
}

void hist_ReadRow(sqlite3_stmt *pStmt, HistRecord *p) {
    hist_InitRecord(p);
    int c = 0;
    p->nId = sqlite3_column_int64(pStmt, c++);
    hist_ColumnText(pStmt, c++, p->szStarted, sizeof p->szStarted);
    hist_ColumnText(pStmt, c++, p->szEnded, sizeof p->szEnded);
    hist_ColumnText(pStmt, c++, p->szHost, sizeof p->szHost);
    hist_ColumnText(pStmt, c++, p->szUser, sizeof p->szUser);
    hist_ColumnText(pStmt, c++, p->szProgram, sizeof p->szProgram);
    hist_ColumnText(pStmt, c++, p->szPort, sizeof p->szPort);
    hist_ColumnText(pStmt, c++, p->szPath, sizeof p->szPath);
    hist_ColumnText(pStmt, c++, p->szIdentity, sizeof p->szIdentity);
    hist_ColumnText(pStmt, c++, p->szModel, sizeof p->szModel);
    hist_ColumnText(pStmt, c++, p->szVersionBefore, sizeof p->szVersionBefore);
    hist_ColumnText(pStmt, c++, p->szCountry, sizeof p->szCountry);
    hist_ColumnText(pStmt, c++, p->szImage, sizeof p->szImage);
    hist_ColumnText(pStmt, c++, p->szImagePath, sizeof p->szImagePath);
    p->nImageSize = sqlite3_column_int64(pStmt, c++);
    hist_ColumnText(pStmt, c++, p->szImageSha256, sizeof p->szImageSha256);
    hist_ColumnText(pStmt, c++, p->szImageVersion, sizeof p->szImageVersion);
    hist_ColumnText(pStmt, c++, p->szProtocol, sizeof p->szProtocol);
    p->nSpeed = sqlite3_column_int(pStmt, c++);
    p->fixedSpeed = sqlite3_column_int(pStmt, c++);
    p->flashMode = sqlite3_column_int(pStmt, c++);
    hist_ColumnText(pStmt, c++, p->szLastStatus, sizeof p->szLastStatus);
    p->nLastPercent = sqlite3_column_int(pStmt, c++);
    p->nResult = sqlite3_column_type(pStmt, c) == SQLITE_NULL ? hist_kUnfinished : sqlite3_column_int(pStmt, c);
    ++c;
    hist_ColumnText(pStmt, c++, p->szResultText, sizeof p->szResultText);
    hist_ColumnText(pStmt, c++, p->szDetail, sizeof p->szDetail);
    p->nRejectedBlocks = sqlite3_column_int(pStmt, c++);
    hist_ColumnText(pStmt, c++, p->szLoaderVersion, sizeof p->szLoaderVersion);
    hist_ColumnText(pStmt, c++, p->szVerifiedVersion, sizeof p->szVerifiedVersion);
    p->nResumeOf = sqlite3_column_type(pStmt, c) == SQLITE_NULL ? 0 : sqlite3_column_int64(pStmt, c);
}

namespace {

// Runs a SELECT of hist_kColumns whose parameters are all texts; hands every row over.
int runSelect(HistDb *pDb, const std::string &sql, const std::string *pParams, int nParams, HistRecordFn pfnRecord,
              void *pUser, bool (*pfnKeep)(const HistRecord *) = nullptr) {
    if (pDb == nullptr) return -1;
    std::lock_guard<std::mutex> guard(pDb->lock);
    sqlite3_stmt *pStmt = nullptr;
    if (sqlite3_prepare_v2(pDb->pDb, sql.c_str(), -1, &pStmt, nullptr) != SQLITE_OK) {
        hist_SetError(pDb, "cannot read the history");
        sqlite3_finalize(pStmt);
        return -1;
    }
    for (int i = 0; i < nParams; ++i) sqlite3_bind_text(pStmt, i + 1, pParams[i].c_str(), -1, SQLITE_TRANSIENT);
    int nCount = 0;
    int rc;
    HistRecord record;
    while ((rc = sqlite3_step(pStmt)) == SQLITE_ROW) {
        hist_ReadRow(pStmt, &record);
        if (pfnKeep != nullptr && !pfnKeep(&record)) continue;
        ++nCount;
        if (pfnRecord != nullptr && !pfnRecord(&record, pUser)) {
            rc = SQLITE_DONE;
            break;
        }
    }
    if (rc != SQLITE_DONE) {
        hist_SetError(pDb, "cannot read the history");
        nCount = -1;
    }
    sqlite3_finalize(pStmt);
    return nCount;
}

int copyFirst(const HistRecord *pRecord, void *pUser) {
    *static_cast<HistRecord *>(pUser) = *pRecord;
    return 0;
}

}  // namespace

int hist_Query(HistDb *pDb, const HistFilter *pFilter, HistRecordFn pfnRecord, void *pUser) {
    std::string sql = std::string("SELECT ") + hist_kColumns + " FROM updates WHERE 1";
    std::string params[2];
    int nParams = 0;
    if (pFilter->szPort[0] != '\0') {
        sql += " AND port = ?" + std::to_string(nParams + 1) + " COLLATE NOCASE";
        params[nParams++] = pFilter->szPort;
    }
    if (pFilter->szSince[0] != '\0') {
        // ISO 8601 texts in UTC compare as the times they name; a date alone is its day's start.
        sql += " AND started >= ?" + std::to_string(nParams + 1);
        params[nParams++] = pFilter->szSince;
    }
    if (pFilter->bFailed && pFilter->bUnfinished)
        sql += " AND (result IS NULL OR result <> 0)";
    else if (pFilter->bFailed)
        sql += " AND result IS NOT NULL AND result <> 0";
    else if (pFilter->bUnfinished)
        sql += " AND result IS NULL";
    sql += " ORDER BY id DESC";
    if (pFilter->nLimit > 0) sql += " LIMIT " + std::to_string(pFilter->nLimit);
    return runSelect(pDb, sql, params, nParams, pfnRecord, pUser);
}

int hist_Get(HistDb *pDb, std::int64_t nId, HistRecord *pRecord) {
    std::string sql = std::string("SELECT ") + hist_kColumns + " FROM updates WHERE id = " + std::to_string(nId);
    return runSelect(pDb, sql, nullptr, 0, copyFirst, pRecord) > 0;
}

int hist_LatestForPort(HistDb *pDb, const char *pszPort, HistRecord *pRecord) {
    std::string sql = std::string("SELECT ") + hist_kColumns +
                      " FROM updates WHERE port = ?1 COLLATE NOCASE ORDER BY id DESC LIMIT 1";
    std::string param = pszPort ? pszPort : "";
    return runSelect(pDb, sql, &param, 1, copyFirst, pRecord) > 0;
}

namespace {
const char kLatestPerPort[] =
    " FROM updates WHERE id IN (SELECT MAX(id) FROM updates GROUP BY port COLLATE NOCASE) ORDER BY id DESC";
}

int hist_LatestPerPort(HistDb *pDb, HistRecordFn pfnRecord, void *pUser) {
    return runSelect(pDb, std::string("SELECT ") + hist_kColumns + kLatestPerPort, nullptr, 0, pfnRecord, pUser);
}

int hist_Interrupted(HistDb *pDb, HistRecordFn pfnRecord, void *pUser) {
    return runSelect(pDb, std::string("SELECT ") + hist_kColumns + kLatestPerPort, nullptr, 0, pfnRecord, pUser,
                     hist_NeedsResume);
}

int hist_IntegrityCheck(HistDb *pDb, char *pszResult, int nCapacity) {
    os_CopyBounded(pszResult, "", nCapacity);
    if (pDb == nullptr) return 0;
    std::lock_guard<std::mutex> guard(pDb->lock);
    sqlite3_stmt *pStmt = nullptr;
    int nOk = 0;
    if (sqlite3_prepare_v2(pDb->pDb, "PRAGMA integrity_check", -1, &pStmt, nullptr) == SQLITE_OK &&
        sqlite3_step(pStmt) == SQLITE_ROW) {
        hist_ColumnText(pStmt, 0, pszResult, nCapacity);
        nOk = std::strcmp(pszResult, "ok") == 0;
    } else {
        hist_SetError(pDb, "cannot check the database");
        os_CopyBounded(pszResult, pDb->lastError.c_str(), nCapacity);
    }
    sqlite3_finalize(pStmt);
    return nOk;
}
