// The Lucent/Agere download protocol against simulated Lucent/Agere devices: what the device holds
// afterwards, the exact commands and lines, the line settings, every result code, rejected lines,
// cancel at each stage, and the port closed on every way out.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fixtures/sim_bank_fixture.h"
#include "lucent_test_util.h"
#include "ravelin/protocols/lucflsh.h"
#include "ravelin/support/log.h"
#include "ravelin/support/osclock.h"

using lucenttest::Image;
using lucenttest::joined;
using lucenttest::makeImage;
using lucenttest::makeLoader;

namespace {

constexpr std::uint32_t kLucent = FLF_LUCENT;                                      // LUCENT family
constexpr std::uint32_t kAgere = FLF_LUCENT | FLF_FULL_FLASH | FLF_AGERE_LOADER | FLF_DOWNLOAD_115200;

// Cancel: the callback answers "stop" from the n-th call with a given status on.
struct CancelPoint {
    int nStatus = -1;
    int nCalls = 1;
};
CancelPoint g_cancel;
std::vector<int> g_statuses;

int recordingCallback(DeviceUpdate *pOwner, int nStatus, std::int32_t nValue, std::intptr_t nDetail)
{
    g_statuses.push_back(nStatus);
    int nGoOn = flsh_ProgressCallback(pOwner, nStatus, nValue, nDetail);
    if (nStatus == g_cancel.nStatus && --g_cancel.nCalls <= 0)
        return 0;
    return nGoOn;
}

class LucentFlashTest : public SimBankTest {
protected:
    void SetUp() override
    {
        setenv("SUITE_TIME_SCALE", "0.1", 1);
        os_SetTimeScaleForTesting(0.1);
        SimBankTest::SetUp();
        os_SetExeDirForTesting(dir.path().c_str());
        loader = makeLoader(4, 0x30);
        agereLoader = makeLoader(3, 0x90);
        lucenttest::writeFile(dir.file("NewFlashLdr.hex"), lucenttest::crlfLines(loader));
        lucenttest::writeFile(dir.file("OcmFldr.hex"), lucenttest::crlfLines(agereLoader));
        ASSERT_EQ(1, flsh_InitDeviceUpdate(&update, "\\\\.\\COM3"));
        update.nSpeed = 115200;
        update.flags = kLucent;
        update.flashMode = flsh_kGoFlash;
        update.restoreDefaults = 1;
        update.identity.nLucentVariant = 0;
        update.identity.lucent.nType = 0;
        g_cancel = CancelPoint();
        g_statuses.clear();
    }
    void TearDown() override
    {
        flsh_FreeDeviceUpdate(&update);
        os_SetExeDirForTesting(nullptr);
        SimBankTest::TearDown();
    }

    // A device at 115200 baud speaking command variant nVariant, with further device file lines.
    modemsim::Device &addLucent(int nVariant, const std::string &extra = "", int nPort = 3)
    {
        update.identity.nLucentVariant = nVariant;
        os_CopyBounded(update.szPortPath, ("\\\\.\\COM" + std::to_string(nPort)).c_str(), flsh_kPortPathLen);
        return addDevice("port = " + std::to_string(nPort) + "\nspeed = 115200\nthrottle = off\ndialogues = ident-lucent, lucent-loader\n"
                         "lucent.variant = " + std::to_string(nVariant) + "\n" + extra);
    }

    void useImage(const Image &image)
    {
        std::string path = dir.file("LA0100.HEX");
        lucenttest::writeFile(path, lucenttest::crlfLines(image.lines));
        os_CopyBounded(update.szImagePath, path.c_str(), os_kPathLen);
    }

    int flash() { return lucflsh_Flash(recordingCallback, &update); }

    // The flash holds the image from address 0, and nothing after it.
    void expectFlashHolds(modemsim::Device &dev, const Image &image)
    {
        EXPECT_EQ(image.bytes, dev.state().flash.read(0, static_cast<std::uint32_t>(image.bytes.size())));
        EXPECT_EQ(image.bytes.size(), dev.state().flash.extent());
    }

    // Files of the test directory (image, loaders) the process still holds open.
    int openFilesInDir()
    {
        int nOpen = 0;
        std::error_code ec;
        for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
            std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
            if (!ec && target.compare(0, dir.path().size(), dir.path()) == 0)
                ++nOpen;
        }
        return nOpen;
    }

