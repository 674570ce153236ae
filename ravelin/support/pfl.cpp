// Profile files: reading, lookup, changes and writing of INI-style text files.
#include "ravelin/support/pfl.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "ravelin/support/log.h"
#include "ravelin/support/oswin32.h"

namespace {

const char *const kModule = "pfl";

bool IsSeparator(char ch) { return ch == '=' || ch == '\r' || ch == '\n'; }
bool IsLineEnd(char ch) { return ch == '\r' || ch == '\n'; }

// "[" + section + "]", cut as a stored section name would be.
void BracketedName(const char *pszSection, char *pszDest) {
    char szTemp[pfl_kSectionNameLen + 2];
    std::snprintf(szTemp, sizeof szTemp, "[%s]", pszSection);
    if (std::strlen(pszSection) + 2 >= static_cast<size_t>(pfl_kSectionNameLen))
        dbg_Assert("strlen(szSectionName) < pfl_kSectionNameLen", kModule, __LINE__);
    os_CopyBounded(pszDest, szTemp, pfl_kSectionNameLen);
}

// The first section whose name matches, with the iterator left on it; nullptr when none.
pfl_Section *FindSection(ll_List *pProfileList, const char *pszSection, ll_Iterator *pIt) {
    char szName[pfl_kSectionNameLen];
    BracketedName(pszSection, szName);
    ll_CreateIterator(pIt, pProfileList);
    for (void *p = ll_First(pIt); p != nullptr; p = ll_Next(pIt)) {
        pfl_Section *pSection = static_cast<pfl_Section *>(p);
        if (os_CompareNoCase(pSection->szSectionName, szName) == 0) return pSection;
    }
    return nullptr;
}

// The first entry of the section whose name matches, with the iterator left on it.
pfl_Entry *FindEntry(pfl_Section *pSection, const char *pszEntry, ll_Iterator *pIt) {
    ll_CreateIterator(pIt, &pSection->EntryList);
    for (void *p = ll_First(pIt); p != nullptr; p = ll_Next(pIt)) {
        pfl_Entry *pEntry = static_cast<pfl_Entry *>(p);
        if (os_CompareNoCase(pEntry->szEntry, pszEntry) == 0) return pEntry;
    }
    return nullptr;
}

bool CheckSectionArgument(const char *pszSection) {
    if (pszSection == nullptr) {
        dbg_Assert("pszSection", kModule, __LINE__);
        return false;
    }
    if (pfl_mIsaSection(pszSection)) dbg_Assert("!pfl_mIsaSection (pszSection)", kModule, __LINE__);
    return true;
}

// Looks at the tokens of one physical line: sink.Section(token) for each section header,
// sink.Entry(name, value) for the entry it holds (value nullptr when nothing follows the name).
// *pbOpen tells whether a section is open, before and after the line. The reader and the writer's
// check of its own lines both go through here, so what is written is read by the same rules.
template <typename Sink>
void ReadLineItems(char *pszLine, bool *pbOpen, Sink &sink) {
    char *p = pszLine;
    for (;;) {
        while (IsSeparator(*p)) ++p;  // runs of separators count as one; leading ones skipped
        if (*p == '\0') return;
        char *pszToken = p;
        while (*p != '\0' && !IsSeparator(*p)) ++p;
        char chEnd = *p;
        if (*p != '\0') *p++ = '\0';
        size_t nToken = std::strlen(pszToken);

        if (pszToken[0] == ';') return;  // a comment: the rest of the line is ignored
        if (pszToken[0] == '[' && pszToken[nToken - 1] == ']') {
            sink.Section(pszToken);
            *pbOpen = true;
            if (chEnd == '\0') return;
            continue;
        }
        if (!*pbOpen) continue;  // lines before the first section are ignored

        const char *pszValue = nullptr;
        if (chEnd != '\0') {
            // The value is the rest of the line (it may hold "=") up to a CR or LF.
            while (IsLineEnd(*p)) ++p;
            pszValue = p;
            while (*p != '\0' && !IsLineEnd(*p)) ++p;
            *p = '\0';
        }
        sink.Entry(pszToken, pszValue);
        return;
    }
}

// The reader's sink: opens sections and adds entries to the open one.
struct ProfileSink {
    ll_List *pProfileList;
    pfl_Section *pOpen;
    bool bOpen;

