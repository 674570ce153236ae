// `ravelin-cli run` as a service bench runs it: the real executable with the sample catalogue beside
// it, against a simulated bank whose devices answer identification and then take their images.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "fixtures/sim_bank_fixture.h"
#include "flash_test_util.h"

using flashtest::crlfLines;
using flashtest::hexRecord;
using flashtest::readFile;

namespace {

struct RunResult {
    int exitCode = -1;
    std::string out, err;
};

// What the devices of these tests share: identification at 38400 baud, the maker's flash loader
// entered at 19200 (the device takes each speed the host uses in command mode, as real modems do).
const char kDeviceBase[] = "speed = 38400\nautobaud = on\nthrottle = off\nloader.version = 2.00\nloader.max_speed = 115200\n";

// One simulated device per controller family, each with the image the plan must choose for it
// (model prefix, country of the device, a version its lock takes). The maker's own families get an
// image written for their port; the chip families get the project's sample image of their protocol
// under the planned name, and what the device holds afterwards is compared with that file: the
// text it heard (pszHeld) or, without it, the bytes in its flash memory.
struct FamilyRow {
    int nPort;
    const char *pszModel;
    const char *pszDevice;
    const char *pszImage;
    const char *pszSample = nullptr;   // under data/sim
    const char *pszHeld = nullptr;     // device value that must equal the sample file
};
const FamilyRow kFamilies[] = {
    {1, "PL1400", "family = loader\nati.0 = PL1400\nati.0 += Version 1.05 EU\nati.9 = GERMANY\n", "PADE107.HEX"},
    {2, "PL3360", "family = loader\nati.0 = PL3360 Version 2.31\nati.9 = UNITED KINGDOM\n", "PBGB234.HEX"},
    {3, "TL128", "family = ident-ta, loader\nati.0 = TL128 Version 3.02\n", "TBQU305.HEX"},
    {4, "TL128S", "family = ident-ta, loader\nati.0 = ISDN Adapter Version 5.10\nati.2 = TL128S\nloader.addr32 = on\n",
     "TCQU512.HEX"},
    {5, "Octa-TA2", "family = ident-ta, loader\nati.0 = Octa-TA2 Version 2.11\nta.percent_i = 0\n", "OBQU215.HEX"},
    {6, "Octa-TA1", "family = ident-ta, loader\nati.0 = Octa-TA1 Version 2.04\nta.percent_i = 0\n", "OCQU206.HEX"},
    {7, "OctaA", "family = loader\nati.0 = OctaA Version 2.02\nati.9 = SWITZERLAND\n", "OACH203.HEX"},
    {8, "OctaN", "family = loader\nati.0 = Multi-port Modem Version 3.20\nati.2 = OctaN\nati.9 = 12\n", "ODSE321.HEX"},
    // Flash facts that match the sample image: the resident loader is started with its GO command.
    {9, "LX56",
     "speed = 115200\ndialogues = ident-lucent, lucent-loader\nati.0 = LX56 Version 4.40\n"
     "ati.5 = U5610 RRFL,40,10AF\nati.9 = FRANCE\nlucent.variant = 0\nlucent.go_version = 4.4\n",
     "LAFR441.HEX", "lucent/LA0100.HEX"},
    // The flash query stays unanswered: a full flash with the loader file beside the executable.
    {10, "AX56",
     "speed = 115200\ndialogues = ident-lucent, lucent-loader\nati.0 = AX56 Version 1.30\nati.5 = S6010\n"
     "ati.9 = ITALY\nlucent.variant = 2\nlucent.new_loader = OCM Ver:1.3\n",
     "LBIT131.HEX", "lucent/LB0100.HEX"},
    // Named on its ATI4 page; its loader file is found through the image's prefix.
    {11, "RW56-C-2",
     "family = rockwell-loader\nmodel = RW56-C-2\nati.0 = 56000\nati.2 = 0000\nati.4 = Modem Configuration Page\n"
     "ati.4 += RW56-C-2\nati.4 += 3.07\nati.4 += PTT SWEDEN\n",
     "RCSE308.HEX", "chips/RCDEMO.HEX", "rockwell.image"},
    // The module tells no country: the plan takes its image for every country.
    {12, "MC75", "family = ident-wopen, siemens\nmodel = MC75\nversion = 2.10 C\n", "MCQU211.USF", "chips/MCDEMO.BIN",
     "siemens.file"},
    {13, "DT200", "family = dot\nmodel = DT200\ndot.block = 128\nati.0 = DT200 Version 1.00\nati.9 = NORWAY\n",
     "DANO101.HEX", "chips/DADEMO.HEX"},
    // Download mode only after a power cycle, at the boot code's own speed: identified first, then
    // switched off and on while the update waits.
    {14, "DT220",
     "family = dot\nspeed = 115200\ndot.power_cycle_ms = 3000\nati.0 = DT220 Version 1.10\nati.9 = 6\n",
     "DBDE111.HEX", "chips/DBDEMO.HEX"},
};

// Every data byte of an Intel HEX file with its address (record types 00 and 04), read here
// independently of the engine's own reader.
std::vector<std::pair<std::uint32_t, std::uint8_t>> hexFileBytes(const std::string &path)
{
    std::vector<std::pair<std::uint32_t, std::uint8_t>> bytes;
    std::string text = readFile(path);
    std::uint32_t base = 0;
    auto byteAt = [](const std::string &line, std::size_t at) {
        return static_cast<std::uint32_t>(std::stoul(line.substr(at, 2), nullptr, 16));
    };
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() < 11 || line[0] != ':') continue;
        std::uint32_t count = byteAt(line, 1), offset = byteAt(line, 3) << 8 | byteAt(line, 5), type = byteAt(line, 7);
        if (type == 4) base = (byteAt(line, 9) << 8 | byteAt(line, 11)) << 16;
        if (type != 0) continue;
        for (std::uint32_t i = 0; i < count; ++i)
            bytes.emplace_back(base + offset + i, static_cast<std::uint8_t>(byteAt(line, 9 + 2 * i)));
    }
    return bytes;
}

