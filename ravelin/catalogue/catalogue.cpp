// The catalogue list and its queries. The list is filled once at start-up and only read afterwards,
// so the queries take no lock.

#include "ravelin/catalogue/catalogue.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "ravelin/catalogue/cattext.h"

namespace {

std::vector<ModelEntry> g_entries;

// Entries left empty by a missing model key name no model and have no prefix: look-ups skip them,
// so that an empty name or prefix does not "find" them.
const ModelEntry* FindByName(const char* pszName)
{
    for (const ModelEntry& e : g_entries)
        if (e.szName[0] != '\0' && cattext::EqualNoCase(e.szName, pszName))
            return &e;
    return nullptr;
}

const ModelEntry* FindByPrefix(const std::string& prefix)
{
    for (const ModelEntry& e : g_entries)
        if (e.szImagePrefix[0] != '\0' && prefix == e.szImagePrefix)
            return &e;
    return nullptr;
}

// The name stands at its first occurrence in the text, followed by the end of the text, a CR, a LF
// or a blank. Later occurrences are not looked at.
bool NameStandsInText(const char* pszText, const char* pszName)
{
    const char* pAt = std::strstr(pszText, pszName);
    if (!pAt)
        return false;
    const char cNext = pAt[std::strlen(pszName)];
    return cNext == '\0' || cNext == '\r' || cNext == '\n' || cNext == ' ';
}

} // namespace

void cat_Free() { g_entries.clear(); }

void cat_Install(std::vector<ModelEntry> entries)
{
    // Stable, so that entries with equal names keep their file order ("the first entry" stays the
    // one written first).
    std::stable_sort(entries.begin(), entries.end(), [](const ModelEntry& a, const ModelEntry& b) {
        return cattext::CompareNoCase(a.szName, b.szName) < 0;
    });
    g_entries = std::move(entries);
}

const char* cat_LoadMessage(int nResult)
{
    switch (nResult) {
    case cat_kNoModels:
        return "Unable to find \"Models.ini\".\r\r\"Models.ini\" is required by Ravelin.";
    case cat_kModelsVersion:
        return "The version of \"Models.ini\" is invalid with this version of Ravelin.";
    case cat_kNoLocksVersion:
        return "Unable to find \"Locks.ini\".\r\r\"Locks.ini\" is required by Ravelin.";
    case cat_kLocksVersion:
        return "The version of \"Locks.ini\" is invalid with this version of Ravelin.";
    default:
        return "";
    }
}

int cat_Count() { return static_cast<int>(g_entries.size()); }

const ModelEntry* cat_FindEntryByName(const char* pszName) { return pszName ? FindByName(pszName) : nullptr; }

const ModelEntry* cat_FindEntryByPrefix(const char* pszPrefix)
{
    return pszPrefix ? FindByPrefix(cattext::ToUpper(pszPrefix)) : nullptr;
}

const ModelEntry* cat_EntryAt(int nIndex)
{
    if (nIndex < 0 || nIndex >= cat_Count())
        return nullptr;
    return &g_entries[static_cast<std::size_t>(nIndex)];
}

bool cat_FindModelInText(const char* pszText, char* pszName, int nNameSize)
{
    if (!pszText)
        return false;
    for (const ModelEntry& e : g_entries) {
        // An entry without a name (a model key missing from Models.ini) would "stand" in front of
        // every answer that begins with a blank or line end; it names no device.
        if (e.szName[0] == '\0')
            continue;
        if (NameStandsInText(pszText, e.szName)) {
            cattext::CopyBounded(pszName, e.szName, nNameSize);
            return true;
        }
    }
    return false;
}

bool cat_FindModelId(const char* pszName, int* pnId)
{
    if (!pszName)
        return false;
    const ModelEntry* pEntry = FindByName(pszName);
    if (!pEntry)
        return false;
    if (pnId)
        *pnId = pEntry->nModelId;
    return true;
}

std::uint32_t cat_FlagsForId(int nId)
{
    for (const ModelEntry& e : g_entries)
        if (e.nModelId == nId)
            return e.flags;
    return cat_kDefaultFlags;
}

bool cat_GetEntry(int nIndex, char* pszName, int nNameSize, std::uint32_t* pFlags)
{
    const ModelEntry* pEntry = cat_EntryAt(nIndex);
    if (!pEntry)
        return false;
    cattext::CopyBounded(pszName, pEntry->szName, nNameSize);
    if (pFlags)
        *pFlags = pEntry->flags;
    return true;
}

void cat_LoaderForImage(const char* pszImagePath, char* pszLoader, int nLoaderSize)
{
    cattext::CopyBounded(pszLoader, "", nLoaderSize);
    if (!pszImagePath)
        return;
    // Image paths come from the Windows-style command line as well as from directory scans here.
    const char* pszFile = pszImagePath;
    for (const char* p = pszImagePath; *p; ++p)
        if (*p == '\\' || *p == '/')
            pszFile = p + 1;
    const std::string prefix = cattext::ToUpper(std::string(pszFile).substr(0, 2).c_str());
    if (prefix.size() < 2)
        return;
    if (const ModelEntry* pEntry = FindByPrefix(prefix))
        cattext::CopyBounded(pszLoader, pEntry->szLoader, nLoaderSize);
}

void cat_LoaderForModel(const char* pszModel, char* pszLoader, int nLoaderSize)
{
    const ModelEntry* pEntry = pszModel ? FindByName(pszModel) : nullptr;
    cattext::CopyBounded(pszLoader, pEntry ? pEntry->szLoader : cat_kDefaultLoader, nLoaderSize);
}

void cat_VersionDigitForPrefix(const char* pszPrefix, char* pszDigit, int nDigitSize)
{
    cattext::CopyBounded(pszDigit, "", nDigitSize);
    if (!pszPrefix)
        return;
    const ModelEntry* pEntry = FindByPrefix(cattext::ToUpper(pszPrefix));
    if (pEntry && !cattext::EqualNoCase(pEntry->szVersionDigit, "x"))
        cattext::CopyBounded(pszDigit, pEntry->szVersionDigit, nDigitSize);
}