    // The program under test has closed its files and the port, and the port opens again at once.
    void expectPortClosed(modemsim::Device &dev)
    {
        EXPECT_EQ(0, openFilesInDir());
        EXPECT_TRUE(dev.waitForHostOpens(0, 5000));
        UrsPort port;
        ASSERT_EQ(URS_OK, urs_OpenPort(&port, update.szPortPath));
        urs_ClosePort(&port);
    }

    std::string hostBytes(modemsim::Device &dev)
    {
        return dev.transcript().bytes(modemsim::Transcript::Direction::kFromHost);
    }

    lucenttest::TempDir dir;
    std::vector<std::string> loader, agereLoader;
    DeviceUpdate update;
};

TEST_F(LucentFlashTest, EachVariantStartsTheResidentLoaderAndTheDeviceHoldsTheImage)
{
    struct Case {
        int nVariant;
        const char *pszGo;
    } const kCases[] = {{0, "AT&&FGO\r"}, {1, "AT&&WGO\r"}, {2, "AT&&ZGO\n"}};
    int nPort = 3;
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.pszGo);
        modemsim::Device &dev = addLucent(c.nVariant, "", nPort++);
        Image image = makeImage(6);
        useImage(image);
        ASSERT_EQ(FR_SUCCESSFUL, flash());
        expectFlashHolds(dev, image);
        EXPECT_EQ(joined(image.lines), dev.state().value("lucent.image_lines"));
        EXPECT_EQ("1", dev.state().value("lucent.go"));
        EXPECT_EQ("1", dev.state().value("lucent.defaults"));
        EXPECT_EQ("flashed", dev.state().value("lucent.state"));
        EXPECT_EQ("off", dev.state().value("lucent.flow_control"));
        EXPECT_EQ("115200", dev.state().value("lucent.host_speed"));
        EXPECT_STREQ("4.4", update.szLoaderVersion);
        // Exactly the defaults, the GO command and the image lines, each ending CR LF.
        EXPECT_EQ(std::string("AT&F&W&W1Z\r") + c.pszGo + lucenttest::crlfLines(image.lines), hostBytes(dev));
        expectPortClosed(dev);
        EXPECT_EQ(0, update.nRejectedBlocks);
    }
}

TEST_F(LucentFlashTest, FullFlashSendsTheLoaderWithTheVariantsPrefixThenTheImage)
{
    struct Case {
        std::uint32_t flags;
        int nVariant;
        const char *pszBanner;      // what the new loader announces
        int nType;
        int nExpected;
        const char *pszVersion;
    } const kCases[] = {
        // The maker's loader beside the executable, at the record's speed.
        {kLucent, 0, "Ver:4.4", 3, FR_SUCCESSFUL, "4.4"},
        // The Agere loader, at 115200 baud whatever the record asks; "OCM Ver:1.3" allows every type but 3.
        {kAgere, 2, "OCM Ver:1.3", 2, FR_SUCCESSFUL, "1.3"},
        {kAgere, 1, "OCM Ver:1.3", 3, FR_WRONG_VERSION, "1.3"},
        // A loader that never says its version: no image may follow.
        {kLucent, 1, "", 0, FR_WRONG_VERSION, ""},
    };
    int nPort = 3;
    for (const Case &c : kCases) {
        SCOPED_TRACE(nPort);
        modemsim::Device &dev = addLucent(c.nVariant, std::string("lucent.new_loader = ") + c.pszBanner + "\n", nPort++);
        Image image = makeImage(5);
        useImage(image);
        update.flags = c.flags;
        update.flashMode = (c.flags & FLF_FULL_FLASH) ? flsh_kGoFlash : flsh_kFullFlash;
        update.nSpeed = (c.flags & FLF_DOWNLOAD_115200) ? 38400 : 115200;
        update.identity.lucent.nType = c.nType;
        update.restoreDefaults = 0;
        EXPECT_EQ(c.nExpected, flash());
        EXPECT_EQ(flsh_kFullFlash, update.flashMode);
        EXPECT_STREQ(c.pszVersion, update.szLoaderVersion);
        const std::vector<std::string> &sent = (c.flags & FLF_AGERE_LOADER) ? agereLoader : loader;
        EXPECT_EQ(joined(sent, lucflsh_LoaderPrefix(c.nVariant)), dev.state().value("lucent.loader_lines"));
        EXPECT_EQ("", dev.state().value("lucent.go")) << "no GO in full flash";
        if (c.nExpected == FR_SUCCESSFUL) {
            expectFlashHolds(dev, image);
            EXPECT_EQ(joined(image.lines), dev.state().value("lucent.image_lines"));
        } else {
            EXPECT_EQ("", dev.state().value("lucent.image_lines"));
            EXPECT_EQ(0u, dev.state().flash.extent());
        }
        expectPortClosed(dev);
    }
}

