// The flash session core: the per-device update record, progress reporting, update result codes,
// the generic flash loader protocol of the maker's own modem families.
//
// One device update brings one device on one port from "identified" to "programmed", on a thread of
// its own. Everything here works on one DeviceUpdate and touches no other update's data, except the
// process-wide cancel flag.
#pragma once

#include <cstdint>

#include "ravelin/catalogue/familyflags.h"
#include "ravelin/flash/flsh_callbacks.h"
#include "ravelin/flash/hex_image.h"
#include "ravelin/ident/devid.h"
#include "ravelin/serial/urswin32.h"
#include "ravelin/support/oswin32.h"

// ---------------------------------------------------------------------------------------------
// Progress statuses (second argument of a ProgressCallback call)

constexpr int flsh_cHandshakeStart = 1;
constexpr int flsh_cResetting = 2;
constexpr int flsh_cHandshaking = 3;
constexpr int flsh_cHandshakeDone = 4;
constexpr int flsh_cProgramStart = 5;
constexpr int flsh_cProgramming = 6;
constexpr int flsh_cBlockRejected = 7;
constexpr int flsh_cProgramTimeout = 8;
constexpr int flsh_cProgramDone = 9;
constexpr int flsh_cNoPrompt = 10;
constexpr int flsh_cHeaderSendError = 11;
constexpr int flsh_cDataSendError = 12;
constexpr int flsh_cProgramLoader = 13;
constexpr int flsh_cSorting = 14;
constexpr int flsh_cRestoreDefaults = 15;
constexpr int flsh_cReboot = 16;

// ---------------------------------------------------------------------------------------------
// Update results

enum {
    FR_NONE = -1,
    FR_SUCCESSFUL = 0,
    FR_HANDSHAKE_FAILURE = 1,
    FR_ABORTED = 2,
    FR_BAD_HEX = 3,
    FR_VERIFY_FAILED = 4,
    FR_TIMEOUT = 5,
    FR_HEX_OPEN_FAILED = 6,
    FR_PORT_OPEN_FAILED = 7,
    FR_SECTOR_SIZES = 8,
    FR_TYPES = 9,
    FR_WRONG_VERSION = 10,
    FR_SORT_FAILED = 11,
    FR_UNPROTECT_FAILED = 12,
    FR_LOADER_VERSION_FAILED = 13,
    FR_AFTER_FLASH_FAILED = 14,
    FR_NO_DOT = 15,
    // The system gave the update no thread: nothing was done to the device. Not the user's abort,
    // which a device left in its loader would be taken for.
    FR_THREAD_FAILED = 16
};

// The text the status page shows for a result; "Unknown update error" for codes outside 0-16
// (also for FR_NONE, which is never shown as a result, and the serial layer's negative results).
const char *flsh_ResultText(int nResult);

// ---------------------------------------------------------------------------------------------
// Flash modes and block sizes

constexpr int flsh_kNormalFlash = 0;
constexpr int flsh_kGoFlash = 1;           // Lucent/Agere: identification found a running loader (status 9)
constexpr int flsh_kFullFlash = 2;
constexpr int flsh_kBlockSize = 4096;       // loaders from 1.08 on
constexpr int flsh_kSmallBlockSize = 128;   // loaders before 1.08
constexpr std::uint32_t flsh_kBlockAlign = 128;
constexpr std::uint32_t flsh_kSectorSpan = 0x4000;  // no block crosses a 16 KiB boundary

// Text capacities, terminator included.
constexpr int flsh_kShortCodeLen = 21;
// Room for the longest status text ("Restoring Factory Defaults", 26 characters): a 23-character
// field would not hold three of the texts the statuses write.
constexpr int flsh_kStatusTextLen = 32;
constexpr int flsh_kPortPathLen = 32;
constexpr int flsh_kLoaderVersionLen = 16;
constexpr int flsh_kResultDetailLen = 200;

// ---------------------------------------------------------------------------------------------
// The per-device update record

