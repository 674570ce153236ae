#include "country/PortWriter/DirectoryLock.h"
#include "country/config/private_profile.h"
#include "scratch_dir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

class PrivateProfileTest : public ::testing::Test {
protected:
    ScratchDir dir;
    std::string ini = dir.file("test.ini");
};

TEST_F(PrivateProfileTest, SectionsAndKeysMatchWithoutRegardToCaseAndTheFirstMatchWins)
{
    dir.write("test.ini",
              "[Models]\r\nNumModels = 2\r\nnummodels=7\r\n\r\n[MODELS]\r\nNumModels=9\r\nOther=x\r\n");
    EXPECT_EQ(2, ProfileGetInt(ini, "models", "NUMMODELS", 0));
    // The first section of that name is the only one looked at.
    EXPECT_EQ("dflt", ProfileGetString(ini, "Models", "Other", "dflt", 200));
}

TEST_F(PrivateProfileTest, ValuesAreTrimmedUnquotedAndCutToTheBuffer)
{
    dir.write("test.ini", "[s]\nplain=  a b \t\nquoted=\"  kept  \"\nlong=" + std::string(300, 'x') + "\n");
    EXPECT_EQ("a b", ProfileGetString(ini, "s", "plain", "", 200));
    EXPECT_EQ("  kept  ", ProfileGetString(ini, "s", "quoted", "", 200));
    EXPECT_EQ(std::string(199, 'x'), ProfileGetString(ini, "s", "long", "", 200));
    EXPECT_EQ(std::string(19, 'x'), ProfileGetString(ini, "s", "long", "", 20));
}

TEST_F(PrivateProfileTest, IntegersUseLeadingDigitsAndDefaultOnlyWhenMissingOrEmpty)
{
    dir.write("test.ini", "[s]\nn=42abc\nneg=-3\nwords=abc\nempty=\nhuge=99999999999\n");
    EXPECT_EQ(42, ProfileGetInt(ini, "s", "n", 5));
    EXPECT_EQ(-3, ProfileGetInt(ini, "s", "neg", 5));
    EXPECT_EQ(0, ProfileGetInt(ini, "s", "words", 5));
    EXPECT_EQ(5, ProfileGetInt(ini, "s", "empty", 5));
    EXPECT_EQ(5, ProfileGetInt(ini, "s", "absent", 5));
    EXPECT_EQ(5, ProfileGetInt(dir.file("no-such.ini"), "s", "n", 5));
    EXPECT_EQ(2147483647, ProfileGetInt(ini, "s", "huge", 5));
}

TEST_F(PrivateProfileTest, SectionKeysAreThoseOfTheFirstSectionInFileOrder)
{
    dir.write("test.ini", "k0=x\n[S]\n b = 1\n; c=2\nplain line\na=3\nb=4\n[s]\nd=5\n[T]\ne=6\n");
    EXPECT_EQ((std::vector<std::string>{"b", "a", "b"}), ProfileSectionKeys(ini, "s"));
    EXPECT_TRUE(ProfileSectionKeys(ini, "absent").empty());
    EXPECT_TRUE(ProfileSectionKeys(dir.file("no-such.ini"), "S").empty());
}

TEST_F(PrivateProfileTest, WriteCreatesTheFileWithCrLfLines)
{
    ASSERT_TRUE(ProfileWriteString(ini, "3", "ModelName", "AB12"));
    EXPECT_EQ("[3]\r\nModelName=AB12\r\n", dir.read("test.ini"));
}

TEST_F(PrivateProfileTest, WriteKeepsEveryOtherSectionKeyAndComment)
{
    dir.write("test.ini",
              "; kept comment\r\n[1]\r\nModelName=Old\r\nCommPort=1\r\n\r\n[Other]\r\nKey=Value\r\n");
    ASSERT_TRUE(ProfileWriteString(ini, "1", "modelname", "New"));
    ASSERT_TRUE(ProfileWriteString(ini, "1", "CountryName", "Norway (NO)"));
    ASSERT_TRUE(ProfileWriteString(ini, "2", "CommPort", "2"));
    EXPECT_EQ("; kept comment\r\n[1]\r\nModelName=New\r\nCommPort=1\r\nCountryName=Norway (NO)\r\n\r\n"
              "[Other]\r\nKey=Value\r\n\r\n[2]\r\nCommPort=2\r\n",
              dir.read("test.ini"));
    EXPECT_EQ("New", ProfileGetString(ini, "1", "ModelName", "", 200));
    EXPECT_EQ("Value", ProfileGetString(ini, "other", "key", "", 200));
}