class CliRunTest : public SimBankTest {
protected:
    void SetUp() override
    {
        setenv("SUITE_TIME_SCALE", "0.2", 1);
        SimBankTest::SetUp();
        exe = dir.file("ravelin-cli");
        // The updates' records go to the test's own directory.
        setenv("RAVELIN_HISTORY", dir.file("history.db").c_str(), 1);
        setenv("RAVELIN_JOURNAL", "off", 1);   // nothing into the machine's own journal
        std::filesystem::copy_file(std::string(SUITE_BIN_DIR) + "/ravelin-cli", exe);
        chmod(exe.c_str(), 0755);
        std::string data = std::string(SUITE_SOURCE_DIR) + "/data/ravelin/";
        std::filesystem::copy_file(data + "Models.ini", dir.file("Models.ini"));
        std::filesystem::copy_file(data + "Locks.ini", dir.file("Locks.ini"));
        // The loader files the chip protocols send first are looked up beside the executable.
        for (const char *pszLoader : {"NewFlashLdr.hex", "OcmFldr.hex"})
            std::filesystem::copy_file(data + pszLoader, dir.file(pszLoader));
        std::filesystem::copy_file(sample("chips/RWload3.s37"), dir.file("RWload3.s37"));
        std::filesystem::create_directory(images());
    }
    void TearDown() override
    {
        SimBankTest::TearDown();
        unsetenv("SUITE_TIME_SCALE");
        unsetenv("RAVELIN_HISTORY");
        unsetenv("RAVELIN_JOURNAL");
    }

    std::string images() const { return dir.file("images"); }
    static std::string sample(const std::string &name) { return std::string(SUITE_SOURCE_DIR) + "/data/sim/" + name; }

    // True when the device's flash memory holds every data byte of the HEX file.
    static ::testing::AssertionResult holdsHexFile(modemsim::Device &dev, const std::string &path)
    {
        auto bytes = hexFileBytes(path);
        if (bytes.empty()) return ::testing::AssertionFailure() << path << " holds no data";
        for (const auto &[address, expected] : bytes)
            if (dev.state().flash.byte(address) != expected)
                return ::testing::AssertionFailure() << "byte at " << address << " is " << int(dev.state().flash.byte(address))
                                                     << ", " << path << " has " << int(expected);
        return ::testing::AssertionSuccess();
    }