TEST_F(LucentFlashTest, TheResidentLoadersVersionDecidesWhetherTheImageGoesOut)
{
    struct Case {
        const char *pszDevice;  // device file lines
        int nType;
        int nExpected;
    } const kCases[] = {
        {"lucent.go_version = 4.3\n", 0, FR_SUCCESSFUL},
        {"lucent.go_version = 4.3\n", 3, FR_WRONG_VERSION},
        {"lucent.go_version = 4.4\n", 3, FR_SUCCESSFUL},
        {"lucent.go_version = 5.0\n", 0, FR_LOADER_VERSION_FAILED},  // a version nobody knows is none
        {"fault.lucent.no_version = on\n", 0, FR_LOADER_VERSION_FAILED},
        {"fault.lucent.go_silent = on\n", 0, FR_LOADER_VERSION_FAILED},
    };
    int nPort = 3;
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.pszDevice);
        modemsim::Device &dev = addLucent(0, c.pszDevice, nPort++);
        Image image = makeImage(3);
        useImage(image);
        update.identity.lucent.nType = c.nType;
        update.restoreDefaults = 0;
        EXPECT_EQ(c.nExpected, flash());
        if (c.nExpected == FR_SUCCESSFUL) {
            expectFlashHolds(dev, image);
        } else {
            EXPECT_EQ("", dev.state().value("lucent.image_lines"));
            EXPECT_EQ("AT&&FGO\r", hostBytes(dev)) << "nothing but the GO command";
        }
        expectPortClosed(dev);
    }
}

TEST_F(LucentFlashTest, FilesThatCannotBeSentWholeEndTheUpdateBeforeTheDeviceHearsAnything)
{
    std::string longLine = lucenttest::hexRecord(0, 0x100, std::vector<std::uint8_t>(58, 0xA5));
    ASSERT_EQ(127u, longLine.size());
    std::string fitting = lucenttest::hexRecord(0, 0x100, std::vector<std::uint8_t>(57, 0xA5));
    Image image = makeImage(3);
    std::string badSum = image.lines[1];
    badSum.back() = badSum.back() == '0' ? '1' : '0';  // the record's checksum no longer adds up
    std::vector<std::string> badLoader = loader;
    badLoader[1].back() = badLoader[1].back() == '0' ? '1' : '0';
    // The device takes a line whose checksum its loader does not check as it came, and says OK: a bad
    // image must never get that far. Nothing reaches the device, not even the factory defaults
    // (which cost the device its settings and the update its settle time).
    struct Case {
        const char *what;
        std::string text;
        int nFlashMode;
        std::vector<std::string> loaderLines;  // NewFlashLdr.hex
        int nExpected;
    } const kCases[] = {
        {"a line too long", lucenttest::crlfLines({image.lines[0], longLine, ":00000001FF"}), flsh_kGoFlash, loader,
         FR_BAD_HEX},
        {"an empty image", "", flsh_kGoFlash, loader, FR_BAD_HEX},
        {"a record checksum", lucenttest::crlfLines({image.lines[0], badSum, ":00000001FF"}), flsh_kGoFlash, loader,
         FR_BAD_HEX},
        {"a line that is no record", lucenttest::crlfLines({image.lines[0], "hello", ":00000001FF"}), flsh_kGoFlash,
         loader, FR_BAD_HEX},
        {"a bad loader record", lucenttest::crlfLines(image.lines), flsh_kFullFlash, badLoader, FR_BAD_HEX},
        {"no loader file", lucenttest::crlfLines(image.lines), flsh_kFullFlash, {}, FR_HEX_OPEN_FAILED},
    };
    int nPort = 3;
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.what);
        modemsim::Device &dev = addLucent(0, "", nPort++);
        lucenttest::writeFile(dir.file("BAD.HEX"), c.text);
        if (c.loaderLines.empty())
            std::remove(dir.file("NewFlashLdr.hex").c_str());
        else
            lucenttest::writeFile(dir.file("NewFlashLdr.hex"), lucenttest::crlfLines(c.loaderLines));
        os_CopyBounded(update.szImagePath, dir.file("BAD.HEX").c_str(), os_kPathLen);
        update.restoreDefaults = 1;
        update.flashMode = c.nFlashMode;
        g_statuses.clear();
        EXPECT_EQ(c.nExpected, flash());
        EXPECT_EQ("", hostBytes(dev)) << "bytes the device heard";
        EXPECT_EQ(0u, dev.state().flash.extent()) << "the device's flash is as it was";
        EXPECT_TRUE(g_statuses.empty());
        expectPortClosed(dev);
    }
    lucenttest::writeFile(dir.file("NewFlashLdr.hex"), lucenttest::crlfLines(loader));
    update.flashMode = flsh_kGoFlash;
    update.restoreDefaults = 0;

    // A 125-character line (the longest a record can be below 127) still fits, and goes out whole.
    modemsim::Device &dev = addLucent(0, "", nPort++);
    ASSERT_EQ(125u, fitting.size());
    std::vector<std::string> lines = {image.lines[0], fitting, ":00000001FF"};
    lucenttest::writeFile(dir.file("LONG.HEX"), lucenttest::crlfLines(lines));
    os_CopyBounded(update.szImagePath, dir.file("LONG.HEX").c_str(), os_kPathLen);
    EXPECT_EQ(FR_SUCCESSFUL, flash());
    EXPECT_EQ(joined(lines), dev.state().value("lucent.image_lines"));
}

