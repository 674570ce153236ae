// Fuzz target: the update program's command line (CommandLineSettings, both the whole-argv splitter
// and the one-parameter form ravelin-cli feeds its unknown switches to), and the port names and
// port lists of ravelin-cli with the serial layer's reading of a port name beneath them.
//
// Input: the arguments, separated by NUL bytes.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_catalogue.h"
#include "ravelin/flash/command_line.h"
#include "ravelin/serial/urs_names.h"
#include "tools/ravelin-cli/cli_port_list.h"

namespace {

void fail(const char *pszWhat)
{
    std::fprintf(stderr, "ravelin_cmdline: %s\n", pszWhat);
    std::abort();
}

void checkSettings(const CommandLineSettings &settings)
{
    if (std::memchr(settings.szPort, '\0', sizeof settings.szPort) == nullptr ||
        std::memchr(settings.szHexFile, '\0', sizeof settings.szHexFile) == nullptr)
        fail("a command-line text not terminated within its capacity");
    if (settings.nPending < flsh_kPendingNone || settings.nPending > flsh_kPendingSpeed)
        fail("pending value outside the known kinds");
}

std::set<std::string> devicePaths(const std::vector<CliPort> &ports)
{
    std::set<std::string> paths;
    for (const CliPort &port : ports)
        paths.insert(port.devicePath);
    return paths;
}

void checkPortName(const std::string &text)
{
    CliPort port;
    if (!cli_ParsePortName(text, &port))
        return;
    if (port.nNumber > urs_kMaxComNumber)
        fail("a COM number above the highest one a user may name");
    if (urs_PortNumberOf(port.devicePath.c_str()) != port.nNumber)
        fail("the device path's port number differs from the parsed one");
    // Read again, the shown name names the same port.
    CliPort again;
    if (!cli_ParsePortName(port.display, &again) || again.devicePath != port.devicePath)
        fail("a port's shown name does not read back as the same port");
    // A buffer too small for the device path is refused, never overrun.
    char szSmall[8];
    int nSmall = urs_ParsePortName(text.c_str(), szSmall, sizeof szSmall);
    if (nSmall >= 0 && std::strlen(szSmall) >= sizeof szSmall)
        fail("urs_ParsePortName overran a small buffer");
    char szLogName[16];
    urs_LogNameOf(port.devicePath.c_str(), szLogName, sizeof szLogName);
}

void checkPortList(const std::string &text)
{
    std::vector<CliPort> ports;
    std::string bad;
    if (!cli_ParsePortList(text, &ports, &bad))
        return;
    if (!bad.empty())
        fail("a list read without fault still names a bad item");
    if (ports.empty() || ports.size() > cli_kMaxListedPorts)
        fail("a list read as no ports or as more than the most a list may name");
    if (devicePaths(ports).size() != ports.size())
        fail("a port listed twice");
    // The list form of the ports reads back as the same ports.
    const std::string formatted = cli_FormatPortList(ports);
    std::vector<CliPort> again;
    if (!cli_ParsePortList(formatted, &again, &bad))
        fail("the list form of a port list does not read back");
    if (devicePaths(again) != devicePaths(ports))
        fail("the list form of a port list names other ports");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t nSize)
{
    fuzz::InstallCatalogue();
    std::vector<std::string> args;
    std::size_t nStart = 0;
    for (std::size_t i = 0; i <= nSize; ++i) {
        if (i == nSize || pData[i] == 0) {
            args.emplace_back(reinterpret_cast<const char *>(pData + nStart), i - nStart);
            nStart = i + 1;
        }
    }
    std::vector<const char *> argv;
    argv.push_back("ravelin");
    for (const std::string &arg : args)
        argv.push_back(arg.c_str());
    argv.push_back(nullptr);

    CommandLineSettings whole;
    flsh_InitCommandLine(&whole);
    flsh_ParseCommandLine(&whole, static_cast<int>(argv.size() - 1), argv.data());
    checkSettings(whole);

    CommandLineSettings single;
    flsh_InitCommandLine(&single);
    for (std::size_t i = 0; i < args.size(); ++i) {
        flsh_ParseCommandArgument(&single, args[i].c_str(), i + 1 == args.size());
        checkSettings(single);
    }

    for (const std::string &arg : args) {
        checkPortName(arg);
        checkPortList(arg);
    }
    return 0;
}
