// The port check behind the front ends' "why can this port not be used" messages and the port
// listing: each obstacle a user meets, made real on this machine.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "fixtures/sim_bank_fixture.h"
#include "pty_pair.h"
#include "ravelin/serial/urs_portcheck.h"
#include "ravelin/serial/urswin32.h"

namespace {

std::string Describe(const UrsPortCheck &check)
{
    char szText[512];
    urs_DescribePortCheck(&check, szText, sizeof szText);
    return szText;
}

class UrsPortCheckTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szTemplate[] = "/tmp/urs_check_XXXXXX";
        ASSERT_NE(mkdtemp(szTemplate), nullptr);
        m_dir = szTemplate;
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::string m_dir;
};

TEST_F(UrsPortCheckTest, MissingEntryOfThePortsDirectoryIsNoSuchPort)
{
    modemsim_testing::ScopedEnv env("SERIAL_PORTS_DIR", m_dir);
    UrsPortCheck check;
    EXPECT_EQ(urs_CheckPort("\\\\.\\COM9", false, &check), urs_kPortMissing);
    EXPECT_FALSE(check.bExists);
    EXPECT_EQ(std::string(check.szPath), m_dir + "/COM9");
    EXPECT_EQ(Describe(check), "no such port: " + m_dir + "/COM9 does not exist (SERIAL_PORTS_DIR=" + m_dir +
                                   " has no such entry)");

    // A link to a device that has gone is no port either.
    ASSERT_EQ(symlink((m_dir + "/gone").c_str(), (m_dir + "/COM9").c_str()), 0);
    EXPECT_EQ(urs_CheckPort("\\\\.\\COM9", false, &check), urs_kPortMissing);
}

TEST_F(UrsPortCheckTest, WhatIsNoSerialLineSaysWhatItIs)
{
    std::string file = m_dir + "/plain";
    close(open(file.c_str(), O_CREAT | O_WRONLY, 0644));
    struct Case {
        std::string path;
        const char *pszWhat;
    } cases[] = {{m_dir, "a directory"}, {file, "not a device"}, {"/dev/null", "a device without serial line settings"}};
    for (const Case &c : cases) {
        UrsPortCheck check;
        EXPECT_EQ(urs_CheckPort(("\\\\.\\" + c.path).c_str(), false, &check), urs_kPortNotSerial) << c.path;
        EXPECT_TRUE(check.bExists);
        EXPECT_EQ(Describe(check), "not a serial line: " + c.path + " is " + c.pszWhat);
    }
}

TEST_F(UrsPortCheckTest, HeldPortNamesItsHolderAndAFreePortIsUsableAgainAfterTheCheck)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    UrsPortCheck check;
    EXPECT_EQ(urs_CheckPort(pty.DevicePath().c_str(), false, &check), urs_kPortUsable);
    EXPECT_TRUE(check.bCharDevice);
    EXPECT_EQ(check.nMode & 0600u, 0600u);

    // The check let go of the port: the program can open it, and then the check finds it held.
    UrsPort port{};
    ASSERT_EQ(urs_OpenPort(&port, pty.DevicePath().c_str()), URS_OK);
    EXPECT_EQ(urs_CheckPort(pty.DevicePath().c_str(), false, &check), urs_kPortInUse);
    EXPECT_EQ(check.nHolderPid, static_cast<long>(getpid()));
    EXPECT_EQ(Describe(check), "in use by process " + std::to_string(getpid()) + " (" + check.szHolderName +
                                   "); end it or wait until it lets go");
    urs_ClosePort(&port);
    EXPECT_EQ(urs_CheckPort(pty.DevicePath().c_str(), false, &check), urs_kPortUsable);
}

