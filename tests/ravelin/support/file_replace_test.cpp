// Replacing files whole: the new content takes the old one's place only when complete, keeping the
// file's mode; profile writes go through it.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>

#include "ravelin/support/oswin32.h"
#include "ravelin/support/pfl.h"
#include "support_test_util.h"

using support_test::FileExists;
using support_test::ReadFile;
using support_test::TempDir;
using support_test::WriteFile;

namespace {

int EntriesIn(const std::string &dir) {
    int n = 0;
    if (DIR *pDir = ::opendir(dir.c_str())) {
        while (struct dirent *pEntry = ::readdir(pDir))
            if (std::string(pEntry->d_name) != "." && std::string(pEntry->d_name) != "..") ++n;
        ::closedir(pDir);
    }
    return n;
}

mode_t ModeOf(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Writes text as the new content of path through a replacement; commits it or drops it.
int Replace(const std::string &path, const std::string &text, bool bCommit, int *pnError = nullptr) {
    osfl_Replacement rep;
    if (!osfl_BeginReplace(&rep, path.c_str())) {
        if (pnError != nullptr) *pnError = rep.nError;
        return 0;
    }
    if (osfl_Write(rep.hFile, text.data(), static_cast<int>(text.size())) != static_cast<int>(text.size())) {
        osfl_AbandonReplace(&rep);
        return 0;
    }
    if (!bCommit) {
        osfl_AbandonReplace(&rep);
        return 1;
    }
    int nOk = osfl_CommitReplace(&rep);
    if (pnError != nullptr) *pnError = rep.nError;
    return nOk;
}

TEST(FileReplace, CommitReplacesTheContentAndKeepsTheMode) {
    TempDir dir;
    std::string path = dir.file("Flash.ini");
    WriteFile(path, "old content that is longer than the new one\r\n");
    ASSERT_EQ(0, ::chmod(path.c_str(), 0640));
    ASSERT_EQ(1, Replace(path, "new\r\n", true));
    EXPECT_EQ("new\r\n", ReadFile(path));
    EXPECT_EQ(0640u, ModeOf(path));
    EXPECT_EQ(1, EntriesIn(dir.path())) << "no temporary file left behind";

    // A new file gets the mode every newly created file gets.
    mode_t nMask = ::umask(0);
    ::umask(nMask);
    std::string fresh = dir.file("new.ini");
    ASSERT_EQ(1, Replace(fresh, "x", true));
    EXPECT_EQ("x", ReadFile(fresh));
    EXPECT_EQ(0666u & ~nMask, ModeOf(fresh));
}

TEST(FileReplace, AbandonLeavesTheTargetAsItWas) {
    TempDir dir;
    std::string path = dir.file("keep.hex");
    WriteFile(path, "precious");
    ASSERT_EQ(1, Replace(path, "half-writ", false));
    EXPECT_EQ("precious", ReadFile(path));
    EXPECT_EQ(1, EntriesIn(dir.path()));

    std::string missing = dir.file("never.hex");
    ASSERT_EQ(1, Replace(missing, "nothing", false));
    EXPECT_FALSE(FileExists(missing));
    EXPECT_EQ(1, EntriesIn(dir.path()));
}

TEST(FileReplace, ALinkKeepsPointingAtTheFileItNames) {
    TempDir dir;
    std::string target = dir.file("real.ini"), link = dir.file("link.ini");
    WriteFile(target, "old");
    ASSERT_EQ(0, ::symlink("real.ini", link.c_str()));
    ASSERT_EQ(1, Replace(link, "new", true));
    struct stat st;
    ASSERT_EQ(0, ::lstat(link.c_str(), &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ("new", ReadFile(target));
    EXPECT_EQ(2, EntriesIn(dir.path()));
}

TEST(FileReplace, TargetsThatCannotBeReplaced) {
    TempDir dir;
    int nError = 0;
    EXPECT_EQ(0, Replace(dir.file("no/such/dir.ini"), "x", true, &nError));
    EXPECT_EQ(ENOENT, nError);
    EXPECT_EQ(0, Replace(dir.path(), "x", true, &nError));
    EXPECT_EQ(EISDIR, nError);
    // A device is written into, never renamed over.
    EXPECT_EQ(1, Replace("/dev/null", "discarded", true));
    struct stat st;
    ASSERT_EQ(0, ::stat("/dev/null", &st));
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// Keeps every file this process writes below nBytes for one scope: writes past it fail (EFBIG)
// the way they fail on a full disk.
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(rlim_t nBytes) {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        struct rlimit limit = m_old;
        limit.rlim_cur = nBytes;
        m_bSet = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~ScopedFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    bool set() const { return m_bSet; }

private:
    struct rlimit m_old {};
    void (*m_oldHandler)(int) = nullptr;
    bool m_bSet = false;
};

TEST(FileReplace, AProfileWriteThatFailsLeavesTheOldProfile) {
    TempDir dir;
    std::string path = dir.file("Flash.ini");
    const std::string old = "[Developer]\r\nPort = 3\r\nImage = A.HEX\r\n";
    WriteFile(path, old);
    ASSERT_EQ(0, ::chmod(path.c_str(), 0600));
    ll_List *pProfile = pfl_ReadProfile(nullptr, path.c_str());
    ASSERT_NE(nullptr, pProfile);
    // Enough entries that the profile no longer fits below the limit.
    for (int i = 0; i < 200; ++i)
        pfl_SetString(pProfile, "Developer", ("Key" + std::to_string(i)).c_str(), "a value of some length");
    {
        ScopedFileSizeLimit limit(1024);
        ASSERT_TRUE(limit.set());
        EXPECT_EQ(0, pfl_WriteProfile(pProfile, path.c_str()));
    }
    EXPECT_EQ(old, ReadFile(path)) << "the failed write must not cut the profile short";
    EXPECT_EQ(1, EntriesIn(dir.path()));

    // Without the limit the same write succeeds, and the file keeps its mode.
    EXPECT_EQ(1, pfl_WriteProfile(pProfile, path.c_str()));
    std::string written = ReadFile(path);
    EXPECT_GT(written.size(), 1024u);
    EXPECT_NE(std::string::npos, written.find("Key199 = a value of some length\r\n"));
    EXPECT_EQ(0600u, ModeOf(path));
    pfl_FreeProfile(pProfile);
}

}  // namespace
