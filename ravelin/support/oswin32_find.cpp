// Directory search by wildcard pattern. Names match without regard to case, as on the file
// system the catalogues and images come from ("*.hex" finds "FW.HEX").
#include "ravelin/support/oswin32.h"

#include <cstring>
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

namespace {

bool EndsInSeparator(const char *psz) {
    size_t n = std::strlen(psz);
    return n > 0 && (psz[n - 1] == '/' || psz[n - 1] == '\\');
}

bool NameMatches(const char *pszPattern, const char *pszName) {
    // "*.*" stands for every name, with or without an extension.
    if (std::strcmp(pszPattern, "*.*") == 0 || std::strcmp(pszPattern, "*") == 0) return true;
    return ::fnmatch(pszPattern, pszName, FNM_CASEFOLD | FNM_NOESCAPE) == 0;
}

// Reads entries until one matches; fills the state's found name and attributes.
bool NextMatch(osfl_FindState *pState) {
    DIR *pDir = static_cast<DIR *>(pState->hSearch);
    if (pDir == nullptr) return false;
    while (struct dirent *pEntry = ::readdir(pDir)) {
        const char *pszName = pEntry->d_name;
        if (std::strcmp(pszName, ".") == 0 || std::strcmp(pszName, "..") == 0) continue;
        if (!NameMatches(pState->szPattern, pszName)) continue;
        size_t nDir = std::strlen(pState->szDirectory);
        size_t nName = std::strlen(pszName);
        if (nName >= sizeof pState->szFoundName) continue;
        std::uint32_t nAttributes = osfl_kAttrNormal;
        if (nDir + nName < sizeof pState->szFoundName) {
            char szFull[os_kPathLen * 2];
            std::memcpy(szFull, pState->szDirectory, nDir);
            std::memcpy(szFull + nDir, pszName, nName + 1);
            struct stat st;
            if (::stat(nDir ? szFull : pszName, &st) == 0) {
                if (S_ISDIR(st.st_mode)) nAttributes = osfl_kAttrDirectory;
                else if ((st.st_mode & 0222) == 0) nAttributes = osfl_kAttrReadOnly;
            }
        }
        std::memcpy(pState->szFoundName, pszName, nName + 1);
        pState->nFoundAttributes = nAttributes;
        return true;
    }
    return false;
}

}  // namespace

bool osfl_FindFirst(const char *pszDirectory, const char *pszPattern, osfl_FindState *pState) {
    if (pState == nullptr) return false;
    pState->hSearch = nullptr;
    pState->szDirectory[0] = pState->szPattern[0] = pState->szFoundName[0] = '\0';
    pState->nFoundAttributes = 0;
    if (pszDirectory == nullptr || pszPattern == nullptr) return false;

    // Directory, a separator when needed, and the pattern, as one path of at most 260 characters.
    char szPath[os_kPathLen];
    size_t nDir = std::strlen(pszDirectory);
    bool bSeparator = nDir > 0 && !EndsInSeparator(pszDirectory);
    size_t nTotal = nDir + (bSeparator ? 1 : 0) + std::strlen(pszPattern);
    if (nTotal > static_cast<size_t>(osfl_kFindPathLen)) return false;
    std::strcpy(szPath, pszDirectory);
    if (bSeparator) std::strcat(szPath, "/");
    std::strcat(szPath, pszPattern);

    // The pattern may itself name subdirectories: split at the last separator.
    char *pszSlash = std::strrchr(szPath, '/');
    char *pszBack = std::strrchr(szPath, '\\');
    if (pszBack != nullptr && (pszSlash == nullptr || pszBack > pszSlash)) pszSlash = pszBack;
    if (pszSlash != nullptr) {
        std::strcpy(pState->szPattern, pszSlash + 1);
        pszSlash[1] = '\0';
        pszSlash[0] = '/';
        std::strcpy(pState->szDirectory, szPath);
    } else {
        std::strcpy(pState->szPattern, szPath);
    }

    DIR *pDir = ::opendir(pState->szDirectory[0] ? pState->szDirectory : ".");
    if (pDir == nullptr) return false;
    pState->hSearch = pDir;
    if (NextMatch(pState)) return true;
    osfl_FindClose(pState);
    return false;
}

bool osfl_FindNext(osfl_FindState *pState) {
    if (pState == nullptr) return false;
    return NextMatch(pState);
}

void osfl_FindClose(osfl_FindState *pState) {
    if (pState == nullptr || pState->hSearch == nullptr) return;
    ::closedir(static_cast<DIR *>(pState->hSearch));
    pState->hSearch = nullptr;
}

void osfl_FoundName(const osfl_FindState *pState, char *pszDest, int nCapacity) {
    if (pszDest == nullptr || nCapacity <= 0) return;
    // Name conversion between character sets is the identity here.
    os_CopyBounded(pszDest, pState ? pState->szFoundName : "", nCapacity);
}

std::uint32_t osfl_FoundAttributes(const osfl_FindState *pState) {
    return pState ? pState->nFoundAttributes : 0;
}
