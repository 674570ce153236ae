#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "ravelin/serial/urs_names.h"

namespace {

std::string LogName(const char *pszPath)
{
    char szName[201];
    urs_LogNameOf(pszPath, szName, sizeof szName);
    return szName;
}

std::string Resolve(const char *pszName)
{
    char szPath[512];
    EXPECT_TRUE(urs_ResolvePortPath(pszName, szPath, sizeof szPath));
    return szPath;
}

TEST(UrsNames, LogNameAndPortNumberComeFromTheDevicePath)
{
    EXPECT_EQ(LogName("\\\\.\\COM12"), "COM12");
    EXPECT_EQ(urs_PortNumberOf("\\\\.\\COM12"), 12u);
    EXPECT_EQ(urs_PortNumberOf("\\\\.\\COM3"), 3u);
    EXPECT_EQ(LogName("\\\\.\\/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(urs_PortNumberOf("\\\\.\\/dev/ttyUSB0"), 0u);
    EXPECT_EQ(LogName("/dev/pts/4"), "/dev/pts/4");

    // The name is cut to its capacity, never overflowing.
    std::string longPath = "\\\\.\\/" + std::string(300, 'd');
    char szName[201];
    urs_LogNameOf(longPath.c_str(), szName, sizeof szName);
    EXPECT_EQ(std::string(szName), "/" + std::string(199, 'd'));
}

class UrsPortsDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szTemplate[] = "/tmp/urs_ports_XXXXXX";
        ASSERT_NE(mkdtemp(szTemplate), nullptr);
        m_dir = szTemplate;
        const char *pszOld = getenv("SERIAL_PORTS_DIR");
        m_bHadOld = pszOld != nullptr;
        if (m_bHadOld)
            m_old = pszOld;
    }
    void TearDown() override
    {
        unlink((m_dir + "/COM7").c_str());
        rmdir(m_dir.c_str());
        if (m_bHadOld)
            setenv("SERIAL_PORTS_DIR", m_old.c_str(), 1);
        else
            unsetenv("SERIAL_PORTS_DIR");
    }
    std::string m_dir, m_old;
    bool m_bHadOld = false;
};

TEST_F(UrsPortsDir, WithTheDirectorySetComNIsItsEntryAndNothingElse)
{
    unsetenv("SERIAL_PORTS_DIR");
    EXPECT_EQ(Resolve("COM1"), "/dev/ttyS0");
    EXPECT_EQ(Resolve("COM36"), "/dev/ttyS35");
    setenv("SERIAL_PORTS_DIR", "", 1);
    EXPECT_EQ(Resolve("COM2"), "/dev/ttyS1") << "an empty variable is no directory";

    // A missing entry is a port that does not exist: never the machine's own /dev/ttyS6.
    setenv("SERIAL_PORTS_DIR", m_dir.c_str(), 1);
    EXPECT_EQ(Resolve("COM7"), m_dir + "/COM7");
    ASSERT_EQ(symlink("/dev/pts/nonexistent", (m_dir + "/COM7").c_str()), 0);
    EXPECT_EQ(Resolve("COM7"), m_dir + "/COM7");
    EXPECT_EQ(Resolve("com8"), m_dir + "/COM8");
    EXPECT_EQ(Resolve("/dev/ttyUSB0"), "/dev/ttyUSB0");
}

// Every front end reads what the user typed through this one parser.
TEST(UrsNames, ParsePortNameAcceptsEveryFormAndRefusesTheRest)
{
    struct Case {
        const char *pszText;
        int nNumber;              // -1: refused
        const char *pszDevicePath;
    };
    const Case cases[] = {
        {"COM3", 3, "\\\\.\\COM3"},
        {"Com3", 3, "\\\\.\\COM3"},
        {"com12", 12, "\\\\.\\COM12"},
        {"3", 3, "\\\\.\\COM3"},
        {"036", 36, "\\\\.\\COM36"},
        {"COM03", 3, "\\\\.\\COM3"},
        {"999", 999, "\\\\.\\COM999"},
        {"\\\\.\\COM5", 5, "\\\\.\\COM5"},
        {"/dev/ttyUSB0", 0, "\\\\.\\/dev/ttyUSB0"},
        {"\\\\.\\/dev/ttyUSB1", 0, "\\\\.\\/dev/ttyUSB1"},
        {"COM0", -1, ""},
        {"0", -1, ""},
        {"1000", -1, ""},
        {"COM99999999999", -1, ""},
        {"COM", -1, ""},
        {"", -1, ""},
        {"LPT1", -1, ""},
        {"COM3x", -1, ""},
        {"-3", -1, ""},
        {"ttyUSB0", -1, ""},
    };
    for (const Case &c : cases) {
        char szPath[64] = "untouched";
        int nNumber = urs_ParsePortName(c.pszText, szPath, sizeof szPath);
        EXPECT_EQ(nNumber, c.nNumber) << c.pszText;
        if (c.nNumber >= 0) {
            EXPECT_STREQ(szPath, c.pszDevicePath) << c.pszText;
        }
    }

    // A device path that does not fit its buffer is refused, not cut.
    char szSmall[8];
    EXPECT_EQ(urs_ParsePortName("COM12", szSmall, sizeof szSmall), -1);  // its device path needs 10 bytes
    EXPECT_EQ(urs_ParsePortName("/dev/ttyUSB0", szSmall, sizeof szSmall), -1);
}

}  // namespace
