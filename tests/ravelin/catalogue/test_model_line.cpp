// The texts of the catalogue files: family names, model lines and upgrade lists.

#include <gtest/gtest.h>

#include "ravelin/catalogue/catalogue.h"

namespace {

TEST(FamilyTable, EveryFamilyInAnyCase)
{
    struct {
        const char* pszFamily;
        std::uint32_t flags;
    } const kCases[] = {
        {"OLDMODEMS", 0x5},      {"NEWMODEMS", 0x24},       {"TA", 0x414},
        {"OctaTA2", 0x454},      {"OCTATA2", 0x454},        {"octata1", 0x494},
        {"OCTAMODEMS", 0x65},    {"NewOctaModems", 0x64},   {"LUCENT", 0x100},
        {"agere", 0x7100},       {"ROCKWELL", 0x200},       {"Rockwell2", 0xA00},
        {"rockwell3", 0x4A00},   {"ROCKWELL4", 0x204A00},   {"Siemens", 0x8000},
        {"CF2", 0x70000},        {"cf3", 0x30080},          {"CF4", 0x170000},
        {"cf", 0x10080},         {"ta2", 0x80414},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(cat_FlagsForFamily(c.pszFamily), c.flags) << c.pszFamily;
}

TEST(FamilyTable, UnknownFamiliesGetTheDefaultWord)
{
    for (const char* pszFamily : {"Controller", "", "ROCKWELL5", "TA 2", "CF22", "LUCENTX"})
        EXPECT_EQ(cat_FlagsForFamily(pszFamily), cat_kDefaultFlags) << pszFamily;
    EXPECT_EQ(cat_FlagsForFamily(nullptr), cat_kDefaultFlags);
}

TEST(ModelLine, TypicalLineFillsEveryField)
{
    ModelEntry e;
    cat_ParseModelLine("  42 ,{RX-77 B},{rx},{ ROCKWELL2 },{3},{ RXload.s37 }\r\n", &e);
    EXPECT_EQ(e.nModelId, 42);
    EXPECT_STREQ(e.szName, "RX-77 B") << "inner blanks stay";
    EXPECT_STREQ(e.szImagePrefix, "RX");
    EXPECT_EQ(e.flags, 0xA00u);
    EXPECT_STREQ(e.szVersionDigit, "3");
    EXPECT_STREQ(e.szLoader, "RXload.s37");
}

TEST(ModelLine, EmptyMarkersAndMissingFields)
{
    ModelEntry e;
    cat_ParseModelLine("5,{AB12},{AB},{TA},{\"\"},{;}", &e);
    EXPECT_STREQ(e.szVersionDigit, "") << "\"\" stands for no digit";
    EXPECT_STREQ(e.szLoader, "") << "a field with ';' names no loader";

    cat_ParseModelLine("5,{AB12},{AB},{TA},{x},{some;file}", &e);
    EXPECT_STREQ(e.szVersionDigit, "x");
    EXPECT_STREQ(e.szLoader, "");

    cat_ParseModelLine("9,{AB12}", &e);
    EXPECT_EQ(e.nModelId, 9);
    EXPECT_STREQ(e.szName, "AB12");
    EXPECT_STREQ(e.szImagePrefix, "");
    EXPECT_EQ(e.flags, cat_kDefaultFlags);
    EXPECT_STREQ(e.szVersionDigit, "");
    EXPECT_STREQ(e.szLoader, "");

    cat_ParseModelLine("", &e);
    EXPECT_EQ(e.nModelId, 0);
    EXPECT_STREQ(e.szName, "");
    EXPECT_EQ(e.flags, cat_kDefaultFlags);
}

TEST(ModelLine, RunsOfSeparatorsCountAsOne)
{
    // "{}" is no empty field: it joins the separators around it, so the fields move up.
    ModelEntry e;
    cat_ParseModelLine("7,{},{CD},{TA}", &e);
    EXPECT_STREQ(e.szName, "CD");
    EXPECT_STREQ(e.szImagePrefix, "TA");
    EXPECT_EQ(e.flags, cat_kDefaultFlags);
}

TEST(ModelLine, BlanksBetweenSeparatorsFormAnEmptyField)
{
    // Only ",", "{" and "}" separate; a blank between them is a field of its own, trimmed empty.
    ModelEntry e;
    cat_ParseModelLine("1,{A1},{AA},{TA},{ },{LD.s37}", &e);
    EXPECT_STREQ(e.szVersionDigit, "");
    EXPECT_STREQ(e.szLoader, "LD.s37");
    cat_ParseModelLine("1, {A1}", &e);
    EXPECT_STREQ(e.szName, "");
    EXPECT_STREQ(e.szImagePrefix, "A1");
}

TEST(ModelLine, IdReadsSignAndStopsAtTheFirstNonDigit)
{
    ModelEntry e;
    cat_ParseModelLine("-12,{N}", &e);
    EXPECT_EQ(e.nModelId, -12);
    cat_ParseModelLine("12abc,{N}", &e);
    EXPECT_EQ(e.nModelId, 12);
    cat_ParseModelLine("abc,{N}", &e);
    EXPECT_EQ(e.nModelId, 0);
    cat_ParseModelLine("99999999999999999999,{N}", &e);
    EXPECT_GT(e.nModelId, 0) << "a huge id must not wrap negative";
}

TEST(ModelLine, LongFieldsAreCutToTheirCapacity)
{
    ModelEntry e;
    const std::string name(60, 'N');
    const std::string loader(40, 'L');
    cat_ParseModelLine(("1,{" + name + "},{ABCDEFGHIJ},{TA},{xyz},{" + loader + "}").c_str(), &e);
    EXPECT_EQ(std::string(e.szName), name.substr(0, cat_kNameLen - 1));
    EXPECT_STREQ(e.szImagePrefix, "ABCDEFG");
    EXPECT_STREQ(e.szVersionDigit, "x");
    EXPECT_EQ(std::string(e.szLoader), loader.substr(0, cat_kLoaderLen - 1));
}

TEST(UpgradeList, NumbersAndRangesInOrderWithDuplicates)
{
    EXPECT_EQ(cat_ParseUpgradeList("3-5,7"), (std::vector<int>{3, 4, 5, 7}));
    EXPECT_EQ(cat_ParseUpgradeList("7,3,3"), (std::vector<int>{7, 3, 3}));
    EXPECT_EQ(cat_ParseUpgradeList("1-1"), (std::vector<int>{1}));
    EXPECT_EQ(cat_ParseUpgradeList("98-99,1"), (std::vector<int>{98, 99, 1}));
    EXPECT_EQ(cat_ParseUpgradeList(" 2 , 4 - 5 "), (std::vector<int>{2, 4, 5}));
}

TEST(UpgradeList, FirstBadItemEndsTheList)
{
    EXPECT_TRUE(cat_ParseUpgradeList("5-3,7").empty());
    EXPECT_EQ(cat_ParseUpgradeList("2,0,4"), (std::vector<int>{2}));
    EXPECT_EQ(cat_ParseUpgradeList("2,100,4"), (std::vector<int>{2}));
    EXPECT_EQ(cat_ParseUpgradeList("2,,4"), (std::vector<int>{2}));
    EXPECT_EQ(cat_ParseUpgradeList("2,4,"), (std::vector<int>{2, 4}));
    EXPECT_EQ(cat_ParseUpgradeList("1,3-,4"), (std::vector<int>{1}));
    EXPECT_EQ(cat_ParseUpgradeList("1,x,4"), (std::vector<int>{1}));
    EXPECT_EQ(cat_ParseUpgradeList("1,2-3-4"), (std::vector<int>{1}));
    EXPECT_EQ(cat_ParseUpgradeList("1,-2"), (std::vector<int>{1}));
    EXPECT_TRUE(cat_ParseUpgradeList("").empty());
    EXPECT_TRUE(cat_ParseUpgradeList(nullptr).empty());
}

} // namespace
