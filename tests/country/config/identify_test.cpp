#include "country/config/identify.h"

#include <gtest/gtest.h>

namespace {

ModelRecord Model(const std::string& name)
{
    ModelRecord model;
    model.name = name;
    return model;
}

TEST(MatchModel, TheModelNameMustStandAsAWholeWord)
{
    std::vector<ModelRecord> models = {Model("AB12"), Model("AB12-X")};
    const ModelRecord* found = MatchModel(models, "\r\nAB12-X\r\n");
    ASSERT_NE(nullptr, found);
    EXPECT_EQ("AB12-X", found->name);
    ASSERT_NE(nullptr, MatchModel(models, "\r\nAB12 Data/Fax\r\n"));
    EXPECT_EQ("AB12", MatchModel(models, "\r\nAB12 Data/Fax\r\n")->name);
    EXPECT_EQ("AB12", MatchModel(models, "xAB12")->name);  // end of text ends the word too
}

TEST(MatchModel, OnlyTheFirstOccurrenceIsConsidered)
{
    std::vector<ModelRecord> models = {Model("AB12")};
    EXPECT_EQ(nullptr, MatchModel(models, "\r\nAB12-X or AB12\r\n"));
}

TEST(MatchModel, CatalogueOrderDecidesAndCaseMatters)
{
    std::vector<ModelRecord> models = {Model("MX200"), Model("Data")};
    EXPECT_EQ("MX200", MatchModel(models, "\r\nData MX200\r\n")->name);
    EXPECT_EQ(nullptr, MatchModel(models, "\r\nmx200 data\r\n"));
    EXPECT_EQ(nullptr, MatchModel(models, "\r\n\r\n"));
}

struct VersionCase {
    const char* answer;
    bool found;
    const char* version;
};

TEST(ParseVersion, EveryRuleOfTheAnswers)
{
    const VersionCase cases[] = {
        {"\r\nModem Version 3.2a\r\n", true, "3"},     // character before the dot after "Version"
        {"\r\n1.0 Version 7.1\r\n", true, "7"},        // "Version" wins over an earlier dot
        {"\r\nVersion 3\r\n", false, ""},              // "Version" but no dot after it
        {"\r\nFW_V2.15\r\n", true, "2"},               // after "_V" up to the dot
        {"\r\nFW_V12.5\r\n", true, "12"},
        {"X4.1\r\n", true, "4"},                       // begins with a letter: second character to the dot
        {"R23.1", true, "23"},
        {"\r\n5.11 build\r\n", true, "5"},             // character before the first dot
        {"\r\nno dots here\r\n", false, ""},
        {".5", false, ""},                             // no character before the dot
        {"\r\n1.2 then _V3\r\n", true, "1"},           // "_V" without a dot after it: not a version
        {"\r\n1.2 then _V3.4\r\n", true, "3"},         // the dot that follows "_V" ends it
    };
    for (const VersionCase& c : cases) {
        std::string version = "unchanged";
        EXPECT_EQ(c.found, ParseVersion(c.answer, &version)) << c.answer;
        if (c.found) {
            EXPECT_EQ(c.version, version) << c.answer;
        }
    }
}

}  // namespace
