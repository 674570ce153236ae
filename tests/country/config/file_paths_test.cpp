// Files replaced through links: the link stays, its file changes; and what a user who may not write
// the file is told.
#include "country/config/file_paths.h"
#include "country/config/private_profile.h"
#include "scratch_dir.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

class LinkedProfileTest : public ::testing::Test {
protected:
    ScratchDir program;  // where the executable and its links are
    ScratchDir data;     // where the written files belong

    std::string LinkTarget(const std::string& name) const { return fs::read_symlink(program.file(name)).string(); }
};

TEST_F(LinkedProfileTest, LinksAreFollowedToTheFileTheyName)
{
    fs::create_symlink(data.file("modem.ini"), program.file("absolute.ini"));
    fs::create_symlink("relative2.ini", program.file("relative1.ini"));
    fs::create_symlink("../" + fs::path(data.path()).filename().string() + "/modem.ini",
                       program.file("relative2.ini"));
    fs::create_symlink("loop2", program.file("loop1"));
    fs::create_symlink("loop1", program.file("loop2"));
    data.write("plain.ini", "");

    struct Case {
        std::string path;
        std::string expected;
    };
    const Case cases[] = {
        {data.file("plain.ini"), data.file("plain.ini")},
        {data.file("missing.ini"), data.file("missing.ini")},
        // A link to a file not made yet is followed too: the first write must land where it points.
        {program.file("absolute.ini"), data.file("modem.ini")},
        {program.file("relative1.ini"), program.path() + "/../" + fs::path(data.path()).filename().string() +
                                            "/modem.ini"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, FollowFileLinks(c.path)) << c.path;
    // A loop ends somewhere inside the loop; the write then fails on its own.
    const std::string looped = FollowFileLinks(program.file("loop1"));
    EXPECT_TRUE(looped == program.file("loop1") || looped == program.file("loop2")) << looped;
}

TEST_F(LinkedProfileTest, WriteThroughALinkReplacesItsFileAndKeepsTheLink)
{
    fs::create_symlink(data.file("modem.ini"), program.file("modem.ini"));
    // The first write creates the file the link names; the second replaces it.
    ASSERT_TRUE(ProfileWriteStrings(program.file("modem.ini"), "1", {{"CommPort", "1"}}));
    ASSERT_TRUE(ProfileWriteStrings(program.file("modem.ini"), "2", {{"CommPort", "2"}}));

    EXPECT_TRUE(fs::is_symlink(program.file("modem.ini")));
    EXPECT_EQ(data.file("modem.ini"), LinkTarget("modem.ini"));
    EXPECT_EQ("[1]\r\nCommPort=1\r\n\r\n[2]\r\nCommPort=2\r\n", data.read("modem.ini"));
    EXPECT_EQ("2", ProfileGetString(program.file("modem.ini"), "2", "CommPort", "", 20));
    // Nothing was left beside the link, nor beside the file.
    EXPECT_EQ(1, std::distance(fs::directory_iterator(program.path()), fs::directory_iterator()));
    EXPECT_EQ(1, std::distance(fs::directory_iterator(data.path()), fs::directory_iterator()));
}

TEST_F(LinkedProfileTest, WriteThroughARelativeLinkChainKeepsEveryLink)
{
    data.write("modem.ini", "[9]\r\nCommPort=9\r\n");
    const std::string dataName = fs::path(data.path()).filename().string();
    fs::create_symlink("second.ini", program.file("modem.ini"));
    fs::create_symlink("../" + dataName + "/modem.ini", program.file("second.ini"));

    ASSERT_TRUE(ProfileWriteStrings(program.file("modem.ini"), "1", {{"CommPort", "1"}}));

    EXPECT_EQ("second.ini", LinkTarget("modem.ini"));
    EXPECT_EQ("../" + dataName + "/modem.ini", LinkTarget("second.ini"));
    EXPECT_EQ("[9]\r\nCommPort=9\r\n\r\n[1]\r\nCommPort=1\r\n", data.read("modem.ini"));
}

// Runs body in a child process as a user without special rights (root, as in CI, becomes nobody) and
// returns the child's exit code, or -1 when it could not become that user.
template <typename Body>
int AsOrdinaryUser(Body body)
{
    const pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(100);
        _exit(body());
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status) == 100 ? -1 : WEXITSTATUS(status);
}

