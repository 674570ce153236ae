// The dot/upload download of the "CF" families: the device's boot code takes the image as raw data
// bytes in fixed-size blocks, each sent after a "W" and acknowledged with a dot; "E" ends the image.
// Download mode is entered with "AT**\r" and the "UPLOAD FILE" banner, or, for families that need it,
// by a power cycle the user makes, after which the boot code says a dot.
#pragma once

#include "ravelin/flash/flsh.h"

constexpr int cfflsh_kSmallBlock = 64;
constexpr int cfflsh_kLargeBlock = 128;
constexpr int cfflsh_kLineLen = 524;        // longest image line, line end included
constexpr int cfflsh_kTries = 3;             // sends of one block before giving up
constexpr int cfflsh_kBlockDotSeconds = 10;
constexpr int cfflsh_kPowerCycleSeconds = 30;
constexpr std::uint8_t cfflsh_kTrailer = 0x17;

// Answers of the waits.
enum { CF_DOT = 1, CF_ERROR = 5, CF_NO_ANSWER = 7, CF_BANNER = 8 };

// The image reader: data bytes of the HEX data records, in file order, packed into blocks.
struct CfWork {
    DeviceUpdate *pOwner;
    os_LineBuffer lineBuffer;
    HexAddressState addressState;
    HexRecord record;
    std::int32_t nPending;          // bytes of the record not yet placed in a block
    std::int32_t nPendingPosition;  // index of the next of them in record.abData
    bool bEnded;                    // the end-of-file record was read
    std::uint8_t abBlock[cfflsh_kLargeBlock];
};

// Flashes the device of the record with the dot/upload protocol; returns an update result code.
int cfflsh_Flash(ProgressCallback pfnProgress, DeviceUpdate *pUpdate);

// Sends the open image block by block and ends it with "E". Returns 0, FR_ABORTED, FR_BAD_HEX,
// FR_VERIFY_FAILED (a block refused three times, or no data at all) or FR_TIMEOUT.
int cfflsh_SendImage(CfWork *pWork, UrsPort *pPort, osfl_Handle hImage, std::uint32_t flags,
                     ProgressCallback pfnProgress);

// Starts a reading pass over the image: line reader, address state and pending record reset.
void cfflsh_ResetReader(CfWork *pWork);
// Fills the next block of nBlockSize bytes (64 or 128) from the image: the block size when data came
// (a short last block padded with zero bytes), 0 when nothing is left, -1 on a read or parse error.
int cfflsh_FillBlock(CfWork *pWork, osfl_Handle hImage, int nBlockSize);

// CF_DOT, CF_ERROR or CF_NO_ANSWER after nSeconds.
int GetDot(UrsPort *pPort, int nSeconds);
// CF_BANNER when "UPLOAD FILE\r\n" came within 10 s, else CF_NO_ANSWER.
int cfflsh_WaitUpload(UrsPort *pPort);
