// Intel HEX images: reading one record, sorting an image into address order, and the end record.
//
// The generic flash protocol sorts every image into a temporary file before it programs it, because
// the device's loader must receive the image in ascending address order; the programming loop and
// the image check then read the sorted file record by record with parseHexRecord.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ravelin/flash/flsh_callbacks.h"
#include "ravelin/support/oswin32.h"

// Record types known to the engine.
constexpr int hex_kData = 0x00;
constexpr int hex_kEndOfFile = 0x01;
constexpr int hex_kExtSegment = 0x02;
constexpr int hex_kStartSegment = 0x03;
constexpr int hex_kExtLinear = 0x04;
constexpr int hex_kStartLinear = 0x05;

// Longest line the sorter accepts, line end included (the capacity it hands the line reader).
constexpr int hex_kSortLineLen = 100;
// Slots of the sorter's record table; the last one always stays empty, so a base holds at most
// hex_kSortSlots - 1 data records.
constexpr int hex_kSortSlots = 8176;
// Distinct address bases one image may use.
constexpr int hex_kMaxBases = 64;
constexpr std::uint32_t hex_kEmptySlot = 0xFFFFFFFFu;

// The end-of-file record the sorter writes (and the only one in a sorted file).
constexpr const char *hex_kEndRecord = ":00000001FF\r\n";

// One parsed record.
struct HexRecord {
    std::int32_t nType;        // record type as read
    std::uint32_t nAddress;    // absolute address of the first data byte (offset + current base)
    std::int32_t nCount;       // data bytes, from the byte-count field
    std::uint8_t abData[256];  // the data bytes, in order
    std::uint8_t nChecksum;    // checksum byte as read (the parser does not verify it)
};

// The running address base of one reading pass; zero both fields before the first record.
struct HexAddressState {
    std::int32_t nValue;  // 16-bit value of the last type 02 or 04 record
    std::int32_t nKind;   // 0 (none yet), 2 or 4: the type of that record
};

// One slot of the sorter's record table. The text is the record line followed by CR LF; it is
// not NUL-terminated but carries its length.
struct SortEntry {
    std::uint32_t nAddress;   // absolute address; hex_kEmptySlot when the slot is empty
    const char *pszText;      // nullptr when empty
    std::int32_t nTextLen;
};

struct SortTable {
    SortEntry aEntries[hex_kSortSlots];
};

struct BaseTable {
    std::uint32_t aBases[hex_kMaxBases];  // ascending from the first slot; hex_kEmptySlot = empty
};

// Why the last sort failed (SortWork::nFailure).
constexpr int hex_kSortOk = 0;
constexpr int hex_kSortCannotOpen = 1;       // a file cannot be opened (nFailureError says why)
constexpr int hex_kSortCannotRead = 2;       // the input cannot be read (nFailureError)
constexpr int hex_kSortNotARecord = 3;       // a line the sorter cannot place (nFailureLine)
constexpr int hex_kSortTooManyBases = 4;     // a 65th address base, or any extended address record once 64 are held
constexpr int hex_kSortTooManyRecords = 5;   // hex_kSortSlots data records in one base (the line of the last)
constexpr int hex_kSortLineTooLong = 6;      // a line that does not fit hex_kSortLineLen (nFailureLine)
constexpr int hex_kSortCannotWrite = 7;      // the output cannot be created or written (nFailureError)
constexpr int hex_kSortNoRecords = 8;        // the input holds no line at all
constexpr int hex_kSortOutOfMemory = 9;
constexpr int hex_kSortPathTooLong = 10;     // a path does not fit os_kPathLen

// Which file a failure concerns (SortWork::nFailureFile).
constexpr int hex_kSortInput = 0;
constexpr int hex_kSortOutput = 1;

// Lines the sorter passes on without understanding them (the sort still succeeds).
constexpr int hex_kWarnNotARecord = 1;       // a data or address record that is not well formed: kept as it is
constexpr int hex_kWarnChecksum = 2;         // a record whose checksum does not match: kept as it is
constexpr int hex_kWarnAfterEnd = 3;         // a record after the end-of-file record: sorted in like any other
constexpr int hex_kWarnStartDropped = 4;     // a start address record (03, 05): left out
constexpr int hex_kWarnExtraEnd = 5;         // a further end-of-file record: left out

// Told of each line the sorter passes on without understanding it, in line order (1 = first).
typedef void (*HexSortWarning)(void *pContext, std::uint32_t nLine, int nWarning);

