// The Rockwell/Conexant download: "AT**\r" puts the chip's boot code into download mode, a loader
// program (text records) goes out line by line, then, once the loader runs, the Intel HEX image, also
// line by line. Lines are not acknowledged: CTS flow control paces them. The chip confirms each stage
// with a text line.
#pragma once

#include "ravelin/flash/flsh.h"

// Longest line the two files may hold, line end included (126 characters of text).
constexpr int rockflsh_kLineLen = 128;

// Waits for the chip's confirmations (seconds).
constexpr int rockflsh_kInitiatedSeconds = 10;
constexpr int rockflsh_kFlashCodeSeconds = 10;
constexpr int rockflsh_kProgrammedSeconds = 30;

// One file transfer: the owner of the progress calls and the file's line reader.
struct RockWork {
    DeviceUpdate *pOwner;
    os_LineBuffer lineBuffer;
};

// Flashes the device of the record with the Rockwell protocol; returns an update result code.
int rockflsh_Flash(ProgressCallback pfnProgress, DeviceUpdate *pUpdate);

// Sends one open text file line by line, each line ended by CR LF. Returns 0, FR_ABORTED,
// FR_BAD_HEX (a read error or a line too long) or FR_VERIFY_FAILED (a line could not be written).
int rockflsh_SendFile(RockWork *pWork, UrsPort *pPort, osfl_Handle hFile, ProgressCallback pfnProgress);

// The stage confirmations. 0 when seen ("OK" also counts), else the time-out result: 1, 1 and 4.
int rockflsh_WaitInitiated(UrsPort *pPort);
int rockflsh_WaitFlashCode(UrsPort *pPort);
int rockflsh_WaitProgrammed(UrsPort *pPort);

// Path of the loader file for the image and model: the loader the catalogue names for the image's
// prefix (its first two characters, upper-cased), else for the model, else "F35Aload.s37"; it lies
// beside the executable. Returns 1 when a file of that name is there, else 0 (the path still names it).
int rockflsh_LoaderPath(const char *pszImagePath, const char *pszModel, char *pszPath, int nCapacity);