    RunResult run(const std::string &args)
    {
        std::string out = dir.file("out.txt"), err = dir.file("err.txt");
        std::string command = "'" + exe + "' run " + args + " >'" + out + "' 2>'" + err + "' </dev/null";
        int status = std::system(command.c_str());
        RunResult result;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = readFile(out);
        result.err = readFile(err);
        return result;
    }

    // An image of its own for a port: two records whose bytes name the port.
    std::vector<std::uint8_t> writeImage(const std::string &name, int nSeed)
    {
        std::vector<std::uint8_t> data(24);
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(nSeed * 16 + i);
        std::vector<std::uint8_t> first(data.begin(), data.begin() + 16), second(data.begin() + 16, data.end());
        flashtest::writeFile(images() + "/" + name,
                             crlfLines({hexRecord(0, 0x0200, first), hexRecord(0, 0x0310, second), ":00000001FF"}));
        return data;
    }

    // True when the device's memory holds the image written by writeImage with that seed.
    ::testing::AssertionResult holdsImage(modemsim::Device &dev, int nSeed)
    {
        for (std::uint32_t i = 0; i < 24; ++i) {
            std::uint32_t address = i < 16 ? 0x0200 + i : 0x0310 + (i - 16);
            std::uint8_t expected = static_cast<std::uint8_t>(nSeed * 16 + i);
            if (dev.state().flash.byte(address) != expected)
                return ::testing::AssertionFailure() << "byte at " << address << " is " << int(dev.state().flash.byte(address))
                                                     << ", the image has " << int(expected);
        }
        return ::testing::AssertionSuccess();
    }

    static bool heard(modemsim::Device &dev, const std::string &command)
    {
        for (const std::string &line : dev.state().commands())
            if (line == command) return true;
        return false;
    }

    flashtest::TempDir dir;
    std::string exe;
};

TEST_F(CliRunTest, EveryFamilyOfTheBankGetsItsPlannedImage)
{
    std::string ports;
    for (const FamilyRow &row : kFamilies) {
        addDevice("port = " + std::to_string(row.nPort) + "\n" + kDeviceBase + row.pszDevice);
        if (row.pszSample != nullptr)
            std::filesystem::copy_file(sample(row.pszSample), images() + "/" + row.pszImage);
        else
            writeImage(row.pszImage, row.nPort);
        ports += (ports.empty() ? "COM" : ",COM") + std::to_string(row.nPort);
    }
    // Images the plan must pass over: a lower version and another country of the first model, and
    // a Siemens file for one country only.
    writeImage("PADE105.HEX", 14);
    writeImage("PAFR109.HEX", 15);
    flashtest::writeFile(images() + "/MCDE299.USF", std::string("\x02\x55\xAA", 3));

    RunResult result = run("--ports " + ports + " --images '" + images() + "' --yes");
    ASSERT_EQ(0, result.exitCode) << result.out << result.err << transcripts();
    for (const FamilyRow &row : kFamilies) {
        SCOPED_TRACE(row.pszModel);
        modemsim::Device &dev = device(row.nPort);
        if (row.pszSample == nullptr)
            EXPECT_TRUE(holdsImage(dev, row.nPort));
        else if (row.pszHeld != nullptr)
            EXPECT_EQ(readFile(sample(row.pszSample)), dev.state().value(row.pszHeld));
        else
            EXPECT_TRUE(holdsHexFile(dev, sample(row.pszSample)));
        // The plan's line of the port (the first line it begins): its model, then its image.
        std::string port = "COM" + std::to_string(row.nPort) + " ";
        std::size_t at = result.out.find("\n" + port);
        ASSERT_NE(std::string::npos, at) << result.out;
        std::string planLine = result.out.substr(at + 1, result.out.find('\n', at + 1) - at - 1);
        std::size_t model = planLine.find_first_not_of(' ', port.size());
        EXPECT_EQ(0u, planLine.compare(model, std::strlen(row.pszModel) + 1, std::string(row.pszModel) + " ")) << planLine;
        EXPECT_NE(std::string::npos, planLine.find(std::string(" ") + row.pszImage + " ")) << planLine;
    }
    // The Lucent/Agere devices went the ways their flash facts chose.
    EXPECT_EQ("1", device(9).state().value("lucent.go"));
    EXPECT_EQ("", device(9).state().value("lucent.loader_lines"));
    EXPECT_NE("", device(10).state().value("lucent.loader_lines"));
    EXPECT_EQ(readFile(sample("chips/RWload3.s37")), device(11).state().value("rockwell.loader"));
    std::string summary = std::to_string(std::size(kFamilies)) + " of " + std::to_string(std::size(kFamilies)) +
                          " devices were updated successfully\n";
    EXPECT_NE(std::string::npos, result.out.find(summary)) << result.out;
    EXPECT_EQ(std::string::npos, result.out.find("Retry")) << result.out;
}

