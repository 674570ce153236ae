// ravelin-cli history: the updates on record, newest first, as a table, JSON lines or CSV.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "ravelin/history/hist_fields.h"
#include "ravelin/history/history.h"
#include "ravelin/support/oswin32.h"
#include "tools/ravelin-cli/cli_history_format.h"
#include "tools/ravelin-cli/cli_port_list.h"
#include "tools/ravelin-cli/cli_table.h"
#include "tools/ravelin-cli/commands.h"
#include "tools/ravelin-cli/json_text.h"

namespace {

const char kHelp[] =
    "usage: ravelin-cli history [--port PORT] [--since DATE] [--failed] [--unfinished] [--json | --csv]\n"
    "\n"
    "Lists the device updates on record, newest first: every update that ravelin-cli run, flash and\n"
    "resume and the update wizard started on this bench, with its result, or how far it got when it\n"
    "never ended.\n"
    "\n"
    "  --port PORT    only the updates on PORT (COMn in any case, the number alone, or a device path)\n"
    "  --since DATE   only the updates started at or after DATE, in UTC: 2026-12-09 or\n"
    "                 2026-12-09T10:00 or 2026-12-09T10:00:00 (a 'Z' at the end is allowed)\n"
    "  --failed       only the updates that ended with a result other than Successful\n"
    "  --unfinished   only the updates that never ended (with --failed: either)\n"
    "  --json         one JSON object per line with the keys id, started, ended, host, user, program,\n"
    "                 port, path, identity, model, version_before, country, image, image_path,\n"
    "                 image_size, image_sha256, image_version, protocol, speed, fixed_speed,\n"
    "                 flash_mode, last_status, last_percent, result, result_text, detail,\n"
    "                 rejected_blocks, loader_version, verified_version, resume_of\n"
    "  --csv          the same fields as CSV, with a header row\n"
    "\n"
    "The history is history.db beside the executable, or the file $RAVELIN_HISTORY names.\n"
    "Exit code: 0, also when nothing is on record; 1 when the history cannot be read; 2 for a usage error.\n";

enum class Format { Table, Json, Csv };

struct Options {
    HistFilter filter;
    Format format = Format::Table;
};

int usage(const std::string &problem)
{
    std::fprintf(stderr, "ravelin-cli history: %s\n", problem.c_str());
    std::fputs("usage: ravelin-cli history [--port PORT] [--since DATE] [--failed] [--unfinished] [--json | --csv]\n",
               stderr);
    return 2;
}

bool digitsAt(const std::string &text, std::size_t nAt, std::size_t nCount)
{
    if (text.size() < nAt + nCount) return false;
    for (std::size_t i = nAt; i < nAt + nCount; ++i)
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    return true;
}

} // namespace

bool cli_HistorySince(const std::string &text, std::string *pSince)
{
    std::string t = text;
    if (!t.empty() && (t.back() == 'Z' || t.back() == 'z')) t.pop_back();
    if (t.size() > 10 && t[10] == ' ') t[10] = 'T';
    bool bDate = digitsAt(t, 0, 4) && t[4] == '-' && digitsAt(t, 5, 2) && t[7] == '-' && digitsAt(t, 8, 2);
    if (!bDate) return false;
    int nMonth = std::stoi(t.substr(5, 2)), nDay = std::stoi(t.substr(8, 2));
    if (nMonth < 1 || nMonth > 12 || nDay < 1 || nDay > 31) return false;
    if (t.size() == 10) {
        *pSince = t;
        return true;
    }
    bool bTime = t.size() >= 16 && t[10] == 'T' && digitsAt(t, 11, 2) && t[13] == ':' && digitsAt(t, 14, 2);
    if (!bTime || std::stoi(t.substr(11, 2)) > 23 || std::stoi(t.substr(14, 2)) > 59) return false;
    if (t.size() == 16) {
        *pSince = t;
        return true;
    }
    if (t.size() != 19 || t[16] != ':' || !digitsAt(t, 17, 2) || std::stoi(t.substr(17, 2)) > 60) return false;
    *pSince = t;
    return true;
}

std::string cli_HistoryJson(const HistRecord &record)
{
    HistField fields[hist_kFieldCount];
    hist_RecordFields(&record, fields);
    std::string line = "{";
    for (int i = 0; i < hist_kFieldCount; ++i) {
        if (i > 0) line += ", ";
        line += cli_JsonString(fields[i].pszName) + ": ";
        switch (fields[i].kind) {
        case hist_kFieldText: line += cli_JsonString(fields[i].value); break;
        case hist_kFieldNull: line += "null"; break;
        default: line += fields[i].value; break;
        }
    }
    return line + "}";
}

std::string cli_HistoryCsvHeader()
{
    HistRecord empty;
    hist_InitRecord(&empty);
    HistField fields[hist_kFieldCount];
    hist_RecordFields(&empty, fields);
    std::string line;
    for (int i = 0; i < hist_kFieldCount; ++i) line += (i ? "," : "") + std::string(fields[i].pszName);
    return line;
}

