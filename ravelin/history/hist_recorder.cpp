// The front ends' recorder: a lazily opened database, one warning, the image fingerprints cached.
#include "ravelin/history/hist_recorder.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <map>
#include <mutex>
#include <string>
#include <unistd.h>

#include "ravelin/flash/flsh.h"
#include "ravelin/history/hist_journal.h"
#include "ravelin/history/hist_sha256.h"
#include "ravelin/protocols/flsh_choice.h"
#include "ravelin/serial/urs_names.h"
#include "ravelin/serial/urs_portcheck.h"
#include "ravelin/support/osclock.h"
#include "ravelin/support/oswin32.h"

struct HistRecorder {
    std::mutex lock;               // devices' records are written from the polling thread only, but the
                                   // wizard's pages and ravelin-cli's verify threads may ask meanwhile
    std::string path;              // "" for hist_DefaultPath
    std::string program;
    HistWarnFn pfnWarn = nullptr;
    void *pWarnUser = nullptr;
    HistDb *pDb = nullptr;
    bool bOpenTried = false;
    std::string warning;
    struct Fingerprint {
        std::string sha;
        std::int64_t nSize;
    };
    std::map<std::string, Fingerprint> fingerprints;  // one hash per image file and run
};

namespace {

std::string trimmed(const char *pszText) {
    char szCopy[os_kPathLen];
    os_CopyTrimmed(szCopy, pszText, sizeof szCopy);
    return szCopy;
}

void fillText(char *pszField, int nCapacity, const std::string &value) {
    if (pszField[0] == '\0') os_CopyBounded(pszField, value.c_str(), nCapacity);
}

// The first failure only: a broken history says so once, not once per device and poll.
void warnLocked(HistRecorder *pRecorder, const std::string &reason) {
    if (!pRecorder->warning.empty()) return;
    pRecorder->warning = "the update history cannot be written (" + reason + "); the updates go on without it";
    if (pRecorder->pfnWarn != nullptr) pRecorder->pfnWarn(pRecorder->warning.c_str(), pRecorder->pWarnUser);
}

HistDb *dbLocked(HistRecorder *pRecorder) {
    if (!pRecorder->bOpenTried) {
        pRecorder->bOpenTried = true;
        char szPath[os_kPathLen] = "";
        if (!pRecorder->path.empty())
            os_CopyBounded(szPath, pRecorder->path.c_str(), sizeof szPath);
        else
            hist_DefaultPath(szPath, sizeof szPath);
        char szError[512] = "";
        pRecorder->pDb = szPath[0] != '\0' ? hist_Open(szPath, szError, sizeof szError) : nullptr;
        if (pRecorder->pDb == nullptr) warnLocked(pRecorder, szError[0] ? szError : "no place for history.db");
    }
    // After a failed write the history is given up for this process: one warning, no half records.
    return pRecorder->warning.empty() ? pRecorder->pDb : nullptr;
}

void noteFailure(HistRecorder *pRecorder, HistDb *pDb, int nOk) {
    if (!nOk && pDb != nullptr) warnLocked(pRecorder, hist_LastError(pDb));
}

// The device node a port's name leads to, links followed ("/dev/ttyS4", "/dev/pts/7"), by the serial
// layer's own link walk: the C library's realpath cannot be redirected by a device test bed (and
// crashes under one).
std::string deviceNode(const char *pszPortName) {
    char szPath[os_kPathLen];
    if (!urs_ResolvePortPath(pszPortName, szPath, sizeof szPath)) return "";
    char szReal[PATH_MAX];
    if (urs_FollowLinks(szPath, szReal, sizeof szReal)) return szReal;
    return szPath;
}

}  // namespace

const char *hist_ProtocolName(std::uint32_t flags) {
    static const struct {
        const char *pszChoice, *pszHistory;
    } kNames[] = {{"Lucent/Agere", "lucent"}, {"Rockwell", "rockwell"}, {"Siemens", "siemens"}, {"dot/upload", "dot"}};
    const char *pszChoice = flsh_ProtocolName(flags);
    for (const auto &name : kNames)
        if (std::strcmp(name.pszChoice, pszChoice) == 0) return name.pszHistory;
    return "generic";
}

HistRecorder *hist_OpenRecorder(const char *pszProgram, const char *pszPath, HistWarnFn pfnWarn, void *pUser) {
    HistRecorder *pRecorder = new HistRecorder;
    pRecorder->program = pszProgram ? pszProgram : "";
    pRecorder->path = pszPath ? pszPath : "";
    pRecorder->pfnWarn = pfnWarn;
    pRecorder->pWarnUser = pUser;
    return pRecorder;
}

