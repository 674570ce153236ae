// Operating-system layer: files, directory search, mutexes, threads, the executable's
// directory, and the clock module.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "ravelin/support/osclock.h"
#include "ravelin/support/oswin32.h"
#include "support_test_util.h"

using support_test::FileExists;
using support_test::ReadFile;
using support_test::ScopedChdir;
using support_test::TempDir;
using support_test::WriteFile;

namespace {

// When started with RAVSUP_PRINT_TIME_SCALE set, this program only prints the time scale it
// reads from its environment (twice, the second time after changing the variable) and ends
// before any test runs. The clock tests below start it that way.
const bool g_bTimeScaleChild = [] {
    if (std::getenv("RAVSUP_PRINT_TIME_SCALE") == nullptr) return false;
    std::printf("%g\n", os_TimeScale());
    ::setenv("SUITE_TIME_SCALE", "7", 1);
    std::printf("%g\n", os_TimeScale());
    std::fflush(stdout);
    std::_Exit(0);
}();

// Waits (generously) until the predicate holds.
template <typename Pred>
bool WaitFor(Pred pred, std::int64_t nMs = 60000) {
    std::int64_t nDeadline = os_MonotonicMs() + nMs;
    while (!pred()) {
        if (os_MonotonicMs() > nDeadline) return false;
        os_SleepMs(2);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Files

TEST(Files, OpenNeverCreatesAndCreateEmpties) {
    TempDir dir;
    std::string path = dir.file("data.bin");
    EXPECT_EQ(osfl_Open(path.c_str(), osfl_kRead), osfl_kInvalidHandle);
    EXPECT_FALSE(FileExists(path));

    osfl_Handle h = osfl_Create(path.c_str(), osfl_kAttrNormal);
    ASSERT_NE(h, osfl_kInvalidHandle);
    EXPECT_EQ(osfl_Write(h, "hello world", 11), 11);
    EXPECT_EQ(osfl_Size(h), 11);
    EXPECT_EQ(osfl_Tell(h), 11);
    EXPECT_EQ(osfl_Seek(h, 6, osfl_kSeekStart), 6);
    char buf[16] = {};
    EXPECT_EQ(osfl_Read(h, buf, 16), 5);
    EXPECT_STREQ(buf, "world");
    EXPECT_EQ(osfl_Read(h, buf, 16), 0) << "end of file";
    EXPECT_EQ(osfl_Seek(h, -5, osfl_kSeekEnd), 6);
    EXPECT_EQ(osfl_Seek(h, -2, osfl_kSeekCurrent), 4);
    EXPECT_EQ(osfl_Close(h), 1);

    h = osfl_Create(path.c_str(), osfl_kAttrNormal);
    EXPECT_EQ(osfl_Size(h), 0) << "create empties an existing file";
    osfl_Close(h);

    h = osfl_Open(path.c_str(), osfl_kRead);
    EXPECT_EQ(osfl_Write(h, "x", 1), 0) << "read access refuses writes";
    osfl_Close(h);
    h = osfl_Open(path.c_str(), osfl_kReadWrite);
    EXPECT_EQ(osfl_Write(h, "xyz", 3), 3);
    osfl_Close(h);
    EXPECT_EQ(ReadFile(path), "xyz");

    EXPECT_EQ(osfl_Delete(path.c_str()), 0);
    EXPECT_NE(osfl_Delete(path.c_str()), 0);
    EXPECT_EQ(osfl_Read(osfl_kInvalidHandle, buf, 1), osfl_kError);
    EXPECT_EQ(osfl_Size(osfl_kInvalidHandle), -1);
}

// ---------------------------------------------------------------------------------------------
// Directory search

std::set<std::string> FindAll(const char *pszDir, const char *pszPattern,
                              std::set<std::string> *pDirs = nullptr) {
    std::set<std::string> names;
    osfl_FindState state;
    for (bool b = osfl_FindFirst(pszDir, pszPattern, &state); b; b = osfl_FindNext(&state)) {
        char sz[os_kPathLen];
        osfl_FoundName(&state, sz, sizeof sz);
        if (osfl_FoundAttributes(&state) & osfl_kAttrDirectory) {
            if (pDirs) pDirs->insert(sz);
        } else {
            names.insert(sz);
        }
    }
    osfl_FindClose(&state);
    return names;
}

class FindTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char *pszName : {"a.hex", "B.HEX", "c.Hex", "d.txt", "hex", "e.hexx"})
            WriteFile(m_dir.file(pszName), "x");
        ASSERT_EQ(::mkdir(m_dir.file("sub.hex").c_str(), 0700), 0);
    }
    TempDir m_dir;
};

