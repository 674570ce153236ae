// Fuzz target: the update program's profile reader and writer (Models.ini, Locks.ini and Flash.ini
// are all read through it), the profile cache calls on top of it, and the catalogue load that reads
// Models.ini and Locks.ini through that cache.
//
// Input: the profile's bytes. The same bytes also serve as the catalogue: up to the first NUL they
// are Models.ini, after it Locks.ini (both files are the same bytes when there is no NUL).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_scratch.h"
#include "ravelin/catalogue/catalogue.h"
#include "ravelin/support/ll.h"
#include "ravelin/support/ospfl.h"
#include "ravelin/support/oswin32.h"
#include "ravelin/support/pfl.h"

namespace {

void fail(const char *pszWhat)
{
    std::fprintf(stderr, "ravelin_profile: %s\n", pszWhat);
    std::abort();
}

using Entries = std::vector<std::pair<std::string, std::string>>;
using Sections = std::vector<std::pair<std::string, Entries>>;

// Everything the profile holds, in order, and a check that every text is terminated within its
// capacity.
Sections snapshot(ll_List *pProfile)
{
    Sections sections;
    ll_Iterator itSection;
    ll_CreateIterator(&itSection, pProfile);
    for (void *p = ll_First(&itSection); p != nullptr; p = ll_Next(&itSection)) {
        pfl_Section *pSection = static_cast<pfl_Section *>(p);
        if (std::memchr(pSection->szSectionName, '\0', sizeof pSection->szSectionName) == nullptr)
            fail("section name not terminated within its capacity");
        Entries entries;
        ll_Iterator itEntry;
        ll_CreateIterator(&itEntry, &pSection->EntryList);
        for (void *q = ll_First(&itEntry); q != nullptr; q = ll_Next(&itEntry)) {
            pfl_Entry *pEntry = static_cast<pfl_Entry *>(q);
            if (std::memchr(pEntry->szEntry, '\0', sizeof pEntry->szEntry) == nullptr ||
                std::memchr(pEntry->szValue, '\0', sizeof pEntry->szValue) == nullptr)
                fail("entry not terminated within its capacity");
            entries.emplace_back(pEntry->szEntry, pEntry->szValue);
        }
        sections.emplace_back(pSection->szSectionName, std::move(entries));
    }
    return sections;
}

// Lookups must find the first matching entry of the first matching section.
void checkLookups(ll_List *pProfile, const Sections &sections)
{
    for (const auto &section : sections) {
        const std::string &name = section.first;
        if (name.size() < 2 || name.front() != '[' || name.back() != ']' || name.size() > 39)
            continue;
        const std::string bare = name.substr(1, name.size() - 2);
        if (bare.empty() || bare[0] == '[')
            continue;
        for (const auto &entry : section.second) {
            char szValue[pfl_kValueLen];
            int n = pfl_GetString(pProfile, bare.c_str(), entry.first.c_str(), szValue, sizeof szValue);
            if (n < 0 || n > pfl_kValueLen || std::strlen(szValue) >= sizeof szValue)
                fail("pfl_GetString overran its buffer");
        }
    }
}

void profileRoundTrip(const std::uint8_t *pData, std::size_t nSize)
{
    const std::string path = fuzz::WriteScratch("profile.ini", pData, nSize);
    ll_List *pProfile = pfl_ReadProfile(nullptr, path.c_str());
    if (pProfile == nullptr)
        fail("pfl_ReadProfile gave no profile");
    const Sections first = snapshot(pProfile);
    checkLookups(pProfile, first);

    const std::string rewritten = fuzz::ScratchDir() + "/rewritten.ini";
    if (pfl_WriteProfile(pProfile, rewritten.c_str()) == 1) {
        ll_List *pAgain = pfl_ReadProfile(nullptr, rewritten.c_str());
        const Sections second = snapshot(pAgain);
        pfl_FreeProfile(pAgain);
        if (second != first)
            fail("a profile written back reads differently");
    }

    // A change through the setter, then the same round trip.
    if (!first.empty() && nSize > 0) {
        // Callers set printable texts (numbers, names, paths); blanks around a value are not kept
        // by the file format, so the value has none.
        std::string value(reinterpret_cast<const char *>(pData), nSize < 60 ? nSize : 60);
        for (char &ch : value)
            if (ch <= ' ' || ch > '~') ch = '_';
        pfl_SetString(pProfile, "Flash", "HexFile", value.c_str());
        pfl_SetString(pProfile, "Flash", "Port1", nullptr);
        pfl_DeleteSection(pProfile, "Models");
        const Sections changed = snapshot(pProfile);
        if (pfl_WriteProfile(pProfile, rewritten.c_str()) == 1) {
            ll_List *pAgain = pfl_ReadProfile(nullptr, rewritten.c_str());
            const Sections second = snapshot(pAgain);
            pfl_FreeProfile(pAgain);
            if (second != changed)
                fail("a changed profile written back reads differently");
        }
    }
    pfl_FreeProfile(pProfile);
}

// The cached calls the update wizard makes on Flash.ini.
void flashIniCalls(const std::uint8_t *pData, std::size_t nSize)
{
    const std::string path = fuzz::WriteScratch("Flash.ini", pData, nSize);
    char szValue[pfl_kValueLen];
    os_GetPPS("Flash", "Baud Rate", "115200", szValue, sizeof szValue, path.c_str());
    int nPorts = os_GetPPint("Flash", "NumPorts", 1, path.c_str());
    (void)nPorts;
    os_GetPPS("Flash", "HexFile", "", szValue, sizeof szValue, path.c_str());
    if (std::strlen(szValue) >= sizeof szValue)
        fail("os_GetPPS overran its buffer");
    os_WritePPS("Flash", "NumPorts", "2", path.c_str());
    os_FreeReadProfile(path.c_str());
}

void catalogue(const std::uint8_t *pData, std::size_t nSize)
{
    const std::uint8_t *pNul = static_cast<const std::uint8_t *>(std::memchr(pData, 0, nSize));
    std::size_t nModels = pNul != nullptr ? static_cast<std::size_t>(pNul - pData) : nSize;
    fuzz::WriteScratch("Models.ini", pData, nModels);
    if (pNul != nullptr)
        fuzz::WriteScratch("Locks.ini", pNul + 1, nSize - nModels - 1);
    else
        fuzz::WriteScratch("Locks.ini", pData, nSize);

    int nResult = cat_Load();
    if (nResult < cat_kLoaded || nResult > cat_kLocksVersion)
        fail("cat_Load result outside 0..4");
    for (int i = 0; i < cat_Count(); ++i) {
        const ModelEntry *pEntry = cat_EntryAt(i);
        if (pEntry == nullptr)
            fail("cat_EntryAt gave nothing inside the count");
        if (std::memchr(pEntry->szName, '\0', sizeof pEntry->szName) == nullptr ||
            std::memchr(pEntry->szImagePrefix, '\0', sizeof pEntry->szImagePrefix) == nullptr ||
            std::memchr(pEntry->szLoader, '\0', sizeof pEntry->szLoader) == nullptr ||
            std::memchr(pEntry->szVersionDigit, '\0', sizeof pEntry->szVersionDigit) == nullptr)
            fail("catalogue text not terminated within its capacity");
        for (const LockEntry &lock : pEntry->locks)
            for (int nUpgrade : lock.upgrades)
                if (nUpgrade < 1 || nUpgrade > 99)
                    fail("upgrade outside 1..99");
        if (pEntry->szName[0] != '\0' && cat_FindEntryByName(pEntry->szName) == nullptr)
            fail("an entry cannot be found by its own name");
        char szText[cat_kLoaderLen + 8];
        cat_LoaderForModel(pEntry->szName, szText, sizeof szText);
        cat_VersionDigitForPrefix(pEntry->szImagePrefix, szText, sizeof szText);
        std::string image = std::string("/images/") + pEntry->szImagePrefix + "DE107.HEX";
        cat_LoaderForImage(image.c_str(), szText, sizeof szText);
        int nId = 0;
        cat_FindModelId(pEntry->szName, &nId);
        (void)cat_FlagsForId(nId);
        char szName[cat_kNameLen];
        std::string answer = std::string(pEntry->szName) + "\r\nOK\r\n";
        cat_FindModelInText(answer.c_str(), szName, sizeof szName);
    }
    cat_Free();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t nSize)
{
    static const bool bSetUp = [] {
        os_SetExeDirForTesting(fuzz::ScratchDir().c_str());
        return true;
    }();
    (void)bSetUp;
    profileRoundTrip(pData, nSize);
    flashIniCalls(pData, nSize);
    catalogue(pData, nSize);
    return 0;
}
