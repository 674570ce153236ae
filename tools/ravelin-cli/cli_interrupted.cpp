// Finding and naming interrupted updates (see cli_interrupted.h).
#include "tools/ravelin-cli/cli_interrupted.h"

#include <strings.h>
#include <unistd.h>

#include "ravelin/history/hist_resume.h"

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

bool cli_LoadInterrupted(const std::vector<std::string> *pPorts, std::vector<HistRecord> *pRecords,
                         std::string *pError)
{
    pRecords->clear();
    char szPath[os_kPathLen];
    if (hist_DefaultPath(szPath, sizeof szPath) == 0) {
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

std::vector<std::string> cli_InterruptedNotices(const std::vector<std::string> *pPorts)
{
    std::vector<HistRecord> records;
    std::string error;
    std::vector<std::string> notices;
    if (!cli_LoadInterrupted(pPorts, &records, &error)) return notices;
    for (const HistRecord &record : records) {
        char szNotice[1024];
        hist_InterruptedNotice(&record, szNotice, sizeof szNotice);
        notices.emplace_back(szNotice);
    }
    return notices;
}

int cli_NoteInterrupted(const std::vector<std::string> *pPorts, std::FILE *pOut)
{
    std::vector<std::string> notices = cli_InterruptedNotices(pPorts);
    for (const std::string &notice : notices) std::fprintf(pOut, "%s\n", notice.c_str());
    std::fflush(pOut);
    return static_cast<int>(notices.size());
}