TEST_F(FindTest, ExtensionMatchesWithoutCaseAndMarksDirectories) {
    std::set<std::string> dirs;
    EXPECT_EQ(FindAll(m_dir.path().c_str(), "*.hex", &dirs), (std::set<std::string>{"a.hex", "B.HEX", "c.Hex"}));
    EXPECT_EQ(dirs, std::set<std::string>{"sub.hex"});
    EXPECT_EQ(FindAll(m_dir.path().c_str(), "*.TXT"), std::set<std::string>{"d.txt"});
    EXPECT_TRUE(FindAll(m_dir.path().c_str(), "*.bin").empty());
}

TEST_F(FindTest, TrailingSeparatorIsNotDoubled) {
    std::string withSlash = m_dir.path() + "/";
    EXPECT_EQ(FindAll(withSlash.c_str(), "*.txt"), std::set<std::string>{"d.txt"});
    std::string withBackslash = m_dir.path() + "\\";
    EXPECT_EQ(FindAll(withBackslash.c_str(), "*.txt"), std::set<std::string>{"d.txt"});
}

TEST_F(FindTest, EmptyDirectorySearchesThePatternAlone) {
    ScopedChdir cd(m_dir.path());
    ASSERT_TRUE(cd.ok());
    EXPECT_EQ(FindAll("", "*.HEX"), (std::set<std::string>{"a.hex", "B.HEX", "c.Hex"}));
}

TEST_F(FindTest, NothingFoundAndOverlongPaths) {
    osfl_FindState state;
    EXPECT_FALSE(osfl_FindFirst(m_dir.file("absent").c_str(), "*.hex", &state));
    osfl_FindClose(&state);
    std::string longDir(300, 'x');
    EXPECT_FALSE(osfl_FindFirst(longDir.c_str(), "*.hex", &state));
    osfl_FindClose(&state);
}

// ---------------------------------------------------------------------------------------------
// Mutexes and threads

struct LockProbe {
    os_Mutex hMutex;
    std::atomic<bool> bAcquired{false};
    std::atomic<bool> bFinished{false};
};

TEST(Mutex, OwnerMayLockAgainAndOthersWaitForTheLastUnlock) {
    LockProbe probe;
    ASSERT_NE(os_CreateMutex(&probe.hMutex), nullptr);
    ASSERT_EQ(os_LockMutex(probe.hMutex), 1);
    ASSERT_EQ(os_LockMutex(probe.hMutex), 1) << "a second lock by the owner must not block";

    os_Thread h;
    ASSERT_EQ(os_StartThread(&h, [](void *pv) -> std::uint32_t {
                  LockProbe *p = static_cast<LockProbe *>(pv);
                  os_LockMutex(p->hMutex);
                  p->bAcquired = true;
                  os_UnlockMutex(p->hMutex);
                  p->bFinished = true;
                  return 0;
              }, 0, &probe), 1);
    EXPECT_NE(h, 0u);
    os_SleepMs(50);
    EXPECT_FALSE(probe.bAcquired.load());
    os_UnlockMutex(probe.hMutex);
    os_SleepMs(50);
    EXPECT_FALSE(probe.bAcquired.load()) << "one unlock of two still owns the mutex";
    os_UnlockMutex(probe.hMutex);
    EXPECT_TRUE(WaitFor([&] { return probe.bAcquired.load(); }));
    ASSERT_TRUE(WaitFor([&] { return probe.bFinished.load(); }));
    os_DestroyMutex(probe.hMutex);
}

struct StackProbe {
    void *pArg;
    std::atomic<size_t> nStack{0};
    std::atomic<bool> bDone{false};
    void *pSeenArg = nullptr;
};

std::uint32_t MeasureStack(void *pv) {
    StackProbe *p = static_cast<StackProbe *>(pv);
    p->pSeenArg = pv;
    // Use a good part of the minimum stack to prove it is really there.
    volatile char buffer[160 * 1024];
    for (size_t i = 0; i < sizeof buffer; i += 4096) buffer[i] = static_cast<char>(i);
    pthread_attr_t attr;
    size_t nSize = 0;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        pthread_attr_getstacksize(&attr, &nSize);
        pthread_attr_destroy(&attr);
    }
    p->nStack = nSize + (buffer[4096] & 0);
    p->bDone = true;
    return 0;
}

TEST(Threads, SmallStackRequestsGetAtLeastTheMinimum) {
    StackProbe small;
    os_Thread h = 0;
    ASSERT_EQ(os_StartThread(&h, MeasureStack, 12000, &small), 1);
    ASSERT_TRUE(WaitFor([&] { return small.bDone.load(); }));
    EXPECT_EQ(small.pSeenArg, &small) << "the argument reaches the start routine";
    EXPECT_GE(small.nStack.load(), static_cast<size_t>(os_kMinThreadStack));

    StackProbe large;
    ASSERT_EQ(os_StartThread(&h, MeasureStack, 4 * 1024 * 1024, &large), 1);
    ASSERT_TRUE(WaitFor([&] { return large.bDone.load(); }));
    EXPECT_GE(large.nStack.load(), static_cast<size_t>(4 * 1024 * 1024));

    EXPECT_EQ(os_StartThread(&h, nullptr, 0, nullptr), 0);
    EXPECT_EQ(h, 0u);
}