void hist_CloseRecorder(HistRecorder *pRecorder) {
    if (pRecorder == nullptr) return;
    hist_Close(pRecorder->pDb);
    delete pRecorder;
}

void hist_RecorderWarning(HistRecorder *pRecorder, char *pszText, int nCapacity) {
    std::lock_guard<std::mutex> guard(pRecorder->lock);
    os_CopyBounded(pszText, pRecorder->warning.c_str(), nCapacity);
}

HistDb *hist_RecorderDb(HistRecorder *pRecorder) {
    std::lock_guard<std::mutex> guard(pRecorder->lock);
    return dbLocked(pRecorder);
}

int hist_FindByPathLink(const char *pszByPathDir, const char *pszNode, char *pszLink, int nCapacity) {
    os_CopyBounded(pszLink, "", nCapacity);
    if (pszNode == nullptr || pszNode[0] == '\0') return 0;
    DIR *pDir = ::opendir(pszByPathDir);
    if (pDir == nullptr) return 0;
    int nFound = 0;
    while (struct dirent *pEntry = ::readdir(pDir)) {
        if (pEntry->d_name[0] == '.') continue;
        std::string link = std::string(pszByPathDir) + "/" + pEntry->d_name;
        char szReal[PATH_MAX];
        if (!urs_FollowLinks(link.c_str(), szReal, sizeof szReal) || std::strcmp(szReal, pszNode) != 0) continue;
        os_CopyBounded(pszLink, link.c_str(), nCapacity);
        nFound = 1;
        break;
    }
    ::closedir(pDir);
    return nFound;
}

void hist_FillFromUpdate(HistRecorder *pRecorder, HistRecord *pRecord, const DeviceUpdate *pUpdate) {
    HistRecord &r = *pRecord;
    const char *pszPort = flsh_PortDisplayName(pUpdate);
    fillText(r.szProgram, hist_kTextLen, pRecorder->program);
    fillText(r.szPort, hist_kPortLen, pszPort);
    if (r.szPath[0] == '\0') fillText(r.szPath, os_kPathLen, deviceNode(pszPort));
    if (r.szIdentity[0] == '\0') hist_FindByPathLink("/dev/serial/by-path", r.szPath, r.szIdentity, os_kPathLen);
    fillText(r.szModel, hist_kTextLen, trimmed(pUpdate->identity.szModel));
    fillText(r.szVersionBefore, hist_kTextLen, trimmed(pUpdate->identity.szVersion));
    fillText(r.szCountry, hist_kTextLen, trimmed(pUpdate->identity.szCountry));
    fillText(r.szImagePath, os_kPathLen, pUpdate->szImagePath);
    // The path as it names the file from anywhere: a record is read long after the working directory
    // it was relative to is forgotten.
    if (r.szImagePath[0] != '\0' && r.szImagePath[0] != '/') {
        char szCwd[PATH_MAX];
        if (::getcwd(szCwd, sizeof szCwd) != nullptr)
            os_CopyBounded(r.szImagePath, (std::string(szCwd) + "/" + r.szImagePath).c_str(), os_kPathLen);
    }
    const char *pszSlash = std::strrchr(r.szImagePath, '/');
    fillText(r.szImage, hist_kTextLen, pszSlash ? pszSlash + 1 : r.szImagePath);
    if (r.szImageSha256[0] == '\0' && r.szImagePath[0] != '\0') {
        std::lock_guard<std::mutex> guard(pRecorder->lock);
        auto found = pRecorder->fingerprints.find(r.szImagePath);
        if (found == pRecorder->fingerprints.end()) {
            HistRecorder::Fingerprint print{"", 0};
            char szHex[hist_kShaLen];
            if (hist_Sha256File(r.szImagePath, szHex, &print.nSize)) print.sha = szHex;
            found = pRecorder->fingerprints.emplace(r.szImagePath, print).first;
        }
        os_CopyBounded(r.szImageSha256, found->second.sha.c_str(), hist_kShaLen);
        r.nImageSize = found->second.nSize;
    }
    fillText(r.szProtocol, hist_kProtocolLen, hist_ProtocolName(pUpdate->flags));
    if (r.nSpeed == 0) r.nSpeed = pUpdate->nSpeed;
    if (r.fixedSpeed == 0) r.fixedSpeed = pUpdate->fixedSpeed;
    if (r.flashMode == 0) r.flashMode = pUpdate->flashMode;
}

