#ifndef RAVELIN_CATALOGUE_FAMILYFLAGS_H
#define RAVELIN_CATALOGUE_FAMILYFLAGS_H

// Controller-family flag bits. Models.ini names a chip family per model; the family table turns the
// name into one of these words, and identification, the flash engine and the chip protocols test
// single bits of it.

#include <cstdint>

// Bits the generic flash routine reads.
constexpr std::uint32_t FLF_BOOT_JUMP = 0x00000001;  // block at address 0 starts with C3 00 01
constexpr std::uint32_t FLF_FAST_START = 0x00000002; // "AT*FS\r" at 115200 baud instead of 19200
constexpr std::uint32_t FLF_FAST_POLL = 0x00000004;  // synchronisation polls every 10 ms
constexpr std::uint32_t FLF_UNPROTECT = 0x00000010;  // "ATDPOFF\r" before programming boot code
constexpr std::uint32_t FLF_MODE_CMD = 0x00000020;   // "ATN\r" or "ATC\r" before programming
constexpr std::uint32_t FLF_CARD_256 = 0x00000040;   // multi-port card, 256-byte pieces
constexpr std::uint32_t FLF_CARD_128 = 0x00000080;   // multi-port card, 128-byte pieces (wins over 256)
constexpr std::uint32_t FLF_ADDR32 = 0x00080000;     // block headers carry a 4-byte address

// Bits that choose the identification dialogue and the download protocol.
constexpr std::uint32_t FLF_LUCENT = 0x00000100;        // Lucent/Agere identification and protocol
constexpr std::uint32_t FLF_ROCKWELL = 0x00000200;      // Rockwell identification and protocol
constexpr std::uint32_t FLF_TA = 0x00000400;            // terminal-adapter identification
constexpr std::uint32_t FLF_HEX_COUNTRY = 0x00000800;   // "ATI5\r" answers the country in hexadecimal
constexpr std::uint32_t FLF_FULL_FLASH = 0x00001000;    // Lucent/Agere: full flash
constexpr std::uint32_t FLF_AGERE_LOADER = 0x00002000;  // Lucent/Agere: the Agere loader file
constexpr std::uint32_t FLF_DOWNLOAD_115200 = 0x00004000; // chip download at 115200 baud
constexpr std::uint32_t FLF_SIEMENS = 0x00008000;       // Siemens protocol
constexpr std::uint32_t FLF_DOT = 0x00010000;           // dot/upload protocol
constexpr std::uint32_t FLF_NO_DEFAULTS = 0x00200000;   // Rockwell: no factory-defaults restore
constexpr std::uint32_t FLF_POWER_CYCLE = 0x00020000;   // dot/upload: download mode by switching off and on
constexpr std::uint32_t FLF_DOT_TRAILER = 0x00100000;   // dot/upload: every block ends with the byte 0x17
// dot/upload: 128-byte blocks instead of 64 (the bit the multi-port card families use for their pieces)
constexpr std::uint32_t FLF_DOT_BLOCK_128 = FLF_CARD_128;

// The word of a family that the table does not know, and of a model line without a family.
constexpr std::uint32_t cat_kDefaultFlags = 0x00000005;

// Flags word of a chip family name as written in Models.ini, compared without regard to case
// (letters a-z); cat_kDefaultFlags for a null, empty or unknown name.
std::uint32_t cat_FlagsForFamily(const char* pszFamily);

// True when the flags word is flashed by the generic routine rather than a chip protocol.
inline bool cat_IsGenericFlash(std::uint32_t flags)
{
    return (flags & (FLF_LUCENT | FLF_ROCKWELL | FLF_SIEMENS | FLF_DOT)) == 0;
}

#endif