    void Section(const char *pszToken) {
        if (bOpen) ll_Append(pProfileList, pOpen, sizeof *pOpen, __LINE__, kModule);
        std::memset(pOpen, 0, sizeof *pOpen);
        os_CopyTrimmed(pOpen->szSectionName, pszToken, pfl_kSectionNameLen);
        ll_CreateList(&pOpen->EntryList, ll_kDataList);
    }
    void Entry(const char *pszToken, const char *pszValue) {
        pfl_Entry entry;
        std::memset(&entry, 0, sizeof entry);
        os_CopyTrimmed(entry.szEntry, pszToken, pfl_kEntryLen);
        if (pszValue != nullptr) os_CopyTrimmed(entry.szValue, pszValue, pfl_kValueLen);
        ll_Append(&pOpen->EntryList, &entry, sizeof entry, __LINE__, kModule);
    }
};

// The writer's sink: what one line reads back as.
struct CheckSink {
    int nSections = 0;
    int nEntries = 0;
    char szSection[pfl_kSectionNameLen] = "";
    pfl_Entry entry{};

    void Section(const char *pszToken) {
        ++nSections;
        os_CopyTrimmed(szSection, pszToken, pfl_kSectionNameLen);
    }
    void Entry(const char *pszToken, const char *pszValue) {
        ++nEntries;
        os_CopyTrimmed(entry.szEntry, pszToken, pfl_kEntryLen);
        entry.szValue[0] = '\0';
        if (pszValue != nullptr) os_CopyTrimmed(entry.szValue, pszValue, pfl_kValueLen);
    }
};

// True when the reader takes the line as one physical line (no longer than it reads at a time,
// and no Ctrl-Z, which ends the file for it) and finds in it what expect accepts.
template <typename Expect>
bool ReadsBack(const char *pszLine, bool bOpen, Expect expect) {
    size_t nLength = std::strlen(pszLine);
    if (nLength > static_cast<size_t>(pfl_kLineLen) || std::strchr(pszLine, 0x1A) != nullptr) return false;
    char szCopy[pfl_kLineLen + 1];
    std::memcpy(szCopy, pszLine, nLength + 1);
    CheckSink sink;
    ReadLineItems(szCopy, &bOpen, sink);
    return expect(sink);
}

// The header line of a section, in a form the reader reads back as the same stored name. A name
// cut to fit its capacity has lost its closing bracket: the bracket goes back at the position that
// is cut off again on reading, after blanks that reading trims away.
bool SectionLine(const pfl_Section *pSection, char *pszLine, size_t nSize) {
    const char *pszName = pSection->szSectionName;
    auto same = [pszName](const CheckSink &sink) {
        return sink.nSections == 1 && sink.nEntries == 0 && std::strcmp(sink.szSection, pszName) == 0;
    };
    std::snprintf(pszLine, nSize, "%s", pszName);
    if (ReadsBack(pszLine, false, same)) return true;
    std::snprintf(pszLine, nSize, "%-*s]", pfl_kSectionNameLen - 1, pszName);
    return ReadsBack(pszLine, false, same);
}

// The line of an entry: "name = value"; "name=value" when only that fits the reader's line; either
// after a blank when the name itself would read as a comment or a section header (a name such as
// ";x" comes from an indented line, and is read back from one).
bool EntryLine(const pfl_Entry *pEntry, char *pszLine, size_t nSize) {
    auto same = [pEntry](const CheckSink &sink) {
        return sink.nSections == 0 && sink.nEntries == 1 && std::strcmp(sink.entry.szEntry, pEntry->szEntry) == 0 &&
               std::strcmp(sink.entry.szValue, pEntry->szValue) == 0;
    };
    static const char *const kFormats[] = {"%s = %s", "%s=%s", " %s = %s", " %s=%s"};
    for (const char *pszFormat : kFormats) {
        std::snprintf(pszLine, nSize, pszFormat, pEntry->szEntry, pEntry->szValue);
        if (ReadsBack(pszLine, true, same)) return true;
    }
    return false;
}

bool WriteText(osfl_Handle hFile, const char *pszText) {
    int n = static_cast<int>(std::strlen(pszText));
    return n == 0 || osfl_Write(hFile, pszText, n) == n;
}

}  // namespace