// A port this user may not open: as root, a child process that has given up root; otherwise the
// device's permissions taken away.
TEST_F(UrsPortCheckTest, PermissionDeniedNamesTheGroupToJoin)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    bool bRoot = geteuid() == 0;
    if (!bRoot) {
        ASSERT_EQ(chmod(pty.SlavePath().c_str(), 0), 0);
    }
    int ahPipe[2];
    ASSERT_EQ(pipe(ahPipe), 0);
    pid_t pid = fork();
    if (pid == 0) {
        close(ahPipe[0]);
        if (bRoot && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(99);
        UrsPortCheck check;
        int nState = urs_CheckPort(pty.DevicePath().c_str(), false, &check);
        char szText[512];
        urs_DescribePortCheck(&check, szText, sizeof szText);
        if (write(ahPipe[1], szText, std::strlen(szText)) < 0) _exit(98);
        _exit(nState);
    }
    close(ahPipe[1]);
    std::string text;
    char achBuffer[256];
    for (ssize_t n; (n = read(ahPipe[0], achBuffer, sizeof achBuffer)) > 0;) text.append(achBuffer, n);
    close(ahPipe[0]);
    int nStatus = 0;
    ASSERT_EQ(waitpid(pid, &nStatus, 0), pid);
    ASSERT_TRUE(WIFEXITED(nStatus));
    EXPECT_EQ(WEXITSTATUS(nStatus), urs_kPortDenied);
    UrsPortCheck mine;
    urs_CheckPort(pty.DevicePath().c_str(), false, &mine);
    char szMode[8];
    std::snprintf(szMode, sizeof szMode, "%04o", mine.nMode);
    std::string expected = "permission denied: " + pty.SlavePath() + " belongs to group " + mine.szGroup + " (mode " +
                           szMode + "); join that group (sudo usermod -aG " + mine.szGroup + " $USER) and log in again";
    EXPECT_EQ(text, expected);
}

// A process under the modem manager's name is found; none is found once it has ended.
TEST_F(UrsPortCheckTest, FindsARunningModemManager)
{
    char szName[64] = "";
    std::string fake = m_dir + "/ModemManager";
    std::filesystem::copy_file("/bin/sleep", fake);
    chmod(fake.c_str(), 0755);
    pid_t pid = fork();
    if (pid == 0) {
        execl(fake.c_str(), "ModemManager", "30", static_cast<char *>(nullptr));
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    long nFound = 0;
    for (int i = 0; i < 200 && nFound != pid; ++i) {
        nFound = urs_FindModemManager(szName, sizeof szName);
        if (nFound != pid) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(nFound, static_cast<long>(pid));
    EXPECT_STREQ(szName, "ModemManager");
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    EXPECT_NE(urs_FindModemManager(szName, sizeof szName), static_cast<long>(pid));
}

}  // namespace

namespace {

// The listing shows where a COM link leads as the kernel would resolve it, also for udev's relative
// links ("../../ttyUSB4" from /dev/serial/com), which must come out without any "..".
TEST_F(UrsPortCheckTest, FollowLinksEndsWhereTheKernelWouldWithoutDots)
{
    namespace fs = std::filesystem;
    fs::create_directories(m_dir + "/serial/com");
    fs::create_directories(m_dir + "/serial/by-id");
    std::FILE *pNode = std::fopen((m_dir + "/ttyUSB4").c_str(), "w");
    ASSERT_NE(nullptr, pNode);
    std::fclose(pNode);
    fs::create_symlink("../../ttyUSB4", m_dir + "/serial/com/COM5");
    fs::create_symlink("../com/./COM5", m_dir + "/serial/by-id/adapter");
    fs::create_symlink(m_dir + "/serial/by-id/adapter", m_dir + "/COM7");
    struct Case {
        std::string path, expected;
    };
    const Case cases[] = {
        {m_dir + "/serial/com/COM5", m_dir + "/ttyUSB4"},
        {m_dir + "/serial/by-id/adapter", m_dir + "/ttyUSB4"},
        {m_dir + "/COM7", m_dir + "/ttyUSB4"},
        {m_dir + "/ttyUSB4", m_dir + "/ttyUSB4"},
        {m_dir + "/serial/../ttyUSB4", m_dir + "/ttyUSB4"},
    };
    for (const Case &c : cases) {
        char szReal[4096];
        ASSERT_TRUE(urs_FollowLinks(c.path.c_str(), szReal, sizeof szReal)) << c.path;
        EXPECT_EQ(c.expected, std::string(szReal)) << c.path;
    }
    char szSmall[8];
    EXPECT_FALSE(urs_FollowLinks((m_dir + "/COM7").c_str(), szSmall, sizeof szSmall)) << "does not fit";
}

}  // namespace