struct DeviceUpdate {
    // Progress, guarded by hLock.
    std::int32_t nLastStatus;
    std::int32_t nLastValue;
    std::intptr_t nLastDetail;
    std::int32_t nRejectedBlocks;
    std::int32_t nMissingPrompts;
    std::int32_t nHeaderSendErrors;
    std::int32_t nDataSendErrors;
    char szShortCode[flsh_kShortCodeLen];
    char szStatusText[flsh_kStatusTextLen];
    os_Mutex hLock;

    char szPortPath[flsh_kPortPathLen];   // "\\.\COM3"; the display name starts at its fifth character
    char szImagePath[os_kPathLen];
    std::uint32_t flags;                  // family flag bits (FLF_...)
    std::int32_t nResult;                 // FR_NONE while the update runs
    std::int32_t nSpeed;                  // asked for; lowered to the device's maximum by the handshake
    std::uint32_t nHighestBlockAddress;
    char szLoaderVersion[flsh_kLoaderVersionLen];
    os_Thread hThread;
    DeviceIdentity identity;

    std::int32_t noProgramming;    // nonzero: handshake and commands only
    std::int32_t keepBootSector;   // 0: the boot code is updated too
    std::int32_t fixedSpeed;       // nonzero: no "AT*FS" handshake, 4096-byte blocks at nSpeed
    std::int32_t afterFlash;       // 1: handshake and "ATC" after programming; 2: "ATC" before
    std::int32_t flashMode;        // 0/1 normal, 2 full flash (Lucent/Agere only)
    std::int32_t restoreDefaults;  // nonzero: "AT&F&W&W1Z" before anything else

    // Why the result came, when the result's text alone would mislead: "the line was lost", or why
    // the port could not be opened. Empty otherwise. Written by the update's thread before its result.
    char szResultDetail[flsh_kResultDetailLen];
};

// Fills a fresh record for a port ("\\.\COM3"): statuses -1, texts five blanks, result FR_NONE,
// speed 38400, boot sector kept, and creates its lock. Returns 1, or 0 when the lock cannot be made.
int flsh_InitDeviceUpdate(DeviceUpdate *pUpdate, const char *pszPortPath);
// Releases the record's lock.
void flsh_FreeDeviceUpdate(DeviceUpdate *pUpdate);
// Puts the progress fields back to their state at creation (before a new thread starts).
void flsh_ResetProgress(DeviceUpdate *pUpdate);
// Copies the status fields under the record's lock (for pages and front ends that poll).
void flsh_ReadProgress(DeviceUpdate *pUpdate, char *pszShortCode, char *pszStatusText, std::int32_t *pnValue);

// For a device updated without identification (a model named on a command line or the developers
// page): the model goes into the identification record, where every look-up by the device's model
// reads it (the Rockwell loader), as it would after identification.
void flsh_SetAssumedModel(DeviceUpdate *pUpdate, const char *pszModel);

// Sets the result's detail (cut to its capacity) and logs it with the port's name.
void flsh_SetResultDetail(DeviceUpdate *pUpdate, const char *pszDetail);
// For every protocol before it closes its port: when the line hung up during the dialogue, the
// detail says so ("the line was lost"), since the protocol itself saw only time-outs. Returns 1
// when the line was lost.
int flsh_NoteLineLost(DeviceUpdate *pUpdate, const UrsPort *pPort);
// For every protocol whose urs_OpenPort failed: the detail says why the port could not be opened.
void flsh_NoteOpenFailure(DeviceUpdate *pUpdate);

// The percentage a status short code shows ("H  50", "PL  07", "P 100"): the number after its
// letters, at most 100; 0 for a code without one ("ResDef", "I    "). The record's value is no
// guide: some statuses carry the line speed in it.
int flsh_ShortCodePercent(const char *pszCode);

// Port display name: the path from its fifth character on ("COM3" of "\\.\COM3").
const char *flsh_PortDisplayName(const DeviceUpdate *pUpdate);

