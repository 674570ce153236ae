// Intel HEX images: reading one record, sorting an image into address order, and the end record.
//
// The generic flash protocol sorts every image into a temporary file before it programs it, because
// the device's loader must receive the image in ascending address order; the programming loop and
// the image check then read the sorted file record by record with parseHexRecord.
#pragma once

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

// The sorter's working state, one per running update (so several sorts run at once on different
// threads without sharing anything). Set pOwner before calling sortHexFile; the rest is the
// sorter's own.
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
};

// Reads one record line (without its CR LF) into *pRecord, updating *pState on extended address
// records. Returns 1 when the line was read as a record, 0 otherwise.
int parseHexRecord(HexAddressState *pState, const char *pszLine, HexRecord *pRecord);

// True when the record's checksum byte makes the byte sum of the record 0 (mod 256).
// pState must be the state parseHexRecord left after reading this record.
bool hexRecordChecksumOk(const HexAddressState *pState, const HexRecord *pRecord);

// Rewrites the image at pszInput into pszOutput: data records grouped by address base, bases in
// ascending order each introduced by its own extended address record, records of a base in
// ascending address order, one end-of-file record at the end. Reports status 14 (flsh_cSorting)
// through pfnProgress (which may be null); a sort cannot be cancelled. Returns 0, or -1 on failure,
// leaving the output as far as it was written.
int sortHexFile(const char *pszInput, const char *pszOutput, SortWork *pWork, ProgressCallback pfnProgress);

// Appends ":00000001FF\r\n" to pWork's output file. Returns 0, or -1 when it cannot be opened.
int writeHexEndRecord(SortWork *pWork);

// Value of one digit as the sorter reads it: 0-9 and A-F (upper case only), any other character
// its own character code.
int hexDigitValue(char ch);
