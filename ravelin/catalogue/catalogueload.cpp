// Reading Models.ini and Locks.ini from the executable's directory through the profile cache.

#include <cstdio>
#include <utility>
#include <vector>

#include "ravelin/catalogue/catalogue.h"
#include "ravelin/catalogue/cattext.h"
#include "ravelin/support/ospfl.h"
#include "ravelin/support/oswin32.h"

namespace {

// A corrupt count must not keep start-up reading millions of absent keys; real catalogues hold a
// few dozen models with a handful of locks each.
constexpr int kMaxCount = 9999;

int Bounded(int n) { return n > kMaxCount ? kMaxCount : n; }

// The [Version] Version value as a decimal number; *pbPresent tells whether the key had a value.
long ReadVersion(const char* pszPath, bool* pbPresent)
{
    char szVersion[cat_kVersionLen];
    const int n = os_GetPPS("Version", "Version", "", szVersion, sizeof szVersion, pszPath);
    *pbPresent = n > 0;
    return n > 0 ? cattext::ParseDecimal(szVersion) : 0;
}

// The model's locks and combined values from its section of Locks.ini, named by the model name.
void ReadLocks(ModelEntry* pEntry, const char* pszLocksPath)
{
    const char* pszSection = pEntry->szName;
    if (pszSection[0] == '\0')
        return; // a model without a name has no section
    const int nLocks = Bounded(os_GetPPint(pszSection, "NumLocks", 0, pszLocksPath));
    for (int j = 1; j <= nLocks; ++j) {
        char szKey[32];
        LockEntry lock;
        std::snprintf(szKey, sizeof szKey, "Lock%d", j);
        lock.nLock = os_GetPPint(pszSection, szKey, -1, pszLocksPath);
        char szUpgrades[cat_kUpgradeLen];
        std::snprintf(szKey, sizeof szKey, "Upgrade%d", j);
        os_GetPPS(pszSection, szKey, "", szUpgrades, sizeof szUpgrades, pszLocksPath);
        lock.upgrades = cat_ParseUpgradeList(szUpgrades);
        pEntry->locks.push_back(lock);
    }
    const int nCombined = Bounded(os_GetPPint(pszSection, "NumCombined", 0, pszLocksPath));
    for (int j = 1; j <= nCombined; ++j) {
        char szKey[32];
        std::snprintf(szKey, sizeof szKey, "Combined%d", j);
        pEntry->combined.push_back(os_GetPPint(pszSection, szKey, 0, pszLocksPath));
    }
}

} // namespace

int cat_Load()
{
    cat_Free();

    char szModels[os_kPathLen];
    char szLocks[os_kPathLen];
    os_FindBesideExe("Models.ini", szModels, sizeof szModels);
    os_FindBesideExe("Locks.ini", szLocks, sizeof szLocks);

    // A negative count is as unusable as none: both mean the file lists no models.
    const int nModels = Bounded(os_GetPPint("Models", "NumModels", 0, szModels));
    if (nModels <= 0) {
        os_FreeReadProfile(szModels);
        return cat_kNoModels;
    }
    bool bPresent = false;
    if (ReadVersion(szModels, &bPresent) < 2) {
        os_FreeReadProfile(szModels);
        return cat_kModelsVersion;
    }
    const long nLocksVersion = ReadVersion(szLocks, &bPresent);
    if (!bPresent || nLocksVersion < 1) {
        os_FreeReadProfile(szModels);
        os_FreeReadProfile(szLocks);
        return bPresent ? cat_kLocksVersion : cat_kNoLocksVersion;
    }

    std::vector<ModelEntry> entries;
    entries.reserve(static_cast<std::size_t>(nModels));
    for (int i = 1; i <= nModels; ++i) {
        char szKey[32];
        char szLine[cat_kModelLineLen];
        std::snprintf(szKey, sizeof szKey, "MODEL_%d", i);
        os_GetPPS("Models", szKey, "", szLine, sizeof szLine, szModels);
        ModelEntry entry;
        cat_ParseModelLine(szLine, &entry);
        ReadLocks(&entry, szLocks);
        entries.push_back(std::move(entry));
    }
    os_FreeReadProfile(szModels);
    os_FreeReadProfile(szLocks);
    cat_Install(std::move(entries));
    return cat_kLoaded;
}