TEST_F(CliRunTest, AFailedDeviceIsReportedAndNamedForTheRetry)
{
    for (int nPort : {1, 2, 3}) {
        std::string faults = nPort == 2 ? "loader.error_block = 1\nloader.error_count = 9\n" : "";
        addDevice("port = " + std::to_string(nPort) + "\n" + kDeviceBase + kFamilies[0].pszDevice + faults);
    }
    writeImage("PADE107.HEX", 1);

    RunResult result = run("--ports COM1-COM3 --images '" + images() + "' --yes");
    EXPECT_EQ(10, result.exitCode) << result.out << result.err;
    EXPECT_TRUE(holdsImage(device(1), 1));
    EXPECT_TRUE(holdsImage(device(3), 1));
    EXPECT_NE(std::string::npos, result.out.find("COM2  PL1400  Failure to verify update\n")) << result.out;
    EXPECT_NE(std::string::npos, result.out.find("2 of 3 devices were updated successfully\n")) << result.out;
    EXPECT_NE(std::string::npos, result.out.find("Retry the failed devices with: --ports COM2\n")) << result.out;
}

TEST_F(CliRunTest, JsonEventsTellTheWholeRunAndPersonTextsGoToStderr)
{
    addDevice(std::string("port = 1\n") + kDeviceBase + kFamilies[0].pszDevice);
    addDevice(std::string("port = 2\n") + kDeviceBase + "family = loader\nati.0 = KX-A1\nati.1 = 1.12\nati.1 += 5C1D\n"
                                                        "ati.1 += AUSTRIA\nati.1 += K7\nati.9 = 15\n");
    addDevice(std::string("port = 3\n") + kDeviceBase + "family = loader\nati.0 = PL1400\nati.0 += Version 1.05 EU\n"
                                                        "ati.9 = FRANCE\n");
    writeImage("PADE107.HEX", 1);

    RunResult result = run("--ports COM1-COM3 --images '" + images() + "' --yes --json --verify");
    // COM1 reports its old version after the update: --verify counts it as failed.
    EXPECT_EQ(10, result.exitCode) << result.out << result.err;
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < result.out.size();) {
        std::size_t end = result.out.find('\n', start);
        lines.push_back(result.out.substr(start, end - start));
        start = end + 1;
    }
    ASSERT_FALSE(lines.empty());
    for (const std::string &line : lines) EXPECT_EQ(0u, line.rfind("{\"event\": \"", 0)) << line;
    auto has = [&](const std::string &text) { return result.out.find(text) != std::string::npos; };
    EXPECT_TRUE(has("{\"event\": \"identified\", \"port\": \"COM1\", \"status\": 0, \"model\": \"PL1400\", "
                    "\"version\": \"1.05\", \"country\": \"Germany\"}"));
    // The name's version text as it always was, and the version as the device's is shown.
    EXPECT_TRUE(has("{\"event\": \"planned\", \"port\": \"COM1\", \"model\": \"PL1400\", \"image\": \"PADE107.HEX\", "
                    "\"image_version\": \"107\", \"image_version_display\": \"1.07\"}"));
    EXPECT_TRUE(has("{\"event\": \"planned\", \"port\": \"COM3\", \"model\": \"PL1400\", \"skipped\": true, "
                    "\"reason\": \"no image for country France\"}"));
    EXPECT_TRUE(has("{\"event\": \"planned\", \"port\": \"COM2\", \"model\": \"KX-A1\", \"skipped\": true, "
                    "\"reason\": \"no image for model KX-A1\"}"));
    EXPECT_TRUE(has("\"event\": \"progress\", \"port\": \"COM1\""));
    EXPECT_TRUE(has("{\"event\": \"result\", \"port\": \"COM1\", \"result\": 0, \"result_text\": \"Successful\", "
                    "\"speed\": 38400}"));
    EXPECT_TRUE(has("{\"event\": \"verified\", \"port\": \"COM1\", \"ok\": false, \"version\": \"1.05\"}"));
    EXPECT_EQ("{\"event\": \"summary\", \"error\": 0, \"error_text\": \"No Error\", \"updated\": 0, \"total\": 1, "
              "\"skipped\": 2, \"failed_ports\": [\"COM1\"]}",
              lines.back());
    // The model without images is named for a person, on stderr.
    EXPECT_NE(std::string::npos, result.err.find("No .hex files found for KX-A1.")) << result.err;
    EXPECT_FALSE(has("No .hex files"));
}

