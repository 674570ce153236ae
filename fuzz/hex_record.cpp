// Fuzz target: the Intel HEX record parser, and the readers that take an image line by line with it
// (the image check run before a device is touched, and the block builder of the programming loop).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_scratch.h"
#include "ravelin/catalogue/familyflags.h"
#include "ravelin/flash/flsh.h"
#include "ravelin/flash/hex_image.h"

namespace {

void fail(const char *pszWhat)
{
    std::fprintf(stderr, "hex_record: %s\n", pszWhat);
    std::abort();
}

// One line through both entry points; a record read must hold what its text says.
void parseLine(HexAddressState *pState, const std::string &line)
{
    HexRecord record;
    HexAddressState before = *pState;
    int nRead = parseHexRecordText(pState, line.data(), line.size(), &record);
    if (nRead != 0 && nRead != 1)
        fail("parseHexRecordText returned neither 0 nor 1");
    if (nRead == 1) {
        if (record.nCount < 0 || record.nCount > 255)
            fail("byte count outside 0..255");
        if (line.size() != 11 + 2 * static_cast<std::size_t>(record.nCount))
            fail("a record was read from a line of the wrong length");
        (void)hexRecordChecksumOk(pState, &record);
    }
    // The terminated form must agree wherever the text has no NUL of its own.
    if (line.find('\0') == std::string::npos) {
        HexRecord again;
        HexAddressState state = before;
        if (parseHexRecord(&state, line.c_str(), &again) != nRead)
            fail("parseHexRecord and parseHexRecordText disagree");
        if (nRead == 1 && (again.nAddress != record.nAddress || again.nType != record.nType ||
                           std::memcmp(again.abData, record.abData, static_cast<std::size_t>(record.nCount)) != 0))
            fail("parseHexRecord and parseHexRecordText read different records");
    }
}

void buildBlocks(FlshWork *pWork, const std::string &path, std::uint32_t flags, int nBlockSize, std::size_t nSize)
{
    osfl_Handle hImage = osfl_Open(path.c_str(), osfl_kRead);
    if (hImage == osfl_kInvalidHandle)
        fail("cannot open the scratch image");
    flsh_ResetImageReader(pWork);
    // Every block but the last consumes at least one byte of the file: more calls than bytes is a hang.
    std::size_t nCalls = 0;
    for (;;) {
        int nLength = flsh_BuildBlock(pWork, hImage, nBlockSize, flags);
        if (nLength <= 0)
            break;
        if (nLength > nBlockSize || nLength % flsh_kBlockAlign != 0)
            fail("block longer than asked for, or not aligned");
        if (++nCalls > nSize + 2)
            fail("the block builder does not come to an end");
    }
    osfl_Close(hImage);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t nSize)
{
    const std::string text(reinterpret_cast<const char *>(pData), nSize);

    // The record parser alone, line by line, with one address state across the lines as the
    // programming loop keeps it.
    HexAddressState state{0, 0};
    std::size_t nStart = 0;
    while (nStart <= text.size()) {
        std::size_t nEnd = text.find('\n', nStart);
        if (nEnd == std::string::npos)
            nEnd = text.size();
        std::string line = text.substr(nStart, nEnd - nStart);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        parseLine(&state, line);
        nStart = nEnd + 1;
    }

    // The same bytes as an image file, through the readers that take it line by line.
    const std::string path = fuzz::WriteScratch("image.hex", pData, nSize);
    osfl_Handle hImage = osfl_Open(path.c_str(), osfl_kRead);
    if (hImage == osfl_kInvalidHandle)
        fail("cannot open the scratch image");
    (void)flsh_CheckImage(hImage);
    // The check of the line-by-line downloads: a fault names its line, a sound image none, and
    // whatever it finds, it leaves the file at its start.
    long nLine = -1;
    const int nProblem = hex_CheckImageLines(hImage, 128, &nLine);
    if (nProblem == hex_kImageSound ? nLine != 0 : nProblem != hex_kImageUnreadable && nLine < 1)
        fail("the image check's line does not fit its finding");
    if (osfl_Tell(hImage) != 0)
        fail("the image check did not rewind the image");
    osfl_Close(hImage);

    static FlshWork *pWork = new FlshWork();
    const std::uint32_t flags = nSize > 0 && (pData[0] & 1) ? FLF_BOOT_JUMP : 0u;
    buildBlocks(pWork, path, flags, flsh_kBlockSize, nSize);
    buildBlocks(pWork, path, flags, flsh_kSmallBlockSize, nSize);
    return 0;
}
