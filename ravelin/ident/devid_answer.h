#ifndef RAVELIN_IDENT_DEVID_ANSWER_H
#define RAVELIN_IDENT_DEVID_ANSWER_H

// Pieces shared by the answer waits of identification: the state machine that skips a command's
// echo line, the "OK\r\n" matcher, bounded text building, and the readers that turn received bytes
// and answer texts into what identification records. Internal to ravelin/ident. The readers work on
// bytes and texts only, never on a port, so that the answer handling can be tried without a device.

#include "ravelin/ident/devid.h"

namespace devid_detail {

// Skips the echo of the command (or, with echo off, the answer's first line) and reports when the
// bytes after it begin. States: 0 start, 1 after a CR, 2 inside the echo line, 3 after its CR,
// 4 capturing, 7 done (set by callers that want only one line).
struct EchoSkipper {
    int nState = 0;

    // Advances on one byte; true when the byte belongs to the captured part of the answer.
    bool Feed(int nByte)
    {
        switch (nState) {
        case 0:
            if (nByte == '\r') nState = 1;
            else if (nByte == 'A') nState = 2;
            return false;
        case 1:
            if (nByte == '\n' || nByte == 'A') nState = 2;
            return false;
        case 2:
            if (nByte == '\r') nState = 3;
            return false;
        case 3:
            if (nByte == '\n') nState = 4;
            return false;
        case 4:
            return true;
        default:
            return false;
        }
    }
};

// Watches for "OK\r\n". A byte that breaks a partial match restarts the match without being tested
// as its first character, the way the devices' answers have always been read here.
struct OkMatcher {
    int nPosition = 0;

    bool Feed(int nByte)
    {
        static const char kOk[] = "OK\r\n";
        if (nPosition < 4) {
            if (nByte == static_cast<unsigned char>(kOk[nPosition])) ++nPosition;
            else nPosition = 0;
        }
        return nPosition == 4;
    }
    bool Done() const { return nPosition == 4; }
};

// Appends bytes to a text of nSize bytes, dropping whatever does not fit; always terminated.
struct BoundedText {
    char *pszText;
    int nSize;
    int nLength = 0;

    BoundedText(char *pszDest, int nDestSize) : pszText(pszDest), nSize(nDestSize)
    {
        if (nSize > 0) pszText[0] = '\0';
    }
    void Append(int nByte)
    {
        if (nLength + 1 < nSize) {
            pszText[nLength++] = static_cast<char>(nByte);
            pszText[nLength] = '\0';
        }
    }
};

// Appends pszTail to pszText (nSize bytes), cutting what does not fit.
void AppendBounded(char *pszText, int nSize, const char *pszTail);

// One command's answer as it arrives, byte by byte: what follows the echo line (only its first line
// when bFirstLineOnly) goes into the text, until "OK\r\n" has come.
struct CommandAnswer {
    EchoSkipper echo;
    OkMatcher ok;
    BoundedText text;
    bool bFirstLineOnly;

    CommandAnswer(char *pszDest, int nDestSize, bool bFirstLine)
        : text(pszDest, nDestSize), bFirstLineOnly(bFirstLine)
    {
    }
    // Takes one byte; true once "OK\r\n" has come.
    bool Feed(int nByte)
    {
        if (echo.Feed(nByte)) {
            if (bFirstLineOnly && nByte == '\r') echo.nState = 7;
            else text.Append(nByte);
        }
        return ok.Feed(nByte);
    }
    bool Done() const { return ok.Done(); }
};

// The "ATI1\r" answer as it arrives: its lines after the echo are 0 the version, 1 skipped, 2 the
// country and 3 the special build, each kept in a text of devid_kTextLen bytes.
struct Ati1Answer {
    EchoSkipper echo;
    OkMatcher ok;
    BoundedText version;
    BoundedText country;
    BoundedText special;
    int nLine = 0;

    Ati1Answer(char *pszVersion, char *pszCountry, char *pszSpecialBuild)
        : version(pszVersion, devid_kTextLen), country(pszCountry, devid_kTextLen),
          special(pszSpecialBuild, devid_kTextLen)
    {
    }
    // Takes one byte; true once "OK\r\n" has come.
    bool Feed(int nByte)
    {
        BoundedText *apLines[] = {&version, nullptr, &country, &special};
        if (echo.Feed(nByte)) {
            if (nByte == '\r') ++nLine;
            else if (nByte != '\n' && nLine < 4 && apLines[nLine]) apLines[nLine]->Append(nByte);
        }
        return ok.Feed(nByte);
    }
    bool Done() const { return ok.Done(); }
};

// The nIndex-th (from 0) non-empty line of a text, lines ending at CR or LF; empty when missing.
void NthLine(const char *pszText, int nIndex, char *pszLine, int nLineSize);

// A Lucent/Agere "ATI5\r" answer: the type from its first character and, when it carries the flash
// facts ("...RRFL,40,10AF"), the sector size (0 without a ",40," or ",10," marker) and the flash
// version after the marker. True when it carries them ("RRFL"); otherwise only the type is set.
bool ReadAti5Answer(const char *pszAnswer, LucentFlashInfo *pLucent);

// The answer of an older part's flash query: the sector size from its marker and the flash version
// from the four characters before it (missing leading ones count as 0); both 0 without a marker.
void ReadFlashQueryAnswer(const char *pszAnswer, LucentFlashInfo *pLucent);

} // namespace devid_detail

#endif
