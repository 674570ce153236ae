// What the history's files share: the open handle, its lock and the column list.
#pragma once

#include <mutex>
#include <sqlite3.h>
#include <string>

#include "ravelin/history/history.h"

struct HistDb {
    sqlite3 *pDb = nullptr;
    std::mutex lock;         // one statement at a time: the wizard's pages and threads share a handle
    std::string lastError;
};

// Sets the handle's error text to "what: sqlite's message".
void hist_SetError(HistDb *pDb, const char *pszWhat);
// Copies a column's text (null as "") into a bounded buffer.
void hist_ColumnText(sqlite3_stmt *pStmt, int nColumn, char *pszOut, int nCapacity);
// Fills a record from a row of "SELECT <hist_kColumns> ...".
void hist_ReadRow(sqlite3_stmt *pStmt, HistRecord *pRecord);

// The stored columns in the order hist_ReadRow reads them.
extern const char hist_kColumns[];
