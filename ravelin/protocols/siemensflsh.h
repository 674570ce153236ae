// The Siemens module download: "AT^SFDL\r" puts the module into download mode; the download file, a
// sequence of blocks of one length byte and that many data bytes, then goes out block by block, and
// the module answers each block with one control byte.
#pragma once

#include "ravelin/flash/flsh.h"

// The block buffer: a block carries at most 127 data bytes (the length byte is read as signed).
constexpr int siemensflsh_kBlockBuffer = 128;

// Answers of the two waits.
enum {
    SIEMENS_MODE_OK = 1,       // "OK\r\n": download mode entered
    SIEMENS_MODE_RETRY = 2,    // "RETRY"
    SIEMENS_MODE_FATAL = 3,    // "FATAL"
    SIEMENS_MODE_BUSY = 4,     // "BUSY"
    SIEMENS_BLOCK_OK = 1,      // 0x01: block accepted, or the module is ready
    SIEMENS_BLOCK_AGAIN = 2,   // 0x02: send the block again
    SIEMENS_BLOCK_FAILED = 3,  // 0x03
    SIEMENS_BLOCK_WAIT = 4,    // 0x04: wait more
    SIEMENS_NO_ANSWER = 7
};

constexpr int siemensflsh_kModeSeconds = 10;
constexpr int siemensflsh_kBlockSeconds = 30;
// Waits for the module's first 0x01 after download mode was entered, before giving up with 7.
constexpr int siemensflsh_kReadyWaits = 4;

// One file transfer: the owner of the progress calls.
struct SiemensWork {
    DeviceUpdate *pOwner;
    std::uint8_t abBlock[siemensflsh_kBlockBuffer];
};

// Flashes the device of the record with the Siemens protocol; returns an update result code.
int siemensflsh_Flash(ProgressCallback pfnProgress, DeviceUpdate *pUpdate);

// Sends the open download file block by block. Returns 0, FR_ABORTED, FR_BAD_HEX (a read error) or
// FR_VERIFY_FAILED (a block could not be written, or the module never accepted one of the blocks).
int siemensflsh_SendFile(SiemensWork *pWork, UrsPort *pPort, osfl_Handle hFile, ProgressCallback pfnProgress);

// The download-mode wait (10 s) and the block wait (30 s): the answer codes above.
int siemensflsh_WaitMode(UrsPort *pPort);
int siemensflsh_WaitBlock(UrsPort *pPort);

// Reads the whole open download file once and rewinds it: true when every block fits the block
// buffer and the file can be read. A last length byte without its data is allowed.
bool siemensflsh_CheckFile(osfl_Handle hFile);
