// Line-by-line files of the chip download protocols (see proto_linefile.h).
#include "ravelin/protocols/proto_linefile.h"

#include <vector>

int proto_OpenLineFile(proto_LineFile *pFile, const char *pszPath)
{
    pFile->hFile = osfl_Open(pszPath, osfl_kRead);
    pFile->nSize = 0;
    pFile->buffer.nRemaining = 0;
    pFile->buffer.nPosition = 0;
    pFile->nPosition = 0;
    if (pFile->hFile == osfl_kInvalidHandle)
        return 0;
    pFile->nSize = osfl_Size(pFile->hFile);
    if (pFile->nSize < 0)
        pFile->nSize = 0;
    return 1;
}

void proto_CloseLineFile(proto_LineFile *pFile)
{
    if (pFile->hFile != osfl_kInvalidHandle)
        osfl_Close(pFile->hFile);
    pFile->hFile = osfl_kInvalidHandle;
}

bool proto_IsLineFileOpen(const proto_LineFile *pFile)
{
    return pFile->hFile != osfl_kInvalidHandle;
}

int proto_RewindLineFile(proto_LineFile *pFile)
{
    pFile->buffer.nRemaining = 0;
    pFile->buffer.nPosition = 0;
    pFile->nPosition = 0;
    return osfl_Seek(pFile->hFile, 0, osfl_kSeekStart) == 0 ? 1 : 0;
}

int proto_ReadLine(proto_LineFile *pFile, char *pszLine, int nCapacity)
{
    int nRead = os_ReadNextLine(pFile->hFile, pszLine, nCapacity, &pFile->buffer);
    // What the reader returns is what it took from the file: the line with its CR LF (length + 2),
    // or a last line without one. Counting it here spares a file-position query per line.
    if (nRead > 0)
        pFile->nPosition += nRead;
    return nRead;
}

long proto_LinePosition(const proto_LineFile *pFile)
{
    return pFile->nPosition;
}

int proto_LinePercent(const proto_LineFile *pFile)
{
    if (pFile->nSize <= 0)
        return 100;
    long nPosition = proto_LinePosition(pFile);
    if (nPosition > pFile->nSize)
        nPosition = pFile->nSize;
    return static_cast<int>(nPosition * 100 / pFile->nSize);
}

int proto_LinesFit(osfl_Handle hFile, int nCapacity, long *pnLines, long *pnBadLine)
{
    *pnLines = 0;
    *pnBadLine = 0;
    if (osfl_Seek(hFile, 0, osfl_kSeekStart) != 0)
        return 0;
    os_LineBuffer buffer;
    buffer.nRemaining = 0;
    buffer.nPosition = 0;
    std::vector<char> line(static_cast<std::size_t>(nCapacity > 0 ? nCapacity : 1));
    int nRead;
    while ((nRead = os_ReadNextLine(hFile, line.data(), nCapacity, &buffer)) > 0)
        ++*pnLines;
    if (nRead < 0)
        *pnBadLine = *pnLines + 1;
    if (osfl_Seek(hFile, 0, osfl_kSeekStart) != 0)
        return 0;
    return nRead == 0 ? 1 : 0;
}

int proto_CheckLineFile(proto_LineFile *pFile, int nCapacity, long *pnBadLine)
{
    long nLines = 0;
    int bFit = proto_LinesFit(pFile->hFile, nCapacity, &nLines, pnBadLine);
    if (!proto_RewindLineFile(pFile))
        return 0;
    return bFit && nLines > 0 ? 1 : 0;
}
