// Ctrl-C and SIGTERM in the sub-commands that talk to devices: the engine's cancel flag is set, so
// that every dialogue ends at its next step, closes its port and removes its temporary files.
#pragma once

// Starts catching; call before any thread is started. pszCommand names the sub-command in messages.
void cli_CatchInterrupts(const char *pszCommand);
// True once Ctrl-C or SIGTERM has come.
bool cli_Interrupted();
// What a user does about a device that an update left in its flash loader (after a cancel or a
// failed handshake): the loader answers no AT command until it is power-cycled or programmed.
void cli_PrintLoaderHint(const char *pszCommand);
