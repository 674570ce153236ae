// The short readable dump of transferred bytes that every transfer line of the serial log carries.
#pragma once

// At most this many bytes of a transfer are shown, so a line stays short even for large blocks.
enum { urs_kDumpBytes = 20 };
// Room for the longest dump (20 bytes of "\xNN") and its NUL.
enum { urs_kDumpCapacity = urs_kDumpBytes * 4 + 1 };

// Writes the dump of the first bytes of pData into pszOut (urs_kDumpCapacity bytes) and returns it.
// Up to 100 bytes: each shown byte readable: line feed "\n", carriage return "\r", printable ASCII as
// itself, anything else "\xNN" (two lower-case hex digits). More than 100 bytes: each shown byte as
// two lower-case hex digits with nothing between them.
const char *urs_DumpBytes(const void *pData, long nCount, char *pszOut);
