// Version answers and Lucent/Agere flash facts, on the forms real devices send.
#include <gtest/gtest.h>

#include <string>

#include "ravelin/ident/devid.h"

namespace {

struct VersionCase {
    const char *pszAnswer;
    int nFound;
    const char *pszVersion;
    const char *pszSuffix;  // "(kept)" when the suffix must be left as it was
};

TEST(GetVersion, ReadsEachAnswerForm)
{
    const VersionCase cases[] = {
        // The embedded platform's answer: the build letter after the version belongs to it.
        {"#VVERSION: VERSION 1.23 B", 1, "1.23B", "B"},
        // A letter that is the version's own last character is not doubled.
        {"#VVERSION: VERSION 1.23a", 1, "1.23a", "(kept)"},
        {"MX-3320\r\nVersion 4.10a RT\r\n\r\nOK", 1, "4.10a", "RT"},
        {"MX-3320\r\nVersion 4.12\r\n\r\nOK", 1, "4.12", "(kept)"},
        {"RK-3360 REVISION 3.02 K", 1, "3.02", "K"},
        // Without a marker the last blank-separated part is the version.
        {"Data Modem 2.40", 1, "2.40", "(kept)"},
        // ... and stops at the line end: the full answer's final "OK" is not part of it.
        {"Data Modem 2.40\r\n\r\nOK", 1, "2.40", "(kept)"},
        // A marker at the very end gives an empty version and reads nothing past the text.
        {"Version", 1, "", "(kept)"},
        {"MX-3310", 0, "", "(kept)"},
        {"", 0, "", "(kept)"},
    };
    for (const VersionCase &c : cases) {
        char szVersion[devid_kTextLen] = "";
        char szSuffix[devid_kTextLen] = "(kept)";
        EXPECT_EQ(devid_GetVersion(szVersion, c.pszAnswer, szSuffix), c.nFound) << c.pszAnswer;
        EXPECT_STREQ(szVersion, c.pszVersion) << c.pszAnswer;
        EXPECT_STREQ(szSuffix, c.pszSuffix) << c.pszAnswer;
    }
}

TEST(GetVersion, LongWordsAreCutToTheTextCapacity)
{
    std::string answer = "Version " + std::string(500, '7') + " " + std::string(300, 'S');
    char szVersion[devid_kTextLen];
    char szSuffix[devid_kTextLen];
    ASSERT_EQ(devid_GetVersion(szVersion, answer.c_str(), szSuffix), 1);
    EXPECT_EQ(std::string(szVersion), std::string(devid_kTextLen - 1, '7'));
    EXPECT_EQ(std::string(szSuffix), std::string(devid_kTextLen - 1, 'S'));

    std::string platform = "#VVERSION: VERSION " + std::string(200, '1') + " B";
    ASSERT_EQ(devid_GetVersion(szVersion, platform.c_str(), szSuffix), 1);
    EXPECT_EQ(std::string(szVersion), std::string(devid_kTextLen - 1, '1'));
}

TEST(LucentFacts, TypeCodeFromFirstCharacter)
{
    const char *pszLetters = "CcIiSsUuPpXx0";
    const int expected[] = {0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 5};
    for (int i = 0; pszLetters[i]; ++i) EXPECT_EQ(devid_LucentTypeCode(pszLetters[i]), expected[i]) << pszLetters[i];
    EXPECT_EQ(devid_LucentTypeCode('\0'), 5);
}

TEST(LucentFacts, FlashVersionFromFourCharacters)
{
    EXPECT_EQ(devid_ParseFlashVersion("10aF"), 0x10AF);
    EXPECT_EQ(devid_ParseFlashVersion("FFFF"), 0xFFFF);
    EXPECT_EQ(devid_ParseFlashVersion("0000"), 0);
    // Other characters count as their byte value, and the sum is kept to 16 bits.
    EXPECT_EQ(devid_ParseFlashVersion("000G"), 0x47);
    EXPECT_EQ(devid_ParseFlashVersion("G000"), static_cast<std::uint16_t>(0x47 * 0x1000));
    const char achShort[4] = {'1', '\0', '\0', '\0'};
    EXPECT_EQ(devid_ParseFlashVersion(achShort), 0x1000);
}

} // namespace
