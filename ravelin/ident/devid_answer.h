#ifndef RAVELIN_IDENT_DEVID_ANSWER_H
#define RAVELIN_IDENT_DEVID_ANSWER_H

// Pieces shared by the answer waits of identification: the state machine that skips a command's
// echo line, the "OK\r\n" matcher, and bounded text building. Internal to ravelin/ident.

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

} // namespace devid_detail

#endif
