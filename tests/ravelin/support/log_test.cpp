// The diagnostic log: where it goes, when it is written, what an entry looks like, and
// entries of many threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ravelin/support/log.h"
#include "ravelin/support/osclock.h"
#include "ravelin/support/oswin32.h"
#include "support_test_util.h"

using support_test::FileExists;
using support_test::ReadFile;
using support_test::ScopedChdir;
using support_test::TempDir;

namespace {

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

// Splits an entry "[HH:MM:SS][module (line)]: message"; false when the line has another shape.
bool ParseEntry(const std::string &line, std::string *pModule, int *pnLine, std::string *pMessage) {
    if (line.size() < 12 || line[0] != '[' || line[9] != ']' || line[10] != '[') return false;
    for (int i : {1, 2, 4, 5, 7, 8})
        if (!std::isdigit(static_cast<unsigned char>(line[static_cast<size_t>(i)]))) return false;
    if (line[3] != ':' || line[6] != ':') return false;
    std::string::size_type nOpen = line.find(" (", 11);
    std::string::size_type nClose = line.find(")]: ", 11);
    if (nOpen == std::string::npos || nClose == std::string::npos || nClose <= nOpen + 2) return false;
    std::string number = line.substr(nOpen + 2, nClose - nOpen - 2);
    if (number.empty() || number.find_first_not_of("-0123456789") != std::string::npos) return false;
    *pModule = line.substr(11, nOpen - 11);
    *pnLine = std::stoi(number);
    *pMessage = line.substr(nClose + 4);
    return true;
}

// Each test gets its own "executable directory" and leaves the log closed and the switch off.
class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        log_Close();
        log_SetEnabled(false);
        os_SetExeDirForTesting(m_exeDir.path().c_str());
    }
    void TearDown() override {
        log_Close();
        log_SetEnabled(false);
        os_SetExeDirForTesting(nullptr);
    }
    std::string LogPath() const { return m_exeDir.file("log.txt"); }

    TempDir m_exeDir;
};

TEST_F(LogTest, NoFileWithoutTheSwitch) {
    EXPECT_EQ(log_Open(), nullptr);
    log_Write(__LINE__, "flsh", "not written %d", 1);
    log_Flush();
    log_Close();
    EXPECT_FALSE(FileExists(LogPath()));
}

TEST_F(LogTest, ExistingLogUntouchedWithoutTheSwitch) {
    support_test::WriteFile(LogPath(), "previous run\n");
    EXPECT_EQ(log_Open(), nullptr);
    log_Write(__LINE__, "flsh", "not written");
    log_Close();
    EXPECT_EQ(ReadFile(LogPath()), "previous run\n");
}

TEST_F(LogTest, SwitchTurnedOffStopsEntries) {
    log_SetEnabled(true);
    ASSERT_NE(log_Open(), nullptr);
    log_Write(__LINE__, "ll", "kept");
    log_SetEnabled(false);
    log_Write(__LINE__, "ll", "dropped");
    log_Close();
    std::vector<std::string> lines = Lines(ReadFile(LogPath()));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("kept"), std::string::npos);
}

TEST_F(LogTest, EntryFormatWithCallersArguments) {
    log_SetEnabled(true);
    ASSERT_NE(log_Open(), nullptr);
    log_Write(1234, "urswin32", "port %s speed %d flags 0x%04X done", "COM3", 115200, 0x2a);
    LOG_WRITE("devid", "%c%s", 'x', "yz");
    log_Close();
    std::vector<std::string> lines = Lines(ReadFile(LogPath()));
    ASSERT_EQ(lines.size(), 2u);
    std::string module, message;
    int nLine = 0;
    ASSERT_TRUE(ParseEntry(lines[0], &module, &nLine, &message)) << lines[0];
    EXPECT_EQ(module, "urswin32");
    EXPECT_EQ(nLine, 1234);
    EXPECT_EQ(message, "port COM3 speed 115200 flags 0x002A done");
    ASSERT_TRUE(ParseEntry(lines[1], &module, &nLine, &message)) << lines[1];
    EXPECT_EQ(module, "devid");
    EXPECT_GT(nLine, 0);
    EXPECT_EQ(message, "xyz");
}

TEST_F(LogTest, ConversionsInModuleNameAreNotExpanded) {
    // Only the caller's format consumes the caller's arguments.
    log_SetEnabled(true);
    ASSERT_NE(log_Open(), nullptr);
    log_Write(7, "mod%s%d", "value %d", 5);
    log_Close();
    std::vector<std::string> lines = Lines(ReadFile(LogPath()));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("][mod%s%d (7)]: value 5"), std::string::npos) << lines[0];
}

TEST_F(LogTest, LongEntriesAreWrittenWhole) {
    log_SetEnabled(true);
    ASSERT_NE(log_Open(), nullptr);
    std::string longText(3000, 'L');
    log_Write(__LINE__, "cfflsh", "<%s>", longText.c_str());
    log_Close();
    std::vector<std::string> lines = Lines(ReadFile(LogPath()));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("<" + longText + ">"), std::string::npos);
}

