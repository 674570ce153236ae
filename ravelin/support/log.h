// Diagnostic log (log.txt beside the executable) and the assertion hook.
//
// Every module writes its entries through log_Write; an entry reads
//   [HH:MM:SS][module (line)]: message
// and is written only while the process-wide logging switch is on and the log is open.
// Entries of different threads never mix within a line.
#pragma once

#include <cstdarg>
#include <cstdio>

// Opens (empties) log.txt in the executable's directory (see os_GetExeDir) and keeps the stream.
// Returns the stream, or nullptr when the file cannot be created. With the logging switch off it
// touches no file and returns nullptr, so a run without the switch never creates or empties a
// log. Opening again first closes the stream that is open.
FILE *log_Open(void);

// When the last log_Open could not create the file: what the user is told (the file by its real
// path, the reason, and what to do about missing permission), cut to nCapacity - 1 characters, and
// its length; 0 (and an empty text) when the last open succeeded or none was tried.
int log_OpenFailure(char *pszText, int nCapacity);

// Writes one entry when the logging switch is on and the log is open. pszFormat is a printf
// format expanded with the arguments that follow; the line end is added here.
void log_Write(int nLine, const char *pszModule, const char *pszFormat, ...)
    __attribute__((format(printf, 3, 4)));

// The same with an argument list, for callers that wrap log_Write.
void log_VWrite(int nLine, const char *pszModule, const char *pszFormat, va_list args)
    __attribute__((format(printf, 3, 0)));

// Flushes the stream, if one is open.
void log_Flush(void);

// Closes the stream, if one is open; later entries are dropped until log_Open is called again.
void log_Close(void);

// The process-wide logging switch (the command line's debug switch). Off at start.
void log_SetEnabled(bool bEnabled);
bool log_IsEnabled(void);

// Reports a failed precondition: expression text, module, line. Only reports; the caller goes on.
// Nothing is recorded unless log_SetAssertsLogged(true) was called (a development aid).
void dbg_Assert(const char *pszExpression, const char *pszModule, int nLine);
void log_SetAssertsLogged(bool bLogged);

// Number of failed preconditions reported so far in this process (for tests and diagnosis).
long dbg_AssertCount(void);

// Convenience forms that pass the caller's line: LOG_WRITE("flsh", "port %s", pszPort);
#define LOG_WRITE(pszModule, ...) log_Write(__LINE__, (pszModule), __VA_ARGS__)

// DBG_ASSERT(pList != NULL, "ll") reports "pList != NULL" when the condition is false.
#define DBG_ASSERT(expr, pszModule)                                  \
    do {                                                             \
        if (!(expr)) dbg_Assert(#expr, (pszModule), __LINE__);       \
    } while (0)