std::string cli_HistoryCsv(const HistRecord &record)
{
    HistField fields[hist_kFieldCount];
    hist_RecordFields(&record, fields);
    std::string line;
    for (int i = 0; i < hist_kFieldCount; ++i) line += (i ? "," : "") + hist_CsvField(fields[i].value);
    return line;
}

namespace {

// The table's result column: the result, or how far an update that never ended got.
std::string outcome(const HistRecord &r)
{
    std::string text;
    if (r.nResult == hist_kUnfinished) {
        text = "never ended";
        if (r.szLastStatus[0] != '\0') {
            text += std::string(" (") + r.szLastStatus;
            if (r.nLastPercent > 0) text += ", " + std::to_string(r.nLastPercent) + " %";
            text += ")";
        }
    } else {
        text = r.szResultText;
        if (r.szDetail[0] != '\0') text += std::string(": ") + r.szDetail;
    }
    return text;
}

// "2026-12-09T10:41:07Z" as "2026-12-09 10:41:07".
std::string shortTime(const char *pszTime)
{
    std::string t = pszTime;
    if (t.size() >= 19) t = t.substr(0, 10) + " " + t.substr(11, 8);
    return t;
}

int parse(int argc, char **argv, Options *pOptions)
{
    hist_InitFilter(&pOptions->filter);
    bool bJson = false, bCsv = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string *pOut) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') return false;
            *pOut = argv[++i];
            return true;
        };
        std::string text;
        if (arg == "--port") {
            if (!value(&text)) return usage("--port needs a port");
            CliPort port;
            if (!cli_ParsePortName(text, &port)) return usage("'" + text + "' is no port");
            os_CopyBounded(pOptions->filter.szPort, port.display.c_str(), hist_kPortLen);
        } else if (arg == "--since") {
            std::string since;
            if (!value(&text) || !cli_HistorySince(text, &since))
                return usage("--since takes a date such as 2026-12-09 or 2026-12-09T10:00");
            os_CopyBounded(pOptions->filter.szSince, since.c_str(), hist_kTimeLen);
        } else if (arg == "--failed") {
            pOptions->filter.bFailed = 1;
        } else if (arg == "--unfinished") {
            pOptions->filter.bUnfinished = 1;
        } else if (arg == "--json") {
            bJson = true;
        } else if (arg == "--csv") {
            bCsv = true;
        } else {
            return usage("unknown option '" + arg + "'");
        }
    }
    if (bJson && bCsv) return usage("--json and --csv exclude each other");
    pOptions->format = bJson ? Format::Json : bCsv ? Format::Csv : Format::Table;
    return 0;
}

} // namespace

int cli_History(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
    Options options;
    if (int nCode = parse(argc, argv, &options)) return nCode;

    char szPath[os_kPathLen];
    if (hist_DefaultPath(szPath, sizeof szPath) == 0) {
        std::fputs("ravelin-cli history: no place for the history file\n", stderr);
        return 1;
    }
    std::vector<HistRecord> records;
    // A bench that never updated anything has no history yet: an empty list, not an error.
    if (::access(szPath, 0) == 0) {
        char szError[512];
        HistDb *pDb = hist_OpenExisting(szPath, szError, sizeof szError);
        if (pDb == nullptr) {
            std::fprintf(stderr, "ravelin-cli history: %s\n", szError);
            return 1;
        }
        int nCount = hist_Query(pDb, &options.filter, [](const HistRecord *p, void *pUser) {
            static_cast<std::vector<HistRecord> *>(pUser)->push_back(*p);
            return 1;
        }, &records);
        if (nCount < 0) {
            std::fprintf(stderr, "ravelin-cli history: %s\n", hist_LastError(pDb));
            hist_Close(pDb);
            return 1;
        }
        hist_Close(pDb);
    }

    std::string out;
    if (options.format == Format::Json) {
        for (const HistRecord &r : records) out += cli_HistoryJson(r) + "\n";
    } else if (options.format == Format::Csv) {
        out = cli_HistoryCsvHeader() + "\n";
        for (const HistRecord &r : records) out += cli_HistoryCsv(r) + "\n";
    } else if (records.empty()) {
        out = "No updates on record.\n";
    } else {
        std::vector<std::vector<std::string>> rows = {{"ID", "STARTED (UTC)", "PORT", "MODEL", "IMAGE", "SPEED", "RESULT"}};
        for (const HistRecord &r : records) {
            std::string id = std::to_string(r.nId);
            if (r.nResumeOf > 0) id += " (resumes " + std::to_string(r.nResumeOf) + ")";
            rows.push_back({id, shortTime(r.szStarted), r.szPort, r.szModel, r.szImage, std::to_string(r.nSpeed),
                            outcome(r)});
        }
        out = cli_AlignedTable(rows);
    }
    std::fputs(out.c_str(), stdout);
    std::fflush(stdout);
    return 0;
}
