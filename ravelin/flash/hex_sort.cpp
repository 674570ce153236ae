// Sorting an Intel HEX image into address order.
//
// The image is read once: the first look at every line collects the address bases (and rejects the
// image before any output exists), and the same lines are then handed out base by base, which gives
// the output and the failures of one pass per base without reading the file again for each base.
// Records of one base go through the fixed-size record table and its quicksort, so records with equal
// addresses come out in the order that procedure gives, which earlier sorted images also had.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "ravelin/flash/flsh.h"
#include "ravelin/flash/hex_image.h"

namespace {

constexpr int kOutputChunk = 64 * 1024;

struct LineRef {
    std::uint32_t nStart;  // offset of the line in the text store
    std::uint32_t nLength; // its text without the CR LF that follows it in the store
    std::uint32_t nLine;   // its line number in the input (1 = first)
};

// Fields at fixed character positions, read digit by digit as the sorter reads them.
int recordType(const char *pszLine)
{
    return hexDigitValue(pszLine[7]) * 16 + hexDigitValue(pszLine[8]);
}

std::uint32_t fourDigits(const char *pszAt)
{
    std::uint32_t nValue = 0;
    for (int i = 0; i < 4; ++i)
        nValue = nValue * 16u + static_cast<std::uint32_t>(hexDigitValue(pszAt[i]));
    return nValue;
}

std::uint32_t baseOfRecord(const char *pszLine, int nType)
{
    std::uint32_t nValue = fourDigits(pszLine + 9);
    if (nType == hex_kExtSegment)
        return (nValue * 16u) & 0xFFFFFu;
    return nValue * 65536u;
}

// Records a failure and returns false, for the reading steps.
bool failAt(SortWork *pWork, int nFailure, int nFile, std::uint32_t nLine, int nError = 0)
{
    pWork->nFailure = nFailure;
    pWork->nFailureFile = nFile;
    pWork->nFailureLine = nLine;
    pWork->nFailureError = nError;
    return false;
}

void warn(SortWork *pWork, std::uint32_t nLine, int nWarning)
{
    ++pWork->nWarnings;
    if (pWork->pfnWarning != nullptr)
        pWork->pfnWarning(pWork->pWarningContext, nLine, nWarning);
}

void report(SortWork *pWork, ProgressCallback pfnProgress, std::int32_t nValue)
{
    if (pfnProgress != nullptr)
        pfnProgress(pWork->pOwner, flsh_cSorting, nValue, 0);
}

// Enters one base into the ascending base table. Returns false when the table is already full.
bool enterBase(SortWork *pWork, std::uint32_t nBase)
{
    if (pWork->nBaseCount >= hex_kMaxBases)
        return false;
    std::uint32_t *aBases = pWork->bases.aBases;
    for (int i = 0; i < hex_kMaxBases; ++i) {
        if (aBases[i] == hex_kEmptySlot) {
            aBases[i] = nBase;
            ++pWork->nBaseCount;
            return true;
        }
        if (aBases[i] == nBase)
            return true;
        if (aBases[i] > nBase) {
            for (int j = hex_kMaxBases - 1; j > i; --j)
                aBases[j] = aBases[j - 1];
            aBases[i] = nBase;
            ++pWork->nBaseCount;
            return true;
        }
    }
    return true;
}

int baseIndex(const SortWork *pWork, std::uint32_t nBase)
{
    for (int i = 0; i < pWork->nBaseCount; ++i)
        if (pWork->bases.aBases[i] == nBase)
            return i;
    return -1;
}

void swapSlots(SortEntry *aSlots, int a, int b)
{
    SortEntry tmp = aSlots[a];
    aSlots[a] = aSlots[b];
    aSlots[b] = tmp;
}

// The record order of one base: middle element as pivot, recursion on the lower part, loop on the
// upper part (so the stack depth stays with the lower parts).
void quickSort(SortEntry *aSlots, int nLeft, int nRight)
{
    while (nLeft < nRight) {
        swapSlots(aSlots, nLeft, (nLeft + nRight) / 2);
        int nLast = nLeft;
        for (int i = nLeft + 1; i <= nRight; ++i)
            if (aSlots[i].nAddress < aSlots[nLeft].nAddress)
                swapSlots(aSlots, ++nLast, i);
        swapSlots(aSlots, nLeft, nLast);
        quickSort(aSlots, nLeft, nLast - 1);
        nLeft = nLast + 1;
    }
}

// The extended address record that introduces a base in the output.
std::string baseRecord(std::uint32_t nBase)
{
    int nType = nBase < 0x100000u ? hex_kExtSegment : hex_kExtLinear;
    std::uint32_t nValue = nType == hex_kExtSegment ? nBase / 16u : nBase / 65536u;
    unsigned nSum = 0x02u + static_cast<unsigned>(nType) + ((nValue >> 8) & 0xFFu) + (nValue & 0xFFu);
    char szRecord[32];
    std::snprintf(szRecord, sizeof szRecord, ":020000%02X%04X%02X\r\n", static_cast<unsigned>(nType),
                  static_cast<unsigned>(nValue & 0xFFFFu), (0x100u - (nSum & 0xFFu)) & 0xFFu);
    return szRecord;
}

// Buffered appends to the output file, keeping the position the progress figure is taken from.
class OutputWriter {
public:
    explicit OutputWriter(osfl_Handle hFile) : m_hFile(hFile) { m_buffer.reserve(kOutputChunk + 128); }
    bool put(const char *pData, std::size_t nCount)
    {
        m_buffer.append(pData, nCount);
        m_nPosition += static_cast<long long>(nCount);
        return m_buffer.size() < kOutputChunk || flush();
    }
    bool flush()
    {
        std::size_t nDone = 0;
        while (nDone < m_buffer.size()) {
            int nChunk = static_cast<int>(m_buffer.size() - nDone);
            int nWritten = osfl_Write(m_hFile, m_buffer.data() + nDone, nChunk);
            if (nWritten <= 0)
                return false;
            nDone += static_cast<std::size_t>(nWritten);
        }
        m_buffer.clear();
        return true;
    }
    long long position() const { return m_nPosition; }

private:
    osfl_Handle m_hFile;
    std::string m_buffer;
    long long m_nPosition = 0;
};

// Reads every line of the input into one text store, each line followed by CR LF there (also the
// last line, which needs no line end in the file). Lines may end in CR LF or LF alone. Empty lines
// at the end are left out; an empty line before more text is no record. Fails on a read error, a
// line longer than the sorter accepts, a line too short to hold a record header, and a file
// without any line.
bool readAllLines(SortWork *pWork, std::string *pStore, std::vector<LineRef> *pLines, long long *pnSize)
{
    pWork->hFile = osfl_Open(pWork->szInputPath, osfl_kRead);
    if (pWork->hFile == osfl_kInvalidHandle)
        return failAt(pWork, hex_kSortCannotOpen, hex_kSortInput, 0, os_LastError());
    long nSize = osfl_Size(pWork->hFile);
    if (nSize > 0) {
        pStore->reserve(static_cast<std::size_t>(nSize) + 2);
        // A data record of 16 bytes takes 45 characters with its line end: enough for the usual
        // images without growing the table line by line.
        pLines->reserve(static_cast<std::size_t>(nSize) / 40 + 1);
    }
    pWork->lineBuffer.nRemaining = 0;
    pWork->lineBuffer.nPosition = 0;
    char szLine[hex_kSortLineLen];
    bool bOk = true;
    std::uint32_t nLine = 0;
    std::uint32_t nFirstEmpty = 0;  // the first of the empty lines read since the last text
    for (;;) {
        int nRead = os_ReadTextLine(pWork->hFile, szLine, hex_kSortLineLen, &pWork->lineBuffer);
        if (nRead == 0)
            break;
        ++nLine;
        if (nRead == os_kLineTooLong) {
            bOk = failAt(pWork, hex_kSortLineTooLong, hex_kSortInput, nLine);
            break;
        }
        if (nRead < 0) {
            bOk = failAt(pWork, hex_kSortCannotRead, hex_kSortInput, nLine, os_LastError());
            break;
        }
        std::size_t nLength = std::strlen(szLine);
        if (nLength == 0 && nRead == 1) {
            if (nFirstEmpty == 0)
                nFirstEmpty = nLine;
            continue;
        }
        if (nFirstEmpty != 0) {
            bOk = failAt(pWork, hex_kSortNotARecord, hex_kSortInput, nFirstEmpty);
            break;
        }
        // Text after an embedded NUL would be lost silently; such a line is no record.
        if (nLength < 9 || nLength + 1 != static_cast<std::size_t>(nRead)) {
            bOk = failAt(pWork, hex_kSortNotARecord, hex_kSortInput, nLine);
            break;
        }
        if (pStore->size() + nLength + 2 > 0xFFFFFFFFu) {
            bOk = failAt(pWork, hex_kSortOutOfMemory, hex_kSortInput, nLine);
            break;
        }
        pLines->push_back({static_cast<std::uint32_t>(pStore->size()), static_cast<std::uint32_t>(nLength), nLine});
        pStore->append(szLine, nLength);
        pStore->append("\r\n", 2);
    }
    osfl_Close(pWork->hFile);
    pWork->hFile = osfl_kInvalidHandle;
    *pnSize = nSize;
    if (bOk && (pLines->empty() || nSize <= 0))
        return failAt(pWork, hex_kSortNoRecords, hex_kSortInput, 0);
    return bOk;
}

// Tells the caller about a line that the sort passes on without understanding it.
void checkRecord(SortWork *pWork, const char *pszLine, const LineRef &line, HexAddressState *pState,
                 bool *pbAfterEnd)
{
    int nType = recordType(pszLine);
    if (nType == hex_kStartSegment || nType == hex_kStartLinear) {
        warn(pWork, line.nLine, hex_kWarnStartDropped);
        return;
    }
    if (nType == hex_kEndOfFile) {
        if (*pbAfterEnd)
            warn(pWork, line.nLine, hex_kWarnExtraEnd);
        *pbAfterEnd = true;
        return;
    }
    HexRecord record;
    if (!parseHexRecordText(pState, pszLine, line.nLength, &record))
        warn(pWork, line.nLine, hex_kWarnNotARecord);
    else if (!hexRecordChecksumOk(pState, &record))
        warn(pWork, line.nLine, hex_kWarnChecksum);
    else if (*pbAfterEnd)
        warn(pWork, line.nLine, hex_kWarnAfterEnd);
}

// Collects the distinct bases. Fails on a record type above 05 or not written in hexadecimal
// digits, on an address (a data record's offset, an extended address record's value) not written
// in them, on an extended address record whose byte count is below 2, and on an extended address
// record once 64 bases are held. Warns about the lines it
// passes on without understanding them.
bool collectBases(SortWork *pWork, const std::string &store, const std::vector<LineRef> &lines)
{
    for (int i = 0; i < hex_kMaxBases; ++i)
        pWork->bases.aBases[i] = hex_kEmptySlot;
    pWork->nBaseCount = 0;
    // Records before any extended address record lie in base 0.
    if (recordType(store.data() + lines.front().nStart) != hex_kExtSegment)
        enterBase(pWork, 0);
    HexAddressState state{0, 0};
    bool bAfterEnd = false;
    for (const LineRef &line : lines) {
        const char *pszLine = store.data() + line.nStart;
        unsigned nType = 0, nField = 0;
        if (!hexReadDigits(pszLine + 7, 2, &nType) || nType > hex_kStartLinear)
            return failAt(pWork, hex_kSortNotARecord, hex_kSortInput, line.nLine);
        if (nType == hex_kExtSegment || nType == hex_kExtLinear) {
            if (line.nLength < 13 || !hexReadDigits(pszLine + 9, 4, &nField))
                return failAt(pWork, hex_kSortNotARecord, hex_kSortInput, line.nLine);
            // A record that says it carries fewer than the two bytes of a base has its checksum
            // where the base's low byte belongs: placing the data under that base would put it at
            // an address the record never named.
            unsigned nCount = 0;
            if (hexReadDigits(pszLine + 1, 2, &nCount) && nCount < 2)
                return failAt(pWork, hex_kSortNotARecord, hex_kSortInput, line.nLine);
            if (!enterBase(pWork, baseOfRecord(pszLine, static_cast<int>(nType))))
                return failAt(pWork, hex_kSortTooManyBases, hex_kSortInput, line.nLine);
        } else if (nType == hex_kData && !hexReadDigits(pszLine + 3, 4, &nField)) {
            return failAt(pWork, hex_kSortNotARecord, hex_kSortInput, line.nLine);
        }
        checkRecord(pWork, pszLine, line, &state, &bAfterEnd);
    }
    return true;
}

int failSort(SortWork *pWork, OutputWriter *pWriter, osfl_Handle hOutput)
{
    if (pWriter != nullptr)
        pWriter->flush();
    if (hOutput != osfl_kInvalidHandle)
        osfl_Close(hOutput);
    delete pWork->pRecords;
    pWork->pRecords = nullptr;
    pWork->nRecordCount = 0;
    return -1;
}

// A write to the output failed: notes the system's reason before anything else can change it.
int failWrite(SortWork *pWork, osfl_Handle hOutput)
{
    failAt(pWork, hex_kSortCannotWrite, hex_kSortOutput, 0, os_LastError());
    return failSort(pWork, nullptr, hOutput);
}

void markEmpty(SortTable *pTable)
{
    for (SortEntry &entry : pTable->aEntries)
        entry = SortEntry{hex_kEmptySlot, nullptr, 0};
}

// Creates the output empty. An existing file is emptied in place, which keeps a private temporary
// file private; only when that is refused is it removed and made anew.
osfl_Handle createOutput(const char *pszPath)
{
    osfl_Handle hOutput = osfl_Create(pszPath, osfl_kAttrNormal);
    if (hOutput == osfl_kInvalidHandle) {
        osfl_Delete(pszPath);
        hOutput = osfl_Create(pszPath, osfl_kAttrNormal);
    }
    return hOutput;
}

} // namespace

