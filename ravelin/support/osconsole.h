// The console of a headless front end: a terminal on standard input, and Ctrl-C (SIGINT) or SIGTERM
// turned into a request that the front end's own loop answers by cancelling its work cleanly.
#pragma once

// True when standard input is a terminal (a person can answer a question there).
bool os_StdinIsTerminal();

// From now on SIGINT and SIGTERM no longer end the process: they set the interrupt request. Call it
// before any other thread starts: the signals are blocked in this thread and so in every thread
// started later, and one watcher thread takes them, so no device thread's wait is ever cut short.
// Returns 1, or 0 when the watcher cannot be started (the signals then act as before).
int os_StartInterruptWatch();

// True once SIGINT or SIGTERM has arrived since the watch started.
bool os_InterruptRequested();

// Reads one line from standard input into pszLine (nCapacity bytes, line end dropped, longer lines cut).
// Returns the line's length, -1 at end of input or on a read error, -2 when an interrupt arrives first
// (a person who presses Ctrl-C at a question is not left waiting for Enter).
int os_ReadConsoleLine(char *pszLine, int nCapacity);

// Number of interrupt signals taken so far (a front end may tell the user that it is still cancelling).
int os_InterruptCount();
