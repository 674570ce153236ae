// The profile cache: profiles read once per path and kept until the caller drops them, and the
// profile calls the rest of ravelin uses. One process-wide profile lock serialises them.
//
// Usage: any number of os_GetPPS / os_GetPPint / os_WritePPS on one path, then
// os_FreeReadProfile on that path so that the next access reads the file again.
#pragma once

#include "ravelin/support/ll.h"

constexpr int os_kProfilePathLen = 264;   // cached paths: up to 263 characters

// Creates the empty cache and the profile lock (at program start). Calling it again does
// nothing; the profile calls also create the cache on first use.
int os_CreateProfileCache(void);
// Frees every cached profile and the cache (tests; the program keeps the cache to its end).
int os_DestroyProfileCache(void);

// Cached profile of the path (compared without regard to case), or nullptr.
ll_List *os_FindReadProfile(const char *pszFilePath);
// Appends {profile, path} to the cache. 1 on success.
int os_AddReadProfile(const char *pszFilePath, ll_List *pProfile);
// Cached profile; when there is none the file is read (created when missing) and cached.
ll_List *os_GetReadProfile(const char *pszFilePath);
// Frees the cached profile of the path and removes its record. 1 when it was cached, else 0.
int os_FreeReadProfile(const char *pszFilePath);

// Copies the entry's value into pszBuffer (nSize bytes), or pszDefault when the entry is
// missing or empty. Returns the count of the copy (see os_CopyBounded).
int os_GetPPS(const char *pszSection, const char *pszEntry, const char *pszDefault,
              char *pszBuffer, int nSize, const char *pszFilePath);
// The entry read as a number (decimal, or hexadecimal after "0x"); nDefault when it is
// missing or empty. A value that is not a number gives 0.
int os_GetPPint(const char *pszSection, const char *pszEntry, int nDefault,
                const char *pszFilePath);
// With an entry: sets it to pszValue (nullptr deletes it); without an entry (nullptr): deletes
// the section. Rewrites the file when the profile changed. Returns 1 when it changed, else 0;
// -1 when it changed but the file could not be rewritten (the file keeps its old content).
int os_WritePPS(const char *pszSection, const char *pszEntry, const char *pszValue,
                const char *pszFilePath);