ll_List *pfl_ReadProfile(ll_List *pProfileList, const char *szFileName) {
    if (pProfileList != nullptr) return pProfileList;
    if (szFileName == nullptr) {
        dbg_Assert("szFileName", kModule, __LINE__);
        return nullptr;
    }
    osfl_Handle hFile = osfl_Open(szFileName, osfl_kRead);
    if (hFile == osfl_kInvalidHandle) {
        // A missing profile is created empty, so that later writes have a file to go to.
        hFile = osfl_Create(szFileName, osfl_kAttrNormal);
        osfl_Close(hFile);
        hFile = osfl_Open(szFileName, osfl_kReadWrite);
    }
    if (hFile == osfl_kInvalidHandle) dbg_Assert("hFile != osfl_kInvalidHandle", kModule, __LINE__);

    ll_List *pProfile = new (std::nothrow) ll_List;
    if (pProfile == nullptr) {
        dbg_Assert("pProfileList", kModule, __LINE__);
        osfl_Close(hFile);
        return nullptr;
    }
    ll_CreateList(pProfile, ll_kDataList);
    if (hFile == osfl_kInvalidHandle) return pProfile;

    pfl_Section open;
    std::memset(&open, 0, sizeof open);
    ProfileSink sink{pProfile, &open, false};
    char szLine[pfl_kLineLen + 1];
    while (gn_ReadString(hFile, szLine, pfl_kLineLen)) ReadLineItems(szLine, &sink.bOpen, sink);
    if (sink.bOpen) ll_Append(pProfile, &open, sizeof open, __LINE__, kModule);
    osfl_Close(hFile);
    return pProfile;
}

int pfl_GetString(ll_List *pProfileList, const char *pszSection, const char *pszEntry,
                  char *pszValue, int nSize) {
    if (pProfileList == nullptr) {
        dbg_Assert("pProfileList", kModule, __LINE__);
        return 0;
    }
    if (!CheckSectionArgument(pszSection)) return 0;
    if (pszEntry == nullptr) {
        dbg_Assert("pszEntry", kModule, __LINE__);
        return 0;
    }
    if (pszValue == nullptr || nSize <= 0) {
        dbg_Assert("pszValue", kModule, __LINE__);
        return 0;
    }
    ll_Iterator itSection;
    ll_Iterator itEntry;
    pfl_Section *pSection = FindSection(pProfileList, pszSection, &itSection);
    if (pSection == nullptr) return 0;
    pfl_Entry *pEntry = FindEntry(pSection, pszEntry, &itEntry);
    if (pEntry == nullptr) return 0;
    return os_CopyBounded(pszValue, pEntry->szValue, nSize);
}

int pfl_SetString(ll_List *pProfileList, const char *pszSection, const char *pszEntry,
                  const char *pszValue) {
    if (pProfileList == nullptr) {
        dbg_Assert("pProfileList", kModule, __LINE__);
        return 0;
    }
    if (!CheckSectionArgument(pszSection)) return 0;
    if (pszEntry == nullptr) {
        dbg_Assert("pszEntry", kModule, __LINE__);
        return 0;
    }
    if (std::strlen(pszEntry) >= static_cast<size_t>(pfl_kEntryLen))
        dbg_Assert("strlen(pszEntry) < pfl_kEntryLen", kModule, __LINE__);
    if (pszValue != nullptr && std::strlen(pszValue) >= static_cast<size_t>(pfl_kValueLen))
        dbg_Assert("strlen(pszValue) < pfl_kValueLen", kModule, __LINE__);

    ll_Iterator itSection;
    ll_Iterator itEntry;
    pfl_Section *pSection = FindSection(pProfileList, pszSection, &itSection);
    if (pSection != nullptr) {
        pfl_Entry *pEntry = FindEntry(pSection, pszEntry, &itEntry);
        if (pEntry != nullptr) {
            if (pszValue != nullptr) os_CopyBounded(pEntry->szValue, pszValue, pfl_kValueLen);
            else ll_DeleteCurrent(&itEntry, __LINE__, kModule);
            return 1;
        }
    }
    if (pszValue == nullptr) return 0;

    pfl_Entry entry;
    std::memset(&entry, 0, sizeof entry);
    os_CopyBounded(entry.szEntry, pszEntry, pfl_kEntryLen);
    os_CopyBounded(entry.szValue, pszValue, pfl_kValueLen);
    if (pSection != nullptr)
        return ll_Append(&pSection->EntryList, &entry, sizeof entry, __LINE__, kModule) ? 1 : 0;

    pfl_Section section;
    std::memset(&section, 0, sizeof section);
    BracketedName(pszSection, section.szSectionName);
    ll_CreateList(&section.EntryList, ll_kDataList);
    ll_Append(&section.EntryList, &entry, sizeof entry, __LINE__, kModule);
    if (ll_Append(pProfileList, &section, sizeof section, __LINE__, kModule) == nullptr) {
        ll_DestroyList(&section.EntryList);
        return 0;
    }
    return 1;
}

