#include "country/PortWriter/PortNames.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdlib>

std::string ComDeviceName(int portNumber) { return "\\\\.\\COM" + std::to_string(portNumber); }

std::string ResolvePortDevicePath(const std::string& portName) {
    std::string name = portName;
    static const std::string kPrefix = "\\\\.\\";
    if (name.compare(0, kPrefix.size(), kPrefix) == 0)
        name.erase(0, kPrefix.size());
    if (!name.empty() && name[0] == '/')
        return name;
    if (name.size() < 4 || std::toupper(static_cast<unsigned char>(name[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(name[2])) != 'M')
        return std::string();
    const std::string digits = name.substr(3);
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return std::string();
    }
    if (digits.size() > 6)
        return std::string();
    const long number = std::strtol(digits.c_str(), nullptr, 10);
    if (number < 1)
        return std::string();
    if (const char* dir = std::getenv("SERIAL_PORTS_DIR")) {
        if (*dir != '\0')
            return std::string(dir) + "/COM" + std::to_string(number);
    }
    // A number kept by a udev rule (ravelin-cli ports --assign): the link names the port even while
    // its adapter is away, so an unplugged adapter never turns into /dev/ttyS<n-1>.
    const std::string link = std::string(kComLinksDir) + "/COM" + std::to_string(number);
    struct stat st;
    if (lstat(link.c_str(), &st) == 0)
        return link;
    return "/dev/ttyS" + std::to_string(number - 1);
}
