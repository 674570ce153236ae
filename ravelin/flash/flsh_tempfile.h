// A private temporary file for the sorted image of one device update.
#pragma once

// Creates a new, empty file readable and writable by this user only (mode 0600) with a name no
// other update can get, in the system's temporary directory ($TMPDIR, else /tmp). Writes its path
// into pszPath (nCapacity bytes). Returns 1, or 0 when no such file could be made.
int flsh_MakeTempFile(char *pszPath, int nCapacity);
