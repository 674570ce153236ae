// The notice of an interrupted update and the plan that finishes it.
#include "ravelin/history/hist_resume.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "ravelin/catalogue/familyflags.h"
#include "ravelin/support/oswin32.h"

namespace {

// The generic update's statuses once the loader runs at the agreed speed and before it is left:
// "Handshaking Done" (after the loader version), "Programming" (from the first block on).
bool loaderRunsAtItsSpeed(const char *pszStatus)
{
    char szStatus[hist_kTextLen];
    os_CopyTrimmed(szStatus, pszStatus, hist_kTextLen);
    return std::strcmp(szStatus, "Handshaking Done") == 0 || std::strcmp(szStatus, "Programming") == 0;
}

} // namespace

int hist_LocalDateTime(const char *pszUtc, char *pszDate, int nDateLen, char *pszTime, int nTimeLen)
{
    if (nDateLen > 0) pszDate[0] = '\0';
    if (nTimeLen > 0) pszTime[0] = '\0';
    std::tm utc{};
    int nRead = 0;
    if (pszUtc == nullptr ||
        std::sscanf(pszUtc, "%4d-%2d-%2dT%2d:%2d:%2d%n", &utc.tm_year, &utc.tm_mon, &utc.tm_mday, &utc.tm_hour,
                    &utc.tm_min, &utc.tm_sec, &nRead) != 6 ||
        (pszUtc[nRead] != 'Z' && pszUtc[nRead] != '\0'))
        return 0;
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    std::time_t when = timegm(&utc);
    std::tm local{};
    if (when == static_cast<std::time_t>(-1) || localtime_r(&when, &local) == nullptr) return 0;
    char szDate[16], szTime[8];
    std::strftime(szDate, sizeof szDate, "%Y-%m-%d", &local);
    std::strftime(szTime, sizeof szTime, "%H:%M", &local);
    os_CopyBounded(pszDate, szDate, nDateLen);
    os_CopyBounded(pszTime, szTime, nTimeLen);
    return 1;
}

int hist_InterruptedNotice(const HistRecord *pRecord, char *pszText, int nCapacity)
{
    if (nCapacity <= 0) return 0;
    char szDate[16], szTime[16];
    const char *pszWhen = pRecord->szEnded[0] != '\0' ? pRecord->szEnded : pRecord->szStarted;
    if (!hist_LocalDateTime(pszWhen, szDate, sizeof szDate, szTime, sizeof szTime)) {
        os_CopyBounded(szDate, "(unknown date)", sizeof szDate);
        os_CopyBounded(szTime, "(unknown)", sizeof szTime);
    }
    char szStatus[hist_kTextLen];
    os_CopyTrimmed(szStatus, pRecord->szLastStatus, hist_kTextLen);
    char szProgress[hist_kTextLen + 16];
    if (szStatus[0] == '\0')
        std::snprintf(szProgress, sizeof szProgress, "Starting");
    else if (pRecord->nLastPercent < 0)
        std::snprintf(szProgress, sizeof szProgress, "%s", szStatus);
    else
        std::snprintf(szProgress, sizeof szProgress, "%s, %d %%", szStatus, static_cast<int>(pRecord->nLastPercent));
    int nLength = std::snprintf(pszText, static_cast<std::size_t>(nCapacity),
                                "%s: the update with %s was interrupted on %s at %s (%s); its device may be waiting "
                                "in its flash loader. To finish it: ravelin-cli resume %s",
                                pRecord->szPort, pRecord->szImage, szDate, szTime, szProgress, pRecord->szPort);
    if (nLength < 0) {
        pszText[0] = '\0';
        return 0;
    }
    return nLength < nCapacity ? nLength : nCapacity - 1;
}

