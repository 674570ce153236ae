// Profile syntax: reading, lookup, setting, deleting and the rewritten file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ravelin/support/pfl.h"
#include "support_test_util.h"

using support_test::FileExists;
using support_test::ReadFile;
using support_test::TempDir;
using support_test::WriteFile;

namespace {

class ProfileTest : public ::testing::Test {
protected:
    // Reads a profile from the given file contents.
    ll_List *Load(const std::string &bytes) {
        Release();
        m_path = m_dir.file("p" + std::to_string(m_nFiles++) + ".ini");
        WriteFile(m_path, bytes);
        m_pProfile = pfl_ReadProfile(nullptr, m_path.c_str());
        return m_pProfile;
    }
    std::string Get(const char *pszSection, const char *pszEntry, int nSize = pfl_kValueLen) {
        char sz[512] = "untouched";
        int n = pfl_GetString(m_pProfile, pszSection, pszEntry, sz, nSize);
        return n == 0 ? std::string("<none>") : std::string(sz);
    }
    int SectionCount() { return ll_GetCount(m_pProfile); }
    int EntryCount(int nSection) {
        ll_Iterator it;
        ll_CreateIterator(&it, m_pProfile);
        void *p = ll_First(&it);
        for (int i = 0; i < nSection && p; ++i) p = ll_Next(&it);
        return p ? ll_GetCount(&static_cast<pfl_Section *>(p)->EntryList) : -1;
    }
    void Release() {
        if (m_pProfile) pfl_FreeProfile(m_pProfile);
        m_pProfile = nullptr;
    }
    void TearDown() override { Release(); }

