// SHA-256 after FIPS 180-4: 64-byte blocks, big-endian words, the length in bits at the end.
#include "ravelin/history/hist_sha256.h"

#include <cstring>

#include "ravelin/support/oswin32.h"

namespace {

const std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

inline std::uint32_t rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void compress(std::uint32_t *pState, const std::uint8_t *pBlock) {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = static_cast<std::uint32_t>(pBlock[4 * i]) << 24 | static_cast<std::uint32_t>(pBlock[4 * i + 1]) << 16 |
               static_cast<std::uint32_t>(pBlock[4 * i + 2]) << 8 | pBlock[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
        std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = pState[0], b = pState[1], c = pState[2], d = pState[3];
    std::uint32_t e = pState[4], f = pState[5], g = pState[6], h = pState[7];
    for (int i = 0; i < 64; ++i) {
        std::uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
        std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    pState[0] += a;
    pState[1] += b;
    pState[2] += c;
    pState[3] += d;
    pState[4] += e;
    pState[5] += f;
    pState[6] += g;
    pState[7] += h;
}

}  // namespace

void hist_Sha256Init(HistSha256 *pHash) {
    static const std::uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                              0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::memcpy(pHash->anState, kInitial, sizeof kInitial);
    pHash->nBytes = 0;
    pHash->nFilled = 0;
}

void hist_Sha256Update(HistSha256 *pHash, const void *pData, std::size_t nLength) {
    const std::uint8_t *p = static_cast<const std::uint8_t *>(pData);
    pHash->nBytes += nLength;
    while (nLength > 0) {
        std::size_t nTake = 64 - pHash->nFilled;
        if (nTake > nLength) nTake = nLength;
        std::memcpy(pHash->abBlock + pHash->nFilled, p, nTake);
        pHash->nFilled += static_cast<std::uint32_t>(nTake);
        p += nTake;
        nLength -= nTake;
        if (pHash->nFilled == 64) {
            compress(pHash->anState, pHash->abBlock);
            pHash->nFilled = 0;
        }
    }
}

void hist_Sha256Final(HistSha256 *pHash, std::uint8_t abDigest[32]) {
    std::uint64_t nBits = pHash->nBytes * 8;
    // A one bit, zeros up to 56 bytes into a block, then the length: one or two more blocks.
    std::uint8_t abPad[72] = {0x80};
    std::size_t nPad = (pHash->nFilled < 56 ? 56 : 120) - pHash->nFilled;
    for (int i = 0; i < 8; ++i) abPad[nPad + i] = static_cast<std::uint8_t>(nBits >> (56 - 8 * i));
    std::uint64_t nKeep = pHash->nBytes;
    hist_Sha256Update(pHash, abPad, nPad + 8);
    pHash->nBytes = nKeep;
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j) abDigest[4 * i + j] = static_cast<std::uint8_t>(pHash->anState[i] >> (24 - 8 * j));
}

void hist_Sha256Hex(const std::uint8_t abDigest[32], char *pszHex) {
    static const char kDigits[] = "0123456789abcdef";
    for (int i = 0; i < 32; ++i) {
        pszHex[2 * i] = kDigits[abDigest[i] >> 4];
        pszHex[2 * i + 1] = kDigits[abDigest[i] & 15];
    }
    pszHex[64] = '\0';
}

int hist_Sha256File(const char *pszPath, char *pszHex, std::int64_t *pnSize) {
    pszHex[0] = '\0';
    if (pnSize != nullptr) *pnSize = 0;
    osfl_Handle hFile = osfl_Open(pszPath, osfl_kRead);
    if (hFile == osfl_kInvalidHandle) return 0;
    HistSha256 hash;
    hist_Sha256Init(&hash);
    static thread_local std::uint8_t abBuffer[65536];
    int nRead;
    while ((nRead = osfl_Read(hFile, abBuffer, sizeof abBuffer)) > 0) hist_Sha256Update(&hash, abBuffer, static_cast<std::size_t>(nRead));
    osfl_Close(hFile);
    if (nRead == osfl_kError) return 0;
    std::uint8_t abDigest[32];
    hist_Sha256Final(&hash, abDigest);
    hist_Sha256Hex(abDigest, pszHex);
    if (pnSize != nullptr) *pnSize = static_cast<std::int64_t>(hash.nBytes);
    return 1;
}
