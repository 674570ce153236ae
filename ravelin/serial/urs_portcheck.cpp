// The port check: resolves a port as the open does, looks at what the path leads to, tries an
// exclusive open the same way, and turns the first obstacle into a line a user can act on.
#include "ravelin/serial/urs_portcheck.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ravelin/serial/urs_names.h"
#include "ravelin/support/oswin32.h"
#include "ravelin/serial/urs_proc.h"
#include "ravelin/serial/urswin32.h"

namespace {

// The name modem manager services run under; they open every new serial port to look for modems,
// and a device that is being flashed must not be talked to by anyone else.
const char kModemManagerName[] = "ModemManager";

void GroupName(gid_t nGid, char *pszName, std::size_t nCapacity)
{
    struct group grp;
    struct group *pResult = nullptr;
    char achBuffer[4096];
    if (getgrgid_r(nGid, &grp, achBuffer, sizeof achBuffer, &pResult) == 0 && pResult != nullptr)
        std::snprintf(pszName, nCapacity, "%s", pResult->gr_name);
    else
        std::snprintf(pszName, nCapacity, "%u", static_cast<unsigned>(nGid));
}

int StateOfOpenError(int nError)
{
    switch (nError) {
    case EACCES:
    case EPERM:
    case EROFS: return urs_kPortDenied;
    case EBUSY:
    case EWOULDBLOCK: return urs_kPortInUse;
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
    case EIO: return urs_kPortMissing;  // a ttyS entry without a UART behind it answers EIO
    case ENOTTY:
    case EINVAL: return urs_kPortNotSerial;
    default: return urs_kPortFailed;
    }
}

void FindHolder(UrsPortCheck *pCheck, const struct stat &st)
{
    long nPid = urs_FindLockHolder(st.st_dev, st.st_ino);
    if (nPid == 0) {
        char szReal[PATH_MAX];
        if (urs_FollowLinks(pCheck->szPath, szReal, sizeof szReal))
            nPid = urs_FindOpener(szReal);
    }
    pCheck->nHolderPid = nPid;
    if (nPid != 0)
        urs_ProcessName(nPid, pCheck->szHolderName, sizeof pCheck->szHolderName);
}

// Tries what urs_OpenPort does and undoes it: the open and the flock, then a question for the line
// settings. TIOCEXCL is left out: it would stay on the port after our close and shut out its next
// user until the last descriptor is closed.
int TryOpen(const char *pszPath)
{
    int hPort = open(pszPath, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (hPort < 0)
        return errno;
    int nError = 0;
    struct termios tio;
    if (flock(hPort, LOCK_EX | LOCK_NB) != 0)
        nError = errno;
    else if (tcgetattr(hPort, &tio) != 0)
        nError = errno == EINVAL ? ENOTTY : errno;
    flock(hPort, LOCK_UN);
    close(hPort);
    return nError;
}

}  // namespace

int urs_CheckPort(const char *pszDevicePath, bool bFindHolder, UrsPortCheck *pCheck)
{
    std::memset(pCheck, 0, sizeof *pCheck);
    char szName[urs_kNameLen + 1];
    urs_LogNameOf(pszDevicePath, szName, sizeof szName);
    if (!urs_ResolvePortPath(szName, pCheck->szPath, sizeof pCheck->szPath)) {
        pCheck->nError = ENAMETOOLONG;
        pCheck->nState = urs_kPortFailed;
        return pCheck->nState;
    }
    const char *pszDir = std::getenv("SERIAL_PORTS_DIR");
    pCheck->bInPortsDir = urs_PortNumberOf(pszDevicePath) != 0 && pszDir != nullptr && *pszDir != '\0';

    struct stat st;
    if (stat(pCheck->szPath, &st) != 0) {
        pCheck->nError = errno;
        pCheck->nState = StateOfOpenError(errno);
        return pCheck->nState;
    }
    pCheck->bExists = true;
    pCheck->bCharDevice = S_ISCHR(st.st_mode);
    pCheck->nMode = static_cast<unsigned>(st.st_mode & 07777);
    GroupName(st.st_gid, pCheck->szGroup, sizeof pCheck->szGroup);
    if (!pCheck->bCharDevice) {
        pCheck->nError = S_ISDIR(st.st_mode) ? EISDIR : ENOTTY;
        pCheck->nState = urs_kPortNotSerial;
        return pCheck->nState;
    }

    pCheck->nError = TryOpen(pCheck->szPath);
    pCheck->nState = pCheck->nError == 0 ? urs_kPortUsable : StateOfOpenError(pCheck->nError);
    if (pCheck->nState == urs_kPortInUse || (bFindHolder && pCheck->nState == urs_kPortUsable))
        FindHolder(pCheck, st);
    return pCheck->nState;
}

void urs_DescribePortCheck(const UrsPortCheck *pCheck, char *pszText, std::size_t nCapacity)
{
    if (nCapacity == 0)
        return;
    char szError[128];
    const char *pszError = strerror_r(pCheck->nError, szError, sizeof szError);
    const char *pszDir = std::getenv("SERIAL_PORTS_DIR");
    switch (pCheck->nState) {
    case urs_kPortUsable:
        std::snprintf(pszText, nCapacity, "usable");
        break;
    case urs_kPortMissing:
        if (pCheck->bExists)
            std::snprintf(pszText, nCapacity, "no such port: no serial device answers at %s (%s)", pCheck->szPath,
                          pszError);
        else if (!pCheck->bInPortsDir && std::strncmp(pCheck->szPath, urs_kComLinksDir "/", sizeof urs_kComLinksDir) == 0)
            std::snprintf(pszText, nCapacity,
                          "no such port: %s leads nowhere (the adapter of this COM number is not plugged in)",
                          pCheck->szPath);
        else if (pCheck->bInPortsDir && pszDir != nullptr)
            std::snprintf(pszText, nCapacity, "no such port: %s does not exist (SERIAL_PORTS_DIR=%s has no such entry)",
                          pCheck->szPath, pszDir);
        else
            std::snprintf(pszText, nCapacity, "no such port: %s does not exist", pCheck->szPath);
        break;
    case urs_kPortInUse:
        if (pCheck->nHolderPid != 0)
            std::snprintf(pszText, nCapacity, "in use by process %ld (%s); end it or wait until it lets go",
                          pCheck->nHolderPid, pCheck->szHolderName);
        else
            std::snprintf(pszText, nCapacity, "in use by another program; end it or wait until it lets go");
        break;
    case urs_kPortDenied:
        if (pCheck->bExists)
            std::snprintf(pszText, nCapacity,
                          "permission denied: %s belongs to group %s (mode %04o); join that group "
                          "(sudo usermod -aG %s $USER) and log in again",
                          pCheck->szPath, pCheck->szGroup, pCheck->nMode, pCheck->szGroup);
        else
            std::snprintf(pszText, nCapacity, "permission denied: %s cannot be reached (%s)", pCheck->szPath, pszError);
        break;
    case urs_kPortNotSerial:
        std::snprintf(pszText, nCapacity, "not a serial line: %s is %s", pCheck->szPath,
                      pCheck->nError == EISDIR ? "a directory"
                      : pCheck->bCharDevice    ? "a device without serial line settings"
                                               : "not a device");
        break;
    default:
        std::snprintf(pszText, nCapacity, "cannot be opened: %s (%s)", pCheck->szPath, pszError);
        break;
    }
}

bool urs_FollowLinks(const char *pszPath, char *pszReal, std::size_t nCapacity)
{
    char szChain[PATH_MAX];
    if (nCapacity == 0 || !osfl_FollowLinks(pszPath, szChain, sizeof szChain)) return false;
    // The chain's end as the kernel reads it: "/dev/serial/com/../../ttyUSB4" is /dev/ttyUSB4
    // (udev's links lie in plain directories, so ".." takes one name off).
    std::vector<std::string> names;
    std::string name;
    for (const char *p = szChain;; ++p) {
        if (*p == '/' || *p == '\0') {
            if (name == "..") {
                if (!names.empty()) names.pop_back();
            } else if (!name.empty() && name != ".") {
                names.push_back(name);
            }
            name.clear();
            if (*p == '\0') break;
        } else {
            name += *p;
        }
    }
    std::string real = szChain[0] == '/' ? "" : ".";
    for (const std::string &part : names) real += "/" + part;
    if (real.empty()) real = "/";
    if (real.size() >= nCapacity) return false;
    std::snprintf(pszReal, nCapacity, "%s", real.c_str());
    return true;
}

long urs_FindModemManager(char *pszName, std::size_t nCapacity)
{
    long nPid = urs_FindProcessByName(kModemManagerName);
    if (nPid != 0 && nCapacity > 0)
        urs_ProcessName(nPid, pszName, nCapacity);
    return nPid;
}
