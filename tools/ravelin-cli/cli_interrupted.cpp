// Finding and naming interrupted updates (see cli_interrupted.h).
#include "tools/ravelin-cli/cli_interrupted.h"

#include "ravelin/history/hist_resume.h"

bool cli_LoadInterrupted(const std::vector<std::string> *pPorts, std::vector<HistRecord> *pRecords,
                         std::string *pError)
{
    return hist_FindInterrupted(nullptr, pPorts, pRecords, pError);
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