int pfl_DeleteSection(ll_List *pProfileList, const char *pszSection) {
    if (pProfileList == nullptr) {
        dbg_Assert("pProfileList", kModule, __LINE__);
        return 0;
    }
    if (!CheckSectionArgument(pszSection)) return 0;
    ll_Iterator it;
    pfl_Section *pSection = FindSection(pProfileList, pszSection, &it);
    if (pSection == nullptr) return 0;
    ll_DestroyList(&pSection->EntryList);
    ll_DeleteCurrent(&it, __LINE__, kModule);
    return 1;
}

int pfl_WriteProfile(ll_List *pProfileList, const char *szFileName) {
    if (pProfileList == nullptr) {
        dbg_Assert("pProfileList", kModule, __LINE__);
        return 0;
    }
    if (szFileName == nullptr) {
        dbg_Assert("szFileName", kModule, __LINE__);
        return 0;
    }
    // The profile is written whole into a new file that replaces the old one only when complete:
    // a failed write (a full disk) must not leave the settings emptied or cut short.
    osfl_Replacement replacement;
    if (!osfl_BeginReplace(&replacement, szFileName)) {
        log_Write(__LINE__, kModule, "Cannot write %s: %s", szFileName, os_ErrorText(replacement.nError));
        dbg_Assert("hFile != osfl_kInvalidHandle", kModule, __LINE__);
        return 0;
    }
    osfl_Handle hFile = replacement.hFile;
    bool bOk = true;
    char szLine[pfl_kEntryLen + pfl_kValueLen + 8];
    ll_Iterator itSection;
    ll_CreateIterator(&itSection, pProfileList);
    // A line the reader would read as something else (cut in two by its line length, cut short by a
    // line end or Ctrl-Z in a value, a header that lost its bracket) would come back as other
    // settings: such a profile is not written at all.
    bool bReadable = true;
    for (void *p = ll_First(&itSection); p != nullptr && bReadable; p = ll_Next(&itSection)) {
        pfl_Section *pSection = static_cast<pfl_Section *>(p);
        if (!SectionLine(pSection, szLine, sizeof szLine)) {
            log_Write(__LINE__, kModule, "Cannot write %s: section %s would not read back", szFileName,
                      pSection->szSectionName);
            bReadable = false;
            break;
        }
        bOk = WriteText(hFile, szLine) && WriteText(hFile, "\r\n") && bOk;
        ll_Iterator itEntry;
        ll_CreateIterator(&itEntry, &pSection->EntryList);
        for (void *q = ll_First(&itEntry); q != nullptr; q = ll_Next(&itEntry)) {
            pfl_Entry *pEntry = static_cast<pfl_Entry *>(q);
            if (!EntryLine(pEntry, szLine, sizeof szLine)) {
                log_Write(__LINE__, kModule, "Cannot write %s: entry %s of %s would not read back", szFileName,
                          pEntry->szEntry, pSection->szSectionName);
                bReadable = false;
                break;
            }
            bOk = WriteText(hFile, szLine) && WriteText(hFile, "\r\n") && bOk;
        }
    }
    if (!bReadable) {
        osfl_AbandonReplace(&replacement);
        return 0;
    }
    if (!bOk) {
        log_Write(__LINE__, kModule, "Cannot write %s: %s", szFileName, os_ErrorText(os_LastError()));
        osfl_AbandonReplace(&replacement);
        return 0;
    }
    if (!osfl_CommitReplace(&replacement)) {
        log_Write(__LINE__, kModule, "Cannot replace %s: %s", szFileName, os_ErrorText(replacement.nError));
        return 0;
    }
    return 1;
}

int pfl_FreeProfile(ll_List *pProfileList) {
    if (pProfileList == nullptr) {
        dbg_Assert("pProfileList", kModule, __LINE__);
        return 1;
    }
    ll_Iterator it;
    ll_CreateIterator(&it, pProfileList);
    for (void *p = ll_First(&it); p != nullptr; p = ll_Next(&it))
        ll_DestroyList(&static_cast<pfl_Section *>(p)->EntryList);
    ll_DestroyList(pProfileList);
    delete pProfileList;
    return 1;
}
