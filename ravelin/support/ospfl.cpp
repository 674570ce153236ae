// The profile cache and the profile calls of the rest of the program.
#include "ravelin/support/ospfl.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "ravelin/support/log.h"
#include "ravelin/support/pfl.h"

namespace {

const char *const kModule = "ospfl";

// One cached profile. The path is kept at full length, so two long paths that share their
// first characters never meet in one record.
struct CacheRecord {
    ll_List *pProfile;
    char *pszPath;
};

std::mutex g_setupMutex;      // guards creation and destruction of the cache itself
bool g_bCreated = false;
ll_List g_cache;
os_Mutex g_hProfileLock = nullptr;

// Creates the cache on first use; returns the profile lock.
os_Mutex EnsureCache() {
    std::lock_guard<std::mutex> lock(g_setupMutex);
    if (!g_bCreated) {
        ll_CreateList(&g_cache, ll_kDataList);
        os_CreateMutex(&g_hProfileLock);
        g_bCreated = true;
    }
    return g_hProfileLock;
}

class ProfileLock {
public:
    ProfileLock() : m_hMutex(EnsureCache()) { os_LockMutex(m_hMutex); }
    ~ProfileLock() { os_UnlockMutex(m_hMutex); }
    ProfileLock(const ProfileLock &) = delete;
    ProfileLock &operator=(const ProfileLock &) = delete;

private:
    os_Mutex m_hMutex;
};

// The first record of the path, with the iterator left on it.
CacheRecord *FindRecord(const char *pszFilePath, ll_Iterator *pIt) {
    ll_CreateIterator(pIt, &g_cache);
    for (void *p = ll_First(pIt); p != nullptr; p = ll_Next(pIt)) {
        CacheRecord *pRecord = static_cast<CacheRecord *>(p);
        if (os_CompareNoCase(pRecord->pszPath, pszFilePath) == 0) return pRecord;
    }
    return nullptr;
}

bool CheckPath(const char *pszFilePath, int nLine) {
    if (pszFilePath != nullptr) return true;
    dbg_Assert("pszFilePath", kModule, nLine);
    return false;
}

}  // namespace

int os_CreateProfileCache(void) {
    EnsureCache();
    return 1;
}

int os_DestroyProfileCache(void) {
    std::lock_guard<std::mutex> lock(g_setupMutex);
    if (!g_bCreated) return 1;
    ll_Iterator it;
    ll_CreateIterator(&it, &g_cache);
    for (void *p = ll_First(&it); p != nullptr; p = ll_Next(&it)) {
        CacheRecord *pRecord = static_cast<CacheRecord *>(p);
        pfl_FreeProfile(pRecord->pProfile);
        std::free(pRecord->pszPath);
    }
    ll_DestroyList(&g_cache);
    os_DestroyMutex(g_hProfileLock);
    g_hProfileLock = nullptr;
    g_bCreated = false;
    return 1;
}

ll_List *os_FindReadProfile(const char *pszFilePath) {
    if (!CheckPath(pszFilePath, __LINE__)) return nullptr;
    ProfileLock lock;
    ll_Iterator it;
    CacheRecord *pRecord = FindRecord(pszFilePath, &it);
    return pRecord ? pRecord->pProfile : nullptr;
}

int os_AddReadProfile(const char *pszFilePath, ll_List *pProfile) {
    if (!CheckPath(pszFilePath, __LINE__)) return 0;
    if (pProfile == nullptr) {
        dbg_Assert("pProfileList", kModule, __LINE__);
        return 0;
    }
    ProfileLock lock;
    CacheRecord record;
    record.pProfile = pProfile;
    record.pszPath = strdup(pszFilePath);
    if (record.pszPath == nullptr) return 0;
    if (ll_Append(&g_cache, &record, sizeof record, __LINE__, kModule) == nullptr) {
        std::free(record.pszPath);
        return 0;
    }
    return 1;
}

ll_List *os_GetReadProfile(const char *pszFilePath) {
    if (!CheckPath(pszFilePath, __LINE__)) return nullptr;
    ProfileLock lock;
    ll_List *pProfile = os_FindReadProfile(pszFilePath);
    if (pProfile != nullptr) return pProfile;
    pProfile = pfl_ReadProfile(nullptr, pszFilePath);
    if (pProfile != nullptr && !os_AddReadProfile(pszFilePath, pProfile)) {
        pfl_FreeProfile(pProfile);
        return nullptr;
    }
    return pProfile;
}

int os_FreeReadProfile(const char *pszFilePath) {
    if (!CheckPath(pszFilePath, __LINE__)) return 0;
    ProfileLock lock;
    ll_Iterator it;
    CacheRecord *pRecord = FindRecord(pszFilePath, &it);
    if (pRecord == nullptr) return 0;
    pfl_FreeProfile(pRecord->pProfile);
    std::free(pRecord->pszPath);
    ll_DeleteCurrent(&it, __LINE__, kModule);
    return 1;
}

int os_GetPPS(const char *pszSection, const char *pszEntry, const char *pszDefault,
              char *pszBuffer, int nSize, const char *pszFilePath) {
    if (pszSection == nullptr) dbg_Assert("pszSection", kModule, __LINE__);
    if (pszEntry == nullptr) dbg_Assert("pszEntry", kModule, __LINE__);
    if (pszDefault == nullptr) dbg_Assert("pszDefault", kModule, __LINE__);
    if (pszBuffer == nullptr) {
        dbg_Assert("pszBuffer", kModule, __LINE__);
        return 0;
    }
    if (nSize <= 0) {
        dbg_Assert("nSize > 0", kModule, __LINE__);
        return 0;
    }
    ProfileLock lock;
    int nCount = 0;
    if (pszFilePath != nullptr && pszSection != nullptr && pszEntry != nullptr) {
        ll_List *pProfile = os_GetReadProfile(pszFilePath);
        if (pProfile != nullptr) nCount = pfl_GetString(pProfile, pszSection, pszEntry, pszBuffer, nSize);
    } else {
        CheckPath(pszFilePath, __LINE__);
    }
    if (nCount == 0) nCount = os_CopyBounded(pszBuffer, pszDefault ? pszDefault : "", nSize);
    return nCount;
}

int os_GetPPint(const char *pszSection, const char *pszEntry, int nDefault,
                const char *pszFilePath) {
    char szBuffer[80];
    if (os_GetPPS(pszSection, pszEntry, "", szBuffer, sizeof szBuffer, pszFilePath) == 0)
        return nDefault;
    return static_cast<int>(os_ParseNumber(szBuffer));
}

int os_WritePPS(const char *pszSection, const char *pszEntry, const char *pszValue,
                const char *pszFilePath) {
    if (!CheckPath(pszFilePath, __LINE__)) return 0;
    if (pszSection == nullptr) {
        dbg_Assert("pszSection", kModule, __LINE__);
        return 0;
    }
    ProfileLock lock;
    ll_List *pProfile = os_GetReadProfile(pszFilePath);
    if (pProfile == nullptr) return 0;
    int nChanged = pszEntry != nullptr ? pfl_SetString(pProfile, pszSection, pszEntry, pszValue)
                                       : pfl_DeleteSection(pProfile, pszSection);
    if (nChanged && !pfl_WriteProfile(pProfile, pszFilePath)) return -1;
    return nChanged;
}
