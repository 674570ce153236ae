// cat_Load: the four refusals, what a loaded catalogue holds, and the sample catalogue we ship.

#include <cstring>
#include <set>
#include <string>

#include "catalogue_fixture.h"
#include "ravelin/catalogue/catalogue.h"
#include "ravelin/catalogue/devicetype.h"

namespace {

using LoadTest = CatalogueDirTest;

TEST_F(LoadTest, RefusesCatalogueFilesThatAreMissingOrTooOld)
{
    // Nothing beside the executable at all.
    EXPECT_EQ(cat_Load(), cat_kNoModels);

    Write("Models.ini", "[Version]\nVersion=2\n[Models]\nNumModels=0\nMODEL_1=1,{A1},{AA},{TA}\n");
    EXPECT_EQ(cat_Load(), cat_kNoModels);

    Write("Models.ini", "[Version]\nVersion=1\n[Models]\nNumModels=1\nMODEL_1=1,{A1},{AA},{TA}\n");
    EXPECT_EQ(cat_Load(), cat_kModelsVersion);

    Write("Models.ini", "[Models]\nNumModels=1\nMODEL_1=1,{A1},{AA},{TA}\n");
    EXPECT_EQ(cat_Load(), cat_kModelsVersion) << "a Models.ini without a version is too old";

    Write("Models.ini", "[Version]\nVersion=3\n[Models]\nNumModels=1\nMODEL_1=1,{A1},{AA},{TA}\n");
    EXPECT_EQ(cat_Load(), cat_kNoLocksVersion) << "Locks.ini missing";

    Write("Locks.ini", "[A1]\nNumLocks=1\n");
    EXPECT_EQ(cat_Load(), cat_kNoLocksVersion) << "Locks.ini without a version";

    Write("Locks.ini", "[Version]\nVersion=0\n");
    EXPECT_EQ(cat_Load(), cat_kLocksVersion);

    Write("Locks.ini", "[Version]\nVersion=1\n");
    EXPECT_EQ(cat_Load(), cat_kLoaded);
    EXPECT_EQ(cat_Count(), 1);
}

TEST_F(LoadTest, RefusalLeavesTheCatalogueEmpty)
{
    WriteCatalogue("MODEL_1=1,{A1},{AA},{TA}\n", 1);
    ASSERT_EQ(cat_Load(), cat_kLoaded);
    ASSERT_EQ(cat_Count(), 1);
    Write("Locks.ini", "[Version]\nVersion=0\n");
    EXPECT_EQ(cat_Load(), cat_kLocksVersion);
    EXPECT_EQ(cat_Count(), 0);
    EXPECT_EQ(cat_FlagsForId(1), cat_kDefaultFlags);
}

TEST_F(LoadTest, StartUpMessagesNameTheFileAtFault)
{
    EXPECT_STREQ(cat_LoadMessage(1), "Unable to find \"Models.ini\".\r\r\"Models.ini\" is required by Ravelin.");
    EXPECT_STREQ(cat_LoadMessage(2), "The version of \"Models.ini\" is invalid with this version of Ravelin.");
    EXPECT_STREQ(cat_LoadMessage(3), "Unable to find \"Locks.ini\".\r\r\"Locks.ini\" is required by Ravelin.");
    EXPECT_STREQ(cat_LoadMessage(4), "The version of \"Locks.ini\" is invalid with this version of Ravelin.");
    EXPECT_STREQ(cat_LoadMessage(0), "");
}

TEST_F(LoadTest, ReadsLocksUpgradesAndCombinedValuesOfEachModel)
{
    WriteCatalogue("MODEL_1=7,{ZB40},{ZB},{NEWMODEMS},{x},{;}\n"
                   "MODEL_2=8,{AC11},{AC},{rockwell3},{4},{AC.s37}\n",
                   2,
                   "[ZB40]\nNumLocks=3\nLock1=2\nUpgrade1=1-3,5\nLock2=4\nUpgrade2=9-7\n"
                   "Upgrade3=6\nNumCombined=2\nCombined1=4\n");
    ASSERT_EQ(cat_Load(), cat_kLoaded);
    ASSERT_EQ(cat_Count(), 2);

    const ModelEntry* pAc = cat_EntryAt(0);
    EXPECT_STREQ(pAc->szName, "AC11");
    EXPECT_EQ(pAc->nModelId, 8);
    EXPECT_EQ(pAc->flags, 0x4A00u);
    EXPECT_STREQ(pAc->szVersionDigit, "4");
    EXPECT_STREQ(pAc->szLoader, "AC.s37");
    EXPECT_TRUE(pAc->locks.empty()) << "a model without a section has no locks";
    EXPECT_TRUE(pAc->combined.empty());

    const ModelEntry* pZb = cat_EntryAt(1);
    EXPECT_STREQ(pZb->szName, "ZB40");
    EXPECT_EQ(pZb->flags, 0x24u);
    EXPECT_STREQ(pZb->szLoader, "");
    ASSERT_EQ(pZb->locks.size(), 3u);
    EXPECT_EQ(pZb->locks[0].nLock, 2);
    EXPECT_EQ(pZb->locks[0].upgrades, (std::vector<int>{1, 2, 3, 5}));
    EXPECT_EQ(pZb->locks[1].nLock, 4);
    EXPECT_TRUE(pZb->locks[1].upgrades.empty()) << "a backward range ends the list at once";
    EXPECT_EQ(pZb->locks[2].nLock, -1) << "Lock3 missing";
    EXPECT_EQ(pZb->locks[2].upgrades, (std::vector<int>{6}));
    EXPECT_EQ(pZb->combined, (std::vector<int>{4, 0})) << "Combined2 missing reads as 0";
}

TEST_F(LoadTest, MissingModelKeyGivesAnEmptyEntryThatSortsFirst)
{
    WriteCatalogue("MODEL_1=3,{BETA},{BE},{TA},{x},{;}\n", 2);
    ASSERT_EQ(cat_Load(), cat_kLoaded);
    ASSERT_EQ(cat_Count(), 2);
    const ModelEntry* pEmpty = cat_EntryAt(0);
    EXPECT_STREQ(pEmpty->szName, "");
    EXPECT_EQ(pEmpty->nModelId, 0);
    EXPECT_EQ(pEmpty->flags, cat_kDefaultFlags);
    EXPECT_STREQ(cat_EntryAt(1)->szName, "BETA");

    // The nameless entry must never be "found" in a device's answer.
    char szName[cat_kNameLen] = "unchanged";
    EXPECT_FALSE(cat_FindModelInText("\r\nOK", szName, sizeof szName));
    EXPECT_FALSE(cat_FindModelInText("", szName, sizeof szName));
    int nId = -1;
    EXPECT_FALSE(cat_FindModelId("", &nId));
    DeviceType type;
    EXPECT_FALSE(type.SetFromModel(""));
    EXPECT_FALSE(type.SetFromPrefix(""));
    char szDigit[cat_kVersionDigitLen];
    cat_VersionDigitForPrefix("", szDigit, sizeof szDigit);
    EXPECT_STREQ(szDigit, "");
}

TEST_F(LoadTest, SortsByNameWithoutRegardToCase)
{
    WriteCatalogue("MODEL_1=1,{delta},{DA},{TA}\n"
                   "MODEL_2=2,{Alpha},{AA},{TA}\n"
                   "MODEL_3=3,{CHARLIE},{CA},{TA}\n"
                   "MODEL_4=4,{bravo},{BA},{TA}\n"
                   "MODEL_5=5,{_ZULU},{ZA},{TA}\n",
                   5);
    ASSERT_EQ(cat_Load(), cat_kLoaded);
    const char* const kExpected[] = {"Alpha", "bravo", "CHARLIE", "delta", "_ZULU"};
    // '_' sorts after the letters once they are upper-cased (it would sort before lower case).
    for (int i = 0; i < 5; ++i) {
        char szName[cat_kNameLen];
        std::uint32_t flags = 0;
        ASSERT_TRUE(cat_GetEntry(i, szName, sizeof szName, &flags));
        EXPECT_STREQ(szName, kExpected[i]) << "position " << i;
        EXPECT_EQ(flags, 0x414u);
    }
    char szName[cat_kNameLen];
    EXPECT_FALSE(cat_GetEntry(5, szName, sizeof szName, nullptr));
    EXPECT_FALSE(cat_GetEntry(-1, szName, sizeof szName, nullptr));
}

TEST_F(LoadTest, ReadsFilesWithPlainLineFeedsAndOddlyCasedNames)
{
    // Catalogues copied from other systems come with LF line ends and other spellings of the name.
    Write("MODELS.INI", "[Version]\nVersion=2\n[Models]\nNumModels=1\nMODEL_1=5,{Q9},{QQ},{SIEMENS}\n",
          false);
    Write("locks.ini", "[Version]\nVersion=1\n[Q9]\nNumLocks=1\nLock1=3\nUpgrade1=3\n", false);
    ASSERT_EQ(cat_Load(), cat_kLoaded);
    ASSERT_EQ(cat_Count(), 1);
    EXPECT_STREQ(cat_EntryAt(0)->szName, "Q9");
    EXPECT_EQ(cat_EntryAt(0)->flags, 0x8000u);
    ASSERT_EQ(cat_EntryAt(0)->locks.size(), 1u);
    EXPECT_EQ(cat_EntryAt(0)->locks[0].nLock, 3);
}

TEST_F(LoadTest, LoadingAgainReadsTheChangedFiles)
{
    // cat_Load drops its cached profiles, so a second start-up sees what is on disk now.
    WriteCatalogue("MODEL_1=1,{ONE},{ON},{TA}\n", 1);
    ASSERT_EQ(cat_Load(), cat_kLoaded);
    WriteCatalogue("MODEL_1=1,{ONE},{ON},{TA}\nMODEL_2=2,{TWO},{TW},{CF}\n", 2);
    ASSERT_EQ(cat_Load(), cat_kLoaded);
    EXPECT_EQ(cat_Count(), 2);
}

TEST_F(LoadTest, SampleCatalogueHoldsAModelOfEveryFamily)
{
    os_SetExeDirForTesting(SUITE_SOURCE_DIR "/data/ravelin");
    ASSERT_EQ(cat_Load(), cat_kLoaded);
    std::set<std::uint32_t> families;
    std::set<int> ids;
    for (int i = 0; i < cat_Count(); ++i) {
        const ModelEntry* pEntry = cat_EntryAt(i);
        families.insert(pEntry->flags);
        EXPECT_TRUE(ids.insert(pEntry->nModelId).second) << pEntry->szName << " shares its id";
        EXPECT_EQ(std::strlen(pEntry->szImagePrefix), 2u) << pEntry->szName;
        EXPECT_FALSE(pEntry->locks.empty()) << pEntry->szName << " has no locks";
        if (pEntry->flags & FLF_ROCKWELL) {
            EXPECT_STRNE(pEntry->szLoader, "") << pEntry->szName << " needs a loader";
        }
    }
    const std::uint32_t kEveryFamily[] = {0x5,   0x24,   0x414,  0x454,   0x494,   0x65,    0x64,
                                          0x100, 0x7100, 0x200,  0xA00,   0x4A00,  0x204A00, 0x8000,
                                          0x70000, 0x30080, 0x170000, 0x10080, 0x80414};
    for (std::uint32_t flags : kEveryFamily)
        EXPECT_EQ(families.count(flags), 1u) << std::hex << "no model of family 0x" << flags;

    // Names the identification and detection code treat specially are spelt as they expect.
    int nId = 0;
    for (const char* pszName : {"Octa-TA2", "Octa-TA1", "OctaA", "KX-A1", "MC75"})
        EXPECT_TRUE(cat_FindModelId(pszName, &nId)) << pszName;
}

} // namespace
