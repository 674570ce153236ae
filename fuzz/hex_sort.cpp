// Fuzz target: the HEX image sorter, a file in and a file out, through the entry the programs use.
// Whenever the sorter reports success its output must be an image the programming loop accepts and
// must carry every data record of the input, in address order, with one end record at the end.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_scratch.h"
#include "ravelin/flash/flsh.h"
#include "ravelin/flash/hex_image.h"

namespace {

void fail(const char *pszWhat)
{
    std::fprintf(stderr, "hex_sort: %s\n", pszWhat);
    std::abort();
}

std::int32_t g_nLastProgress = -1;

int checkProgress(DeviceUpdate *, int nStatus, std::int32_t nValue, std::intptr_t)
{
    if (nStatus != flsh_cSorting || nValue < 0 || nValue > 100 || nValue < g_nLastProgress)
        fail("progress outside 0..100, going back, or not the sorting status");
    g_nLastProgress = nValue;
    return 1;
}

// The lines as the sorter's line reader gives them: LF or CR LF ends a line, Ctrl-Z bytes close
// the file, empty lines at the end are nothing.
std::vector<std::string> inputLines(const std::string &text)
{
    std::vector<std::string> lines;
    std::size_t nStart = 0;
    while (nStart < text.size()) {
        std::size_t nEnd = text.find('\n', nStart);
        bool bLast = nEnd == std::string::npos;
        std::string line = text.substr(nStart, (bLast ? text.size() : nEnd) - nStart);
        if (bLast)
            while (!line.empty() && line.back() == '\x1a') line.pop_back();
        else if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
        nStart = bLast ? text.size() : nEnd + 1;
    }
    return lines;
}

std::vector<std::string> outputLines(const std::string &text)
{
    std::vector<std::string> lines;
    std::size_t nStart = 0;
    while (nStart < text.size()) {
        std::size_t nEnd = text.find("\r\n", nStart);
        if (nEnd == std::string::npos)
            fail("output line without CR LF");
        lines.push_back(text.substr(nStart, nEnd - nStart));
        nStart = nEnd + 2;
    }
    return lines;
}

int typeOf(const std::string &line)
{
    unsigned nType = 0;
    return line.size() >= 9 && hexReadDigits(line.c_str() + 7, 2, &nType) ? static_cast<int>(nType) : -1;
}

// Every data byte of an image with its absolute address, as the record parser places it.
std::vector<std::pair<std::uint32_t, std::uint8_t>> memoryOf(const std::vector<std::string> &lines)
{
    std::vector<std::pair<std::uint32_t, std::uint8_t>> bytes;
    HexAddressState state{0, 0};
    for (const std::string &line : lines) {
        // End and start records carry no bytes; the sorter writes its own end record.
        int nType = typeOf(line);
        if (nType != hex_kData && nType != hex_kExtSegment && nType != hex_kExtLinear)
            continue;
        HexRecord record;
        if (!parseHexRecordText(&state, line.data(), line.size(), &record))
            fail("a record the parser cannot read, in a sort without warnings");
        if (record.nType != hex_kData)
            continue;
        for (int i = 0; i < record.nCount; ++i)
            bytes.emplace_back(record.nAddress + static_cast<std::uint32_t>(i), record.abData[i]);
    }
    std::sort(bytes.begin(), bytes.end());
    return bytes;
}

void checkOutput(const std::string &input, const std::string &outputPath, const SortWork &work)
{
    const std::string output = fuzz::ReadWhole(outputPath);
    std::vector<std::string> in = inputLines(input);
    std::vector<std::string> out = outputLines(output);
    if (out.empty() || out.back() != ":00000001FF")
        fail("the sorted image does not end in the end record");
    if (std::count(out.begin(), out.end(), std::string(":00000001FF")) != 1)
        fail("the sorted image holds more than one end record");

    // Same data records, none lost or made up; ascending bases and ascending offsets in each.
    std::vector<std::string> inData, outData;
    for (const std::string &line : in)
        if (typeOf(line) == hex_kData) inData.push_back(line);
    bool bHaveBase = false;
    std::uint32_t nBase = 0, nPreviousBase = 0, nPreviousOffset = 0;
    bool bFirstInBase = true;
    for (const std::string &line : out) {
        int nType = typeOf(line);
        if (nType == hex_kExtSegment || nType == hex_kExtLinear) {
            HexAddressState state{0, 0};
            HexRecord record;
            if (!parseHexRecordText(&state, line.data(), line.size(), &record) || !hexRecordChecksumOk(&state, &record))
                fail("the sorter wrote a bad extended address record");
            nBase = nType == hex_kExtSegment ? static_cast<std::uint32_t>(state.nValue) * 16u
                                             : static_cast<std::uint32_t>(state.nValue) * 65536u;
            if (bHaveBase && nBase <= nPreviousBase)
                fail("address bases not in ascending order");
            bHaveBase = true;
            nPreviousBase = nBase;
            bFirstInBase = true;
        } else if (nType == hex_kData) {
            if (!bHaveBase)
                fail("a data record before any base record");
            unsigned nOffset = 0;
            hexReadDigits(line.c_str() + 3, 4, &nOffset);
            if (!bFirstInBase && nOffset < nPreviousOffset)
                fail("records of a base not in ascending order");
            nPreviousOffset = nOffset;
            bFirstInBase = false;
            outData.push_back(line);
        } else if (line != ":00000001FF") {
            fail("the sorted image holds a record that is neither data, base nor end");
        }
    }
    std::sort(inData.begin(), inData.end());
    std::sort(outData.begin(), outData.end());
    if (inData != outData)
        fail("the sorted image does not hold exactly the input's data records");

    // Without warnings every record was sound: the programming loop must accept the result, and
    // the device must get the same bytes at the same addresses.
    if (work.nWarnings == 0) {
        osfl_Handle hImage = osfl_Open(outputPath.c_str(), osfl_kRead);
        if (hImage == osfl_kInvalidHandle)
            fail("cannot open the sorted image");
        bool bSound = flsh_CheckImage(hImage);
        osfl_Close(hImage);
        if (!bSound)
            fail("a sort without warnings gave an image the image check refuses");
        if (memoryOf(in) != memoryOf(out))
            fail("the sorted image places other bytes at other addresses than the input");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t nSize)
{
    const std::string inputPath = fuzz::WriteScratch("input.hex", pData, nSize);
    const std::string outputPath = fuzz::ScratchDir() + "/sorted.hex";
    static SortWork *pWork = new SortWork();
    std::memset(pWork, 0, sizeof *pWork);
    g_nLastProgress = -1;
    int nResult = sortHexFile(inputPath.c_str(), outputPath.c_str(), pWork, &checkProgress);
    if (pWork->pRecords != nullptr)
        fail("the record table outlived the sort");
    if (nResult == 0) {
        if (pWork->nFailure != hex_kSortOk)
            fail("success reported with a failure noted");
        checkOutput(std::string(reinterpret_cast<const char *>(pData), nSize), outputPath, *pWork);
    } else if (nResult != -1 || pWork->nFailure == hex_kSortOk) {
        fail("failure reported without a reason");
    }
    return 0;
}
