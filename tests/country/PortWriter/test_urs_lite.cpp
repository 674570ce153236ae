// The country program's cut-down serial layer: quiet close and forget.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "country/PortWriter/UrsLite.h"

namespace {

bool IsOpen(int fd)
{
    return fcntl(fd, F_GETFD) != -1 || errno != EBADF;
}

// A pseudo-terminal pair; the record holds the slave as the country program's port would.
class UrsLiteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_hMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(m_hMaster, 0);
        ASSERT_EQ(grantpt(m_hMaster), 0);
        ASSERT_EQ(unlockpt(m_hMaster), 0);
        char szName[128];
        ASSERT_EQ(ptsname_r(m_hMaster, szName, sizeof szName), 0);
        int hSlave = open(szName, O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(hSlave, 0);
        m_port = UrsLite::UrsPort{};
        m_port.hPort = hSlave;
        m_port.nPortNumber = 4;
    }
    void TearDown() override
    {
        if (m_port.hPort >= 0 && IsOpen(m_port.hPort))
            close(m_port.hPort);
        close(m_hMaster);
    }

    // The device side sees the line hang up once the host has closed its end.
    bool DeviceSeesHangup()
    {
        struct pollfd pfd = {m_hMaster, POLLIN, 0};
        return poll(&pfd, 1, 2000) == 1 && (pfd.revents & POLLHUP) != 0;
    }

    int m_hMaster = -1;
    UrsLite::UrsPort m_port;
};

TEST_F(UrsLiteTest, CloseClosesTheLineOnceAndClearsThePortNumber)
{
    int hSlave = m_port.hPort;
    UrsLite::urs_ClosePort(&m_port);
    EXPECT_EQ(m_port.nPortNumber, 0u);
    EXPECT_FALSE(IsOpen(hSlave));
    EXPECT_TRUE(DeviceSeesHangup());

    // A second close finds port number 0 and touches nothing, not even a descriptor that some other
    // open has since been given the same number.
    int hOther = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(hOther, 0);
    m_port.hPort = hOther;
    UrsLite::urs_ClosePort(&m_port);
    EXPECT_TRUE(IsOpen(hOther));
    close(hOther);
    m_port.hPort = -1;
}

TEST_F(UrsLiteTest, ForgottenPortIsLeftOpenForItsNewOwner)
{
    int hSlave = m_port.hPort;
    UrsLite::urs_ForgetPort(&m_port);
    EXPECT_EQ(m_port.nPortNumber, 0u);
    EXPECT_EQ(m_port.hPort, hSlave);
    UrsLite::urs_ClosePort(&m_port);
    EXPECT_TRUE(IsOpen(hSlave));
    ASSERT_EQ(write(hSlave, "AT\r", 3), 3);  // still a working line
}

}  // namespace
