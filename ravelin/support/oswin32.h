// Operating-system layer of ravelin: files, directory search, the two text-line readers,
// recursive mutexes, threads, the executable's directory and small text operations.
// Callers above this layer never use the platform directly for these.
#pragma once

#include <cstdint>

// ---------------------------------------------------------------------------------------------
// Files

typedef int osfl_Handle;                              // opaque file handle
constexpr osfl_Handle osfl_kInvalidHandle = -1;       // a failed open
constexpr int osfl_kError = -1;                       // a failed read

// Access for osfl_Open.
constexpr int osfl_kRead = 1;
constexpr int osfl_kReadWrite = 2;

// File attributes (osfl_Create takes osfl_kAttrNormal; the search reports these bits).
constexpr std::uint32_t osfl_kAttrReadOnly = 0x01;
constexpr std::uint32_t osfl_kAttrDirectory = 0x10;
constexpr std::uint32_t osfl_kAttrNormal = 0x80;

// Seek origins.
constexpr int osfl_kSeekStart = 0;
constexpr int osfl_kSeekCurrent = 1;
constexpr int osfl_kSeekEnd = 2;

// Opens an existing file (never creates it); others may read it meanwhile.
osfl_Handle osfl_Open(const char *pszPath, int nAccess);
// Creates the file, or empties an existing one, for reading and writing.
osfl_Handle osfl_Create(const char *pszPath, std::uint32_t nAttributes);
// Returns 1 when the handle was closed, 0 otherwise.
int osfl_Close(osfl_Handle hFile);
// Bytes read (0 at end of file) or osfl_kError.
int osfl_Read(osfl_Handle hFile, void *pBuffer, int nCount);
// Bytes written; 0 when the write failed.
int osfl_Write(osfl_Handle hFile, const void *pBuffer, int nCount);
// New position, or -1 when the seek failed.
long osfl_Seek(osfl_Handle hFile, std::int32_t nDistance, int nOrigin);
long osfl_Tell(osfl_Handle hFile);
// Size in bytes, or -1.
long osfl_Size(osfl_Handle hFile);
// Removes the file; 0 on success.
int osfl_Delete(const char *pszPath);

// ---------------------------------------------------------------------------------------------
// Line readers

constexpr int os_kLineBufferSize = 4096;

// Read-ahead of one file read by os_ReadNextLine. The caller owns it (one per open file) and
// sets nRemaining to 0 before the first call.
struct os_LineBuffer {
    std::int32_t nRemaining;               // bytes not yet consumed
    std::int32_t nPosition;                // index of the next unconsumed byte
    char achData[os_kLineBufferSize];
};

// Reads the next line; only CR LF ends a line. Returns the line's length plus 2 for a line
// ended by CR LF, the length of a last line without line end, 0 at end of file, and -1 on a
// read error or when the line does not fit nCapacity (the text holds at most nCapacity - 2
// characters). The text is terminated and never holds the CR LF.
int os_ReadNextLine(osfl_Handle hFile, char *pszDest, int nCapacity, os_LineBuffer *pBuffer);

// Result codes of os_ReadTextLine besides line lengths.
constexpr int os_kLineReadError = -1;
constexpr int os_kLineTooLong = -2;

// Reads the next line of a text file whose lines end in CR LF or in LF alone (both occur in one
// file when it was edited on different systems). A lone CR is text. Ctrl-Z bytes that close the
// file (the old end-of-file mark) are no text. The line with its line end must fit nCapacity:
// pszDest receives at most nCapacity - 1 characters and the terminator. Returns the text's
// length plus 1 (so an empty line gives 1), 0 at end of file, os_kLineReadError, or
// os_kLineTooLong. The text is terminated and never holds the line end.
int os_ReadTextLine(osfl_Handle hFile, char *pszDest, int nCapacity, os_LineBuffer *pBuffer);

