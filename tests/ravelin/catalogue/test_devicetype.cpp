// Device types: how devices and images are paired with models and locks, and which image fits.

#include <gtest/gtest.h>

#include <vector>

#include "ravelin/catalogue/devicetype.h"

namespace {

ModelEntry Entry(const char* pszLine, std::vector<LockEntry> locks = {}, std::vector<int> combined = {})
{
    ModelEntry e;
    cat_ParseModelLine(pszLine, &e);
    e.locks = std::move(locks);
    e.combined = std::move(combined);
    return e;
}

class DeviceTypeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        cat_Install({
            Entry("21,{Zeta21},{ZT},{NEWMODEMS},{x},{;}",
                  {{1, {1, 2}}, {2, {2, 3}}, {3, {}}}, {2, 3}),
            Entry("33,{RW5-A-7},{RW},{ROCKWELL},{2},{L.s37}", {{2, {2}}}),
            Entry("34,{RWX},{RX},{ROCKWELL2},{x},{L.s37}"),
            Entry("80,{MC75},{MC},{SIEMENS},{x},{;}", {{1, {1}}}),
            Entry("81,{Q2},{Q2},{SIEMENS},{x},{;}"),
        });
    }
    void TearDown() override { cat_Free(); }

    static DeviceType Type(const char* pszModel, int nLock)
    {
        DeviceType t;
        EXPECT_TRUE(t.SetFromModel(pszModel)) << pszModel;
        t.SetLock(nLock);
        return t;
    }

    static std::string Display(const DeviceType& t)
    {
        char sz[cat_kDisplayLen];
        t.DisplayText(sz, sizeof sz);
        return sz;
    }
};

TEST_F(DeviceTypeTest, SetFromModelCopiesTheModelAndKeepsTheUpperCasedName)
{
    DeviceType t;
    ASSERT_TRUE(t.SetFromModel("zeta21"));
    EXPECT_EQ(t.nModelId, 21);
    EXPECT_STREQ(t.szName, "ZETA21");
    EXPECT_EQ(t.locks.size(), 3u);
    EXPECT_EQ(t.combined, (std::vector<int>{2, 3}));
    EXPECT_EQ(t.nLock, -1);
    EXPECT_EQ(t.nCount, 1);
    EXPECT_FALSE(t.bSelected);
    EXPECT_FALSE(t.bHasImage);

    EXPECT_FALSE(t.SetFromModel("Zeta2"));
    EXPECT_STREQ(t.szName, "") << "an unknown model clears the name";
}

TEST_F(DeviceTypeTest, SetFromPrefixCopiesIdNameAndLocksOnly)
{
    DeviceType t;
    ASSERT_TRUE(t.SetFromPrefix("zt"));
    EXPECT_EQ(t.nModelId, 21);
    EXPECT_STREQ(t.szName, "Zeta21") << "the catalogue spelling";
    EXPECT_EQ(t.locks.size(), 3u);
    EXPECT_TRUE(t.combined.empty());

    EXPECT_FALSE(t.SetFromPrefix("QQ"));
    EXPECT_EQ(t.nModelId, 21) << "an unknown prefix leaves the type alone";
    EXPECT_STREQ(t.szName, "Zeta21");
}

TEST_F(DeviceTypeTest, SetLockTakesTheLocksUpgradeList)
{
    DeviceType t = Type("ZETA21", 2);
    EXPECT_EQ(t.nLock, 2);
    EXPECT_EQ(t.upgrades, (std::vector<int>{2, 3}));
    EXPECT_TRUE(t.AcceptsUpgrade(3));
    EXPECT_FALSE(t.AcceptsUpgrade(1));

    t.SetLock(9);
    EXPECT_EQ(t.nLock, -1);
    EXPECT_TRUE(t.upgrades.empty());
    EXPECT_FALSE(t.AcceptsUpgrade(2));
}

TEST_F(DeviceTypeTest, EqualityAndUnrelatedness)
{
    const DeviceType a = Type("ZETA21", 1);
    EXPECT_TRUE(a == Type("ZETA21", 1));
    EXPECT_FALSE(a == Type("ZETA21", 2));
    EXPECT_FALSE(a == Type("MC75", 1));
    DeviceType none;
    EXPECT_FALSE(none == DeviceType()) << "two empty types are not the same model";

    EXPECT_TRUE(a.IsUnrelated(Type("MC75", -1)));
    EXPECT_FALSE(a.IsUnrelated(Type("MC75", 1))) << "same lock";
    EXPECT_FALSE(a.IsUnrelated(Type("ZETA21", 2))) << "same model";
    EXPECT_FALSE(none.IsUnrelated(a));
}