TEST_F(LogTest, BesideTheExecutableWhateverTheWorkingDirectory) {
    TempDir elsewhere;
    ScopedChdir cd(elsewhere.path());
    ASSERT_TRUE(cd.ok());
    log_SetEnabled(true);
    ASSERT_NE(log_Open(), nullptr);
    log_Write(__LINE__, "flashinfo", "hello");
    log_Close();
    EXPECT_TRUE(FileExists(LogPath()));
    EXPECT_FALSE(FileExists(elsewhere.file("log.txt")));
}

TEST_F(LogTest, EachRunStartsAFreshFile) {
    log_SetEnabled(true);
    ASSERT_NE(log_Open(), nullptr);
    log_Write(__LINE__, "flsh", "first run");
    log_Close();
    ASSERT_NE(log_Open(), nullptr);
    log_Write(__LINE__, "flsh", "second run");
    log_Close();
    std::string text = ReadFile(LogPath());
    EXPECT_EQ(text.find("first run"), std::string::npos);
    EXPECT_NE(text.find("second run"), std::string::npos);
}

TEST_F(LogTest, NothingAfterClose) {
    log_SetEnabled(true);
    ASSERT_NE(log_Open(), nullptr);
    log_Write(__LINE__, "flsh", "before");
    log_Close();
    log_Write(__LINE__, "flsh", "after");
    log_Flush();
    EXPECT_EQ(Lines(ReadFile(LogPath())).size(), 1u);
}

TEST_F(LogTest, OpenFailureLeavesLoggingHarmless) {
    os_SetExeDirForTesting(m_exeDir.file("missing/dir").c_str());
    log_SetEnabled(true);
    EXPECT_EQ(log_Open(), nullptr);
    log_Write(__LINE__, "flsh", "nowhere to go");
    log_Flush();
    log_Close();
}

TEST_F(LogTest, AssertionHookOnlyReports) {
    long nBefore = dbg_AssertCount();
    log_SetEnabled(true);
    ASSERT_NE(log_Open(), nullptr);
    dbg_Assert("pList != NULL", "ll", 10);
    EXPECT_EQ(dbg_AssertCount(), nBefore + 1);
    log_SetAssertsLogged(true);
    DBG_ASSERT(1 + 1 == 3, "pfl");
    log_SetAssertsLogged(false);
    log_Close();
    std::vector<std::string> lines = Lines(ReadFile(LogPath()));
    ASSERT_EQ(lines.size(), 1u) << "silent unless asked to record";
    EXPECT_NE(lines[0].find("[pfl ("), std::string::npos);
    EXPECT_NE(lines[0].find("1 + 1 == 3"), std::string::npos);
    EXPECT_EQ(dbg_AssertCount(), nBefore + 2);
}

TEST_F(LogTest, EightThreadsNeverBreakALine) {
    constexpr int kThreads = 8;
    constexpr int kEntries = 400;
    log_SetEnabled(true);
    ASSERT_NE(log_Open(), nullptr);

    struct Job {
        int nThread;
        std::atomic<int> *pDone;
    };
    std::atomic<int> nDone{0};
    Job jobs[kThreads];
    for (int t = 0; t < kThreads; ++t) {
        jobs[t] = Job{t, &nDone};
        os_Thread h;
        ASSERT_EQ(os_StartThread(&h, [](void *pv) -> std::uint32_t {
                      Job *pJob = static_cast<Job *>(pv);
                      // Entries long enough to straddle the stream's buffer boundaries.
                      std::string payload(150 + pJob->nThread * 37, static_cast<char>('a' + pJob->nThread));
                      for (int i = 0; i < kEntries; ++i)
                          log_Write(__LINE__, "flsh", "thread %d entry %d %s end", pJob->nThread, i, payload.c_str());
                      pJob->pDone->fetch_add(1);
                      return 0;
                  }, 0, &jobs[t]), 1);
    }
    std::int64_t nDeadline = os_MonotonicMs() + 120000;
    while (nDone.load() < kThreads && os_MonotonicMs() < nDeadline) os_SleepMs(5);
    ASSERT_EQ(nDone.load(), kThreads);
    log_Close();

    std::vector<std::string> lines = Lines(ReadFile(LogPath()));
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kEntries));
    std::map<int, int> nextEntry;
    for (const std::string &line : lines) {
        std::string module, message;
        int nLine = 0;
        ASSERT_TRUE(ParseEntry(line, &module, &nLine, &message)) << "broken line: " << line.substr(0, 120);
        ASSERT_EQ(module, "flsh") << line.substr(0, 120);
        std::istringstream in(message);
        std::string wThread, wEntry, payload, wEnd, extra;
        int t = -1, i = -1;
        in >> wThread >> t >> wEntry >> i >> payload >> wEnd;
        ASSERT_TRUE(wThread == "thread" && wEntry == "entry" && wEnd == "end" && !(in >> extra))
            << "broken line: " << line.substr(0, 120);
        ASSERT_TRUE(t >= 0 && t < kThreads);
        EXPECT_EQ(payload, std::string(150 + t * 37, static_cast<char>('a' + t)));
        EXPECT_EQ(i, nextEntry[t]) << "a thread's entries keep their order";
        nextEntry[t] = i + 1;
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(nextEntry[t], kEntries);
}

}  // namespace