// Reads one line byte by byte, with no read-ahead, into pszDest, which holds nCount + 1 bytes.
// CR LF or a lone LF ends the line (neither is kept); a lone CR is text; a Ctrl-Z byte acts as
// end of file. A line longer than nCount is returned in pieces of nCount characters; when a
// piece ends right after a CR, that CR stays in it and the next piece begins with the LF.
// Returns true when a line was stored, false at end of file or on a read error.
bool gn_ReadString(osfl_Handle hFile, char *pszDest, int nCount);

// ---------------------------------------------------------------------------------------------
// Directory search

constexpr int os_kPathLen = 264;               // path buffers: up to 263 characters
constexpr int osfl_kFindPathLen = 260;         // longest directory + pattern accepted

struct osfl_FindState {
    void *hSearch;                             // platform search handle, nullptr when none
    char szDirectory[os_kPathLen];             // directory searched, with its trailing '/'
    char szPattern[os_kPathLen];               // name pattern, e.g. "*.hex"
    char szFoundName[os_kPathLen];             // last found entry
    std::uint32_t nFoundAttributes;            // its attribute bits
};

// Searches pszDirectory (a separator is added when it is not empty and does not end in one;
// '/' and '\\' both count) for names matching pszPattern. Wildcards * and ? ; letters match
// without regard to case, so "*.hex" finds "A.HEX". True when an entry was found.
bool osfl_FindFirst(const char *pszDirectory, const char *pszPattern, osfl_FindState *pState);
bool osfl_FindNext(osfl_FindState *pState);
void osfl_FindClose(osfl_FindState *pState);
// The found entry's name (name only, no directory), cut to nCapacity - 1 characters.
void osfl_FoundName(const osfl_FindState *pState, char *pszDest, int nCapacity);
// The found entry's attribute bits; osfl_kAttrDirectory marks a directory.
std::uint32_t osfl_FoundAttributes(const osfl_FindState *pState);

// ---------------------------------------------------------------------------------------------
// Replacing a file without ever leaving it half-written
//
// The new content goes to a fresh file in the target's directory, which takes the target's
// place in one rename only when it is complete; until then, and on every failure, the target
// stays as it was. A replaced file keeps its permission bits (and its owner and group where the
// system allows). A symbolic link keeps pointing where it did: the file it names is replaced. A
// target that is no regular file (a device, a pipe) cannot be renamed over: its content is
// collected in a private temporary file and copied into it at the commit.

struct osfl_Replacement {
    char szTarget[os_kPathLen];  // the file replaced (a symbolic link's target)
    char szTemp[os_kPathLen];    // the new content's file until the commit
    osfl_Handle hFile;           // open on szTemp for reading and writing; may be closed early
    bool bCopyInto;              // the target is no regular file: copied into at the commit
    int nError;                  // system error number of the last failure, 0 when none
};

// Makes the file for the new content of pszPath. Returns 1, or 0 (pRep->nError says why).
int osfl_BeginReplace(osfl_Replacement *pRep, const char *pszPath);
// Puts the new content in the target's place (written through to the disk first) and removes
// the temporary file. Returns 1, or 0 with the target unchanged (pRep->nError says why).
int osfl_CommitReplace(osfl_Replacement *pRep);
// Drops the new content; the target stays as it was.
void osfl_AbandonReplace(osfl_Replacement *pRep);

// The file pszPath names once every symbolic link in its last component is followed, also a link
// to a file not made yet (Flash.ini beside the program, linked into /var/lib). A path that is no
// link is copied as it is; a loop ends where it was cut. Returns 1, or 0 when the result does not
// fit nCapacity (pszReal is then empty).
int osfl_FollowLinks(const char *pszPath, char *pszReal, int nCapacity);

// For a file that could not be written, what a user is told: "cannot write <file>: <reason>", the
// file named by its real path, and when the user may not write its directory, what to do about it
// (join the group that owns a group-writable directory). nError is the failure's error number, or 0
// to find the reason by checking the directory. Cut to nCapacity - 1 characters; returns the length.
int osfl_DescribeWriteFailure(const char *pszPath, int nError, char *pszText, int nCapacity);

// The system's error number of the last failed file operation on this thread, and its text.
int os_LastError();
const char *os_ErrorText(int nError);

