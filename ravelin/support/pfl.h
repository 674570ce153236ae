// Profile files: INI-style text files read into memory, looked up, changed and written back.
//
// A profile is a data list (ll.h) of pfl_Section records in file order; each section holds a
// data list of pfl_Entry records in file order. Lines are read 132 characters at a time; files
// are written with CR LF as "[Section]" and "name = value" lines only.
#pragma once

#include "ravelin/support/ll.h"

constexpr int pfl_kSectionNameLen = 40;   // stored section name with its brackets: 39 characters
constexpr int pfl_kEntryLen = 40;         // entry name: 39 characters
constexpr int pfl_kValueLen = 160;        // value: 159 characters
constexpr int pfl_kLineLen = 132;         // characters read per physical line

struct pfl_Section {
    char szSectionName[pfl_kSectionNameLen];   // "[Name]" as in the file
    ll_List EntryList;                         // data list of pfl_Entry
};

struct pfl_Entry {
    char szEntry[pfl_kEntryLen];
    char szValue[pfl_kValueLen];
};

// True when the text is given with its opening bracket (section arguments must not be).
inline bool pfl_mIsaSection(const char *pszSection) {
    return pszSection != nullptr && pszSection[0] == '[';
}

// Returns pProfileList unchanged when it is given; otherwise reads szFileName into a new
// profile. A missing file is created empty. Never returns nullptr unless memory runs out.
ll_List *pfl_ReadProfile(ll_List *pProfileList, const char *szFileName);

// Copies the value of the first matching entry of the first matching section (names compared
// without regard to case; section without brackets) with os_CopyBounded and returns its result.
// 0 when there is no such entry, and when the value is empty.
int pfl_GetString(ll_List *pProfileList, const char *pszSection, const char *pszEntry,
                  char *pszValue, int nSize);

// With a value: sets the entry (creating entry and section as needed). With nullptr: deletes
// the entry. 1 when the profile changed, 0 otherwise.
int pfl_SetString(ll_List *pProfileList, const char *pszSection, const char *pszEntry,
                  const char *pszValue);

// Removes the first matching section with its entries; 1 when found, else 0.
int pfl_DeleteSection(ll_List *pProfileList, const char *pszSection);

// Writes the whole profile to the file (CR LF line ends), through a new file that takes the old
// one's place only when complete. Every line is written so that reading the file gives back the
// same sections and entries: "name=value" where "name = value" would not fit the reader's line,
// and a cut section name with its closing bracket where reading cuts it off again. 1 when
// written; 0 when it could not be written, or when some entry would not read back as it is (too
// long for one line, or holding a line end or Ctrl-Z); the old file then stays as it was.
int pfl_WriteProfile(ll_List *pProfileList, const char *szFileName);

// Destroys every section's entry list, the section list and the profile header. Returns 1.
int pfl_FreeProfile(ll_List *pProfileList);