// The installed layout: the program's directory is read-only to its users, the link in it points
// into a directory they may write. The write must go there and not try to replace the link.
TEST_F(LinkedProfileTest, AReadOnlyProgramDirectoryDoesNotStopAWriteThroughItsLink)
{
    fs::create_symlink(data.file("modem.ini"), program.file("modem.ini"));
    fs::permissions(data.path(), fs::perms::all);
    fs::permissions(program.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                        fs::perms::others_read | fs::perms::others_exec);
    const int result = AsOrdinaryUser([&] {
        if (access(program.path().c_str(), W_OK) == 0)
            return 3;  // the directory would not show the fault
        std::string error;
        return ProfileWriteStrings(program.file("modem.ini"), "1", {{"CommPort", "1"}}, &error) ? 0 : 1;
    });
    fs::permissions(program.path(), fs::perms::owner_all);
    if (result == 3)
        GTEST_SKIP() << "this user may write every directory";
    ASSERT_EQ(0, result);
    EXPECT_TRUE(fs::is_symlink(program.file("modem.ini")));
    EXPECT_EQ("[1]\r\nCommPort=1\r\n", data.read("modem.ini"));
}

std::string GroupOf(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return std::string();
    const struct group* entry = getgrgid(st.st_gid);
    return entry != nullptr ? entry->gr_name : std::to_string(st.st_gid);
}

TEST(WritePermissionHintTest, SaysWhatTheUserCanDoAboutTheError)
{
    ScratchDir shared;
    ScratchDir own;
    // A directory of a group other than root's, writable by that group, as /var/lib/meridia is.
    if (geteuid() == 0) {
        ASSERT_EQ(0, chown(shared.path().c_str(), 0, 20));
    }
    ASSERT_EQ(0, chmod(shared.path().c_str(), 02775));
    ASSERT_EQ(0, chmod(own.path().c_str(), 0755));
    const std::string group = GroupOf(shared.path());

    struct Case {
        std::string directory;
        int error;
        std::string expected;
    };
    const Case cases[] = {
        {shared.path(), EACCES,
         "to write " + shared.path() + ", join the group " + group + " that owns it (sudo adduser $USER " +
             group + "), then log in again"},
        {shared.path(), EPERM,
         "to write " + shared.path() + ", join the group " + group + " that owns it (sudo adduser $USER " +
             group + "), then log in again"},
        {own.path(), EACCES, "ask an administrator for permission to write " + own.path()},
        {own.path(), EROFS, own.path() + " is on a read-only file system: link the file to a writable place"},
        {shared.path(), ENOENT, ""},
        {shared.path(), ENOSPC, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, WritePermissionHint(c.directory, c.error)) << c.directory << " " << c.error;
}

TEST_F(LinkedProfileTest, APermissionFailureNamesTheFileAndTheGroupToJoin)
{
    const std::string group = [&] {
        if (geteuid() == 0) {
            EXPECT_EQ(0, chown(data.path().c_str(), 0, 20));
        }
        return GroupOf(data.path());
    }();
    // Group-writable, but the user running the write is neither owner nor member.
    ASSERT_EQ(0, chmod(data.path().c_str(), geteuid() == 0 ? 02775 : 02575));
    data.write("modem.ini", "[9]\r\nCommPort=9\r\n");
    ASSERT_EQ(0, chmod(data.file("modem.ini").c_str(), 0644));
    fs::create_symlink(data.file("modem.ini"), program.file("modem.ini"));
    ASSERT_EQ(0, chmod(program.path().c_str(), 0755));
    const int result = AsOrdinaryUser([&] {
        std::string error;
        if (ProfileWriteStrings(program.file("modem.ini"), "1", {{"CommPort", "1"}}, &error))
            return 1;
        const std::string expected = "cannot create " + data.file("modem.ini") +
                                     ".new: Permission denied; to write " + data.path() + ", join the group " +
                                     group + " that owns it (sudo adduser $USER " + group + "), then log in again";
        return error == expected ? 0 : 2;
    });
    chmod(data.path().c_str(), 0755);
    EXPECT_EQ(0, result) << "1: the write went ahead; 2: another message";
    EXPECT_EQ("[9]\r\nCommPort=9\r\n", data.read("modem.ini"));
}

}  // namespace
