// The journal entry of an update's end; sd-journal stays behind one sink function.
#include "ravelin/history/hist_journal.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <sys/uio.h>
#include <systemd/sd-journal.h>
#include <vector>

#include "ravelin/flash/flsh.h"

const char hist_kJournalMessageId[] = "e180c42a7ba747fe898fd75efa3cfa74";

namespace {

int journalSink(const char *const *ppszFields, int nFields, void *) {
    std::vector<struct iovec> vectors(static_cast<std::size_t>(nFields));
    for (int i = 0; i < nFields; ++i) {
        vectors[static_cast<std::size_t>(i)].iov_base = const_cast<char *>(ppszFields[i]);
        vectors[static_cast<std::size_t>(i)].iov_len = std::strlen(ppszFields[i]);
    }
    // Fails at once (no socket) where there is no journal; that is no error of the update's.
    return sd_journal_sendv(vectors.data(), nFields) == 0 ? 1 : 0;
}

std::mutex g_sinkLock;
HistJournalSink g_pfnSink = journalSink;
void *g_pSinkUser = nullptr;

// A field's value on one line: the journal's text fields are newline-free by our choice, so that a
// plain export shows one field per line.
std::string field(const char *pszName, const std::string &value) {
    std::string text = std::string(pszName) + "=" + value;
    for (char &ch : text)
        if (ch == '\n' || ch == '\r') ch = ' ';
    return text;
}

}  // namespace

int hist_JournalUpdateEnd(const HistRecord *pRecord) {
    const char *pszSwitch = std::getenv("RAVELIN_JOURNAL");
    if (pszSwitch != nullptr && (std::strcmp(pszSwitch, "off") == 0 || std::strcmp(pszSwitch, "0") == 0)) return 0;
    const HistRecord &r = *pRecord;
    std::string resultText = r.szResultText[0] != '\0' ? r.szResultText : flsh_ResultText(r.nResult);
    std::string message = std::string(r.szPort) + ": " + r.szImage + " onto " + r.szModel + ": " + resultText;
    if (r.szDetail[0] != '\0') message += " (" + std::string(r.szDetail) + ")";
    std::vector<std::string> fields = {
        field("MESSAGE_ID", hist_kJournalMessageId),
        field("MESSAGE", message),
        field("PRIORITY", r.nResult == FR_SUCCESSFUL ? "6" : "4"),
        field("RAVELIN_PORT", r.szPort),
        field("RAVELIN_MODEL", r.szModel),
        field("RAVELIN_IMAGE", r.szImage),
        field("RAVELIN_IMAGE_SHA256", r.szImageSha256),
        field("RAVELIN_RESULT", std::to_string(r.nResult)),
        field("RAVELIN_RESULT_TEXT", resultText),
        field("RAVELIN_HISTORY_ID", std::to_string(r.nId)),
    };
    std::vector<const char *> texts;
    for (const std::string &text : fields) texts.push_back(text.c_str());
    std::lock_guard<std::mutex> guard(g_sinkLock);
    return g_pfnSink(texts.data(), static_cast<int>(texts.size()), g_pSinkUser);
}

void hist_SetJournalSinkForTesting(HistJournalSink pfnSink, void *pUser) {
    std::lock_guard<std::mutex> guard(g_sinkLock);
    g_pfnSink = pfnSink != nullptr ? pfnSink : journalSink;
    g_pSinkUser = pfnSink != nullptr ? pUser : nullptr;
}