// ---------------------------------------------------------------------------------------------
// Callbacks and cancel

int flsh_ProgressCallback(DeviceUpdate *pOwner, int nStatus, std::int32_t nValue, std::intptr_t nDetail);
int flsh_IdentifyCallback(DeviceUpdate *pOwner, int nStatus);

// Sets the process-wide cancel flag; from then on every progress call answers 0. Never cleared.
void flsh_SetCancel(void);
bool flsh_IsCancelled(void);
// Tests only: clears the flag again.
void flsh_ClearCancelForTesting(void);

// ---------------------------------------------------------------------------------------------
// Thread bodies and protocols

// Identification thread: identifies the device on the record's port into its identity record and
// stores identification's status in the result. Returns 0.
int flsh_Identify(DeviceUpdate *pUpdate);
// The flash thread body, flsh_RunProtocol, is declared in ravelin/protocols/flsh_choice.h: it calls
// the chip protocols, which are built on this library.

// The generic flash loader protocol. Returns an update result code.
int flsh_Update(ProgressCallback pfnProgress, DeviceUpdate *pUpdate);

// ---------------------------------------------------------------------------------------------
// Steps of the generic protocol (exposed for the chip protocols and for tests)

// The generic protocol's work area, one per device update.
struct FlshWork {
    std::int32_t nPendingCount;      // bytes of the current record not yet placed; -1 after the end record
    std::uint32_t nPendingAddress;
    std::int32_t nPendingPosition;   // index into record.abData
    HexRecord record;
    HexAddressState addressState;
    std::uint8_t abBlock[flsh_kBlockSize];
    std::int32_t nBlockLength;
    std::uint32_t nBlockAddress;
    std::uint32_t nBlockChecksum;
    DeviceUpdate *pOwner;
    os_LineBuffer lineBuffer;
    SortWork sortWork;
};

// Longest line the programming loop reads from the sorted image, line end included.
constexpr int flsh_kImageLineLen = 524;

// Outcomes 0 done, 1 failed, 2 cancelled.
int flsh_Handshake(UrsPort *pPort, DeviceUpdate *pUpdate, ProgressCallback pfnProgress);
// Outcomes 0 done, 1 failed, 2 cancelled; *pnBlockSize becomes 128 for loaders before 1.08.
int flsh_GetLoaderVersion(UrsPort *pPort, DeviceUpdate *pUpdate, ProgressCallback pfnProgress, int *pnBlockSize);
// 0 or FR_UNPROTECT_FAILED.
int flsh_PrepareDevice(UrsPort *pPort, std::uint32_t flags, int keepBootSector, int afterFlash);
// 0 "OK\r\n", 3 "ERROR\r\n", 1 time-out (20 s).
int flsh_WaitOkOrError(UrsPort *pPort);

// Starts a reading pass over the sorted image: nothing pending, address state reset.
void flsh_ResetImageReader(FlshWork *pWork);
// Builds the next block of at most nBlockSize bytes from the sorted image open as hImage.
// Returns the block length, 0 when nothing is left, -1 on a bad image.
int flsh_BuildBlock(FlshWork *pWork, osfl_Handle hImage, int nBlockSize, std::uint32_t flags);
// Programs the sorted image; returns an update result code.
int flsh_ProgramImage(UrsPort *pPort, FlshWork *pWork, osfl_Handle hImage, int nBlockSize,
                      ProgressCallback pfnProgress);
// Handshake again and "ATC" after programming: 0, 1 or FR_AFTER_FLASH_FAILED.
int flsh_CheckAfterFlash(UrsPort *pPort, DeviceUpdate *pUpdate, ProgressCallback pfnProgress);
// Reads the whole sorted image and checks every record and its checksum before the device is
// touched: a line holding anything but one well-formed record makes the image unsound. True when
// the image is sound.
bool flsh_CheckImage(osfl_Handle hImage);