// ---------------------------------------------------------------------------------------------
// Beside the executable

std::string RealDir(const std::string &path) {
    char sz[PATH_MAX];
    return ::realpath(path.c_str(), sz) ? std::string(sz) + "/" : std::string();
}

TEST(ExeDir, IsTheDirectoryOfThisTestProgram) {
    char sz[4096];
    ASSERT_GT(os_GetRealExeDir(sz, sizeof sz), 0);
    EXPECT_EQ(std::string(sz), RealDir(SUITE_BIN_DIR));
    os_SetExeDirForTesting(nullptr);
    char szPlain[4096];
    ASSERT_GT(os_GetExeDir(szPlain, sizeof szPlain), 0);
    EXPECT_STREQ(szPlain, sz);
    char szTiny[4];
    EXPECT_EQ(os_GetRealExeDir(szTiny, sizeof szTiny), 0) << "a directory that does not fit is no answer";
}

TEST(ExeDir, OverrideAndLookupByName) {
    TempDir dir;
    WriteFile(dir.file("Models.ini"), "m");
    WriteFile(dir.file("LOCKS.INI"), "l");
    os_SetExeDirForTesting(dir.path().c_str());
    char sz[4096];
    ASSERT_GT(os_GetExeDir(sz, sizeof sz), 0);
    EXPECT_EQ(std::string(sz), dir.path() + "/");

    EXPECT_EQ(os_FindBesideExe("Models.ini", sz, sizeof sz), 1);
    EXPECT_EQ(std::string(sz), dir.file("Models.ini"));
    EXPECT_EQ(os_FindBesideExe("Locks.ini", sz, sizeof sz), 1) << "found without regard to case";
    EXPECT_EQ(std::string(sz), dir.file("LOCKS.INI"));
    EXPECT_EQ(os_FindBesideExe("Flash.ini", sz, sizeof sz), 0);
    EXPECT_EQ(std::string(sz), dir.file("Flash.ini")) << "the exact name is where it would be made";

    os_SetExeDirForTesting(nullptr);
    ASSERT_GT(os_GetExeDir(sz, sizeof sz), 0);
    EXPECT_EQ(std::string(sz), RealDir(SUITE_BIN_DIR));
}

// ---------------------------------------------------------------------------------------------
// Clock

TEST(Clock, ScaledDurations) {
    double dOld = os_TimeScale();
    os_SetTimeScaleForTesting(0.1);
    EXPECT_EQ(os_ScaleMs(1000), 100);
    EXPECT_EQ(os_ScaleMs(3), 1) << "a positive duration never becomes 0";
    EXPECT_EQ(os_ScaleMs(0), 0);
    os_SetTimeScaleForTesting(-2);
    EXPECT_EQ(os_TimeScale(), 1.0) << "a scale not above 0 means 1";
    os_SetTimeScaleForTesting(2.5);
    EXPECT_EQ(os_ScaleMs(100), 250);
    os_SetTimeScaleForTesting(dOld);
}

// The scale this test program reads from SUITE_TIME_SCALE (nullptr: unset), twice.
std::string TimeScaleOfChild(const char *pszValue) {
    char szExe[4096];
    ssize_t n = ::readlink("/proc/self/exe", szExe, sizeof szExe - 1);
    if (n <= 0) return "no exe";
    szExe[n] = '\0';
    std::string command = "env ";
    command += pszValue ? std::string("SUITE_TIME_SCALE='") + pszValue + "' " : "-u SUITE_TIME_SCALE ";
    command += "RAVSUP_PRINT_TIME_SCALE=1 ";
    command += std::string("'") + szExe + "'";
    FILE *pPipe = ::popen(command.c_str(), "r");
    if (pPipe == nullptr) return "no pipe";
    std::string out;
    char buf[256];
    while (std::fgets(buf, sizeof buf, pPipe) != nullptr) out += buf;
    ::pclose(pPipe);
    return out;
}

TEST(Clock, ScaleFromEnvironmentReadOnce) {
    (void)g_bTimeScaleChild;
    EXPECT_EQ(TimeScaleOfChild("0.1"), "0.1\n0.1\n") << "read once: a later change is not seen";
    EXPECT_EQ(TimeScaleOfChild("2.5"), "2.5\n2.5\n");
    EXPECT_EQ(TimeScaleOfChild(nullptr), "1\n1\n");
    EXPECT_EQ(TimeScaleOfChild(""), "1\n1\n");
    EXPECT_EQ(TimeScaleOfChild("fast"), "1\n1\n");
    EXPECT_EQ(TimeScaleOfChild("0.5x"), "1\n1\n");
    EXPECT_EQ(TimeScaleOfChild("0"), "1\n1\n");
    EXPECT_EQ(TimeScaleOfChild("-3"), "1\n1\n");
}

}  // namespace
