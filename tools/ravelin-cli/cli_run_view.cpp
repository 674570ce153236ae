// Output of `ravelin-cli run` (see cli_run_view.h).
#include "tools/ravelin-cli/cli_run_view.h"

#include <algorithm>
#include <cstdio>

#include "tools/ravelin-cli/cli_progress.h"
#include "tools/ravelin-cli/json_text.h"

namespace {

// Control bytes and bytes above 0x7E would upset the terminal; they show as '?'.
std::string printable(const std::string &text)
{
    std::string out = text;
    for (char &ch : out)
        if (static_cast<unsigned char>(ch) < 0x20 || static_cast<unsigned char>(ch) > 0x7E) ch = '?';
    return out;
}

std::string trimmed(const char *pszText)
{
    char szCopy[os_kPathLen];
    os_CopyTrimmed(szCopy, pszText, os_kPathLen);
    return szCopy;
}

std::string field(const char *pszKey, const std::string &value) { return std::string(", \"") + pszKey + "\": " + cli_JsonString(value); }
std::string field(const char *pszKey, long nValue) { return std::string(", \"") + pszKey + "\": " + std::to_string(nValue); }

} // namespace

void RunView::event(const std::string &body) const
{
    std::printf("{%s}\n", body.c_str());
    std::fflush(stdout);
}

void RunView::note(const std::string &text) const
{
    std::fprintf(m_bJson ? stderr : stdout, "%s\n", text.c_str());
    std::fflush(m_bJson ? stderr : stdout);
}

