// Checking an image before a device hears any of it. The devices program what they receive as it
// comes, so a record found bad half-way through a download leaves a half-written device: every
// download reads its whole image once with the same record reader before its first byte goes out.
#include <vector>

#include "ravelin/flash/hex_image.h"

namespace {

constexpr char kCtrlZ = 0x1A;

// Empty, or only the Ctrl-Z bytes an old editor left at the end of the file.
bool blankLine(const char *pszLine)
{
    for (const char *p = pszLine; *p != '\0'; ++p)
        if (*p != kCtrlZ) return false;
    return true;
}

} // namespace

const char *hex_ImageProblemText(int nProblem)
{
    switch (nProblem) {
    case hex_kImageSound: return "sound";
    case hex_kImageUnreadable: return "cannot be read";
    case hex_kImageLineTooLong: return "line too long";
    case hex_kImageNotARecord: return "not a well-formed record";
    case hex_kImageBadChecksum: return "checksum does not match";
    default: return "unknown problem";
    }
}

int hex_CheckRecordLine(HexAddressState *pState, const char *pszLine, HexRecord *pRecord)
{
    if (!parseHexRecord(pState, pszLine, pRecord)) return hex_kImageNotARecord;
    return hexRecordChecksumOk(pState, pRecord) ? hex_kImageSound : hex_kImageBadChecksum;
}

int hex_CheckImageLines(osfl_Handle hImage, int nCapacity, long *pnLine)
{
    *pnLine = 0;
    if (nCapacity < 3 || osfl_Seek(hImage, 0, osfl_kSeekStart) != 0) return hex_kImageUnreadable;
    // Heap, not stack: the download threads have small stacks.
    std::vector<char> line(static_cast<std::size_t>(nCapacity));
    os_LineBuffer *pBuffer = new os_LineBuffer;
    pBuffer->nRemaining = 0;
    pBuffer->nPosition = 0;
    HexAddressState state{0, 0};
    HexRecord *pRecord = new HexRecord();
    int nProblem = hex_kImageSound;
    long nBlankFrom = 0;  // first of the blank lines read last; 0 while the last line held text
    for (long nLine = 1;; ++nLine) {
        int nRead = os_ReadNextLine(hImage, line.data(), nCapacity, pBuffer);
        if (nRead == 0) break;
        if (nRead < 0) {
            // The reader says no more than that: a line too long for it, or a failed read.
            nProblem = hex_kImageLineTooLong;
            *pnLine = nLine;
            break;
        }
        if (blankLine(line.data())) {
            if (nBlankFrom == 0) nBlankFrom = nLine;
            continue;
        }
        if (nBlankFrom != 0) {
            // A blank line in the middle: no record is lost by it, but no image is written so.
            nProblem = hex_kImageNotARecord;
            *pnLine = nBlankFrom;
            break;
        }
        nProblem = hex_CheckRecordLine(&state, line.data(), pRecord);
        if (nProblem != hex_kImageSound) {
            *pnLine = nLine;
            break;
        }
    }
    delete pRecord;
    delete pBuffer;
    if (osfl_Seek(hImage, 0, osfl_kSeekStart) != 0 && nProblem == hex_kImageSound) return hex_kImageUnreadable;
    return nProblem;
}
