// Reading a firmware version out of a device's answer text.
#include <cctype>
#include <cstring>

#include "ravelin/ident/devid.h"
#include "ravelin/ident/devid_answer.h"
#include "ravelin/support/log.h"
#include "ravelin/support/oswin32.h"

namespace {

const char kWopenMarker[] = "#VVERSION: VERSION";

// The text that starts one character after a marker found at pszAt; never past the end of the
// text, also when the marker is its last word.
const char *AfterMarker(const char *pszAt, std::size_t nMarkerLen)
{
    const char *pszRest = pszAt + nMarkerLen;
    return *pszRest ? pszRest + 1 : pszRest;
}

// The version is the first word of the text; when that word ends at a blank, the next word is the
// suffix. A version that ends its line leaves the suffix as it was. Returns where the version ends.
const char *SplitVersion(const char *pszText, char *pszVersion, char *pszSuffix)
{
    std::size_t nWord = std::strcspn(pszText, " \r\n");
    char szWord[devid_kAnswerLen];
    std::size_t nCopy = nWord < sizeof szWord - 1 ? nWord : sizeof szWord - 1;
    std::memcpy(szWord, pszText, nCopy);
    szWord[nCopy] = '\0';
    os_CopyTrimmed(pszVersion, szWord, devid_kTextLen);
    if (pszText[nWord] == ' ') {
        const char *pszNext = pszText + nWord + 1;
        std::size_t nNext = std::strcspn(pszNext, " \r\n");
        nCopy = nNext < static_cast<std::size_t>(devid_kTextLen) - 1 ? nNext : devid_kTextLen - 1;
        std::memcpy(pszSuffix, pszNext, nCopy);
        pszSuffix[nCopy] = '\0';
    }
    return pszText + nWord;
}

} // namespace

int devid_GetVersion(char *pszVersion, const char *pszAnswer, char *pszVersionSuffix)
{
    if (const char *pszAt = std::strstr(pszAnswer, kWopenMarker)) {
        const char *pszText = AfterMarker(pszAt, sizeof kWopenMarker - 1);
        const char *pszEnd = SplitVersion(pszText, pszVersion, pszVersionSuffix);
        // "#VVERSION: VERSION 1.23 B": the build letter stands apart and belongs to the version.
        // A letter that is already the version's own last character is not added a second time.
        std::size_t nLength = std::strlen(pszText);
        if (nLength > 0 && std::isalpha(static_cast<unsigned char>(pszText[nLength - 1])) &&
            *pszEnd != '\0') {
            char szLetter[2] = {pszText[nLength - 1], '\0'};
            devid_detail::AppendBounded(pszVersion, devid_kTextLen, szLetter);
        }
        return 1;
    }
    if (const char *pszAt = std::strstr(pszAnswer, "Version")) {
        SplitVersion(AfterMarker(pszAt, 7), pszVersion, pszVersionSuffix);
        return 1;
    }
    if (const char *pszAt = std::strstr(pszAnswer, "REVISION")) {
        SplitVersion(AfterMarker(pszAt, 8), pszVersion, pszVersionSuffix);
        return 1;
    }
    if (const char *pszBlank = std::strrchr(pszAnswer, ' ')) {
        // The full "ATI" answer ends with its result line: what follows the last blank runs on into
        // "\r\n\r\nOK", which is no part of a version. The version stops at the line end.
        os_CopyTrimmed(pszVersion, pszBlank, devid_kTextLen);
        pszVersion[std::strcspn(pszVersion, "\r\n")] = '\0';
        return 1;
    }
    log_Write(__LINE__, "devid", "[devid_GetVersion] return FALSE");
    return 0;
}