int sortHexFile(const char *pszInput, const char *pszOutput, SortWork *pWork, ProgressCallback pfnProgress)
{
    report(pWork, pfnProgress, 0);
    pWork->nWarnings = 0;
    failAt(pWork, hex_kSortOk, hex_kSortInput, 0);
    // A path cut to fit would name another file: refuse it instead.
    if (os_CopyBounded(pWork->szInputPath, pszInput, os_kPathLen) >= os_kPathLen) {
        failAt(pWork, hex_kSortPathTooLong, hex_kSortInput, 0);
        return -1;
    }
    if (os_CopyBounded(pWork->szOutputPath, pszOutput, os_kPathLen) >= os_kPathLen) {
        failAt(pWork, hex_kSortPathTooLong, hex_kSortOutput, 0);
        return -1;
    }
    pWork->hFile = osfl_kInvalidHandle;
    pWork->nRecordCount = 0;

    pWork->pRecords = new (std::nothrow) SortTable;
    if (pWork->pRecords == nullptr) {
        failAt(pWork, hex_kSortOutOfMemory, hex_kSortInput, 0);
        return -1;
    }
    markEmpty(pWork->pRecords);

    std::string store;
    std::vector<LineRef> lines;
    long long nInputSize = 0;
    try {
        if (!readAllLines(pWork, &store, &lines, &nInputSize))
            return failSort(pWork, nullptr, osfl_kInvalidHandle);
    } catch (const std::bad_alloc &) {
        failAt(pWork, hex_kSortOutOfMemory, hex_kSortInput, 0);
        return failSort(pWork, nullptr, osfl_kInvalidHandle);
    }
    if (!collectBases(pWork, store, lines))
        return failSort(pWork, nullptr, osfl_kInvalidHandle);

    // Hand each data record to its base, in file order.
    std::vector<std::vector<std::uint32_t>> recordsOfBase(pWork->nBaseCount);
    std::uint32_t nCurrentBase = 0;
    int nCurrentIndex = baseIndex(pWork, 0);
    for (std::uint32_t i = 0; i < lines.size(); ++i) {
        const char *pszLine = store.data() + lines[i].nStart;
        int nType = recordType(pszLine);
        if (nType == hex_kExtSegment || nType == hex_kExtLinear) {
            nCurrentBase = baseOfRecord(pszLine, nType);
            nCurrentIndex = baseIndex(pWork, nCurrentBase);
        } else if (nType == hex_kData && nCurrentIndex >= 0) {
            recordsOfBase[static_cast<std::size_t>(nCurrentIndex)].push_back(i);
        }
    }

    osfl_Handle hOutput = createOutput(pWork->szOutputPath);
    if (hOutput == osfl_kInvalidHandle) {
        failAt(pWork, hex_kSortCannotWrite, hex_kSortOutput, 0, os_LastError());
        return failSort(pWork, nullptr, osfl_kInvalidHandle);
    }
    OutputWriter writer(hOutput);

    SortEntry *aSlots = pWork->pRecords->aEntries;
    for (int nBase = 0; nBase < pWork->nBaseCount; ++nBase) {
        std::uint32_t nBaseAddress = pWork->bases.aBases[nBase];
        const std::vector<std::uint32_t> &members = recordsOfBase[static_cast<std::size_t>(nBase)];
        // The last slot must stay empty: it ends the table.
        if (members.size() >= static_cast<std::size_t>(hex_kSortSlots)) {
            failAt(pWork, hex_kSortTooManyRecords, hex_kSortInput, lines[members[hex_kSortSlots - 1]].nLine);
            return failSort(pWork, &writer, hOutput);
        }
        int nCount = 0;
        for (std::uint32_t nLine : members) {
            const char *pszLine = store.data() + lines[nLine].nStart;
            aSlots[nCount].nAddress = nBaseAddress + fourDigits(pszLine + 3);
            aSlots[nCount].pszText = pszLine;
            aSlots[nCount].nTextLen = static_cast<std::int32_t>(lines[nLine].nLength + 2);
            ++nCount;
        }
        pWork->nRecordCount = static_cast<std::uint16_t>(nCount);
        quickSort(aSlots, 0, nCount - 1);

        if (nCount != 0) {
            std::string record = baseRecord(nBaseAddress);
            if (!writer.put(record.data(), record.size()))
                return failWrite(pWork, hOutput);
            for (int i = 0; i < hex_kSortSlots && aSlots[i].pszText != nullptr; ++i) {
                if (!writer.put(aSlots[i].pszText, static_cast<std::size_t>(aSlots[i].nTextLen)))
                    return failWrite(pWork, hOutput);
                // Lines that ended in LF alone grow by their CR in the output: never past 100.
                report(pWork, pfnProgress,
                       static_cast<std::int32_t>(std::min(writer.position() * 100 / nInputSize, 100LL)));
            }
        }
        markEmpty(pWork->pRecords);
        pWork->nRecordCount = 0;
    }
    if (!writer.flush())
        return failWrite(pWork, hOutput);
    osfl_Close(hOutput);

    if (writeHexEndRecord(pWork) != 0) {
        failAt(pWork, hex_kSortCannotWrite, hex_kSortOutput, 0, os_LastError());
        return failSort(pWork, nullptr, osfl_kInvalidHandle);
    }

    delete pWork->pRecords;
    pWork->pRecords = nullptr;
    report(pWork, pfnProgress, 100);
    return 0;
}

