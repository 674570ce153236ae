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

TEST_F(UrsPortsDir, ComPortIsTheDirectoryEntryWhenPresentElseTtyS)
{
    unsetenv("SERIAL_PORTS_DIR");
    EXPECT_EQ(Resolve("COM1"), "/dev/ttyS0");
    EXPECT_EQ(Resolve("COM36"), "/dev/ttyS35");

    setenv("SERIAL_PORTS_DIR", m_dir.c_str(), 1);
    EXPECT_EQ(Resolve("COM7"), "/dev/ttyS6");  // no entry yet

    // A link whose target has gone still names this port: opening it must fail rather than fall
    // back to some other device.
    ASSERT_EQ(symlink("/dev/pts/nonexistent", (m_dir + "/COM7").c_str()), 0);
    EXPECT_EQ(Resolve("COM7"), m_dir + "/COM7");
    EXPECT_EQ(Resolve("COM8"), "/dev/ttyS7");
    EXPECT_EQ(Resolve("/dev/ttyUSB0"), "/dev/ttyUSB0");
}

}  // namespace