TEST_F(LucentFlashTest, MissingFilesAndPortsGiveTheirResults)
{
    // No port.
    os_CopyBounded(update.szPortPath, "\\\\.\\COM30", flsh_kPortPathLen);
    EXPECT_EQ(FR_PORT_OPEN_FAILED, flash());

    // No image.
    modemsim::Device &dev = addLucent(0, "", 3);
    os_CopyBounded(update.szImagePath, dir.file("NONE.HEX").c_str(), os_kPathLen);
    EXPECT_EQ(FR_HEX_OPEN_FAILED, flash());
    expectPortClosed(dev);

    // No loader file for a full flash.
    modemsim::Device &dev4 = addLucent(0, "", 4);
    useImage(makeImage(2));
    std::remove(dir.file("NewFlashLdr.hex").c_str());
    update.flashMode = flsh_kFullFlash;
    update.restoreDefaults = 0;
    EXPECT_EQ(FR_HEX_OPEN_FAILED, flash());
    EXPECT_EQ("", dev4.state().value("lucent.image_lines"));
    expectPortClosed(dev4);
}

TEST_F(LucentFlashTest, RejectedImageLinesAreResentOrSkippedAndNeverTakenForAnAcknowledgement)
{
    struct Case {
        const char *pszFault;
        int nExpected;
        bool bLine3Programmed;
        bool bRestSent;          // the lines after line 3 went out
        const char *pszAnswers;  // what the device recorded
    } const kCases[] = {
        // "Send it again": accepted on the third write.
        {"fault.lucent.nok = 3:2:2\n", FR_SUCCESSFUL, true, true, "3:NOK2;3:NOK2"},
        {"fault.lucent.nok = 3:3:1\n", FR_SUCCESSFUL, true, true, "3:NOK3"},
        // Still rejected after the first write and four more: the update fails.
        {"fault.lucent.nok = 3:3\n", FR_VERIFY_FAILED, false, false, "3:NOK3;3:NOK3;3:NOK3;3:NOK3;3:NOK3"},
        // The device gives the line up: the transfer goes on with the next one, as the device
        // expects, but a device without that line is no success.
        {"fault.lucent.nok = 3:1\n", FR_VERIFY_FAILED, false, true, "3:NOK1"},
        {"fault.lucent.nok = 3:4\n", FR_VERIFY_FAILED, false, true, "3:NOK4"},
    };
    int nPort = 3;
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.pszFault);
        modemsim::Device &dev = addLucent(0, c.pszFault, nPort++);
        Image image = makeImage(5);
        useImage(image);
        update.restoreDefaults = 0;
        update.nRejectedBlocks = 0;
        EXPECT_EQ(c.nExpected, flash());
        EXPECT_EQ(c.pszAnswers, dev.state().value("lucent.answers"));
        EXPECT_GE(update.nRejectedBlocks, 1);
        // Line 3 is the third record: bytes 48 to 63 of the image.
        std::vector<std::uint8_t> line3(image.bytes.begin() + 48, image.bytes.begin() + 64);
        if (c.bLine3Programmed)
            EXPECT_EQ(line3, dev.state().flash.read(48, 16));
        else
            EXPECT_EQ(std::vector<std::uint8_t>(16, 0xFF), dev.state().flash.read(48, 16));
        if (c.bRestSent)
            EXPECT_EQ(image.bytes.back(), dev.state().flash.byte(static_cast<std::uint32_t>(image.bytes.size() - 1)));
        else
            EXPECT_EQ(0xFF, dev.state().flash.byte(64)) << "nothing after the rejected line";
        expectPortClosed(dev);
    }
}

