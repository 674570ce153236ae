#include "ravelin/serial/urs_names.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char kDevicePrefix[] = "\\\\.\\";  // the device-namespace prefix \\.\ of the device path
const std::size_t kPrefixLen = sizeof kDevicePrefix - 1;

bool HasDevicePrefix(const char *pszPath)
{
    return std::strncmp(pszPath, kDevicePrefix, kPrefixLen) == 0;
}

bool StartsWithCom(const char *pszName)
{
    return std::toupper(static_cast<unsigned char>(pszName[0])) == 'C' &&
           std::toupper(static_cast<unsigned char>(pszName[1])) == 'O' &&
           std::toupper(static_cast<unsigned char>(pszName[2])) == 'M';
}

// n of "COM<n>" (case as the original file system: any), or 0 when the name is not of that form.
std::uint32_t ComNumber(const char *pszName)
{
    if (std::strlen(pszName) < 4 || !StartsWithCom(pszName))
        return 0;
    std::uint32_t nNumber = 0;
    const char *p = pszName + 3;
    if (!std::isdigit(static_cast<unsigned char>(*p)))
        return 0;
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p)
        nNumber = nNumber * 10 + static_cast<std::uint32_t>(*p - '0');
    return *p == '\0' ? nNumber : 0;
}

}  // namespace

void urs_LogNameOf(const char *pszDevicePath, char *pszName, std::size_t nCapacity)
{
    if (nCapacity == 0)
        return;
    // A bare native path ("/dev/pts/3") has no prefix to drop; cutting four characters off it would
    // only garble the name.
    const char *pszSource = HasDevicePrefix(pszDevicePath) ? pszDevicePath + kPrefixLen : pszDevicePath;
    std::snprintf(pszName, nCapacity, "%s", pszSource);
}

std::uint32_t urs_PortNumberOf(const char *pszDevicePath)
{
    if (!HasDevicePrefix(pszDevicePath))
        return 0;
    const char *p = pszDevicePath + kPrefixLen;
    if (std::strlen(p) < 3 || !StartsWithCom(p))
        return 0;
    std::uint32_t nNumber = 0;
    for (p += 3; std::isdigit(static_cast<unsigned char>(*p)); ++p)
        nNumber = nNumber * 10 + static_cast<std::uint32_t>(*p - '0');
    return nNumber;
}

int urs_ParsePortName(const char *pszText, char *pszDevicePath, std::size_t nCapacity)
{
    if (pszText == nullptr || pszDevicePath == nullptr || nCapacity == 0)
        return -1;
    const char *pszName = HasDevicePrefix(pszText) ? pszText + kPrefixLen : pszText;
    int nLen;
    if (pszName[0] == '/') {
        nLen = std::snprintf(pszDevicePath, nCapacity, "%s%s", kDevicePrefix, pszName);
        return nLen >= 0 && static_cast<std::size_t>(nLen) < nCapacity ? 0 : -1;
    }
    const char *pszDigits = StartsWithCom(pszName) ? pszName + 3 : pszName;
    if (*pszDigits == '\0')
        return -1;
    unsigned long nNumber = 0;
    for (const char *p = pszDigits; *p != '\0'; ++p) {
        if (!std::isdigit(static_cast<unsigned char>(*p)))
            return -1;
        nNumber = nNumber * 10 + static_cast<unsigned long>(*p - '0');
        if (nNumber > urs_kMaxComNumber)
            return -1;
    }
    if (nNumber == 0)
        return -1;
    nLen = std::snprintf(pszDevicePath, nCapacity, "%sCOM%lu", kDevicePrefix, nNumber);
    return nLen >= 0 && static_cast<std::size_t>(nLen) < nCapacity ? static_cast<int>(nNumber) : -1;
}

bool urs_ResolvePortPath(const char *pszName, char *pszPath, std::size_t nCapacity)
{
    std::uint32_t nCom = ComNumber(pszName);
    int nLen;
    if (nCom == 0) {
        nLen = std::snprintf(pszPath, nCapacity, "%s", pszName);
        return nLen >= 0 && static_cast<std::size_t>(nLen) < nCapacity;
    }
    const char *pszDir = std::getenv("SERIAL_PORTS_DIR");
    if (pszDir != nullptr && *pszDir != '\0') {
        nLen = std::snprintf(pszPath, nCapacity, "%s/COM%u", pszDir, static_cast<unsigned>(nCom));
        return nLen >= 0 && static_cast<std::size_t>(nLen) < nCapacity;
    }
    // The link udev makes from a rule of `ravelin-cli ports --assign`; lstat, so that the link of an
    // adapter that is away still names the port (and fails to open) instead of reaching ttyS<n-1>.
    struct stat st;
    nLen = std::snprintf(pszPath, nCapacity, "%s/COM%u", urs_kComLinksDir, static_cast<unsigned>(nCom));
    if (nLen >= 0 && static_cast<std::size_t>(nLen) < nCapacity && lstat(pszPath, &st) == 0)
        return true;
    nLen = std::snprintf(pszPath, nCapacity, "/dev/ttyS%u", static_cast<unsigned>(nCom - 1));
    return nLen >= 0 && static_cast<std::size_t>(nLen) < nCapacity;
}
