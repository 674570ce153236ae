// Country spellings: device answers to identification names, and the internal code's three names.

#include <gtest/gtest.h>

#include <string>

#include "ravelin/ident/countrycode.h"

namespace {

std::string Find(const char* pszAnswer, int nMode)
{
    char szCountry[devid_kCountryNameLen] = "stale";
    const int nFound = devid_FindCountry(pszAnswer, szCountry, sizeof szCountry, nMode);
    EXPECT_EQ(nFound, szCountry[0] != '\0' ? 1 : 0) << pszAnswer;
    return szCountry;
}

TEST(FindCountry, ByRowNumberOrName)
{
    EXPECT_EQ(Find("6", devid_kCountryByName), "PTT GERMAN");
    EXPECT_EQ(Find("germany", devid_kCountryByName), "PTT GERMAN");
    EXPECT_EQ(Find("GERMANY", devid_kCountryByName), "PTT GERMAN");
    EXPECT_EQ(Find("  14", devid_kCountryByName), "PTT BABT");
    EXPECT_EQ(Find("+52", devid_kCountryByName), "EUROPE/NORTH AMERICA");
    EXPECT_EQ(Find("48", devid_kCountryByName), "PTT");
    EXPECT_EQ(Find("United Kingdom", devid_kCountryByName), "PTT BABT");
    EXPECT_EQ(Find("Hong Kong", devid_kCountryByName), "HONGKONG");
    EXPECT_EQ(Find("Luxembourgh", devid_kCountryByName), "LUXEMBOURG") << "a row without a number";
    EXPECT_EQ(Find("International", devid_kCountryByName), "PTT");
    // Rows are numbered with gaps: 44 to 47 and 49 to 51 name nothing.
    EXPECT_EQ(Find("45", devid_kCountryByName), "");
    EXPECT_EQ(Find("-1", devid_kCountryByName), "") << "rows without a number are reached by name only";
    // 0 is no row number: the text is compared as a name, and no country is called 0.
    EXPECT_EQ(Find("0", devid_kCountryByName), "");
    EXPECT_EQ(Find("Atlantis", devid_kCountryByName), "");
    EXPECT_EQ(Find("", devid_kCountryByName), "");
}

TEST(FindCountry, ByNameToleratesTheBlanksAroundAnAnswerLine)
{
    EXPECT_EQ(Find("FRANCE \r", devid_kCountryByName), "PTT FRANCE");
    EXPECT_EQ(Find("\tNew Zealand", devid_kCountryByName), "PTT NEW ZEALAND");
}

TEST(FindCountry, ByDecimalCodeFirstRowWins)
{
    EXPECT_EQ(Find("43", devid_kCountryByDecimal), "JAPAN") << "never PHILIPPINES";
    EXPECT_EQ(Find("28", devid_kCountryByDecimal), "INTERNATIONAL 2");
    EXPECT_EQ(Find("10", devid_kCountryByDecimal), "PTT HOLLAND");
    EXPECT_EQ(Find("9", devid_kCountryByDecimal), "LUXEMBOURG");
    EXPECT_EQ(Find("016", devid_kCountryByDecimal), "PTT BABT");
    EXPECT_EQ(Find("22 (North America)", devid_kCountryByDecimal), "NORTH AMERICAN");
    EXPECT_EQ(Find("GERMANY", devid_kCountryByDecimal), "") << "names do not count here";
    EXPECT_EQ(Find("-1", devid_kCountryByDecimal), "") << "-1 marks rows without a code";
    EXPECT_EQ(Find("", devid_kCountryByDecimal), "");
}

TEST(FindCountry, ByHexadecimalCode)
{
    EXPECT_EQ(Find("7E", devid_kCountryByHex), "PTT NEW ZEALAND");
    EXPECT_EQ(Find("7e", devid_kCountryByHex), "PTT NEW ZEALAND");
    EXPECT_EQ(Find("0x7E", devid_kCountryByHex), "PTT NEW ZEALAND");
    EXPECT_EQ(Find("B5", devid_kCountryByHex), "EUROPE/NORTH AMERICA") << "not INTERNATIONAL 4";
    EXPECT_EQ(Find("09", devid_kCountryByHex), "PTT AUSTRALIA");
    EXPECT_EQ(Find("00", devid_kCountryByHex), "JAPAN");
    EXPECT_EQ(Find("0", devid_kCountryByHex), "JAPAN");
    EXPECT_EQ(Find("01", devid_kCountryByHex), "ARGENTINA");
    EXPECT_EQ(Find(" FE", devid_kCountryByHex), "TAIWAN");
    EXPECT_EQ(Find("6C", devid_kCountryByHex), "INTERNATIONAL 3");
    EXPECT_EQ(Find("10", devid_kCountryByHex), "") << "hexadecimal 10 is 16: no row";
    EXPECT_EQ(Find("FFFFFFFFFFFFFFFFFFFF", devid_kCountryByHex), "");
    EXPECT_EQ(Find("-1", devid_kCountryByHex), "") << "-1 marks rows without a code";
}

TEST(FindCountry, AnswerWithoutDigitsIsNoCountry)
{
    // A device that answers nothing (or a word) must not be reported as set up for Japan.
    EXPECT_EQ(Find("", devid_kCountryByHex), "");
    EXPECT_EQ(Find("OK", devid_kCountryByHex), "");
    EXPECT_EQ(Find("0x", devid_kCountryByHex), "JAPAN") << "the 0 of 0x is itself a digit";
}

TEST(FindCountry, ResultIsCutToTheCallersBuffer)
{
    char szCountry[8];
    EXPECT_EQ(devid_FindCountry("52", szCountry, sizeof szCountry, devid_kCountryByName), 1);
    EXPECT_STREQ(szCountry, "EUROPE/");
}

TEST(CountryCodeTest, DefaultsToSixAndActsLikeAnInteger)
{
    CountryCode c;
    EXPECT_EQ(c, 6);
    EXPECT_STREQ(c.DisplayName(), "Finland");
    CountryCode d = c;
    EXPECT_TRUE(d == c);
    d = 16;
    EXPECT_TRUE(d != c);
    EXPECT_EQ(d, 16);
}

TEST(CountryCodeTest, FromFileCode)
{
    CountryCode c;
    EXPECT_TRUE(c.SetFromFileCode("ch"));
    EXPECT_EQ(c, 16);
    EXPECT_STREQ(c.DisplayName(), "Switzerland");
    EXPECT_TRUE(c.SetFromFileCode("QZ"));
    EXPECT_EQ(c, 51);
    EXPECT_TRUE(c.SetFromFileCode("gb"));
    EXPECT_STREQ(c.DisplayName(), "United Kingdom");

    c = 51;
    for (const char* pszCode : {"XX", "", "C", "CHE", "QZ "}) {
        EXPECT_FALSE(c.SetFromFileCode(pszCode)) << pszCode;
        EXPECT_EQ(c, 51) << pszCode;
    }
    EXPECT_FALSE(c.SetFromFileCode(nullptr));
}

TEST(CountryCodeTest, NoFileCodeReachesCountriesWithoutOne)
{
    CountryCode c;
    for (int i = 0; i < CountryCode::kCount; ++i) {
        CountryCode probe(i);
        if (probe.FileCode()[0] == '\0')
            continue;
        ASSERT_TRUE(c.SetFromFileCode(probe.FileCode()));
        EXPECT_EQ(c, i) << probe.FileCode();
        EXPECT_NE(c, 23) << "China has no file code";
    }
    EXPECT_STREQ(CountryCode(23).FileCode(), "");
    EXPECT_STREQ(CountryCode(52).FileCode(), "");
    EXPECT_STREQ(CountryCode(53).FileCode(), "");
}

TEST(CountryCodeTest, FromIdentificationName)
{
    CountryCode c;
    EXPECT_TRUE(c.SetFromName("PTT"));
    EXPECT_EQ(c, 48);
    EXPECT_STREQ(c.DisplayName(), "International PTT");
    EXPECT_TRUE(c.SetFromName("ptt german"));
    EXPECT_EQ(c, 9);
    EXPECT_TRUE(c.SetFromName("Europe/North America"));
    EXPECT_EQ(c, 36);
    EXPECT_FALSE(c.SetFromName("GERMANY")) << "a device's spelling is not an identification name";
    EXPECT_FALSE(c.SetFromName("PTT GERMAN "));
    EXPECT_EQ(c, 36);
}

TEST(CountryCodeTest, EveryAnswerTableResultIsAnIdentificationName)
{
    // Identification stores these names; the pages turn them into codes again.
    const char* const kRowNumbers[] = {"1",  "2",  "3",  "4",  "5",  "6",  "7",  "8",  "9",  "10",
                                       "11", "12", "13", "14", "15", "16", "17", "18", "19", "20",
                                       "21", "22", "23", "24", "25", "26", "27", "28", "29", "30",
                                       "31", "32", "33", "34", "35", "36", "37", "38", "39", "40",
                                       "41", "42", "43", "48", "52", "53", "54", "55"};
    for (const char* pszRow : kRowNumbers) {
        const std::string name = Find(pszRow, devid_kCountryByName);
        CountryCode c(99);
        EXPECT_TRUE(c.SetFromName(name.c_str())) << "row " << pszRow << ": " << name;
        EXPECT_STRNE(c.DisplayName(), "Unknown");
    }
}

TEST(CountryCodeTest, CodesOutsideTheTableAreUnknown)
{
    EXPECT_STREQ(CountryCode(54).DisplayName(), "Unknown");
    EXPECT_STREQ(CountryCode(-1).DisplayName(), "Unknown");
    EXPECT_STREQ(CountryCode(-1).FileCode(), "");
    EXPECT_STREQ(CountryCode(53).DisplayName(), "International 4");
    EXPECT_STREQ(CountryCode(0).IdentificationName(), "ARGENTINA");
    EXPECT_STREQ(CountryCode(30).DisplayName(), "Isreal");
}

} // namespace