TEST_F(LucentFlashTest, SilentDevicesTimeOutAndLateAnswersAreWaitedFor)
{
    struct Case {
        const char *pszFault;
        int nExpected;
        int nLoaderWrites;   // writes of loader line 2 (full flash only)
    } const kCases[] = {
        // An image line answered only during the second wait still counts.
        {"fault.lucent.late_line = 3:7000\n", FR_SUCCESSFUL, 0},
        {"fault.lucent.silent_line = 3\n", FR_TIMEOUT, 0},
        // A loader line nobody answers goes out again, up to three more times.
        {"fault.lucent.silent_loader = 2:3\n", FR_SUCCESSFUL, 4},
        {"fault.lucent.silent_loader = 2:4\n", FR_TIMEOUT, 4},
    };
    int nPort = 3;
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.pszFault);
        modemsim::Device &dev = addLucent(0, c.pszFault, nPort++);
        Image image = makeImage(4);
        useImage(image);
        update.restoreDefaults = 0;
        update.flashMode = c.nLoaderWrites > 0 ? flsh_kFullFlash : flsh_kGoFlash;
        EXPECT_EQ(c.nExpected, flash());
        if (c.nLoaderWrites > 0) {
            std::string lines = "\n" + dev.state().value("lucent.loader_lines") + "\n";
            std::string line2 = "\nat&&f" + loader[1] + "\n";
            int nWrites = 0;
            for (std::size_t at = lines.find(line2); at != std::string::npos; at = lines.find(line2, at + 1))
                ++nWrites;
            EXPECT_EQ(c.nLoaderWrites, nWrites);
        }
        if (c.nExpected == FR_SUCCESSFUL)
            expectFlashHolds(dev, image);
        expectPortClosed(dev);
    }
}

TEST_F(LucentFlashTest, CancelAtEachStageEndsWithAbortedAndClosesThePort)
{
    struct Case {
        int nStatus;
        int nCalls;
        int nFlashMode;
        const char *pszAfter;  // what the device heard last
    } const kCases[] = {
        {flsh_cRestoreDefaults, 1, flsh_kGoFlash, ""},
        {flsh_cProgramStart, 1, flsh_kGoFlash, "AT&F&W&W1Z\r"},
        {flsh_cProgramLoader, 3, flsh_kFullFlash, nullptr},
        {flsh_cProgramming, 3, flsh_kGoFlash, nullptr},
    };
    int nPort = 3;
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.nStatus);
        modemsim::Device &dev = addLucent(0, "", nPort++);
        Image image = makeImage(6);
        useImage(image);
        update.flashMode = c.nFlashMode;
        g_cancel.nStatus = c.nStatus;
        g_cancel.nCalls = c.nCalls;
        EXPECT_EQ(FR_ABORTED, flash());
        if (c.pszAfter != nullptr) {
            EXPECT_EQ(c.pszAfter, hostBytes(dev));
        }
        EXPECT_NE("flashed", dev.state().value("lucent.state"));
        expectPortClosed(dev);
    }
}

TEST_F(LucentFlashTest, WithoutProgrammingOnlyTheLoaderGoesOut)
{
    modemsim::Device &dev = addLucent(1);
    update.noProgramming = 1;
    update.flashMode = flsh_kFullFlash;
    update.restoreDefaults = 0;
    os_CopyBounded(update.szImagePath, dir.file("NOT-THERE.HEX").c_str(), os_kPathLen);
    EXPECT_EQ(FR_SUCCESSFUL, flash());
    EXPECT_EQ(joined(loader, "at&&w"), dev.state().value("lucent.loader_lines"));
    EXPECT_EQ("", dev.state().value("lucent.image_lines"));
    expectPortClosed(dev);
}