void hist_PlanResume(const HistRecord *pRecord, std::uint32_t flags, HistResumePlan *pPlan)
{
    pPlan->nSpeed = pRecord->nSpeed;
    pPlan->flashMode = pRecord->flashMode;
    pPlan->bPowerCycle = 0;
    pPlan->fixedSpeed = 0;
    if (flags & FLF_DOT) {
        pPlan->fixedSpeed = 1;
        pPlan->bPowerCycle = 1;
    } else if (cat_IsGenericFlash(flags)) {
        pPlan->fixedSpeed = pRecord->nSpeed > 0 && loaderRunsAtItsSpeed(pRecord->szLastStatus) ? 1 : 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Taking an interrupted update up again.

#include "ravelin/catalogue/catalogue.h"
#include "ravelin/flash/flashinfo.h"
#include "ravelin/protocols/flsh_choice.h"
#include "ravelin/support/log.h"
#include "ravelin/support/osclock.h"

int hist_AddResumeDevice(UpdateRun *pRun, const HistRecord *pRecord, const char *pszDevicePath)
{
    DeviceType model;
    if (!model.SetFromModel(pRecord->szModel)) return -1;
    HistResumePlan plan;
    hist_PlanResume(pRecord, model.Flags(), &plan);
    int nCount = flsh_RunAddPort(pRun, pszDevicePath, plan.nSpeed > 0 ? plan.nSpeed : 38400);
    if (nCount < 0) return -1;
    int nDevice = nCount - 1;
    int nImage = flsh_RunAddImage(pRun, pRecord->szImagePath, model) - 1;
    RunDevice &device = *pRun->devices[static_cast<std::size_t>(nDevice)];
    device.type = model;
    const ModelEntry *pEntry = cat_FindEntryByName(model.szName);
    os_CopyBounded(device.szModel, pEntry != nullptr ? pEntry->szName : model.szName, cat_kNameLen);
    device.flags = model.Flags() | (plan.bPowerCycle ? FLF_POWER_CYCLE : 0);
    device.bFixedSpeed = plan.fixedSpeed ? 1 : 0;
    device.country = CountryCode(-1);
    device.pUpdate->flashMode = plan.flashMode;
    if (nImage >= 0) flsh_RunAssignImage(pRun, nDevice, nImage);
    return nDevice;
}

namespace {

// Whether the loader took a block in this attempt: each device thread notes its own.
thread_local bool tl_bBlockAccepted = false;

int resumeProgress(DeviceUpdate *pOwner, int nStatus, std::int32_t nValue, std::intptr_t nDetail)
{
    if (nStatus == flsh_cProgramming || nStatus == flsh_cProgramDone) tl_bBlockAccepted = true;
    return flsh_ProgressCallback(pOwner, nStatus, nValue, nDetail);
}

// The entry found the device elsewhere, and nothing was programmed: worth the other entry.
bool wrongEntry(const DeviceUpdate *pUpdate, int nResult)
{
    if (tl_bBlockAccepted) return false;
    return pUpdate->fixedSpeed ? nResult == FR_TIMEOUT : nResult == FR_HANDSHAKE_FAILURE;
}

} // namespace

int hist_ResumeFlash(DeviceUpdate *pUpdate)
{
    if (!cat_IsGenericFlash(pUpdate->flags)) return flsh_RunProtocol(pUpdate);
    tl_bBlockAccepted = false;
    if (pUpdate->fixedSpeed) os_SleepMs(hist_kLoaderSilenceMs);
    int nResult = flsh_Update(resumeProgress, pUpdate);
    if (wrongEntry(pUpdate, nResult) && flsh_ProgressCallback(pUpdate, flsh_cHandshakeStart, 0, 0)) {
        log_Write(__LINE__, "hist", "<%s> %s found no loader; trying %s", flsh_PortDisplayName(pUpdate),
                  pUpdate->fixedSpeed ? "fixed speed" : "the handshake",
                  pUpdate->fixedSpeed ? "the handshake" : "fixed speed");
        pUpdate->fixedSpeed = pUpdate->fixedSpeed ? 0 : 1;
        if (pUpdate->fixedSpeed) os_SleepMs(hist_kLoaderSilenceMs);
        nResult = flsh_Update(resumeProgress, pUpdate);
    }
    pUpdate->nResult = nResult;
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Finding the interrupted updates, and naming the one a record finishes.

#include <strings.h>
#include <unistd.h>

#include "ravelin/history/hist_internal.h"
#include "ravelin/history/hist_recorder.h"

namespace {

struct Collect {
    const std::vector<std::string> *pPorts;
    std::vector<HistRecord> *pRecords;
};

int collect(const HistRecord *pRecord, void *pUser)
{
    Collect *pCollect = static_cast<Collect *>(pUser);
    bool bWanted = pCollect->pPorts == nullptr;
    if (!bWanted)
        for (const std::string &port : *pCollect->pPorts)
            if (strcasecmp(port.c_str(), pRecord->szPort) == 0) bWanted = true;
    if (bWanted) pCollect->pRecords->push_back(*pRecord);
    return 1;
}

} // namespace

bool hist_FindInterrupted(const char *pszPath, const std::vector<std::string> *pPorts,
                          std::vector<HistRecord> *pRecords, std::string *pError)
{
    pRecords->clear();
    char szPath[os_kPathLen];
    if (pszPath != nullptr) {
        os_CopyBounded(szPath, pszPath, os_kPathLen);
    } else if (hist_DefaultPath(szPath, sizeof szPath) == 0) {
        *pError = "the history's path is too long";
        return false;
    }
    if (::access(szPath, F_OK) != 0) return true;  // no update was ever recorded here
    char szError[256];
    HistDb *pDb = hist_OpenExisting(szPath, szError, sizeof szError);
    if (pDb == nullptr) {
        *pError = szError;
        return false;
    }
    Collect context{pPorts, pRecords};
    int nCount = hist_Interrupted(pDb, collect, &context);
    if (nCount < 0) *pError = hist_LastError(pDb);
    hist_Close(pDb);
    return nCount >= 0;
}

void hist_NoteResumeOf(HistRecorder *pRecorder, HistRecord *pRecord, std::int64_t nResumeOf)
{
    if (pRecorder == nullptr || nResumeOf <= 0) return;
    pRecord->nResumeOf = nResumeOf;
    HistDb *pDb = hist_RecorderDb(pRecorder);
    if (pDb == nullptr || pRecord->nId <= 0) return;
    std::lock_guard<std::mutex> guard(pDb->lock);
    sqlite3_stmt *pStmt = nullptr;
    if (sqlite3_prepare_v2(pDb->pDb, "UPDATE updates SET resume_of = ?1 WHERE id = ?2", -1, &pStmt, nullptr) ==
        SQLITE_OK) {
        sqlite3_bind_int64(pStmt, 1, nResumeOf);
        sqlite3_bind_int64(pStmt, 2, pRecord->nId);
        if (sqlite3_step(pStmt) != SQLITE_DONE) hist_SetError(pDb, "cannot record the update resumed");
    } else {
        hist_SetError(pDb, "cannot record the update resumed");
    }
    sqlite3_finalize(pStmt);
}
