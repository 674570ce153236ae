// Looks through /proc for who holds a port and which services run.
#include "ravelin/serial/urs_proc.h"

#include <dirent.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The pid a /proc entry names, or 0 for the other entries.
long PidOfEntry(const char *pszEntry)
{
    if (!std::isdigit(static_cast<unsigned char>(pszEntry[0])))
        return 0;
    char *pEnd = nullptr;
    long nPid = std::strtol(pszEntry, &pEnd, 10);
    return *pEnd == '\0' ? nPid : 0;
}

bool FdLeadsTo(long nPid, const char *pszFd, const char *pszRealPath)
{
    char szLink[64], szTarget[1024];
    std::snprintf(szLink, sizeof szLink, "/proc/%ld/fd/%s", nPid, pszFd);
    ssize_t nLen = readlink(szLink, szTarget, sizeof szTarget - 1);
    if (nLen <= 0)
        return false;
    szTarget[nLen] = '\0';
    return std::strcmp(szTarget, pszRealPath) == 0;
}

bool ProcessHasOpen(long nPid, const char *pszRealPath)
{
    char szDir[64];
    std::snprintf(szDir, sizeof szDir, "/proc/%ld/fd", nPid);
    DIR *pDir = opendir(szDir);
    if (pDir == nullptr)
        return false;
    bool bFound = false;
    for (struct dirent *pEntry = readdir(pDir); pEntry != nullptr && !bFound; pEntry = readdir(pDir))
        bFound = pEntry->d_name[0] != '.' && FdLeadsTo(nPid, pEntry->d_name, pszRealPath);
    closedir(pDir);
    return bFound;
}

}  // namespace

long urs_FindLockHolder(dev_t nDevice, ino_t nInode)
{
    std::FILE *pLocks = std::fopen("/proc/locks", "re");
    if (pLocks == nullptr)
        return 0;
    long nHolder = 0;
    char szLine[256];
    while (nHolder == 0 && std::fgets(szLine, sizeof szLine, pLocks) != nullptr) {
        // "1: FLOCK  ADVISORY  WRITE 812 00:18:6 0 EOF"; a waiter's line has "->" after the number
        // and holds nothing.
        char szId[16], szType[16], szKind[16], szMode[16];
        long nPid = 0;
        unsigned nMajor = 0, nMinor = 0;
        unsigned long nIno = 0;
        if (std::sscanf(szLine, "%15s %15s %15s %15s %ld %x:%x:%lu", szId, szType, szKind, szMode, &nPid, &nMajor,
                        &nMinor, &nIno) != 8)
            continue;
        if (std::strcmp(szType, "FLOCK") != 0 || nPid <= 0)
            continue;
        if (nMajor == major(nDevice) && nMinor == minor(nDevice) && nIno == static_cast<unsigned long>(nInode))
            nHolder = nPid;
    }
    std::fclose(pLocks);
    return nHolder;
}

long urs_FindOpener(const char *pszRealPath)
{
    DIR *pProc = opendir("/proc");
    if (pProc == nullptr)
        return 0;
    long nSelf = static_cast<long>(getpid());
    long nOpener = 0;
    for (struct dirent *pEntry = readdir(pProc); pEntry != nullptr && nOpener == 0; pEntry = readdir(pProc)) {
        long nPid = PidOfEntry(pEntry->d_name);
        if (nPid > 0 && nPid != nSelf && ProcessHasOpen(nPid, pszRealPath))
            nOpener = nPid;
    }
    closedir(pProc);
    return nOpener;
}

long urs_FindProcessByName(const char *pszName)
{
    DIR *pProc = opendir("/proc");
    if (pProc == nullptr)
        return 0;
    long nFound = 0;
    for (struct dirent *pEntry = readdir(pProc); pEntry != nullptr && nFound == 0; pEntry = readdir(pProc)) {
        long nPid = PidOfEntry(pEntry->d_name);
        if (nPid <= 0)
            continue;
        char szName[64];
        urs_ProcessName(nPid, szName, sizeof szName);
        if (std::strcmp(szName, pszName) == 0)
            nFound = nPid;
    }
    closedir(pProc);
    return nFound;
}

void urs_ProcessName(long nPid, char *pszName, std::size_t nCapacity)
{
    if (nCapacity == 0)
        return;
    std::snprintf(pszName, nCapacity, "?");
    char szPath[64];
    std::snprintf(szPath, sizeof szPath, "/proc/%ld/comm", nPid);
    std::FILE *pComm = std::fopen(szPath, "re");
    if (pComm == nullptr)
        return;
    char szLine[64];
    if (std::fgets(szLine, sizeof szLine, pComm) != nullptr) {
        szLine[std::strcspn(szLine, "\n")] = '\0';
        std::snprintf(pszName, nCapacity, "%s", szLine);
    }
    std::fclose(pComm);
}
