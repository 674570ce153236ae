// The profile cache and the profile calls used by the rest of the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "ravelin/support/ospfl.h"
#include "support_test_util.h"

using support_test::FileExists;
using support_test::ReadFile;
using support_test::TempDir;
using support_test::WriteFile;

namespace {

class ProfileCacheTest : public ::testing::Test {
protected:
    void SetUp() override { os_CreateProfileCache(); }
    void TearDown() override { os_DestroyProfileCache(); }

    std::string GetPPS(const char *pszSection, const char *pszEntry, const char *pszDefault,
                       const std::string &path, int *pnCount = nullptr) {
        char sz[160];
        int n = os_GetPPS(pszSection, pszEntry, pszDefault, sz, sizeof sz, path.c_str());
        if (pnCount) *pnCount = n;
        return sz;
    }

    TempDir m_dir;
};

TEST_F(ProfileCacheTest, MissingFileGivesDefaultAndIsCreated) {
    std::string path = m_dir.file("Flash.ini");
    int n = -1;
    EXPECT_EQ(GetPPS("Settings", "Port", "COM1", path, &n), "COM1");
    EXPECT_EQ(n, 4);
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(ReadFile(path), "");
}

TEST_F(ProfileCacheTest, LookupIgnoresCaseAndWhiteSpace) {
    std::string path = m_dir.file("Models.ini");
    WriteFile(path, "[Sect]\r\nKey = Value\r\nEmpty=\r\n");
    EXPECT_EQ(GetPPS("sect", "key", "dflt", path), "Value");
    EXPECT_EQ(GetPPS("sect", "empty", "dflt", path), "dflt") << "an empty value gives the default";
    EXPECT_EQ(GetPPS("sect", "absent", "dflt", path), "dflt");
    EXPECT_EQ(GetPPS("other", "key", "", path), "");
}

TEST_F(ProfileCacheTest, GetPPSCutsToTheBuffer) {
    std::string path = m_dir.file("Models.ini");
    WriteFile(path, "[S]\r\nK=abcdefgh\r\n");
    char sz[4];
    EXPECT_EQ(os_GetPPS("S", "K", "", sz, sizeof sz, path.c_str()), 4);
    EXPECT_STREQ(sz, "abc");
    EXPECT_EQ(os_GetPPS("S", "none", "longdefault", sz, sizeof sz, path.c_str()), 4);
    EXPECT_STREQ(sz, "lon");
}

TEST_F(ProfileCacheTest, GetPPintNumbersAndDefaults) {
    std::string path = m_dir.file("Locks.ini");
    WriteFile(path, "[N]\r\nHex=0x10\r\nDec=42\r\nWord=abc\r\nEmpty=\r\nFlags=0x200200\r\n");
    EXPECT_EQ(os_GetPPint("N", "Hex", 7, path.c_str()), 16);
    EXPECT_EQ(os_GetPPint("N", "Dec", 7, path.c_str()), 42);
    EXPECT_EQ(os_GetPPint("N", "Word", 7, path.c_str()), 0) << "a text that is no number gives 0";
    EXPECT_EQ(os_GetPPint("N", "Empty", 7, path.c_str()), 7);
    EXPECT_EQ(os_GetPPint("N", "Missing", -3, path.c_str()), -3);
    EXPECT_EQ(os_GetPPint("N", "Flags", 0, path.c_str()), 0x200200);
}

TEST_F(ProfileCacheTest, PathIsReadOnceUntilFreed) {
    std::string path = m_dir.file("Flash.ini");
    WriteFile(path, "[S]\r\nK=old\r\n");
    EXPECT_EQ(GetPPS("S", "K", "", path), "old");
    ll_List *pCached = os_FindReadProfile(path.c_str());
    ASSERT_NE(pCached, nullptr);

    WriteFile(path, "[S]\r\nK=new\r\n");
    EXPECT_EQ(GetPPS("S", "K", "", path), "old") << "the cached copy answers";
    EXPECT_EQ(os_GetReadProfile(path.c_str()), pCached);

    EXPECT_EQ(os_FreeReadProfile(path.c_str()), 1);
    EXPECT_EQ(os_FindReadProfile(path.c_str()), nullptr);
    EXPECT_EQ(os_FreeReadProfile(path.c_str()), 0);
    EXPECT_EQ(GetPPS("S", "K", "", path), "new") << "read again after being freed";
}

TEST_F(ProfileCacheTest, PathsCompareWithoutCase) {
    std::string path = m_dir.file("models.ini");
    WriteFile(path, "[S]\r\nK=v\r\n");
    EXPECT_EQ(GetPPS("S", "K", "", path), "v");
    std::string upper = path;
    std::string::size_type nName = upper.rfind('/') + 1;
    std::transform(upper.begin() + static_cast<long>(nName), upper.end(), upper.begin() + static_cast<long>(nName),
                   [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
    EXPECT_EQ(GetPPS("S", "K", "", upper), "v") << "the cache answers for the other spelling";
    EXPECT_FALSE(FileExists(upper)) << "no second file was read or created";
    EXPECT_EQ(os_FreeReadProfile(upper.c_str()), 1);
    EXPECT_EQ(os_FindReadProfile(path.c_str()), nullptr);
}

TEST_F(ProfileCacheTest, DistinctLongPathsStayDistinct) {
    std::string dirName(200, 'd');
    std::string dir = m_dir.file(dirName);
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    std::string a = dir + "/" + std::string(60, 'a') + "1.ini";
    std::string b = dir + "/" + std::string(60, 'a') + "2.ini";
    WriteFile(a, "[S]\r\nK=one\r\n");
    WriteFile(b, "[S]\r\nK=two\r\n");
    EXPECT_EQ(GetPPS("S", "K", "", a), "one");
    EXPECT_EQ(GetPPS("S", "K", "", b), "two");
}

TEST_F(ProfileCacheTest, WritePPSRewritesAtOnce) {
    std::string path = m_dir.file("Flash.ini");
    WriteFile(path, "; settings\r\n[Dev]\r\nPort=COM1\r\n");
    EXPECT_EQ(os_WritePPS("Dev", "Nothing", nullptr, path.c_str()), 0);
    EXPECT_EQ(ReadFile(path), "; settings\r\n[Dev]\r\nPort=COM1\r\n") << "no change, no rewrite";

    EXPECT_EQ(os_WritePPS("Dev", "Port", "COM5", path.c_str()), 1);
    EXPECT_EQ(ReadFile(path), "[Dev]\r\nPort = COM5\r\n");
    EXPECT_EQ(os_WritePPS("Dev", "Speed", "115200", path.c_str()), 1);
    EXPECT_EQ(os_WritePPS("Image", "Path", "/tmp/a.hex", path.c_str()), 1);
    EXPECT_EQ(ReadFile(path), "[Dev]\r\nPort = COM5\r\nSpeed = 115200\r\n[Image]\r\nPath = /tmp/a.hex\r\n");
    EXPECT_EQ(GetPPS("dev", "speed", "", path), "115200");

    EXPECT_EQ(os_WritePPS("Dev", "Port", nullptr, path.c_str()), 1);
    EXPECT_EQ(os_WritePPS("Image", nullptr, nullptr, path.c_str()), 1) << "no entry: the section goes";
    EXPECT_EQ(os_WritePPS("Image", nullptr, nullptr, path.c_str()), 0);
    EXPECT_EQ(ReadFile(path), "[Dev]\r\nSpeed = 115200\r\n");

    os_FreeReadProfile(path.c_str());
    EXPECT_EQ(GetPPS("Dev", "Speed", "", path), "115200") << "the file holds what the cache held";
}

TEST_F(ProfileCacheTest, CacheIsCreatedOnFirstUse) {
    os_DestroyProfileCache();
    std::string path = m_dir.file("x.ini");
    WriteFile(path, "[S]\r\nK=v\r\n");
    EXPECT_EQ(GetPPS("S", "K", "", path), "v");
    EXPECT_NE(os_FindReadProfile(path.c_str()), nullptr);
}

}  // namespace
