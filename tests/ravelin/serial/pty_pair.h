// A raw pseudo-terminal pair for byte-level tests of the serial layer: the test plays the device on
// the master side; the layer opens the slave by its path.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

class PtyPair {
public:
    PtyPair()
    {
        m_hMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_hMaster < 0 || grantpt(m_hMaster) != 0 || unlockpt(m_hMaster) != 0)
            return;
        char szName[128];
        if (ptsname_r(m_hMaster, szName, sizeof szName) != 0)
            return;
        m_slavePath = szName;
        // Raw on the master too: the device side must see and send bytes unchanged.
        struct termios tio;
        if (tcgetattr(m_hMaster, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(m_hMaster, TCSANOW, &tio);
        }
    }
    ~PtyPair() { Hangup(); }
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool Ok() const { return m_hMaster >= 0 && !m_slavePath.empty(); }
    int Master() const { return m_hMaster; }
    const std::string &SlavePath() const { return m_slavePath; }
    // The device path through which urs_OpenPort reaches the slave.
    std::string DevicePath() const { return "\\\\.\\" + m_slavePath; }

    bool Send(const std::string &bytes)
    {
        return write(m_hMaster, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // Reads from the device side until nCount bytes have come or nTimeoutMs passed.
    std::string Receive(std::size_t nCount, int nTimeoutMs = 5000)
    {
        std::string got;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
        while (got.size() < nCount) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            struct pollfd pfd = {m_hMaster, POLLIN, 0};
            if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0)
                break;
            char buf[4096];
            ssize_t n = read(m_hMaster, buf, std::min(sizeof buf, nCount - got.size()));
            if (n <= 0)
                break;
            got.append(buf, static_cast<std::size_t>(n));
        }
        return got;
    }

    // The device goes away: the host side sees end of file and POLLHUP.
    void Hangup()
    {
        if (m_hMaster >= 0)
            close(m_hMaster);
        m_hMaster = -1;
    }

private:
    int m_hMaster = -1;
    std::string m_slavePath;
};
