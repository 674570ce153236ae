// SHA-256 (FIPS 180-4) of a byte stream and of a file: the fingerprint the history keeps of every
// image, equal to what sha256sum prints. Our own, so that ravelin-cli needs no crypto library.
#pragma once

#include <cstddef>
#include <cstdint>

struct HistSha256 {
    std::uint32_t anState[8];
    std::uint64_t nBytes;          // bytes hashed so far
    std::uint8_t abBlock[64];      // the block being filled
    std::uint32_t nFilled;
};

void hist_Sha256Init(HistSha256 *pHash);
void hist_Sha256Update(HistSha256 *pHash, const void *pData, std::size_t nLength);
// The digest; the state is spent afterwards.
void hist_Sha256Final(HistSha256 *pHash, std::uint8_t abDigest[32]);
// The digest as 64 lower-case hex digits and a terminator (65 bytes).
void hist_Sha256Hex(const std::uint8_t abDigest[32], char *pszHex);

// Hashes a whole file into pszHex (65 bytes) and its size into *pnSize (may be null). Returns 1, or 0
// when the file cannot be read (pszHex then "").
int hist_Sha256File(const char *pszPath, char *pszHex, std::int64_t *pnSize);