    TempDir m_dir;
    std::string m_path;
    int m_nFiles = 0;
    ll_List *m_pProfile = nullptr;
};

TEST_F(ProfileTest, WhiteSpaceAroundNamesAndValuesIsInsignificant) {
    const char *variants[] = {"Key=Value", "  Key   =   Value  ", "KEY=Value", "Key\t=\tValue\t"};
    for (const char *pszLine : variants) {
        ASSERT_NE(Load(std::string("[Sect]\r\n") + pszLine + "\r\n"), nullptr);
        EXPECT_EQ(Get("sect", "key"), "Value") << pszLine;
    }
    Load("[Sect]\r\nInner Name = two words here\r\n");
    EXPECT_EQ(Get("SECT", "inner name"), "two words here");
}

TEST_F(ProfileTest, ValueIsTheRestOfTheLine) {
    Load("[S]\r\nA = b=c ; not a comment\r\nB==x\r\nEmpty=\r\nBare\r\n");
    EXPECT_EQ(Get("S", "A"), "b=c ; not a comment");
    EXPECT_EQ(Get("S", "B"), "=x");
    EXPECT_EQ(Get("S", "Empty"), "<none>") << "an empty value reads as missing";
    EXPECT_EQ(EntryCount(0), 4) << "entries without a value are still kept";
}

TEST_F(ProfileTest, CommentsOnlyInTheFirstColumn) {
    Load("; leading comment\r\n[S]\r\n;Key=hidden\r\n  ;Indented=seen\r\nKey=shown\r\n");
    EXPECT_EQ(Get("S", "Key"), "shown");
    EXPECT_EQ(Get("S", ";Indented"), "seen") << "an indented ';' line is an entry";
    EXPECT_EQ(EntryCount(0), 2);
}

TEST_F(ProfileTest, LinesBeforeTheFirstSectionAreIgnored) {
    Load("Orphan=1\r\n\r\n[S]\r\nKey=1\r\n");
    EXPECT_EQ(SectionCount(), 1);
    EXPECT_EQ(EntryCount(0), 1);
}

TEST_F(ProfileTest, HeaderWithTrailingBlankOpensNoSection) {
    Load("[First]\r\nA=1\r\n[Second] \r\nB=2\r\n");
    EXPECT_EQ(SectionCount(), 1);
    EXPECT_EQ(Get("Second", "B"), "<none>");
    EXPECT_EQ(Get("First", "B"), "2") << "the entries stay with the open section";
    EXPECT_EQ(EntryCount(0), 3) << "the header text itself became an entry";

    Load(" [Indented]\r\nA=1\r\n");
    EXPECT_EQ(SectionCount(), 0);
}

TEST_F(ProfileTest, SectionHeadersKeepTheirBracketsAndCut) {
    Load("[Models]\r\nA=1\r\n[ThisSectionNameIsFarTooLongToBeStoredWhole]\r\nB=2\r\n");
    ASSERT_EQ(SectionCount(), 2);
    ll_Iterator it;
    ll_CreateIterator(&it, m_pProfile);
    EXPECT_STREQ(static_cast<pfl_Section *>(ll_First(&it))->szSectionName, "[Models]");
    EXPECT_EQ(std::string(static_cast<pfl_Section *>(ll_Next(&it))->szSectionName),
              "[ThisSectionNameIsFarTooLongToBeStoredW");
}

TEST_F(ProfileTest, LongNamesAreCut) {
    std::string name(50, 'n');
    Load("[S]\r\n" + name + "=v\r\n");
    EXPECT_EQ(Get("S", std::string(39, 'n').c_str()), "v");
}

TEST_F(ProfileTest, LongPhysicalLineReadsAsTwoLines) {
    // "K=" and 198 characters: 132 characters on the first line, 68 on the second.
    std::string value(198, 'v');
    Load("[S]\r\nK=" + value + "\r\nNext=1\r\n");
    EXPECT_EQ(Get("S", "K"), std::string(130, 'v'));
    EXPECT_EQ(Get("S", "Next"), "1");
    EXPECT_EQ(EntryCount(0), 3) << "the rest of the long line forms an entry of its own";
}

TEST_F(ProfileTest, LineEndSplitByTheLineCapacity) {
    // 132 characters end with the CR; the LF opens the next piece and is ignored there.
    std::string value(129, 'w');
    Load("[S]\r\nK=" + value + "\r\nNext=1\r\n");
    EXPECT_EQ(Get("S", "K"), value);
    EXPECT_EQ(Get("S", "Next"), "1");
    EXPECT_EQ(EntryCount(0), 2);
}

TEST_F(ProfileTest, FirstMatchWins) {
    Load("[A]\r\nk=1\r\nk=2\r\n[a]\r\nk=3\r\nonly=4\r\n");
    EXPECT_EQ(SectionCount(), 2) << "duplicates are kept";
    EXPECT_EQ(Get("A", "k"), "1");
    EXPECT_EQ(Get("A", "only"), "<none>") << "only the first matching section is searched";
}

TEST_F(ProfileTest, GetStringCutsToTheBuffer) {
    Load("[S]\r\nK=abcdefgh\r\n");
    char sz[5];
    EXPECT_EQ(pfl_GetString(m_pProfile, "S", "K", sz, sizeof sz), 5);
    EXPECT_STREQ(sz, "abcd");
    char szBig[20];
    EXPECT_EQ(pfl_GetString(m_pProfile, "S", "K", szBig, sizeof szBig), 8);
    EXPECT_EQ(pfl_GetString(m_pProfile, "S", "missing", szBig, sizeof szBig), 0);
    EXPECT_EQ(pfl_GetString(m_pProfile, "Nope", "K", szBig, sizeof szBig), 0);
}

TEST_F(ProfileTest, LfOnlyFileReadsEveryEntry) {
    // Saved by an editor on this platform: before lone LF ended lines, all but the first entry
    // of every 132-character chunk were lost.
    std::string bytes = "[Models]\n";
    for (int i = 0; i < 40; ++i) bytes += "Model" + std::to_string(i) + "=Value" + std::to_string(i) + "\n";
    bytes += "[Other]\nX=1\n";
    Load(bytes);
    EXPECT_EQ(SectionCount(), 2);
    EXPECT_EQ(EntryCount(0), 40);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(Get("Models", ("model" + std::to_string(i)).c_str()), "Value" + std::to_string(i));
    EXPECT_EQ(Get("Other", "X"), "1");
}

TEST_F(ProfileTest, CtrlZEndsTheLine) {
    Load("[S]\r\nA=1\x1A");
    EXPECT_EQ(Get("S", "A"), "1");
}

TEST_F(ProfileTest, MissingFileIsCreatedEmpty) {
    std::string path = m_dir.file("absent.ini");
    ll_List *pProfile = pfl_ReadProfile(nullptr, path.c_str());
    ASSERT_NE(pProfile, nullptr);
    EXPECT_TRUE(ll_IsEmpty(pProfile));
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(ReadFile(path), "");
    EXPECT_EQ(pfl_ReadProfile(pProfile, "/no/such/dir/x.ini"), pProfile) << "a given profile is returned as is";
    pfl_FreeProfile(pProfile);
}

TEST_F(ProfileTest, RewrittenFileByteForByte) {
    Load("; catalogue\r\n"
         "[Models]\r\n"
         "  Alpha =  1  \r\n"
         "Beta=2\r\n"
         "\r\n"
         "[Locks]\r\n"
         "L1=0x10\r\n");
    EXPECT_EQ(pfl_SetString(m_pProfile, "models", "alpha", "one"), 1) << "existing entry keeps its place";
    EXPECT_EQ(pfl_SetString(m_pProfile, "Models", "Gamma", "3"), 1) << "new entry goes to the section's end";
    EXPECT_EQ(pfl_SetString(m_pProfile, "New", "Key", "v = w"), 1) << "new section goes to the end";
    ASSERT_EQ(pfl_WriteProfile(m_pProfile, m_path.c_str()), 1);
    EXPECT_EQ(ReadFile(m_path),
              "[Models]\r\n"
              "Alpha = one\r\n"
              "Beta = 2\r\n"
              "Gamma = 3\r\n"
              "[Locks]\r\n"
              "L1 = 0x10\r\n"
              "[New]\r\n"
              "Key = v = w\r\n");

    // What was written reads back the same.
    std::string written = ReadFile(m_path);
    Load(written);
    EXPECT_EQ(Get("New", "Key"), "v = w");
    EXPECT_EQ(Get("Models", "Gamma"), "3");
}

TEST_F(ProfileTest, SetStringDeletesAndCuts) {
    Load("[S]\r\nA=1\r\nB=2\r\n");
    EXPECT_EQ(pfl_SetString(m_pProfile, "S", "A", nullptr), 1);
    EXPECT_EQ(Get("S", "A"), "<none>");
    EXPECT_EQ(pfl_SetString(m_pProfile, "S", "A", nullptr), 0) << "deleting an absent entry";
    EXPECT_EQ(pfl_SetString(m_pProfile, "T", "A", nullptr), 0) << "deleting in an absent section";
    EXPECT_EQ(SectionCount(), 1);

    std::string longValue(200, 'x');
    EXPECT_EQ(pfl_SetString(m_pProfile, "S", "B", longValue.c_str()), 1);
    EXPECT_EQ(Get("S", "B", 512), std::string(159, 'x'));
    std::string longName(60, 'k');
    EXPECT_EQ(pfl_SetString(m_pProfile, "S", longName.c_str(), "v"), 1);
    EXPECT_EQ(Get("S", std::string(39, 'k').c_str()), "v");
}

TEST_F(ProfileTest, DeleteSectionRemovesFirstMatchOnly) {
    Load("[A]\r\nx=1\r\n[B]\r\ny=2\r\n[A]\r\nx=3\r\n");
    EXPECT_EQ(pfl_DeleteSection(m_pProfile, "a"), 1);
    EXPECT_EQ(SectionCount(), 2);
    EXPECT_EQ(Get("A", "x"), "3");
    EXPECT_EQ(pfl_DeleteSection(m_pProfile, "missing"), 0);
    ASSERT_EQ(pfl_WriteProfile(m_pProfile, m_path.c_str()), 1);
    EXPECT_EQ(ReadFile(m_path), "[B]\r\ny = 2\r\n[A]\r\nx = 3\r\n");
}

// Every section and entry of a profile, in order, as the list holds them.
std::vector<std::string> Contents(ll_List *pProfile) {
    std::vector<std::string> items;
    ll_Iterator itSection;
    ll_CreateIterator(&itSection, pProfile);
    for (void *p = ll_First(&itSection); p != nullptr; p = ll_Next(&itSection)) {
        pfl_Section *pSection = static_cast<pfl_Section *>(p);
        items.push_back(pSection->szSectionName);
        ll_Iterator itEntry;
        ll_CreateIterator(&itEntry, &pSection->EntryList);
        for (void *q = ll_First(&itEntry); q != nullptr; q = ll_Next(&itEntry)) {
            pfl_Entry *pEntry = static_cast<pfl_Entry *>(q);
            items.push_back(std::string(pEntry->szEntry) + "\x01" + pEntry->szValue);
        }
    }
    return items;
}

// A profile that was read, written back and read again holds what it held. The writer once wrote
// every entry as "name = value", so a line of 131 or 132 characters grew past the 132 the reader
// takes at a time and came back as two entries, and a section name cut to 39 characters lost its
// closing bracket and came back as an entry: both found by the profile fuzz target.
TEST_F(ProfileTest, WrittenProfileReadsBackAsItWas) {
    const unsigned char kFuzzInput[] = {
        0x6f, 0x0a, 0x5b, 0x64, 0x5d, 0x0a, 0x4d, 0x4f, 0x44, 0x45, 0x4c, 0x5f, 0x31, 0x3d, 0x31, 0x2c,
        0x7b, 0x2c, 0x7b, 0x3d, 0x32, 0x41, 0x7d, 0x2c, 0x7b, 0x50, 0x42, 0x7d, 0x2c, 0x7b, 0x43, 0x46,
        0x7d, 0x2c, 0x7b, 0x22, 0x22, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x4e, 0x31, 0x30, 0x5f, 0x5f,
        0x63, 0x78, 0x78, 0x61, 0x62, 0x69, 0x76, 0x31, 0x32, 0x31, 0x5f, 0x5f, 0x76, 0x6d, 0x69, 0x5f,
        0x63, 0x6c, 0x61, 0x73, 0x73, 0x5f, 0x74, 0x79, 0x70, 0x65, 0x5f, 0x69, 0xff, 0xff, 0xff, 0xff,
        0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
        0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x7b, 0x4c, 0x2e, 0x73, 0x33,
        0x37, 0x7d, 0x61, 0x64, 0x65, 0x32, 0x3d, 0x35, 0x2d, 0x33, 0x2c, 0x37, 0x75, 0x6d, 0x43, 0x6f,
        0x6d, 0x62, 0x69, 0x6e, 0x65, 0x64, 0x3d, 0x3d, 0x78,
    };
    struct Case {
        const char *what;
        std::string bytes;
        std::string written;  // the rewritten file, when it is worth stating
    } cases[] = {
        {"the fuzz target's input", std::string(reinterpret_cast<const char *>(kFuzzInput), sizeof kFuzzInput), ""},
        {"a 132-character line", "[S]\r\nK=" + std::string(130, 'v') + "\r\n",
         "[S]\r\nK=" + std::string(130, 'v') + "\r\n"},
        {"a 131-character line", "[S]\r\nK=" + std::string(129, 'v') + "\r\nN=1\r\n",
         "[S]\r\nK=" + std::string(129, 'v') + "\r\nN = 1\r\n"},
        {"a line that fits with its blanks", "[S]\r\nK=" + std::string(127, 'v') + "\r\n",
         "[S]\r\nK = " + std::string(127, 'v') + "\r\n"},
        {"a section name cut to fit", "[" + std::string(45, 'n') + "]\r\nA=1\r\n[T]\r\nB=2\r\n",
         "[" + std::string(38, 'n') + "]\r\nA = 1\r\n[T]\r\nB = 2\r\n"},
        {"a cut section name ending in blanks", "[" + std::string(30, 'n') + std::string(10, ' ') + "x]\r\nA=1\r\n", ""},
        {"names that start like comments and headers", "[S]\r\n ;x = 1\r\n [y] = 2\r\n", ""},
    };
    for (const Case &c : cases) {
        Load(c.bytes);
        const std::vector<std::string> before = Contents(m_pProfile);
        const std::string rewritten = m_dir.file("rewritten.ini");
        ASSERT_EQ(pfl_WriteProfile(m_pProfile, rewritten.c_str()), 1) << c.what;
        if (!c.written.empty()) {
            EXPECT_EQ(ReadFile(rewritten), c.written) << c.what;
        }
        ll_List *pAgain = pfl_ReadProfile(nullptr, rewritten.c_str());
        EXPECT_EQ(Contents(pAgain), before) << c.what;
        pfl_FreeProfile(pAgain);
    }
}

// Values that no line can carry back are not written: the file keeps what it held.
TEST_F(ProfileTest, ValueThatCannotReadBackLeavesTheFileAsItWas) {
    const std::string original = "[Flash]\r\nHexFile = /images/PADE107.HEX\r\n";
    const std::string values[] = {
        "/images/" + std::string(140, 'p') + ".HEX",  // set values may be 159 characters, lines only 132
        "first\nsecond",                              // a line end inside the value
        std::string("before\x1a") + "after",          // Ctrl-Z ends the file for the reader
    };
    for (const std::string &value : values) {
        Load(original);
        ASSERT_EQ(pfl_SetString(m_pProfile, "Flash", "HexFile", value.c_str()), 1);
        EXPECT_EQ(pfl_WriteProfile(m_pProfile, m_path.c_str()), 0) << value;
        EXPECT_EQ(ReadFile(m_path), original) << value;
    }
}

TEST_F(ProfileTest, WriteToUnwritablePlaceReportsFailure) {
    Load("[S]\r\nA=1\r\n");
    EXPECT_EQ(pfl_WriteProfile(m_pProfile, m_dir.file("no/such/dir.ini").c_str()), 0);
}

}  // namespace
