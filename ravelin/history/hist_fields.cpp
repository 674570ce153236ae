#include "ravelin/history/hist_fields.h"

namespace {

HistField text(const char *pszName, const char *pszValue) { return {pszName, hist_kFieldText, pszValue}; }
HistField number(const char *pszName, long long nValue) { return {pszName, hist_kFieldNumber, std::to_string(nValue)}; }
HistField orNull(HistField field, bool bNull) {
    if (bNull) {
        field.kind = hist_kFieldNull;
        field.value.clear();
    }
    return field;
}

}  // namespace

void hist_RecordFields(const HistRecord *p, HistField aFields[hist_kFieldCount]) {
    const bool bUnfinished = p->nResult == hist_kUnfinished;
    const HistField fields[hist_kFieldCount] = {
        number("id", p->nId),
        text("started", p->szStarted),
        orNull(text("ended", p->szEnded), p->szEnded[0] == '\0'),
        text("host", p->szHost),
        text("user", p->szUser),
        text("program", p->szProgram),
        text("port", p->szPort),
        text("path", p->szPath),
        text("identity", p->szIdentity),
        text("model", p->szModel),
        text("version_before", p->szVersionBefore),
        text("country", p->szCountry),
        text("image", p->szImage),
        text("image_path", p->szImagePath),
        number("image_size", p->nImageSize),
        text("image_sha256", p->szImageSha256),
        text("image_version", p->szImageVersion),
        text("protocol", p->szProtocol),
        number("speed", p->nSpeed),
        {"fixed_speed", hist_kFieldBool, p->fixedSpeed ? "true" : "false"},
        number("flash_mode", p->flashMode),
        text("last_status", p->szLastStatus),
        orNull(number("last_percent", p->nLastPercent), p->nLastPercent < 0),
        orNull(number("result", p->nResult), bUnfinished),
        text("result_text", p->szResultText),
        text("detail", p->szDetail),
        number("rejected_blocks", p->nRejectedBlocks),
        text("loader_version", p->szLoaderVersion),
        text("verified_version", p->szVerifiedVersion),
        orNull(number("resume_of", p->nResumeOf), p->nResumeOf <= 0),
    };
    for (int i = 0; i < hist_kFieldCount; ++i) aFields[i] = fields[i];
}

std::string hist_CsvField(const std::string &text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char ch : text) {
        if (ch == '"') out += '"';
        out += ch;
    }
    return out + "\"";
}
