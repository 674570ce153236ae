// Port names and lists on the command line (see cli_ports.h).
#include "tools/ravelin-cli/cli_ports.h"

#include <algorithm>
#include <cctype>

#include "ravelin/support/oswin32.h"

namespace {

const char kDevicePrefix[] = "\\\\.\\";  // the device namespace: \\.\COM3

bool isNative(const std::string &text)
{
    std::string name = text;
    if (name.compare(0, sizeof kDevicePrefix - 1, kDevicePrefix) == 0) name = name.substr(sizeof kDevicePrefix - 1);
    return !name.empty() && name[0] == '/';
}

bool addPort(std::vector<CliPort> *pPorts, const CliPort &port)
{
    for (const CliPort &known : *pPorts)
        if (known.devicePath == port.devicePath) return true;
    if (pPorts->size() >= cli_kMaxListedPorts) return false;
    pPorts->push_back(port);
    return true;
}

} // namespace

bool cli_ParsePortName(const std::string &text, CliPort *pPort)
{
    std::string name = text;
    if (name.compare(0, sizeof kDevicePrefix - 1, kDevicePrefix) == 0) name = name.substr(sizeof kDevicePrefix - 1);
    if (!name.empty() && name[0] == '/') {
        pPort->nNumber = 0;
        pPort->display = name;
        pPort->devicePath = kDevicePrefix + name;
        return true;
    }
    if (name.size() < 4 || os_CompareNoCase(name.substr(0, 3).c_str(), "COM") != 0) return false;
    unsigned long nNumber = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])) || nNumber > 99999) return false;
        nNumber = nNumber * 10 + static_cast<unsigned long>(name[i] - '0');
    }
    if (nNumber == 0) return false;
    pPort->nNumber = nNumber;
    pPort->display = "COM" + std::to_string(nNumber);
    pPort->devicePath = kDevicePrefix + pPort->display;
    return true;
}

bool cli_ParsePortList(const std::string &text, std::vector<CliPort> *pPorts, std::string *pBad)
{
    std::size_t nStart = 0;
    for (;;) {
        std::size_t nComma = text.find(',', nStart);
        std::string item = text.substr(nStart, nComma == std::string::npos ? std::string::npos : nComma - nStart);
        if (pBad != nullptr) *pBad = item;
        CliPort port;
        std::size_t nDash = item.find('-');
        // A native path may hold "-" itself (/dev/serial/by-id/usb-...): it is never a range.
        if (!isNative(item) && nDash != std::string::npos) {
            CliPort first, last;
            if (!cli_ParsePortName(item.substr(0, nDash), &first) || !cli_ParsePortName(item.substr(nDash + 1), &last) ||
                first.nNumber == 0 || last.nNumber == 0 || last.nNumber < first.nNumber ||
                last.nNumber - first.nNumber >= cli_kMaxListedPorts)
                return false;
            for (unsigned long n = first.nNumber; n <= last.nNumber; ++n) {
                cli_ParsePortName("COM" + std::to_string(n), &port);
                if (!addPort(pPorts, port)) return false;
            }
        } else {
            if (!cli_ParsePortName(item, &port) || !addPort(pPorts, port)) return false;
        }
        if (nComma == std::string::npos) break;
        nStart = nComma + 1;
    }
    if (pBad != nullptr) pBad->clear();
    return true;
}

std::string cli_FormatPortList(const std::vector<CliPort> &ports)
{
    std::vector<unsigned long> numbers;
    std::vector<std::string> native;
    for (const CliPort &port : ports) {
        if (port.nNumber != 0)
            numbers.push_back(port.nNumber);
        else
            native.push_back(port.display);
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    std::string out;
    auto append = [&out](const std::string &item) {
        if (!out.empty()) out += ",";
        out += item;
    };
    for (std::size_t i = 0; i < numbers.size();) {
        std::size_t j = i;
        while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) ++j;
        std::string item = "COM" + std::to_string(numbers[i]);
        if (j > i) item += "-COM" + std::to_string(numbers[j]);
        append(item);
        i = j + 1;
    }
    for (const std::string &name : native) append(name);
    return out;
}