// Handles of the process's standard input and output (never closed by their users).
osfl_Handle osfl_StdInput();
osfl_Handle osfl_StdOutput();

// ---------------------------------------------------------------------------------------------
// The executable's directory ("beside the executable")

// Directory of the running executable with a trailing '/', or the test override when one is
// set. Returns its length, 0 when it cannot be determined or does not fit.
int os_GetExeDir(char *pszDir, int nCapacity);
// The same, always from /proc/self/exe, ignoring any override.
int os_GetRealExeDir(char *pszDir, int nCapacity);
// Makes os_GetExeDir answer pszDir (a '/' is added when missing); nullptr or "" removes it.
void os_SetExeDirForTesting(const char *pszDir);
// Full path of the file pszName beside the executable: the exact name when it exists, else a
// name in that directory that equals it without regard to case. Returns 1 when a file was
// found; otherwise 0, and pszPath holds the exact-name path (where the file would be created).
int os_FindBesideExe(const char *pszName, char *pszPath, int nCapacity);

// True when the standard error stream is a terminal (front ends draw a progress bar there,
// plain lines otherwise).
bool os_StderrIsTerminal();

// ---------------------------------------------------------------------------------------------
// Mutexes and threads

typedef struct os_MutexRec *os_Mutex;           // opaque; nullptr is no mutex

// Creates an unnamed recursive mutex that no thread owns; stores it in *phMutex and returns it
// (nullptr on failure).
os_Mutex os_CreateMutex(os_Mutex *phMutex);
// Waits without time limit; the owner may lock again (each lock needs its unlock).
int os_LockMutex(os_Mutex hMutex);
int os_UnlockMutex(os_Mutex hMutex);
int os_DestroyMutex(os_Mutex hMutex);

typedef std::uint64_t os_Thread;                // opaque; 0 is no thread
typedef std::uint32_t (*os_ThreadProc)(void *pArg);
constexpr std::uint32_t os_kMinThreadStack = 256 * 1024;

// Starts pfnStart(pArg) on a new thread at once. Every thread gets at least os_kMinThreadStack
// bytes of stack (more when nStackSize asks for more; 0 = default). Threads are never joined:
// they end on their own. Stores the handle (0 on failure); returns 1 on success, 0 on failure.
int os_StartThread(os_Thread *phThread, os_ThreadProc pfnStart, std::uint32_t nStackSize,
                   void *pArg);

// Ctrl-C and SIGTERM. From this call on, each such signal calls pfnHandler(n), n counting the
// signals so far (1 for the first), on a thread of the layer's own rather than in a signal
// handler, so the handler may take locks and print. The process is no longer ended by them: the
// handler decides. Call it before any other thread is started (threads inherit the blocked
// signals it relies on), once per process. Returns 1, or 0 when the signals cannot be caught.
typedef void (*os_InterruptHandler)(int nCount);
int os_CatchInterrupts(os_InterruptHandler pfnHandler);

// Called once per pass by waiting and transfer loops; does nothing and returns 0.
int os_yield(void);

// True when the pointer is not null.
bool os_CheckPointer(const void *pData);

// ---------------------------------------------------------------------------------------------
// Text operations

// Copies pszSource without leading and trailing blanks, tabs, CRs and LFs, at most
// nCapacity - 1 characters, terminated. Returns the copy's length.
int os_CopyTrimmed(char *pszDest, const char *pszSource, int nCapacity);
// Copies pszSource with its terminator. When it has nCapacity characters or more, the first
// nCapacity - 1 are copied, terminated, and the result is nCapacity; else its length.
int os_CopyBounded(char *pszDest, const char *pszSource, int nCapacity);
// Removes leading and trailing blanks, tabs, CRs and LFs in place.
void os_TrimInPlace(char *pszText);
// Compares after converting both to upper case; the difference of the first differing pair.
int os_CompareNoCase(const char *pszA, const char *pszB);
// Decimal digits from the start, or hexadecimal after "0x"/"0X", up to the first character
// that is not a digit; nullptr or no digits give 0. Wraps around silently on overflow.
std::uint32_t os_ParseNumber(const char *pszText);
