// The record's defaults, the clock texts and which ends leave a device in its loader.
#include <cstring>
#include <ctime>
#include <pwd.h>
#include <unistd.h>

#include "ravelin/flash/flsh.h"
#include "ravelin/history/history.h"
#include "ravelin/support/oswin32.h"

void hist_InitRecord(HistRecord *pRecord) {
    std::memset(pRecord, 0, sizeof *pRecord);
    pRecord->nResult = hist_kUnfinished;
    pRecord->nLastPercent = -1;
}

void hist_InitFilter(HistFilter *pFilter) {
    std::memset(pFilter, 0, sizeof *pFilter);
}

void hist_UtcNow(char *pszTime, int nCapacity) {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char szText[hist_kTimeLen];
    std::strftime(szText, sizeof szText, "%Y-%m-%dT%H:%M:%SZ", &utc);
    os_CopyBounded(pszTime, szText, nCapacity);
}

// The host and the user the record names: who sat at which bench.
void hist_FillHostAndUser(HistRecord *pRecord) {
    if (pRecord->szHost[0] == '\0') {
        char szHost[256] = "";
        if (::gethostname(szHost, sizeof szHost - 1) == 0) os_CopyBounded(pRecord->szHost, szHost, hist_kTextLen);
    }
    if (pRecord->szUser[0] == '\0') {
        struct passwd entry;
        struct passwd *pFound = nullptr;
        char achBuffer[1024];
        if (::getpwuid_r(::getuid(), &entry, achBuffer, sizeof achBuffer, &pFound) == 0 && pFound != nullptr)
            os_CopyBounded(pRecord->szUser, pFound->pw_name, hist_kTextLen);
    }
}

bool hist_NeedsResume(const HistRecord *pRecord) {
    if (pRecord->nResult == hist_kUnfinished) return true;
    // It answered identification after the update: whatever went wrong, no loader is waiting.
    if (pRecord->szVerifiedVersion[0] != '\0') return false;
    // Whenever the line was lost the loader may still be running, whatever the protocol made of it.
    if (std::strstr(pRecord->szDetail, "the line was lost") != nullptr) return true;
    switch (pRecord->nResult) {
    case FR_HANDSHAKE_FAILURE:
    case FR_ABORTED:
    case FR_VERIFY_FAILED:
    case FR_TIMEOUT:
    case FR_WRONG_VERSION:
    case FR_UNPROTECT_FAILED:
    case FR_LOADER_VERSION_FAILED:
    case FR_AFTER_FLASH_FAILED:
    case FR_NO_DOT:
        return true;
    default:
        // Successful, and the failures found before the device was touched: the image could not be
        // read or sorted, its sectors or types do not fit, the port did not open.
        return false;
    }
}