TEST_F(LucentFlashTest, ProgressReportsTheLoaderTheImageAndTheirEnds)
{
    addLucent(0);
    useImage(makeImage(4));
    update.flashMode = flsh_kFullFlash;
    ASSERT_EQ(FR_SUCCESSFUL, flash());
    // Defaults, start, the loader (start, 5 lines, done), the image (start, 5 lines, done).
    std::vector<int> expected = {flsh_cRestoreDefaults, flsh_cProgramStart};
    expected.insert(expected.end(), 6, flsh_cProgramLoader);
    expected.push_back(flsh_cProgramDone);
    expected.insert(expected.end(), 6, flsh_cProgramming);
    expected.push_back(flsh_cProgramDone);
    EXPECT_EQ(expected, g_statuses);
    char szCode[flsh_kShortCodeLen], szText[flsh_kStatusTextLen];
    std::int32_t nValue = 0;
    flsh_ReadProgress(&update, szCode, szText, &nValue);
    EXPECT_STREQ("P 100", szCode);
    EXPECT_EQ(100, nValue);
}

TEST_F(LucentFlashTest, TheProgrammingStartCarriesNoSpeedForThePercentage)
{
    // The progress page reads the value of the last status as the device's percentage: the start
    // of programming is 0 %, whatever speed the device runs at.
    addLucent(0);
    useImage(makeImage(3));
    update.restoreDefaults = 0;
    g_cancel.nStatus = flsh_cProgramStart;
    EXPECT_EQ(FR_ABORTED, flash());
    ASSERT_EQ(flsh_cProgramStart, g_statuses.back());
    char szCode[flsh_kShortCodeLen], szText[flsh_kStatusTextLen];
    std::int32_t nValue = -1;
    flsh_ReadProgress(&update, szCode, szText, &nValue);
    EXPECT_EQ(0, nValue);
    EXPECT_STREQ("P  00", szCode);
    EXPECT_STREQ("Programming", szText);
}

TEST_F(LucentFlashTest, TheLogSaysWhichLineGotWhichAnswer)
{
    addLucent(0, "fault.lucent.nok = 2:1, 4:2:1\n");
    useImage(makeImage(5));
    update.restoreDefaults = 0;
    log_SetEnabled(true);
    ASSERT_NE(nullptr, log_Open());
    EXPECT_EQ(FR_VERIFY_FAILED, flash());
    log_Close();
    log_SetEnabled(false);
    std::string log = lucenttest::readFile(dir.file("log.txt"));
    EXPECT_NE(std::string::npos, log.find("Line 2 answered NOK1, going on with the next line")) << log;
    EXPECT_NE(std::string::npos, log.find("Line 4 answered NOK2, sending it again")) << log;
    EXPECT_NE(std::string::npos, log.find("Line 4 accepted after 1 resend(s)")) << log;
    EXPECT_NE(std::string::npos, log.find("1 line(s) given up by the device: the update failed")) << log;
    EXPECT_NE(std::string::npos, log.find("nFlashReturn 4")) << log;
}

TEST_F(LucentFlashTest, ALineThatCannotBeWrittenIsReportedAndEndsWithoutSuccess)
{
    // The line drops as the device hears the end of the second loader line ("at&&f", 43 characters
    // and CR LF: 50 bytes a line). A loader line that gets no answer is sent again, and that write
    // fails on the dead line: it is reported as a rejected line, and the update times out.
    modemsim::Device &dev = addLucent(0, "fault.disconnect_after = 100\n");
    useImage(makeImage(6));
    update.restoreDefaults = 0;
    update.flashMode = flsh_kFullFlash;
    EXPECT_EQ(FR_TIMEOUT, flash());
    EXPECT_GE(update.nRejectedBlocks, 1);
    EXPECT_NE("flashed", dev.state().value("lucent.state"));
    EXPECT_EQ(0, openFilesInDir());

    // The line drops with the factory-defaults command: the GO command cannot be written, and the
    // serial layer's result is the update's.
    modemsim::Device &gone = addLucent(0, "fault.disconnect_after = 11\n", 4);
    update.restoreDefaults = 1;
    update.flashMode = flsh_kGoFlash;
    EXPECT_EQ(URS_IO_ERROR, flash());
    EXPECT_EQ("", gone.state().value("lucent.go"));
    EXPECT_EQ(0, openFilesInDir());
}

} // namespace
