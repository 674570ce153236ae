// Fuzz target: identification's handling of what a device sends: the bytes of an answer taken in
// as the answer waits take them (echo line skipped, first line or all of it, up to "OK\r\n"; the
// lines of the "ATI1\r" answer), and the answer text read as identification reads it (model,
// version, country in its three spellings, the "ATI4\r" page, the Lucent/Agere flash facts).
//
// Input: one byte of choices (bit 0: the first answer line only), then the bytes the device sends.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_catalogue.h"
#include "ravelin/ident/countrycode.h"
#include "ravelin/ident/devid.h"
#include "ravelin/ident/devid_answer.h"
#include "ravelin/support/oswin32.h"

namespace {

void fail(const char *pszWhat)
{
    std::fprintf(stderr, "ident_answer: %s\n", pszWhat);
    std::abort();
}

void requireTerminated(const char *pszText, std::size_t nSize, const char *pszWhat)
{
    if (std::memchr(pszText, '\0', nSize) == nullptr)
        fail(pszWhat);
}

void readAnswerText(const char *pszAnswer)
{
    char szModel[devid_kTextLen] = "";
    if (cat_FindModelInText(pszAnswer, szModel, sizeof szModel) && cat_FindEntryByName(szModel) == nullptr)
        fail("a model found in an answer that the catalogue does not hold");
    requireTerminated(szModel, sizeof szModel, "model not terminated");

    char szVersion[devid_kTextLen] = "";
    char szSuffix[devid_kTextLen] = "";
    devid_GetVersion(szVersion, pszAnswer, szSuffix);
    requireTerminated(szVersion, sizeof szVersion, "version not terminated");
    requireTerminated(szSuffix, sizeof szSuffix, "version suffix not terminated");
    // A Rockwell device's "ATI3\r" answer adds its dash part to the version.
    if (const char *pszDash = std::strchr(pszAnswer, '-'))
        devid_detail::AppendBounded(szVersion, devid_kTextLen, pszDash);
    requireTerminated(szVersion, sizeof szVersion, "version with dash part not terminated");

    for (int nMode : {devid_kCountryByName, devid_kCountryByDecimal, devid_kCountryByHex}) {
        char szCountry[devid_kTextLen] = "x";
        int nFound = devid_FindCountry(pszAnswer, szCountry, sizeof szCountry, nMode);
        requireTerminated(szCountry, sizeof szCountry, "country not terminated");
        // Whatever identification records must be a country the rest of the program knows.
        CountryCode code;
        if (nFound == 1 && !code.SetFromName(szCountry))
            fail("identification recorded a country the country table does not know");
        if (nFound == 0 && szCountry[0] != '\0')
            fail("no country found, yet a country recorded");
    }

    for (int nLine = 0; nLine < 4; ++nLine) {
        char szLine[devid_kTextLen];
        devid_detail::NthLine(pszAnswer, nLine, szLine, sizeof szLine);
        requireTerminated(szLine, sizeof szLine, "answer line not terminated");
        if (std::strpbrk(szLine, "\r\n") != nullptr)
            fail("an answer line holds a line end");
    }

    LucentFlashInfo lucent;
    bool bFacts = devid_detail::ReadAti5Answer(pszAnswer, &lucent);
    if (lucent.nType < 0 || lucent.nType > 5)
        fail("Lucent type outside 0..5");
    if (bFacts && lucent.nSectorSize != 0 && lucent.nSectorSize != 16 && lucent.nSectorSize != 64)
        fail("Lucent sector size other than 0, 16 or 64");
    LucentFlashInfo query;
    devid_detail::ReadFlashQueryAnswer(pszAnswer, &query);
    if (query.nSectorSize != 0 && query.nSectorSize != 16 && query.nSectorSize != 64)
        fail("flash query sector size other than 0, 16 or 64");
    if (query.nSectorSize == 0 && query.nFlashVersion != 0)
        fail("a flash version without a sector marker");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t nSize)
{
    fuzz::InstallCatalogue();
    if (nSize == 0)
        return 0;
    const bool bFirstLineOnly = (pData[0] & 1) != 0;

    // The answer wait of one command, byte by byte; the bytes after "OK\r\n" are never read.
    char szAnswer[devid_kAnswerLen];
    devid_detail::CommandAnswer answer(szAnswer, sizeof szAnswer, bFirstLineOnly);
    for (std::size_t i = 1; i < nSize && !answer.Done(); ++i)
        answer.Feed(pData[i]);
    requireTerminated(szAnswer, sizeof szAnswer, "answer not terminated within devid_kAnswerLen");
    os_TrimInPlace(szAnswer);
    if (bFirstLineOnly && std::strchr(szAnswer, '\r') != nullptr)
        fail("a first-line answer holds a CR");
    readAnswerText(szAnswer);

    // The same bytes as the "ATI1\r" answer.
    char szVersion[devid_kTextLen], szCountry[devid_kTextLen], szSpecial[devid_kTextLen];
    devid_detail::Ati1Answer ati1(szVersion, szCountry, szSpecial);
    for (std::size_t i = 1; i < nSize && !ati1.Done(); ++i)
        ati1.Feed(pData[i]);
    requireTerminated(szVersion, sizeof szVersion, "ATI1 version not terminated");
    requireTerminated(szCountry, sizeof szCountry, "ATI1 country not terminated");
    requireTerminated(szSpecial, sizeof szSpecial, "ATI1 special build not terminated");
    return 0;
}
