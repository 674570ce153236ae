// Questions to the process table under /proc, for the port check; not for the layer's callers.
#pragma once

#include <sys/types.h>

#include <cstddef>

// The process holding a flock() lock on the file (st_dev, st_ino), from /proc/locks; 0 when none.
long urs_FindLockHolder(dev_t nDevice, ino_t nInode);
// A process other than this one with the file open (matched by the canonical path of its
// descriptors); 0 when none can be seen (other users' processes are hidden from non-root users).
long urs_FindOpener(const char *pszRealPath);
// The first process whose command name is pszName; 0 when none.
long urs_FindProcessByName(const char *pszName);
// The command name of a process ("?" when it has gone).
void urs_ProcessName(long nPid, char *pszName, std::size_t nCapacity);