TEST_F(CliRunTest, ResultEventsGiveTheSpeedTheDownloadRanAt)
{
    // Asked for 38400 (the default of R): the generic loader's handshake keeps it, a Rockwell family
    // with its 115200 bit and the Siemens module download at 115200, and a module that is busy at
    // 115200 is taken at 57600.
    const FamilyRow &generic = kFamilies[0], &rockwell = kFamilies[10], &siemens = kFamilies[11];
    addDevice("port = 1\n" + std::string(kDeviceBase) + generic.pszDevice);
    writeImage(generic.pszImage, 1);
    addDevice("port = 11\n" + std::string(kDeviceBase) + rockwell.pszDevice);
    std::filesystem::copy_file(sample(rockwell.pszSample), images() + "/" + rockwell.pszImage);
    addDevice("port = 12\n" + std::string(kDeviceBase) + siemens.pszDevice);
    addDevice("port = 13\n" + std::string(kDeviceBase) + siemens.pszDevice + "fault.siemens.at_115200 = busy\n");
    std::filesystem::copy_file(sample(siemens.pszSample), images() + "/" + siemens.pszImage);

    RunResult result = run("--ports COM1,COM11-COM13 --images '" + images() + "' --yes --json");
    ASSERT_EQ(0, result.exitCode) << result.out << result.err << transcripts();
    const std::pair<const char *, long> expected[] = {{"COM1", 38400}, {"COM11", 115200}, {"COM12", 115200},
                                                      {"COM13", 57600}};
    for (const auto &[port, speed] : expected)
        EXPECT_NE(std::string::npos, result.out.find(std::string("{\"event\": \"result\", \"port\": \"") + port +
                                                     "\", \"result\": 0, \"result_text\": \"Successful\", \"speed\": " +
                                                     std::to_string(speed) + "}"))
            << port << "\n" << result.out;
    EXPECT_EQ("57600", device(13).state().value("siemens.speed"));
}

TEST_F(CliRunTest, DryRunAndMissingConfirmationTouchNoDeviceAfterIdentification)
{
    modemsim::Device &dev = addDevice(std::string("port = 1\n") + kDeviceBase + kFamilies[0].pszDevice);
    writeImage("PADE107.HEX", 1);

    RunResult dry = run("--ports COM1 --images '" + images() + "' --dry-run");
    EXPECT_EQ(0, dry.exitCode) << dry.err;
    // The image's version in the form the device's has (PADE107: 1.07).
    EXPECT_NE(std::string::npos, dry.out.find("COM1  PL1400  1.05     Germany  PADE107.HEX  1.07\n")) << dry.out;
    EXPECT_TRUE(heard(dev, "ATI"));
    EXPECT_FALSE(heard(dev, "AT*FS"));
    EXPECT_FALSE(heard(dev, "AT&F&W&W1Z"));

    RunResult unconfirmed = run("--ports COM1 --images '" + images() + "'");
    EXPECT_EQ(1, unconfirmed.exitCode);
    EXPECT_NE(std::string::npos, unconfirmed.out.find("--yes is needed")) << unconfirmed.out;
    EXPECT_FALSE(heard(dev, "AT*FS"));
    EXPECT_EQ(0xFF, dev.state().flash.byte(0x200));
}