int writeHexEndRecord(SortWork *pWork)
{
    osfl_Handle hOutput = osfl_Open(pWork->szOutputPath, osfl_kReadWrite);
    if (hOutput == osfl_kInvalidHandle)
        return -1;
    osfl_Seek(hOutput, 0, osfl_kSeekEnd);
    int nLength = static_cast<int>(std::strlen(hex_kEndRecord));
    int nWritten = osfl_Write(hOutput, hex_kEndRecord, nLength);
    osfl_Close(hOutput);
    return nWritten == nLength ? 0 : -1;
}

const char *hex_SortFailureText(int nFailure)
{
    switch (nFailure) {
    case hex_kSortOk: return "no failure";
    case hex_kSortCannotOpen: return "cannot open";
    case hex_kSortCannotRead: return "cannot read";
    case hex_kSortNotARecord: return "not a record";
    case hex_kSortTooManyBases: return "too many address blocks (at most 64)";
    case hex_kSortTooManyRecords: return "too many records in one block (at most 8175)";
    case hex_kSortLineTooLong: return "line too long (at most 100 characters with its line end)";
    case hex_kSortCannotWrite: return "cannot write";
    case hex_kSortNoRecords: return "no records";
    case hex_kSortOutOfMemory: return "out of memory";
    case hex_kSortPathTooLong: return "path too long";
    default: return "unknown failure";
    }
}

const char *hex_SortWarningText(int nWarning)
{
    switch (nWarning) {
    case hex_kWarnNotARecord: return "not a well-formed record, kept as it is";
    case hex_kWarnChecksum: return "checksum does not match, record kept as it is";
    case hex_kWarnAfterEnd: return "record after the end-of-file record, sorted in";
    case hex_kWarnStartDropped: return "start address record, left out";
    case hex_kWarnExtraEnd: return "another end-of-file record, left out";
    default: return "unknown warning";
    }
}