std::int64_t hist_BeginDevice(HistRecorder *pRecorder, HistRecord *pRecord, const DeviceUpdate *pUpdate) {
    hist_FillFromUpdate(pRecorder, pRecord, pUpdate);
    std::lock_guard<std::mutex> guard(pRecorder->lock);
    HistDb *pDb = dbLocked(pRecorder);
    std::int64_t nId = hist_Insert(pDb, pRecord);
    noteFailure(pRecorder, pDb, nId > 0);
    return nId;
}

namespace {

// What the update record says of its progress: status text, percent, speed, loader, rejections.
void readProgress(HistRecord *pRecord, DeviceUpdate *pUpdate, std::string *pStatus, int *pnPercent) {
    char szCode[flsh_kShortCodeLen], szText[flsh_kStatusTextLen];
    flsh_ReadProgress(pUpdate, szCode, szText, nullptr);
    *pStatus = trimmed(szText);
    *pnPercent = trimmed(szCode).empty() ? pRecord->nLastPercent : flsh_ShortCodePercent(szCode);
    os_LockMutex(pUpdate->hLock);
    pRecord->nRejectedBlocks = pUpdate->nRejectedBlocks;
    os_UnlockMutex(pUpdate->hLock);
    // The handshake lowers the speed and reads the loader before programming starts.
    pRecord->nSpeed = pUpdate->nSpeed;
    os_CopyBounded(pRecord->szLoaderVersion, trimmed(pUpdate->szLoaderVersion).c_str(), hist_kTextLen);
}

}  // namespace

void hist_ProgressDevice(HistRecorder *pRecorder, HistRecord *pRecord, DeviceUpdate *pUpdate) {
    std::string status;
    int nPercent = 0;
    readProgress(pRecord, pUpdate, &status, &nPercent);
    if (status.empty()) return;  // the record's initial blanks: nothing happened yet
    std::lock_guard<std::mutex> guard(pRecorder->lock);
    HistDb *pDb = dbLocked(pRecorder);
    if (pDb == nullptr || pRecord->nId <= 0) return;
    noteFailure(pRecorder, pDb, hist_Progress(pDb, pRecord, status.c_str(), nPercent, os_MonotonicMs()));
}

void hist_EndDevice(HistRecorder *pRecorder, HistRecord *pRecord, DeviceUpdate *pUpdate) {
    std::string status;
    int nPercent = 0;
    readProgress(pRecord, pUpdate, &status, &nPercent);
    if (!status.empty()) {
        os_CopyBounded(pRecord->szLastStatus, status.c_str(), hist_kTextLen);
        pRecord->nLastPercent = nPercent;
    }
    pRecord->nResult = pUpdate->nResult;
    // The run decides the flash mode when it starts the device (a full flash, the Lucent/Agere check).
    pRecord->flashMode = pUpdate->flashMode;
    os_CopyBounded(pRecord->szResultText, flsh_ResultText(pUpdate->nResult), hist_kTextLen);
    os_CopyBounded(pRecord->szDetail, pUpdate->szResultDetail, hist_kDetailLen);
    {
        std::lock_guard<std::mutex> guard(pRecorder->lock);
        HistDb *pDb = dbLocked(pRecorder);
        if (pDb != nullptr && pRecord->nId > 0) noteFailure(pRecorder, pDb, hist_Complete(pDb, pRecord));
        else hist_UtcNow(pRecord->szEnded, hist_kTimeLen);
    }
    // The journal has the end even when the history could not be written.
    hist_JournalUpdateEnd(pRecord);
}

void hist_VerifiedDevice(HistRecorder *pRecorder, HistRecord *pRecord, const char *pszVersion,
                         const char *pszFailure) {
    os_CopyBounded(pRecord->szVerifiedVersion, pszVersion ? pszVersion : "", hist_kTextLen);
    if (pszFailure != nullptr && pszFailure[0] != '\0' && pRecord->nResult == FR_SUCCESSFUL) {
        pRecord->nResult = FR_VERIFY_FAILED;
        os_CopyBounded(pRecord->szResultText, flsh_ResultText(FR_VERIFY_FAILED), hist_kTextLen);
        std::string detail = pRecord->szDetail[0] ? std::string(pRecord->szDetail) + "; " + pszFailure : pszFailure;
        os_CopyBounded(pRecord->szDetail, detail.c_str(), hist_kDetailLen);
        // The journal heard "Successful" at the update's end; its correction is the same update's
        // entry again, with the result that now holds.
        hist_JournalUpdateEnd(pRecord);
    }
    std::lock_guard<std::mutex> guard(pRecorder->lock);
    HistDb *pDb = dbLocked(pRecorder);
    if (pDb == nullptr || pRecord->nId <= 0) return;
    noteFailure(pRecorder, pDb, hist_SetVerified(pDb, pRecord->nId, pszVersion, pszFailure));
}