// The sorter's working state, one per running update (so several sorts run at once on different
// threads without sharing anything). Set pOwner, and pfnWarning with its context (or null them),
// before calling sortHexFile; the rest is the sorter's own.
struct SortWork {
    DeviceUpdate *pOwner;                 // first argument of every progress call
    os_LineBuffer lineBuffer;
    char szInputPath[os_kPathLen];
    char szOutputPath[os_kPathLen];
    osfl_Handle hFile;
    SortTable *pRecords;                  // allocated for the duration of one sort
    BaseTable bases;
    std::uint16_t nBaseCount;
    std::uint16_t nRecordCount;
    HexSortWarning pfnWarning;            // optional, set by the caller
    void *pWarningContext;                // its first argument
    std::uint32_t nWarnings;              // lines warned about by the last sort
    int nFailure;                         // why the last sort failed; hex_kSortOk after a success
    int nFailureFile;                     // hex_kSortInput or hex_kSortOutput
    std::uint32_t nFailureLine;           // input line of the failure (1 = first), 0 for none
    int nFailureError;                    // system error number of an open, read or write failure
};

// Short texts for a failure and a warning, for messages and the log.
const char *hex_SortFailureText(int nFailure);
const char *hex_SortWarningText(int nWarning);

// Reads one record line (without its line end) into *pRecord, updating *pState on extended
// address records. Returns 1 when the line was read as a record: ":", then byte count, offset,
// type, the data bytes and the checksum, all as hexadecimal digits of either case, and nothing
// after them. Returns 0 otherwise.
int parseHexRecord(HexAddressState *pState, const char *pszLine, HexRecord *pRecord);
// The same for the nLength characters at pchLine, which need not be terminated.
int parseHexRecordText(HexAddressState *pState, const char *pchLine, std::size_t nLength, HexRecord *pRecord);

// True when the record's checksum byte makes the byte sum of the record 0 (mod 256).
// pState must be the state parseHexRecord left after reading this record.
bool hexRecordChecksumOk(const HexAddressState *pState, const HexRecord *pRecord);

// Rewrites the image at pszInput into pszOutput: data records grouped by address base, bases in
// ascending order each introduced by its own extended address record, records of a base in
// ascending address order, one end-of-file record at the end. Reports status 14 (flsh_cSorting)
// through pfnProgress (which may be null); a sort cannot be cancelled. Lines of CR LF or LF alone;
// empty lines and Ctrl-Z bytes at the end are ignored. Returns 0, or -1 on failure, leaving the
// output as far as it was written; pWork's failure fields then say why and where.
int sortHexFile(const char *pszInput, const char *pszOutput, SortWork *pWork, ProgressCallback pfnProgress);

// Appends ":00000001FF\r\n" to pWork's output file. Returns 0, or -1 when it cannot be opened.
int writeHexEndRecord(SortWork *pWork);

// Value of one digit as the sorter reads it: 0-9, A-F and a-f, any other character its own
// character code (so a letter beyond F in a record type reads as a type above 05).
int hexDigitValue(char ch);

// Reads nDigits hexadecimal digits of either case at pszAt into *pnValue. False when any of them
// is no digit.
bool hexReadDigits(const char *pszAt, int nDigits, unsigned *pnValue);

// ---------------------------------------------------------------------------------------------
// Checking a whole image before any of it goes to a device

// What the check found (hex_CheckImageLines, hex_CheckRecordLine).
constexpr int hex_kImageSound = 0;
constexpr int hex_kImageUnreadable = 1;    // the file cannot be read or repositioned
constexpr int hex_kImageLineTooLong = 2;   // a line the download's line reader cannot take whole
constexpr int hex_kImageNotARecord = 3;    // a line that is no well-formed record (also text after blank lines)
constexpr int hex_kImageBadChecksum = 4;   // a record whose checksum does not add up

// Short text of a finding, for messages and the log.
const char *hex_ImageProblemText(int nProblem);

// Judges one line as read (no line end): hex_kImageSound when it holds one well-formed record whose
// checksum adds up, else hex_kImageNotARecord or hex_kImageBadChecksum. *pState and *pRecord are
// updated as parseHexRecord updates them.
int hex_CheckRecordLine(HexAddressState *pState, const char *pszLine, HexRecord *pRecord);

// Reads the open image from its start to its end with the line reader the line-by-line downloads
// send it with (os_ReadNextLine, lines of at most nCapacity - 2 characters), then seeks back to its
// start. Every line must be a sound record (hex_CheckRecordLine), the lines after the end-of-file
// record too, since they are sent as well; blank lines, and a last line of Ctrl-Z bytes, are allowed
// only at the end of the file. An empty file is sound. Returns hex_kImageSound or what was found,
// with the 1-based number of the first line at fault in *pnLine (0 when none or unknown).
int hex_CheckImageLines(osfl_Handle hImage, int nCapacity, long *pnLine);
