#include "country/config/catalogue.h"
#include "country/config/executable_dir.h"
#include "scratch_dir.h"

#include <gtest/gtest.h>

namespace {

class CatalogueTest : public ::testing::Test {
protected:
    void SetUp() override { SetExecutableDirectoryOverride(dir.path()); }
    void TearDown() override
    {
        FreeCountries();
        FreeModels();
        SetExecutableDirectoryOverride("");
    }
    ScratchDir dir;
};

TEST_F(CatalogueTest, CountriesAreParsedInFileFieldOrderAndSortedWithoutRegardToCase)
{
    dir.write("Country.ini",
              "[Countries]\r\nNumCountries=3\r\n"
              "COUNTRY1=beta, 1, 2, 3, 4, 5\r\n"
              "COUNTRY2= Alpha ,10,20,30,40,50\r\n"
              "COUNTRY3=gamma,7\r\n");
    ASSERT_TRUE(LoadCountries());
    const auto& countries = Countries();
    ASSERT_EQ(3u, countries.size());
    EXPECT_EQ("Alpha", countries[0].name);
    EXPECT_EQ("beta", countries[1].name);
    EXPECT_EQ("gamma", countries[2].name);
    // Order in the file: Agere, Conexant, Conexant2, Conexant3, Agere2.
    EXPECT_EQ(10, countries[0].agereCode);
    EXPECT_EQ(20, countries[0].conexantCode);
    EXPECT_EQ(30, countries[0].conexant2Code);
    EXPECT_EQ(40, countries[0].conexant3Code);
    EXPECT_EQ(50, countries[0].agere2Code);
    // A short entry is still listed; what it lacks is 0.
    EXPECT_EQ(7, countries[2].agereCode);
    EXPECT_EQ(0, countries[2].agere2Code);
}

TEST_F(CatalogueTest, MissingOrEmptyCataloguesFailToLoad)
{
    EXPECT_FALSE(LoadCountries());
    EXPECT_FALSE(LoadModels());
    dir.write("Country.ini", "[Countries]\nNumCountries=0\nCOUNTRY1=x,1\n");
    dir.write("Models.ini", "[Other]\nNumModels=1\n");
    EXPECT_FALSE(LoadCountries());
    EXPECT_FALSE(LoadModels());
}

TEST_F(CatalogueTest, CataloguesAreFoundWhateverTheCaseOfTheirFileName)
{
    dir.write("COUNTRY.INI", "[countries]\nnumcountries=1\ncountry1=Norway (NO),1,2,3,4,5\n");
    ASSERT_TRUE(LoadCountries());
    EXPECT_EQ("Norway (NO)", Countries()[0].name);
}

TEST_F(CatalogueTest, ModelsKeepFileOrderWithTheirCommandSetsAndLocks)
{
    dir.write("Models.ini",
              "[Models]\r\nNumModels=4\r\n"
              "MODEL1= MyModem , 1 , AGERE2 \r\n"
              "MODEL2=Cx2,0,conexant2\r\n"
              "MODEL3=Spaced,0,Conexant 2\r\n"
              "MODEL4=Locked,0,CONEXANT\r\n"
              "[locked]\r\nNumLocks=3\r\nLock1=4, CONEXANT2\r\nLock2=5,Conexant3\r\nLock3=0123456789012345678,AGERE2\r\n");
    ASSERT_TRUE(LoadModels());
    const auto& models = Models();
    ASSERT_EQ(4u, models.size());
    EXPECT_EQ("MyModem", models[0].name);
    EXPECT_EQ(1, models[0].needsAmpersandG);
    EXPECT_EQ(kCommandSetAgere2, models[0].defaultCommandSet);
    EXPECT_EQ(kCommandSetConexant2, models[1].defaultCommandSet);
    EXPECT_EQ(kCommandSetAgere, models[2].defaultCommandSet);  // "Conexant 2" is no listed name
    EXPECT_TRUE(models[0].locks.empty());
    ASSERT_EQ(3u, models[3].locks.size());
    EXPECT_EQ(4, models[3].locks[0].version);
    EXPECT_EQ(kCommandSetConexant2, models[3].locks[0].commandSet);
    EXPECT_EQ(5, models[3].locks[1].version);
    EXPECT_EQ(kCommandSetConexant3, models[3].locks[1].commandSet);
    // A lock is read into 20 characters: the command-set name of a too long entry is cut off.
    EXPECT_EQ(kCommandSetAgere, models[3].locks[2].commandSet);
}

TEST_F(CatalogueTest, EntriesWithoutANameAreLeftOutAndMissingLocksAreSkipped)
{
    dir.write("Models.ini",
              "[Models]\nNumModels=3\nMODEL1=First,0,AGERE\nMODEL3=Third,0,AGERE\n[Third]\nNumLocks=2\nLock2=7,CONEXANT\n");
    ASSERT_TRUE(LoadModels());
    ASSERT_EQ(2u, Models().size());
    EXPECT_EQ("Third", Models()[1].name);
    ASSERT_EQ(1u, Models()[1].locks.size());
    EXPECT_EQ(7, Models()[1].locks[0].version);
}

TEST_F(CatalogueTest, LongNamesAreCutToTheirFields)
{
    dir.write("Country.ini", "[Countries]\nNumCountries=1\nCOUNTRY1=" + std::string(120, 'c') + ",1\n");
    dir.write("Models.ini", "[Models]\nNumModels=1\nMODEL1=" + std::string(60, 'm') + ",0,AGERE\n");
    ASSERT_TRUE(LoadCountries());
    ASSERT_TRUE(LoadModels());
    EXPECT_EQ(std::string(99, 'c'), Countries()[0].name);
    EXPECT_EQ(std::string(39, 'm'), Models()[0].name);
}

TEST_F(CatalogueTest, CountryLookupByExactNameOrFirstContainingName)
{
    dir.write("Country.ini",
              "[Countries]\nNumCountries=4\nCOUNTRY1=United States (US),1,2,3,4,5\n"
              "COUNTRY2=Austria (AT),6,7,8,9,10\nCOUNTRY3=Australia (AU),11\nCOUNTRY4=(US),99\n");
    ASSERT_TRUE(LoadCountries());
    ASSERT_NE(nullptr, FindCountryByText("(US)"));
    EXPECT_EQ("(US)", FindCountryByText("(US)")->name);  // the exact name comes first
    ASSERT_NE(nullptr, FindCountryByText("(at)"));
    EXPECT_EQ("Austria (AT)", FindCountryByText("(at)")->name);
    ASSERT_NE(nullptr, FindCountryByText("Austr"));
    EXPECT_EQ("Australia (AU)", FindCountryByText("Austr")->name);  // first in sorted list order
    EXPECT_EQ(nullptr, FindCountryByText("(ZZ)"));
    EXPECT_EQ(nullptr, FindCountryByText(""));
    EXPECT_EQ(nullptr, FindCountryExact("united states (us)"));
    ASSERT_NE(nullptr, FindCountryExact("United States (US)"));
}

// A damaged catalogue whose count runs to thousands of millions: the whole file was read once per
// number up to the count, so the program sat at start-up for hours. Only the entries the file holds
// count, whatever the count says.
const unsigned char kHugeCountCatalogue[] = {
    0x6b, 0x65, 0x79, 0x20, 0x62, 0x65, 0x66, 0x6f, 0x72, 0x65, 0x20, 0x61, 0x6e, 0x79, 0x20, 0x73,
    0x65, 0x63, 0x74, 0x69, 0x6f, 0x6e, 0x3d, 0x31, 0x0a, 0x5b, 0x20, 0x37, 0x20, 0x5d, 0x0a, 0x4d,
    0x6f, 0x64, 0x65, 0x6c, 0x4e, 0x61, 0x6d, 0x65, 0x20, 0x3d, 0x20, 0x22, 0x71, 0x75, 0x6f, 0x74,
    0x65, 0x64, 0x22, 0x0a, 0x5b, 0x4f, 0x74, 0x68, 0x65, 0x72, 0x0a, 0x3d, 0x65, 0x6d, 0x70, 0x74,
    0x79, 0x20, 0x6b, 0x65, 0x79, 0x0a, 0x3b, 0x5b, 0x33, 0x5d, 0x0a, 0x5b, 0x37, 0x5d, 0x0a, 0x43,
    0x6f, 0x6d, 0x6d, 0x50, 0x6f, 0x72, 0x74, 0x3d, 0x73, 0x65, 0x63, 0x6f, 0x6e, 0x64, 0x0a, 0x5b,
    0x43, 0x6f, 0x75, 0x6e, 0x74, 0x72, 0x69, 0x65, 0x73, 0x5d, 0x0a, 0x4e, 0x75, 0x6d, 0x43, 0x6f,
    0x75, 0x6e, 0x74, 0x72, 0x69, 0x65, 0x73, 0x3d, 0x39, 0x39, 0x39, 0x39, 0x39, 0x39, 0x39, 0x39,
    0x39, 0x39, 0x39, 0x0a, 0x43, 0x4f, 0x55, 0x4e, 0x54, 0x52, 0x59, 0x32, 0x3d, 0x42, 0x2c, 0x31,
    0x0a, 0x5b, 0x6d, 0x6f, 0x64, 0x65, 0x6c, 0x73, 0x5d, 0x0a, 0x6e, 0x75, 0x6d, 0x6d, 0x6f, 0x64,
    0x65, 0x6c, 0x73, 0x3d, 0x32, 0x0a, 0x6d, 0x6f, 0x64, 0x65, 0x6c, 0x32, 0x3d, 0x5a, 0x39, 0x2c,
    0x78, 0x2c, 0x63, 0x6f, 0x6e, 0x65, 0x78, 0x61, 0x6e, 0x74, 0x33, 0x0a, 0x5b, 0x5a, 0x39, 0x5d,
    0x0a, 0x4e, 0x75, 0x6d, 0x4c, 0x6f, 0x63, 0x6b, 0x73, 0x3d, 0x31, 0x0a, 0x6c, 0x6f, 0x63, 0x6b,
    0x31, 0x3d, 0x22, 0x33, 0x2c, 0x41, 0x47, 0x45, 0x52, 0x45, 0x32, 0x22,
};

TEST_F(CatalogueTest, AHugeCountLoadsTheEntriesTheFileHolds)
{
    const std::string bytes(reinterpret_cast<const char*>(kHugeCountCatalogue), sizeof kHugeCountCatalogue);
    dir.write("Country.ini", bytes);
    dir.write("Models.ini", bytes);
    ASSERT_TRUE(LoadCountries());
    ASSERT_EQ(1u, Countries().size());
    EXPECT_EQ("B", Countries()[0].name);
    EXPECT_EQ(1, Countries()[0].agereCode);
    ASSERT_TRUE(LoadModels());
    ASSERT_EQ(1u, Models().size());
    EXPECT_EQ("Z9", Models()[0].name);
    EXPECT_EQ(kCommandSetConexant3, Models()[0].defaultCommandSet);
    ASSERT_EQ(1u, Models()[0].locks.size());
    EXPECT_EQ(3, Models()[0].locks[0].version);
    EXPECT_EQ(kCommandSetAgere2, Models()[0].locks[0].commandSet);
}

TEST_F(CatalogueTest, NumberedEntriesAreTheKeysUpToTheCountInNumberOrder)
{
    dir.write("Country.ini",
              "[Countries]\nNumCountries=2147483647\nCOUNTRY2147483647=Last,9\ncountry3=Third,3\n"
              "COUNTRY07=Padded,7\nCOUNTRY+8=Signed,8\nCOUNTRY 4=Spaced,4\nCOUNTRY1=First,1\nCOUNTRY1=Again,1\n"
              "COUNTRY2147483648=Beyond,0\n[Other]\nCOUNTRY5=Elsewhere,5\n");
    ASSERT_TRUE(LoadCountries());
    std::vector<std::string> names;
    for (const CountryRecord& country : Countries())
        names.push_back(country.name);
    // Sorted by name; the first COUNTRY1 wins, and only "COUNTRY<number>" as "%d" writes it is an entry.
    EXPECT_EQ((std::vector<std::string>{"First", "Last", "Third"}), names);

    dir.write("Models.ini",
              "[Models]\nNumModels=3\nMODEL3=C,0,AGERE\nMODEL4=Uncounted,0,AGERE\nMODEL1=A,0,CONEXANT\n"
              "[C]\nNumLocks=99999999999\nLock10=10,CONEXANT\nLock2=2,AGERE2\nLOCK1=1,CONEXANT3\n");
    ASSERT_TRUE(LoadModels());
    ASSERT_EQ(2u, Models().size());
    EXPECT_EQ("A", Models()[0].name);  // file order is number order, not line order
    EXPECT_EQ("C", Models()[1].name);
    ASSERT_EQ(3u, Models()[1].locks.size());
    EXPECT_EQ(1, Models()[1].locks[0].version);
    EXPECT_EQ(2, Models()[1].locks[1].version);
    EXPECT_EQ(10, Models()[1].locks[2].version);
}

TEST(CommandSetNames, NamesMapBothWays)
{
    EXPECT_EQ(kCommandSetConexant2, CommandSetFromName("conexant2"));
    EXPECT_EQ(kCommandSetConexant3, CommandSetFromName("CONEXANT3"));
    EXPECT_EQ(kCommandSetConexant, CommandSetFromName("Conexant"));
    EXPECT_EQ(kCommandSetAgere2, CommandSetFromName("agere2"));
    EXPECT_EQ(kCommandSetAgere, CommandSetFromName("AGERE"));
    EXPECT_EQ(kCommandSetAgere, CommandSetFromName("Rockwell"));
    EXPECT_EQ(kCommandSetAgere, CommandSetFromName(""));
    EXPECT_STREQ("Conexant2", CommandSetName(3));
    EXPECT_STREQ("Agere2", CommandSetName(5));
    EXPECT_STREQ("Agere", CommandSetName(0));
    EXPECT_STREQ("Agere", CommandSetName(9));
}

TEST(CountryCodes, EachCommandSetTakesItsOwnCode)
{
    CountryRecord country;
    country.agereCode = 1;
    country.conexantCode = 2;
    country.conexant2Code = 3;
    country.conexant3Code = 4;
    country.agere2Code = 5;
    for (int set = 1; set <= 5; ++set)
        EXPECT_EQ(set, CountryCodeFor(country, set));
    EXPECT_EQ(1, CountryCodeFor(country, 0));
    EXPECT_EQ(1, CountryCodeFor(country, 77));
}

}  // namespace