TEST_F(PrivateProfileTest, WriteOfSeveralKeysGivesTheSameFileAsOneWriteEach)
{
    ScratchDir other;
    const std::string seed = "[9]\nZ=1\n[3]\nCommPort=old\n";
    dir.write("test.ini", seed);
    other.write("test.ini", seed);
    ASSERT_TRUE(ProfileWriteStrings(ini, "3", {{"ModelName", "M"}, {"CommPort", "3"}}));
    ASSERT_TRUE(ProfileWriteString(other.file("test.ini"), "3", "ModelName", "M"));
    ASSERT_TRUE(ProfileWriteString(other.file("test.ini"), "3", "CommPort", "3"));
    EXPECT_EQ(other.read("test.ini"), dir.read("test.ini"));
    EXPECT_FALSE(dir.exists("test.ini.new"));
}

TEST_F(PrivateProfileTest, WriteWaitsWhileAnotherProgramChangesAFileOfTheDirectory)
{
    dir.write("test.ini", "[1]\r\nCommPort=1\r\n");
    std::atomic<bool> written{false};
    std::thread writer;
    {
        // Another program between its read and its replace of the file: writing now would lose its change.
        CDirectoryLock otherProgram(dir.path());
        ASSERT_TRUE(otherProgram.Held());
        writer = std::thread([&] {
            EXPECT_TRUE(ProfileWriteString(ini, "3", "CommPort", "3"));
            written = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_FALSE(written.load());
        dir.write("test.ini", "[1]\r\nCommPort=1\r\n\r\n[2]\r\nCommPort=2\r\n");
    }
    writer.join();
    EXPECT_TRUE(written.load());
    EXPECT_EQ("[1]\r\nCommPort=1\r\n\r\n[2]\r\nCommPort=2\r\n\r\n[3]\r\nCommPort=3\r\n", dir.read("test.ini"));
}

TEST_F(PrivateProfileTest, WriteIntoAMissingDirectoryFailsAndSaysWhy)
{
    std::string error;
    EXPECT_FALSE(ProfileWriteStrings(dir.file("missing/test.ini"), "s", {{"k", "v"}}, &error));
    EXPECT_EQ("cannot create " + dir.file("missing/test.ini.new") + ": No such file or directory", error);
}

TEST_F(PrivateProfileTest, ReplacementKeepsThePermissionsOfTheFileItReplaces)
{
    namespace fs = std::filesystem;
    dir.write("test.ini", "[1]\r\nCommPort=1\r\n");
    fs::permissions(ini, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(ProfileWriteString(ini, "2", "CommPort", "2"));
    EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
              fs::status(ini).permissions() & fs::perms::all);
}

// A file that is there but cannot be read must not be replaced by one made from nothing: every other
// section would be lost. The write runs in a child process as a user who may write the directory but not
// read the file (root reads everything, so as root the child becomes nobody first).
TEST_F(PrivateProfileTest, AFileThatCannotBeReadIsNotReplaced)
{
    namespace fs = std::filesystem;
    const std::string old = "[1]\r\nModelName=AB12\r\nCommPort=1\r\n";
    dir.write("test.ini", old);
    fs::permissions(dir.path(), fs::perms::all);
    fs::permissions(ini, fs::perms::owner_write);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        std::string error;
        const bool written = ProfileWriteStrings(ini, "2", {{"CommPort", "2"}}, &error);
        const bool said = error.rfind("cannot read " + ini + ": Permission denied", 0) == 0;
        _exit(written ? 1 : said ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status)) << "1: the write went ahead; 2: no reason given; 3: could not drop root";
    fs::permissions(ini, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(old, dir.read("test.ini"));
    EXPECT_FALSE(dir.exists("test.ini.new"));
}

}  // namespace
