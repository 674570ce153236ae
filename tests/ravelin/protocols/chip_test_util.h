// What the chip protocol tests share: a device update record on port 3 of a simulated bank, files in
// a private directory, HEX record text built independently of the engine, a progress callback that
// records every call and can cancel at a chosen one, and the check that a protocol closed its port.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "fixtures/sim_bank_fixture.h"
#include "ravelin/flash/flsh.h"
#include "ravelin/support/osclock.h"

namespace chiptest {

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "chip-test-XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) != nullptr)
            m_path = buffer.data();
    }
    ~TempDir()
    {
        std::error_code ec;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return m_path; }
    std::string file(const std::string &name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void writeFile(const std::string &path, const std::string &content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

// One Intel HEX record line (no line end), upper-case digits, correct checksum.
inline std::string hexRecord(int type, std::uint32_t offset, const std::vector<std::uint8_t> &data)
{
    unsigned sum = static_cast<unsigned>(data.size()) + ((offset >> 8) & 0xFF) + (offset & 0xFF) +
                   static_cast<unsigned>(type);
    char text[16];
    std::snprintf(text, sizeof text, ":%02X%04X%02X", static_cast<unsigned>(data.size()),
                  static_cast<unsigned>(offset & 0xFFFF), static_cast<unsigned>(type));
    std::string line = text;
    for (std::uint8_t byte : data) {
        std::snprintf(text, sizeof text, "%02X", byte);
        line += text;
        sum += byte;
    }
    std::snprintf(text, sizeof text, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + text;
}

inline std::string crlfLines(const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines)
        text += line + "\r\n";
    return text;
}

// Bytes first, first + 1, ... (wrapping), count of them.
inline std::vector<std::uint8_t> byteRun(std::uint8_t first, std::size_t count)
{
    std::vector<std::uint8_t> out(count);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<std::uint8_t>(first + i);
    return out;
}

// Every progress call of the update under test, and an optional cancel at the n-th call with a
// given status.
struct ProgressLog {
    std::vector<std::pair<int, int>> calls;  // status, value
    int cancelStatus = -1;
    int cancelAt = 1;
    int seen = 0;

    static ProgressLog &instance()
    {
        static ProgressLog log;
        return log;
    }
    static int callback(DeviceUpdate *pOwner, int nStatus, std::int32_t nValue, std::intptr_t nDetail)
    {
        ProgressLog &log = instance();
        log.calls.emplace_back(nStatus, nValue);
        if (nStatus == log.cancelStatus && ++log.seen == log.cancelAt)
            flsh_SetCancel();
        return flsh_ProgressCallback(pOwner, nStatus, nValue, nDetail);
    }
    std::vector<int> statuses() const
    {
        std::vector<int> out;
        for (const auto &call : calls)
            if (out.empty() || out.back() != call.first)
                out.push_back(call.first);
        return out;
    }
    int count(int nStatus) const
    {
        int n = 0;
        for (const auto &call : calls)
            n += call.first == nStatus;
        return n;
    }
};

} // namespace chiptest

// A device update of port 3 against a simulated bank, at a shortened time scale.
class ChipFlashTest : public SimBankTest {
protected:
    void SetUp() override
    {
        setScale(0.1);
        SimBankTest::SetUp();
        ASSERT_EQ(1, flsh_InitDeviceUpdate(&update, portName(3).c_str()));
        update.restoreDefaults = 0;
        chiptest::ProgressLog::instance() = chiptest::ProgressLog();
    }
    void TearDown() override
    {
        SimBankTest::TearDown();
        flsh_FreeDeviceUpdate(&update);
        flsh_ClearCancelForTesting();
        os_SetTimeScaleForTesting(1.0);
        unsetenv("SUITE_TIME_SCALE");
    }

    // Both sides' sleeps and time-outs this many times as long as real ones.
    void setScale(double scale)
    {
        os_SetTimeScaleForTesting(scale);
        setenv("SUITE_TIME_SCALE", std::to_string(scale).c_str(), 1);
    }
    void setImage(const std::string &name, const std::string &content)
    {
        std::string path = dir.file(name);
        chiptest::writeFile(path, content);
        std::snprintf(update.szImagePath, sizeof update.szImagePath, "%s", path.c_str());
    }
    void cancelAt(int nStatus, int nOccurrence = 1)
    {
        chiptest::ProgressLog::instance().cancelStatus = nStatus;
        chiptest::ProgressLog::instance().cancelAt = nOccurrence;
    }
    chiptest::ProgressLog &progress() { return chiptest::ProgressLog::instance(); }

    // The protocol closed the port on its way out: it can be opened again at once.
    void expectPortFree()
    {
        UrsPort port{};
        EXPECT_EQ(URS_OK, urs_OpenPort(&port, portName(3).c_str())) << "the port was left open";
        urs_ClosePort(&port);
    }
    // Descriptors the process holds: equal before and after a protocol when it closed its files.
    // Pipes are left out: the protocols open files and ports, never pipes, while a sanitizer runtime
    // makes short-lived pipes on any thread (the simulated devices' too) to probe memory, and one
    // caught in the middle of a count would look like a descriptor left open; so would one that
    // closed between the listing and its reading.
    static int openDescriptors()
    {
        int n = 0;
        std::error_code ec;
        for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
            if (!ec && target.compare(0, 5, "pipe:") != 0) ++n;
        }
        return n;
    }
    std::string value(int port, const std::string &name) { return device(port).state().value(name); }

    DeviceUpdate update;
    chiptest::TempDir dir;
};