TEST_F(CliRunTest, SinglePortModeFlashesWithoutIdentifying)
{
    // No identification answers at all: a device that is only reached through -P, -F and -M.
    modemsim::Device &dev = addDevice(std::string("port = 4\n") + kDeviceBase + "family = loader\n");
    writeImage("ANY.HEX", 4);
    RunResult result = run("-p COM4 -F '" + images() + "/ANY.HEX' /M pl1400 -E --yes");
    ASSERT_EQ(0, result.exitCode) << result.out << result.err << transcripts();
    EXPECT_TRUE(holdsImage(dev, 4));
    EXPECT_FALSE(heard(dev, "ATI"));
    EXPECT_FALSE(heard(dev, "AT&F&W&W1Z")) << "E: no factory defaults";
    EXPECT_NE(std::string::npos, result.out.find("1 of 1 devices were updated successfully\n")) << result.out;
}

TEST_F(CliRunTest, CtrlCCancelsEveryDeviceAndReleasesEveryPort)
{
    // Loaders that never synchronise: the handshake goes on until something stops it.
    for (int nPort : {1, 2})
        addDevice("port = " + std::to_string(nPort) + "\n" + kDeviceBase + kFamilies[0].pszDevice + "loader.sync_after = -1\n");
    writeImage("PADE107.HEX", 1);
    std::string out = dir.file("out.txt");
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        FILE *pOut = std::freopen(out.c_str(), "w", stdout);
        FILE *pErr = std::freopen(dir.file("err.txt").c_str(), "w", stderr);
        if (pOut == nullptr || pErr == nullptr) _exit(99);
        std::string imageDir = images();
        execl(exe.c_str(), exe.c_str(), "run", "--ports", "COM1,COM2", "--images", imageDir.c_str(), "--yes", "--json",
              static_cast<char *>(nullptr));
        _exit(98);
    }
    // Interrupt once both devices are handshaking.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    auto handshaking = [&] {
        std::string text = readFile(out);
        return text.find("\"port\": \"COM1\", \"status_text\": \"Handshaking\"") != std::string::npos &&
               text.find("\"port\": \"COM2\", \"status_text\": \"Handshaking\"") != std::string::npos;
    };
    while (!handshaking() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status)) << "the signal ended the process instead of cancelling the run";
    EXPECT_EQ(1, WEXITSTATUS(status)) << readFile(out) << readFile(dir.file("err.txt"));
    std::string text = readFile(out);
    // Cancelled in the synchronisation loop, the generic protocol ends with "Handshake failure".
    for (const char *pszPort : {"COM1", "COM2"})
        EXPECT_NE(std::string::npos, text.find(std::string("{\"event\": \"result\", \"port\": \"") + pszPort +
                                               "\", \"result\": 1, \"result_text\": \"Handshake failure\", \"speed\": 38400}"))
            << text;
    EXPECT_NE(std::string::npos, text.find("\"error\": 1, \"error_text\": \"ERROR: Program cancelled by user\""));
    // Released: another program can open each port again at once.
    for (int nPort : {1, 2}) {
        int fd = open(portPath(nPort).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(fd, 0) << nPort;
        if (fd >= 0) {
            EXPECT_EQ(0, flock(fd, LOCK_EX | LOCK_NB)) << "COM" << nPort << " is still held";
            close(fd);
        }
    }
}

TEST_F(CliRunTest, RunErrorsBecomeExitCodes)
{
    RunResult noImages = run("--ports COM1 --images '" + images() + "' --yes");
    EXPECT_EQ(2, noImages.exitCode);
    EXPECT_NE(std::string::npos, noImages.out.find("ERROR: No Hex Files Available for Update")) << noImages.out;

    writeImage("PADE107.HEX", 1);
    addDevice(std::string("port = 1\n") + kDeviceBase + "family = loader\nati.0 = KX-A1\nati.1 = 1.12\n");
    RunResult noModel = run("--ports COM1 --images '" + images() + "' --yes");
    EXPECT_EQ(3, noModel.exitCode) << noModel.out << noModel.err;

    EXPECT_EQ(64, run("--ports COM9-COM3").exitCode);
    EXPECT_EQ(64, run("-P").exitCode);
    EXPECT_EQ(64, run("--bogus").exitCode);
    EXPECT_EQ(64, run("-M NoSuchModel -P COM1 --yes").exitCode);
    RunResult help = run("--help");
    EXPECT_EQ(0, help.exitCode);
    EXPECT_NE(std::string::npos, help.out.find("10   the run went through, but at least one device failed"));
}

} // namespace