void RunView::status(const std::string &text) const
{
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

void RunView::identified(const UpdateRun &run, int nDevice) const
{
    const RunDevice &device = *run.devices[static_cast<std::size_t>(nDevice)];
    const DeviceUpdate *pUpdate = device.pUpdate;
    if (!m_bJson) return;  // the plan shows the same in text mode
    event("\"event\": \"identified\"" + field("port", flsh_PortDisplayName(pUpdate)) +
          field("status", pUpdate->nResult) + field("model", device.szModel) +
          field("version", trimmed(pUpdate->identity.szVersion)) + field("country", trimmed(pUpdate->identity.szCountry)));
}

void RunView::plan(const std::vector<PlanRow> &rows) const
{
    if (m_bJson) {
        for (const PlanRow &row : rows) {
            std::string body = "\"event\": \"planned\"" + field("port", row.port) + field("model", row.model);
            if (row.nImage >= 0)
                body += field("image", row.image) + field("image_version", row.imageVersion) +
                        field("image_version_display", row.imageVersionShown);
            else
                body += ", \"skipped\": true" + field("reason", row.reason);
            event(body);
        }
        return;
    }
    std::vector<std::vector<std::string>> table;
    table.push_back({"PORT", "MODEL", "VERSION", "COUNTRY", "IMAGE", "IMAGE VERSION"});
    for (const PlanRow &row : rows) {
        if (row.nImage >= 0)
            table.push_back({printable(row.port), printable(row.model), printable(row.version), printable(row.country),
                             printable(row.image), printable(row.imageVersionShown)});
        else
            table.push_back({printable(row.port), printable(row.model), printable(row.version), printable(row.country),
                             "skipped: " + printable(row.reason)});
    }
    std::fputs(cli_AlignedTable(table).c_str(), stdout);
    std::fflush(stdout);
}

void RunView::progress(UpdateRun &run, const std::vector<PlanRow> &rows, std::int32_t nLowest, const char *pszLowestText)
{
    std::vector<std::string> lines;
    for (const PlanRow &row : rows) {
        if (row.nImage < 0) continue;
        DeviceUpdate *pUpdate = run.devices[static_cast<std::size_t>(row.nDevice)]->pUpdate;
        char szCode[flsh_kShortCodeLen], szText[flsh_kStatusTextLen];
        flsh_ReadProgress(pUpdate, szCode, szText, nullptr);
        std::int32_t nValue = cli_ShortCodePercent(szCode);
        int nResult = flsh_RunResult(&run, row.nDevice);
        std::string text = trimmed(szText);
        char szLine[160];
        if (nResult != FR_NONE)
            std::snprintf(szLine, sizeof szLine, "%-6s %s", row.port.c_str(), flsh_ResultText(nResult));
        else
            std::snprintf(szLine, sizeof szLine, "%-6s %-5s  %-26s %3d%%", row.port.c_str(), szCode, text.c_str(),
                          static_cast<int>(nValue));
        lines.push_back(printable(szLine));

        std::string shown = std::string(szCode) + "|" + text + "|" + std::to_string(nValue) + "|" + std::to_string(nResult);
        if (m_lastShown[row.nDevice] == shown || nResult != FR_NONE) {
            m_lastShown[row.nDevice] = shown;
            continue;
        }
        m_lastShown[row.nDevice] = shown;
        if (m_bJson)
            event("\"event\": \"progress\"" + field("port", row.port) + field("status_text", text) + field("percent", nValue));
        else if (!m_bTerminal)
            std::fprintf(stderr, "%s\n", printable(szLine).c_str());
    }
    if (m_bJson || !m_bTerminal) {
        std::fflush(stderr);
        return;
    }
    char szSlowest[96];
    std::snprintf(szSlowest, sizeof szSlowest, "slowest device: %3d%%  %s", static_cast<int>(nLowest),
                  pszLowestText != nullptr ? trimmed(pszLowestText).c_str() : "");
    lines.push_back(printable(szSlowest));
    // Back to the first live line, then each line rewritten in place.
    if (m_nLiveLines > 0) std::fprintf(stderr, "\x1b[%dA", m_nLiveLines);
    for (const std::string &line : lines) std::fprintf(stderr, "\r\x1b[K%s\n", line.c_str());
    m_nLiveLines = static_cast<int>(lines.size());
    std::fflush(stderr);
}

void RunView::progressDone() { m_nLiveLines = 0; }

void RunView::result(const UpdateRun &run, const PlanRow &row) const
{
    if (!m_bJson) return;
    int nResult = flsh_RunResult(&run, row.nDevice);
    // The speed the download ran at: the one asked for, lowered by the handshake, or the family's own.
    event("\"event\": \"result\"" + field("port", row.port) + field("result", nResult) +
          field("result_text", flsh_ResultText(nResult)) +
          field("speed", static_cast<long>(run.devices[static_cast<std::size_t>(row.nDevice)]->pUpdate->nSpeed)));
}

void RunView::verified(const PlanRow &row, bool bOk, const std::string &version) const
{
    if (!m_bJson) return;
    event("\"event\": \"verified\"" + field("port", row.port) + ", \"ok\": " + (bOk ? "true" : "false") +
          field("version", version));
}

void RunView::results(const UpdateRun &run, const std::vector<PlanRow> &rows, int nUpdated, int nTotal,
                      const std::string &failedList) const
{
    if (m_bJson) {
        if (!failedList.empty()) note("Retry the failed devices with: --ports " + failedList);
        return;
    }
    std::vector<std::vector<std::string>> table;
    table.push_back({"PORT", "MODEL", "RESULT"});
    for (const PlanRow &row : rows) {
        if (row.nImage < 0) continue;
        std::string text = row.verifyFailure.empty() ? flsh_ResultText(flsh_RunResult(&run, row.nDevice)) : row.verifyFailure;
        table.push_back({printable(row.port), printable(row.model), printable(text)});
    }
    std::fputs(cli_AlignedTable(table).c_str(), stdout);
    std::printf("%d of %d devices were updated successfully\n", nUpdated, nTotal);
    if (!failedList.empty()) std::printf("Retry the failed devices with: --ports %s\n", failedList.c_str());
    std::fflush(stdout);
}

void RunView::summary(int nError, const std::string &errorText, int nUpdated, int nTotal, int nSkipped,
                      const std::vector<std::string> &failedPorts) const
{
    if (!m_bJson) return;
    std::string list = "[";
    for (std::size_t i = 0; i < failedPorts.size(); ++i) list += (i ? ", " : "") + cli_JsonString(failedPorts[i]);
    list += "]";
    event("\"event\": \"summary\"" + field("error", nError) + field("error_text", errorText) + field("updated", nUpdated) +
          field("total", nTotal) + field("skipped", nSkipped) + ", \"failed_ports\": " + list);
}