TEST_F(DeviceTypeTest, DisplayTexts)
{
    EXPECT_EQ(Display(Type("ZETA21", 2)), "ZETA21 - Version 2.xx");
    EXPECT_EQ(Display(Type("ZETA21", 7)), "ZETA21") << "no such lock";
    EXPECT_EQ(Display(Type("RW5-A-7", 2)), "RW5-A") << "a Rockwell name up to its last dash";
    EXPECT_EQ(Display(Type("RWX", -1)), "RWX");
    EXPECT_EQ(Display(Type("MC75", -1)), "Siemens MC75");
    EXPECT_EQ(Display(Type("MC75", 1)), "MC75 - Version 1.xx");

    char szShort[8];
    Type("ZETA21", 2).DisplayText(szShort, sizeof szShort);
    EXPECT_STREQ(szShort, "ZETA21 ");
}

TEST_F(DeviceTypeTest, WhichImagesFitADevice)
{
    DeviceType image; // an image ZT..-named with major version 3
    ASSERT_TRUE(image.SetFromPrefix("ZT"));
    image.SetLock(3);

    EXPECT_TRUE(cat_ImageFits(image, 3, Type("ZETA21", 3))) << "same type";
    EXPECT_TRUE(cat_ImageFits(image, 3, Type("ZETA21", 2))) << "lock 2 accepts 3";
    EXPECT_FALSE(cat_ImageFits(image, 3, Type("ZETA21", 1))) << "lock 1 accepts 1 and 2 only";
    EXPECT_TRUE(cat_ImageFits(image, 3, Type("ZETA21", -1))) << "a device of unknown lock takes any";
    EXPECT_FALSE(cat_ImageFits(image, 1, Type("MC75", -1))) << "another model";

    DeviceType image1;
    ASSERT_TRUE(image1.SetFromPrefix("ZT"));
    image1.SetLock(1);
    EXPECT_TRUE(cat_ImageFits(image1, 1, Type("ZETA21", 1)));
    EXPECT_FALSE(cat_ImageFits(image1, 1, Type("ZETA21", 2))) << "no downgrade from 2 to 1";
}

TEST_F(DeviceTypeTest, ListOperations)
{
    std::vector<DeviceType> list;
    list.push_back(Type("ZETA21", 1));
    list.push_back(Type("ZETA21", 2));
    list.push_back(Type("MC75", 1));

    EXPECT_TRUE(cat_CountDuplicate(list, Type("ZETA21", 2)));
    EXPECT_EQ(list[1].nCount, 2);
    EXPECT_EQ(list[0].nCount, 1);
    EXPECT_FALSE(cat_CountDuplicate(list, Type("ZETA21", 3)));

    EXPECT_EQ(cat_FindNextUnselected(list), nullptr) << "no type has an image yet";
    EXPECT_EQ(cat_MarkImagesPresent(list, Type("ZETA21", 1)), 1);
    EXPECT_EQ(cat_MarkImagesPresent(list, Type("MC75", 1)), 1);
    EXPECT_EQ(cat_FindNextUnselected(list), &list[0]);

    EXPECT_TRUE(cat_MarkSelected(list, Type("ZETA21", 1)));
    EXPECT_EQ(cat_FindNextUnselected(list), &list[2]);
    EXPECT_TRUE(cat_MarkSelected(list, Type("MC75", 1)));
    EXPECT_EQ(cat_FindNextUnselected(list), nullptr);
    EXPECT_FALSE(cat_MarkSelected(list, Type("ZETA21", 3)));
}

TEST(OemVariant, CompaqNamesOneToFive)
{
    OemVariant v;
    EXPECT_TRUE(v.SetFromName("COMPAQ 3"));
    EXPECT_EQ(v.nValue, 3);
    EXPECT_TRUE(v.SetFromName("compaq 5"));
    EXPECT_EQ(v.nValue, 5);
    EXPECT_FALSE(v.SetFromName("COMPAQ 6"));
    EXPECT_FALSE(v.SetFromName("COMPAQ3"));
    EXPECT_FALSE(v.SetFromName("OTHER"));
    EXPECT_EQ(v.nValue, 5) << "unknown names leave the value";
    EXPECT_TRUE(v.SetFromName(""));
    EXPECT_EQ(v.nValue, 0);
    v.nValue = 2;
    EXPECT_TRUE(v.SetFromName(nullptr));
    EXPECT_EQ(v.nValue, 0);
}

} // namespace
