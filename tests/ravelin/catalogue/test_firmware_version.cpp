// Firmware versions from image names and from what devices answer.

#include <gtest/gtest.h>

#include <string>

#include "ravelin/catalogue/firmwareversion.h"

namespace {

class VersionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::vector<ModelEntry> entries(4);
        cat_ParseModelLine("5,{PLAIN5},{PL},{NEWMODEMS},{x},{;}", &entries[0]);
        cat_ParseModelLine("6,{RK-6},{RK},{ROCKWELL},{3},{R.s37}", &entries[1]);
        cat_ParseModelLine("7,{RX-7},{RX},{ROCKWELL2},{x},{R.s37}", &entries[2]);
        cat_ParseModelLine("8,{RE-8},{RE},{ROCKWELL3},{\"\"},{R.s37}", &entries[3]);
        cat_Install(entries);
        m_plain.SetFromModel("PLAIN5");
        m_rockwell.SetFromModel("RK-6");
    }
    void TearDown() override { cat_Free(); }

    DeviceType m_plain;
    DeviceType m_rockwell;
};

struct Expected {
    int nMajor;
    int nMinor;
    char cSuffix;
    const char* pszText;
};

void ExpectVersion(const FirmwareVersion& v, const Expected& e, const std::string& what)
{
    EXPECT_EQ(v.nMajor, e.nMajor) << what;
    EXPECT_EQ(v.nMinor, e.nMinor) << what;
    EXPECT_EQ(v.cSuffix, e.cSuffix) << what;
    EXPECT_STREQ(v.szText, e.pszText) << what;
}

TEST_F(VersionTest, ImageVersionTextsOfPlainModels)
{
    struct {
        const char* pszText;
        Expected e;
    } const kCases[] = {
        {"105", {1, 5, ' ', "1.05 "}},       // three characters: one-digit major
        {"2105", {21, 5, ' ', "21.05 "}},    // otherwise two-digit major
        {"_3_10", {3, 10, ' ', "3.10 "}},    // underscore form
        {"_12_3", {1, 2, ' ', "1.2.3 "}},    // underscore form always takes one digit of major
        {"105b", {1, 5, 'B', "1.05B"}},      // a letter at the end is the suffix
        {"2105Z", {21, 5, 'Z', "21.05Z"}},
        {"21.5", {21, 5, ' ', "21.5 "}},     // a "." after two digits is skipped
        {"A105", {0, 5, ' ', "A1.05 "}},     // not a number: major 0, still accepted
        {"", {0, 0, ' ', ". "}},
        {"b", {0, 0, 'B', ".B"}},
    };
    for (const auto& c : kCases) {
        FirmwareVersion v;
        EXPECT_EQ(ParseFirmwareVersion(&v, c.pszText, &m_plain, "PL"), 1);
        ExpectVersion(v, c.e, c.pszText);
    }
}

TEST_F(VersionTest, RockwellImagesTakeTheMajorFromTheCatalogue)
{
    FirmwareVersion v;
    ParseFirmwareVersion(&v, "105", &m_rockwell, "RK");
    ExpectVersion(v, {3, 105, ' ', "3.105 "}, "digit 3 of prefix RK");
    ParseFirmwareVersion(&v, ".210a", &m_rockwell, "rk");
    ExpectVersion(v, {3, 210, 'A', "3.210A"}, "leading dot dropped");

    // "x" and "" give no digit: the version text's first character is the major number.
    ParseFirmwareVersion(&v, "105", &m_rockwell, "RX");
    ExpectVersion(v, {1, 5, ' ', "1.05 "}, "x");
    ParseFirmwareVersion(&v, "4.12", &m_rockwell, "RE");
    ExpectVersion(v, {4, 12, ' ', "4.12 "}, "empty digit");
    ParseFirmwareVersion(&v, "712", &m_rockwell, "ZZ");
    ExpectVersion(v, {7, 12, ' ', "7.12 "}, "unknown prefix");
}

TEST_F(VersionTest, RockwellDeviceVersionsAreAlwaysMajorTwo)
{
    FirmwareVersion v;
    ParseFirmwareVersion(&v, "105", &m_rockwell, nullptr);
    ExpectVersion(v, {2, 105, ' ', "2.105 "}, "105");
    ParseFirmwareVersion(&v, "7", &m_rockwell, nullptr);
    ExpectVersion(v, {2, 7, ' ', "2.7 "}, "7");
}

