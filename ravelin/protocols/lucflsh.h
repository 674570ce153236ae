// Download protocol of devices built on a Lucent or Agere modem chip.
//
// The chip's resident flash loader is started with the "GO" command of the command variant the device
// accepted during identification, or, in full-flash mode, a new flash loader is first sent line by
// line, each line prefixed with the variant's command. The Intel HEX image then goes out line by line,
// and the device acknowledges every line before the next one is sent:
//
//   host                                       device
//   AT&&FGO\r  (variant 0; W: 1; Z: 2, ending "\n")   Ver:4.4 ... OK
//   or, full flash, per loader line:
//   at&&f:10000000...\r\n                             OK        (the last ones also "Ver:4.4" or
//                                                               "OCM Ver:1.3": the new loader's version)
//   per image line:  :10000000...\r\n                 OK, or NOK1 ... NOK4 (rejected)
#pragma once

#include "ravelin/flash/flsh.h"
#include "ravelin/protocols/proto_linefile.h"

// What the device said to one line (GetOKorNOKx).
constexpr int lucflsh_cAcknowledged = 0;
constexpr int lucflsh_cNoAnswer = 1;
constexpr int lucflsh_cNok1 = 2;
constexpr int lucflsh_cNok2 = 3;
constexpr int lucflsh_cNok3 = 4;
constexpr int lucflsh_cNok4 = 5;
// lucflsh_GetVersion: "OK" came but no version before it.
constexpr int lucflsh_cNoVersion = 6;

// Kinds of file lucflsh_SendFile sends.
constexpr int lucflsh_kLoaderFile = 0;
constexpr int lucflsh_kImageFile = 1;

// Longest line read from a loader or image file, line end included (at most 126 characters of text).
constexpr int lucflsh_kLineCapacity = 128;

// Acknowledgement time-outs in seconds: a loader line, the first two image lines (they wait for the
// device's flash erase), the following image lines, and each try of a resent image line.
constexpr int lucflsh_kLoaderLineTimeout = 2;
constexpr int lucflsh_kEraseTimeout = 180;
constexpr int lucflsh_kImageLineTimeout = 5;
constexpr int lucflsh_kResendTimeout = 5;
// Writes of an image line the device asked to have again (NOK2, NOK3) before the update fails.
constexpr int lucflsh_kResendTries = 4;
// Resends of a loader line nobody answered.
constexpr int lucflsh_kLoaderRetries = 3;

// Loader files beside the executable.
extern const char lucflsh_kAgereLoader[];   // "OcmFldr.hex" (flags FLF_AGERE_LOADER)
extern const char lucflsh_kLucentLoader[];  // "NewFlashLdr.hex"

// The protocol: opens the record's port, starts the resident loader or sends a new one, sends the
// image and closes everything again. Returns an update result code, or the negative serial result
// when the GO command could not be written.
int lucflsh_Flash(ProgressCallback pfnProgress, DeviceUpdate *pUpdate);

// Reads the image (unless the record's noProgramming is set) and, for a full flash, the new loader
// through once, as lucflsh_Flash does before the device hears anything: every line a sound Intel HEX
// record of at most 126 characters. For front ends that talk to the device before the protocol runs
// (the flash-facts query). Returns 0, FR_HEX_OPEN_FAILED or FR_BAD_HEX.
int lucflsh_CheckFiles(const DeviceUpdate *pUpdate);

// Sends one open file (lucflsh_kLoaderFile or lucflsh_kImageFile) line by line, waiting for each
// line's acknowledgement. A version the device announces on the way lands in pszVersion
// (flsh_kLoaderVersionLen bytes). Returns 0, FR_ABORTED, FR_BAD_HEX, FR_VERIFY_FAILED or FR_TIMEOUT.
// An image line the device gives up (NOK1, NOK4) is not sent again, the transfer goes on with the
// next line, and the file ends with FR_VERIFY_FAILED instead of 0.
int lucflsh_SendFile(DeviceUpdate *pOwner, UrsPort *pPort, proto_LineFile *pFile, int nKind, char *pszVersion,
                     ProgressCallback pfnProgress, int nVariant);

// Waits up to nSeconds for a line's answer: lucflsh_cAcknowledged for a plain "OK", lucflsh_cNok1 ...
// lucflsh_cNok4 for "NOK1" ... "NOK4", lucflsh_cNoAnswer on time-out. "Ver:4.3", "Ver:4.4" and
// "OCM Ver:1.3" on the way set pszVersion ("4.3", "4.4", "1.3"; flsh_kLoaderVersionLen bytes).
int GetOKorNOKx(UrsPort *pPort, int nSeconds, char *pszVersion);
// Waits up to nSeconds for "OK" after a GO command: 0 when a version ("Ver:4.3", "Ver:4.4") came
// before it, lucflsh_cNoVersion when not, lucflsh_cNoAnswer on time-out.
int lucflsh_GetVersion(UrsPort *pPort, int nSeconds, char *pszVersion);
// Waits up to nSeconds for a plain "OK": 0, or 1 on time-out.
int lucflsh_WaitOK(UrsPort *pPort, int nSeconds);

// The GO command and the loader line prefix of a command variant (0, 1, 2; anything else reads as 0).
const char *lucflsh_GoCommand(int nVariant);
const char *lucflsh_LoaderPrefix(int nVariant);
// 1 when an image may go to a device whose loader reports pszVersion: "4.3", "4.4" or "1.3", and
// for type code 3 only "4.4".
int lucflsh_LoaderFitsType(const char *pszVersion, int nTypeCode);
