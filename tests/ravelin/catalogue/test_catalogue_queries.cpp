// Lookups over a loaded catalogue: by text, name, id, position and image prefix.

#include <gtest/gtest.h>

#include <vector>

#include "ravelin/catalogue/catalogue.h"

namespace {

ModelEntry Entry(const char* pszLine)
{
    ModelEntry e;
    cat_ParseModelLine(pszLine, &e);
    return e;
}

class QueryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        cat_Install({
            Entry("4,{AB12X},{AX},{TA},{x},{;}"),
            Entry("3,{AB12},{AB},{NEWMODEMS},{x},{;}"),
            Entry("7,{RC-56-9},{RC},{ROCKWELL3},{3},{RC56.s37}"),
            Entry("7,{RC-56-1},{RD},{ROCKWELL},{x},{RD56.s37}"),
            Entry("9,{Mixed9},{MX},{SIEMENS},{\"\"},{;}"),
        });
    }
    void TearDown() override { cat_Free(); }
};

TEST_F(QueryTest, ModelInTextNeedsTheWholeName)
{
    char szName[cat_kNameLen] = "";
    EXPECT_TRUE(cat_FindModelInText("Model AB12X V2.10", szName, sizeof szName));
    EXPECT_STREQ(szName, "AB12X") << "AB12 is followed by X there and does not count";

    EXPECT_TRUE(cat_FindModelInText("AB12\r\nVersion 1.05", szName, sizeof szName));
    EXPECT_STREQ(szName, "AB12");
    EXPECT_TRUE(cat_FindModelInText("xx AB12", szName, sizeof szName)) << "end of text ends the word";
    EXPECT_STREQ(szName, "AB12");

    // Only the first occurrence is looked at.
    EXPECT_FALSE(cat_FindModelInText("AB12Y then AB12Z", szName, sizeof szName));
    // A tab does not end a word.
    EXPECT_FALSE(cat_FindModelInText("AB12\tV1", szName, sizeof szName));
    // Names compare exactly here: a device answer carries the catalogue spelling.
    EXPECT_FALSE(cat_FindModelInText("mixed9 OK", szName, sizeof szName));
    EXPECT_TRUE(cat_FindModelInText("Mixed9 OK", szName, sizeof szName));
    EXPECT_FALSE(cat_FindModelInText(nullptr, szName, sizeof szName));
}

TEST_F(QueryTest, ModelInTextCutsTheNameToTheCallersBuffer)
{
    char szName[4] = "";
    EXPECT_TRUE(cat_FindModelInText("RC-56-9\r", szName, sizeof szName));
    EXPECT_STREQ(szName, "RC-");
}

TEST_F(QueryTest, ModelIdByNameInAnyCase)
{
    int nId = -1;
    EXPECT_TRUE(cat_FindModelId("AB12", &nId));
    EXPECT_EQ(nId, 3);
    EXPECT_TRUE(cat_FindModelId("MIXED9", &nId));
    EXPECT_EQ(nId, 9);
    EXPECT_TRUE(cat_FindModelId("mixed9", &nId));
    EXPECT_EQ(nId, 9);
    nId = -1;
    EXPECT_FALSE(cat_FindModelId("AB1", &nId));
    EXPECT_FALSE(cat_FindModelId("", &nId));
    EXPECT_EQ(nId, -1) << "a failed look-up leaves the id alone";
}

TEST_F(QueryTest, FlagsForIdTakesTheFirstEntryInSortedOrder)
{
    // Both RC-56 entries have id 7; RC-56-1 sorts first although it was written second.
    EXPECT_EQ(cat_FlagsForId(7), 0x200u);
    EXPECT_EQ(cat_FlagsForId(3), 0x24u);
    EXPECT_EQ(cat_FlagsForId(12345), cat_kDefaultFlags);
}

TEST_F(QueryTest, EntriesByPosition)
{
    char szName[cat_kNameLen];
    std::uint32_t flags = 0;
    const char* const kOrder[] = {"AB12", "AB12X", "Mixed9", "RC-56-1", "RC-56-9"};
    ASSERT_EQ(cat_Count(), 5);
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(cat_GetEntry(i, szName, sizeof szName, &flags));
        EXPECT_STREQ(szName, kOrder[i]);
    }
    EXPECT_EQ(flags, 0x4A00u);
    EXPECT_FALSE(cat_GetEntry(5, szName, sizeof szName, &flags));
}

TEST_F(QueryTest, LoaderForImageUsesTheFileNamesPrefix)
{
    char szLoader[cat_kLoaderLen];
    cat_LoaderForImage("C:\\images\\rcGE3105.hex", szLoader, sizeof szLoader);
    EXPECT_STREQ(szLoader, "RC56.s37");
    cat_LoaderForImage("/srv/images/RDUS0210.HEX", szLoader, sizeof szLoader);
    EXPECT_STREQ(szLoader, "RD56.s37");
    cat_LoaderForImage("images\\dir.rc\\ZZGE3105.hex", szLoader, sizeof szLoader);
    EXPECT_STREQ(szLoader, "") << "only the file name counts, not the directories";
    cat_LoaderForImage("ABGE0105.HEX", szLoader, sizeof szLoader);
    EXPECT_STREQ(szLoader, "") << "a matching entry without loader gives none";
    cat_LoaderForImage("R", szLoader, sizeof szLoader);
    EXPECT_STREQ(szLoader, "");
}

TEST_F(QueryTest, LoaderForModelFallsBackToTheDefaultLoader)
{
    char szLoader[cat_kLoaderLen];
    cat_LoaderForModel("RC-56-9", szLoader, sizeof szLoader);
    EXPECT_STREQ(szLoader, "RC56.s37");
    cat_LoaderForModel("UNKNOWN", szLoader, sizeof szLoader);
    EXPECT_STREQ(szLoader, "F35Aload.s37");
    cat_LoaderForModel("AB12", szLoader, sizeof szLoader);
    EXPECT_STREQ(szLoader, "");
}

TEST_F(QueryTest, VersionDigitForPrefix)
{
    char szDigit[cat_kVersionDigitLen] = "?";
    cat_VersionDigitForPrefix("RC", szDigit, sizeof szDigit);
    EXPECT_STREQ(szDigit, "3");
    cat_VersionDigitForPrefix("rc", szDigit, sizeof szDigit);
    EXPECT_STREQ(szDigit, "3");
    cat_VersionDigitForPrefix("RD", szDigit, sizeof szDigit);
    EXPECT_STREQ(szDigit, "") << "x means none";
    cat_VersionDigitForPrefix("MX", szDigit, sizeof szDigit);
    EXPECT_STREQ(szDigit, "");
    cat_VersionDigitForPrefix("QQ", szDigit, sizeof szDigit);
    EXPECT_STREQ(szDigit, "");
}

} // namespace