TEST_F(VersionTest, DeviceVersionForms)
{
    struct {
        const char* pszVersion;
        Expected e;
    } const kCases[] = {
        {"V3.10", {3, 10, ' ', "3.10 "}},       // a letter first
        {"V1.234A", {1, 234, 'A', "1.234A"}},   // letter at position 6 is the suffix
        {"V1.2345", {1, 234, ' ', "1.234 "}},   // minor cut to three characters
        {"2.10", {2, 10, ' ', "2.10 "}},
        {"12.34", {12, 34, ' ', "12.34 "}},     // "." at position 2: no suffix
        {"1.05b", {1, 5, 'B', "1.05B"}},        // five characters: the last is the suffix
        {"1.234", {1, 23, '4', "1.234"}},
        {"3.1002", {3, 1002, ' ', "3.1002 "}},
        {"_V4.05", {4, 5, ' ', "4.05 "}},
        {"XM_V12.345b", {12, 345, 'B', "12.345B"}},
        {"V2", {2, 0, ' ', "2. "}},             // dotless: "2" read as an image text
        {"V210", {2, 10, ' ', "2.10 "}},
        {"V2105", {21, 5, ' ', "21.05 "}},
        {"", {0, 0, ' ', ". "}},
    };
    for (const auto& c : kCases) {
        FirmwareVersion v;
        EXPECT_EQ(ParseDeviceVersion(&v, c.pszVersion, "", &m_plain, nullptr, 0, nullptr, 0), 1);
        ExpectVersion(v, c.e, c.pszVersion);
    }
}

TEST_F(VersionTest, DottedRockwellDeviceVersionIgnoresTheFamily)
{
    FirmwareVersion v;
    ParseDeviceVersion(&v, "V1.20", "", &m_rockwell, nullptr, 0, nullptr, 0);
    ExpectVersion(v, {1, 20, ' ', "1.20 "}, "V1.20");
    ParseDeviceVersion(&v, "V120", "", &m_rockwell, nullptr, 0, nullptr, 0);
    ExpectVersion(v, {2, 120, ' ', "2.120 "}, "V120");
}

TEST_F(VersionTest, VersionSuffixGivesTheFurtherParts)
{
    FirmwareVersion v;
    char szPart2[fwv_kPartLen] = "old";
    char szPart3[fwv_kPartLen] = "old";
    ParseDeviceVersion(&v, "2.10", "ABC-DEF", &m_plain, szPart2, sizeof szPart2, szPart3, sizeof szPart3);
    EXPECT_STREQ(szPart2, "ABC");
    EXPECT_STREQ(szPart3, "-DEF");

    ParseDeviceVersion(&v, "2.10", "-X-Y", &m_plain, szPart2, sizeof szPart2, szPart3, sizeof szPart3);
    EXPECT_STREQ(szPart2, "");
    EXPECT_STREQ(szPart3, "-X-Y");

    ParseDeviceVersion(&v, "2.10", "ABC", &m_plain, szPart2, sizeof szPart2, szPart3, sizeof szPart3);
    EXPECT_STREQ(szPart2, "");
    EXPECT_STREQ(szPart3, "");

    ParseDeviceVersion(&v, "2.10", nullptr, &m_plain, szPart2, sizeof szPart2, szPart3, sizeof szPart3);
    EXPECT_STREQ(szPart2, "");

    char szTiny[3];
    ParseDeviceVersion(&v, "2.10", "LONGER-PART", &m_plain, szTiny, sizeof szTiny, nullptr, 0);
    EXPECT_STREQ(szTiny, "LO");
}

TEST_F(VersionTest, LongDeviceTextsAreCutNotOverrun)
{
    const std::string huge = "1." + std::string(200, '7');
    FirmwareVersion v;
    ParseDeviceVersion(&v, huge.c_str(), "", &m_plain, nullptr, 0, nullptr, 0);
    EXPECT_EQ(v.nMajor, 1);
    EXPECT_GT(v.nMinor, 0) << "a long digit run saturates instead of overflowing";
    EXPECT_EQ(std::string(v.szText).size(), static_cast<std::size_t>(fwv_kTextLen - 1));
}

} // namespace
