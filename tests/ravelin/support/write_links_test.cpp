// Files beside the program that are links into other directories (the installed layout): writes
// land in the file the link names and leave the link; a file that cannot be written is reported by
// its real path with what the user can do.
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "ravelin/support/log.h"
#include "ravelin/support/ospfl.h"
#include "ravelin/support/oswin32.h"
#include "support_test_util.h"

using support_test::FileExists;
using support_test::ReadFile;
using support_test::TempDir;
using support_test::WriteFile;

namespace {

bool IsLink(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string LinkTarget(const std::string &path) {
    char sz[512];
    ssize_t n = ::readlink(path.c_str(), sz, sizeof sz - 1);
    return n > 0 ? std::string(sz, static_cast<size_t>(n)) : std::string();
}

std::string GroupOf(const std::string &path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return std::string();
    const struct group *pEntry = ::getgrgid(st.st_gid);
    return pEntry != nullptr ? pEntry->gr_name : std::to_string(st.st_gid);
}

std::string JoinHint(const std::string &dir, const std::string &group) {
    return "; to write " + dir + ", join the group " + group + " that owns it (sudo adduser $USER " + group +
           "), then log in again";
}

int Replace(const std::string &path, const std::string &text) {
    osfl_Replacement rep;
    if (!osfl_BeginReplace(&rep, path.c_str())) return 0;
    if (osfl_Write(rep.hFile, text.data(), static_cast<int>(text.size())) != static_cast<int>(text.size())) {
        osfl_AbandonReplace(&rep);
        return 0;
    }
    return osfl_CommitReplace(&rep);
}

// Runs body in a child as a user without special rights (root, as in CI, becomes nobody); its exit
// code, or -1 when it could not become that user.
template <typename Body>
int AsOrdinaryUser(Body body) {
    pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) {
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(100);
        ::_exit(body());
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status) == 100 ? -1 : WEXITSTATUS(status);
}

class WriteThroughLinks : public ::testing::Test {
protected:
    void SetUp() override {
        ::chmod(m_program.path().c_str(), 0755);
        ::chmod(m_data.path().c_str(), 0777);
    }
    TempDir m_program;  // the executable's directory, holding the links
    TempDir m_data;     // where the written files belong
};

TEST_F(WriteThroughLinks, LinksAreFollowedAlsoToAFileNotMadeYet) {
    const std::string dataName = m_data.path().substr(m_data.path().rfind('/') + 1);
    ASSERT_EQ(0, ::symlink(m_data.file("Flash.ini").c_str(), m_program.file("Flash.ini").c_str()));
    ASSERT_EQ(0, ::symlink("second", m_program.file("first").c_str()));
    ASSERT_EQ(0, ::symlink(("../" + dataName + "/x.ini").c_str(), m_program.file("second").c_str()));
    ASSERT_EQ(0, ::symlink("loop2", m_program.file("loop1").c_str()));
    ASSERT_EQ(0, ::symlink("loop1", m_program.file("loop2").c_str()));
    struct Case {
        std::string path;
        std::string expected;
    };
    const Case cases[] = {
        {m_data.file("plain.ini"), m_data.file("plain.ini")},
        {m_program.file("Flash.ini"), m_data.file("Flash.ini")},
        {m_program.file("first"), m_program.path() + "/../" + dataName + "/x.ini"},
        {"bare.ini", "bare.ini"},
    };
    char szReal[os_kPathLen];
    for (const Case &c : cases) {
        ASSERT_EQ(1, osfl_FollowLinks(c.path.c_str(), szReal, sizeof szReal)) << c.path;
        EXPECT_EQ(c.expected, szReal) << c.path;
    }
    ASSERT_EQ(1, osfl_FollowLinks(m_program.file("loop1").c_str(), szReal, sizeof szReal));
    EXPECT_TRUE(szReal == m_program.file("loop1") || szReal == m_program.file("loop2")) << szReal;
    // A result that does not fit is no result: a cut path would name another file.
    EXPECT_EQ(0, osfl_FollowLinks(m_program.file("Flash.ini").c_str(), szReal, 8));
    EXPECT_STREQ("", szReal);
}

TEST_F(WriteThroughLinks, ALinkToAFileNotMadeYetStaysALink) {
    const std::string link = m_program.file("Flash.ini");
    ASSERT_EQ(0, ::symlink(m_data.file("Flash.ini").c_str(), link.c_str()));
    ASSERT_EQ(1, Replace(link, "first"));
    ASSERT_EQ(1, Replace(link, "second"));
    EXPECT_TRUE(IsLink(link));
    EXPECT_EQ(m_data.file("Flash.ini"), LinkTarget(link));
    EXPECT_EQ("second", ReadFile(m_data.file("Flash.ini")));
}

TEST_F(WriteThroughLinks, AReadOnlyProgramDirectoryDoesNotStopAProfileWriteThroughItsLink) {
    const std::string link = m_program.file("Flash.ini");
    ASSERT_EQ(0, ::symlink(m_data.file("Flash.ini").c_str(), link.c_str()));
    int nResult = AsOrdinaryUser([&] {
        if (::access(m_program.path().c_str(), W_OK) == 0) return 3;  // would not show the fault
        os_CreateProfileCache();
        int n = os_WritePPS("Flash", "Model", "OctaA", link.c_str());
        os_FreeReadProfile(link.c_str());
        return n == 1 ? 0 : 1;
    });
    if (nResult == 3) GTEST_SKIP() << "this user may write every directory";
    ASSERT_EQ(0, nResult);
    EXPECT_TRUE(IsLink(link));
    EXPECT_EQ("[Flash]\r\nModel = OctaA\r\n", ReadFile(m_data.file("Flash.ini")));
}

TEST_F(WriteThroughLinks, AProfileThatCannotBeRewrittenSaysSo) {
    os_CreateProfileCache();
    const std::string path = m_data.file("missing/Flash.ini");
    EXPECT_EQ(-1, os_WritePPS("Flash", "Model", "OctaA", path.c_str()));
    os_FreeReadProfile(path.c_str());
}

TEST_F(WriteThroughLinks, AFailedWriteNamesTheRealFileAndWhatToDo) {
    TempDir shared;  // as /var/lib/ravelin: of a group other than root's, writable by it
    if (::geteuid() == 0) {
        ASSERT_EQ(0, ::chown(shared.path().c_str(), 0, 20));
    }
    ASSERT_EQ(0, ::chmod(shared.path().c_str(), 02775));
    const std::string group = GroupOf(shared.path());
    ASSERT_EQ(0, ::symlink(shared.file("Flash.ini").c_str(), m_program.file("Flash.ini").c_str()));
    const std::string real = shared.file("Flash.ini");
    struct Case {
        std::string path;
        int nError;
        std::string expected;
    };
    const Case cases[] = {
        {m_program.file("Flash.ini"), EACCES,
         "cannot write " + real + ": Permission denied" + JoinHint(shared.path(), group)},
        {m_program.file("Flash.ini"), EPERM,
         "cannot write " + real + ": Operation not permitted" + JoinHint(shared.path(), group)},
        {m_program.file("other.ini"), EACCES,
         "cannot write " + m_program.file("other.ini") + ": Permission denied; ask an administrator for "
                                                         "permission to write " + m_program.path()},
        {m_program.file("Flash.ini"), EROFS,
         "cannot write " + real + ": Read-only file system; " + shared.path() +
             " is on a read-only file system: link the file to a writable place"},
        {m_program.file("Flash.ini"), ENOSPC, "cannot write " + real + ": No space left on device"},
    };
    char szText[1024];
    for (const Case &c : cases) {
        int n = osfl_DescribeWriteFailure(c.path.c_str(), c.nError, szText, sizeof szText);
        EXPECT_EQ(c.expected, szText) << c.nError;
        EXPECT_EQ(static_cast<int>(c.expected.size()), n);
    }
    // Cut to the capacity, never beyond it.
    EXPECT_EQ(9, osfl_DescribeWriteFailure(m_program.file("Flash.ini").c_str(), EACCES, szText, 10));
    EXPECT_STREQ("cannot wr", szText);

    // Without an error number the reason is found in the directory itself.
    ::chmod(m_program.path().c_str(), 0755);
    int nResult = AsOrdinaryUser([&] {
        if (::access(shared.path().c_str(), W_OK) == 0) return 3;
        char sz[1024];
        osfl_DescribeWriteFailure(m_program.file("Flash.ini").c_str(), 0, sz, sizeof sz);
        return std::string(sz) == "cannot write " + real + ": Permission denied" + JoinHint(shared.path(), group)
                   ? 0
                   : 1;
    });
    if (nResult != 3) {
        EXPECT_EQ(0, nResult);
    }
}

class LogThroughLinks : public WriteThroughLinks {
protected:
    void SetUp() override {
        WriteThroughLinks::SetUp();
        log_Close();
        os_SetExeDirForTesting(m_program.path().c_str());
        log_SetEnabled(true);
    }
    void TearDown() override {
        log_Close();
        log_SetEnabled(false);
        os_SetExeDirForTesting(nullptr);
    }
};

TEST_F(LogThroughLinks, TheLogIsWrittenWhereItsLinkPoints) {
    ASSERT_EQ(0, ::symlink(m_data.file("log.txt").c_str(), m_program.file("log.txt").c_str()));
    ASSERT_NE(nullptr, log_Open());
    log_Write(__LINE__, "test", "through the link");
    log_Close();
    EXPECT_TRUE(IsLink(m_program.file("log.txt")));
    EXPECT_NE(std::string::npos, ReadFile(m_data.file("log.txt")).find("through the link"));
    char szWhy[256] = "stale";
    EXPECT_EQ(0, log_OpenFailure(szWhy, sizeof szWhy));
    EXPECT_STREQ("", szWhy);
}

TEST_F(LogThroughLinks, ALogThatCannotBeCreatedSaysWhere) {
    ASSERT_EQ(0, ::symlink(m_data.file("gone/log.txt").c_str(), m_program.file("log.txt").c_str()));
    EXPECT_EQ(nullptr, log_Open());
    char szWhy[512];
    EXPECT_GT(log_OpenFailure(szWhy, sizeof szWhy), 0);
    EXPECT_EQ("cannot write " + m_data.file("gone/log.txt") + ": No such file or directory", std::string(szWhy));
}

}  // namespace
