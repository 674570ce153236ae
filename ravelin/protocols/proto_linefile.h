// A text file sent to a device line by line (loader and image files of the chip download protocols):
// the open file, its size, the line reader's read-ahead and how far the reader has got.
#pragma once

#include "ravelin/support/oswin32.h"

struct proto_LineFile {
    osfl_Handle hFile;
    long nSize;
    os_LineBuffer buffer;
    long nPosition;  // bytes of the file handed out as lines since the last rewind
};

// Opens the file for reading and starts the reader at its beginning. Returns 1, or 0 when the file
// cannot be opened (the record then holds osfl_kInvalidHandle).
int proto_OpenLineFile(proto_LineFile *pFile, const char *pszPath);
// Closes the file when it is open; safe to call again.
void proto_CloseLineFile(proto_LineFile *pFile);
bool proto_IsLineFileOpen(const proto_LineFile *pFile);
// Back to the first line. Returns 1, or 0 when the file cannot be repositioned.
int proto_RewindLineFile(proto_LineFile *pFile);
// The next line as os_ReadNextLine reads it (CR LF removed): its length plus 2, the length of a last
// line without line end, 0 at end of file, -1 on a read error or a line that does not fit
// nCapacity - 2 characters.
int proto_ReadLine(proto_LineFile *pFile, char *pszLine, int nCapacity);
// Bytes of the file the reader has handed out so far (not what it has read ahead).
long proto_LinePosition(const proto_LineFile *pFile);
// How far the reader has got, in percent of the file's size (100 for an empty file).
int proto_LinePercent(const proto_LineFile *pFile);

// Reads an open file from its start to its end with the line reader the transfers use and seeks
// back to the start. Returns 1 when every line fits nCapacity, else 0 with *pnBadLine the 1-based
// number of the first line that does not (0 when the file cannot be read or rewound); *pnLines
// counts the lines read. A device must never receive the first part of a file whose rest cannot
// be sent.
int proto_LinesFit(osfl_Handle hFile, int nCapacity, long *pnLines, long *pnBadLine);

// Reads the whole file once and rewinds it. Returns 1 when it holds at least one line and every line
// fits nCapacity; 0 otherwise, with *pnBadLine the 1-based number of the first line that does not
// fit (0 when the file is empty or cannot be read).
int proto_CheckLineFile(proto_LineFile *pFile, int nCapacity, long *pnBadLine);
