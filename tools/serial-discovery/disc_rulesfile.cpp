#include "tools/serial-discovery/disc_rulesfile.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "ravelin/support/oswin32.h"
#include <sstream>
#include <vector>

extern char **environ;

namespace {

const char kDefaultRules[] = "/etc/udev/rules.d/61-ravelin-com.rules";
const char kRunByHand[] = "sudo udevadm control --reload && sudo udevadm trigger --action=add --subsystem-match=tty";

std::string SystemError(const std::string &what, int nError) { return what + ": " + std::strerror(nError); }

// Runs the program with its arguments and waits: its exit status, or -1 (errno set) when it could not start.
int Run(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t nPid;
    int nError = posix_spawnp(&nPid, argv[0], nullptr, nullptr, argv.data(), environ);
    if (nError != 0) {
        errno = nError;
        return -1;
    }
    int nStatus = 0;
    while (waitpid(nPid, &nStatus, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128;
}

} // namespace

std::string disc_RulesPath()
{
    const char *pszPath = std::getenv("RAVELIN_COM_RULES");
    return pszPath != nullptr && *pszPath != '\0' ? pszPath : kDefaultRules;
}

bool disc_ReadRules(const std::string &path, DiscRules *pRules, std::string *pError)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno == ENOENT) {
            *pRules = DiscRules();
            return true;
        }
        *pError = SystemError("cannot read " + path, errno);
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        *pError = "cannot read " + path;
        return false;
    }
    *pRules = disc_ParseRules(text.str());
    return true;
}

bool disc_WriteRules(const std::string &path, const DiscRules &rules, std::string *pError)
{
    // The suite's one way of replacing a file: udev never reads half a file, and a failed write
    // leaves the old one as it was.
    std::string text = disc_RenderRules(rules);
    osfl_Replacement replacement;
    bool bOk = osfl_BeginReplace(&replacement, path.c_str()) == 1;
    if (bOk && osfl_Write(replacement.hFile, text.data(), static_cast<int>(text.size())) != static_cast<int>(text.size())) {
        replacement.nError = errno != 0 ? errno : EIO;
        osfl_AbandonReplace(&replacement);
        bOk = false;
    }
    if (bOk) bOk = osfl_CommitReplace(&replacement) == 1;
    if (!bOk) {
        char szReason[os_kPathLen + 256];
        osfl_DescribeWriteFailure(path.c_str(), replacement.nError, szReason, sizeof szReason);
        *pError = szReason;
    }
    return bOk;
}

bool disc_ApplyRules(std::string *pHint)
{
    const char *pszProgram = std::getenv("RAVELIN_UDEVADM");
    std::string program = pszProgram != nullptr && *pszProgram != '\0' ? pszProgram : "udevadm";
    if (geteuid() != 0) {
        *pHint = "udev was not asked to apply the rules (that needs root); run: " + std::string(kRunByHand);
        return false;
    }
    int nStatus = Run({program, "control", "--reload"});
    if (nStatus == 0) nStatus = Run({program, "trigger", "--action=add", "--subsystem-match=tty"});
    if (nStatus == 0) return true;
    if (nStatus < 0)
        *pHint = SystemError("udev cannot be asked to apply the rules (" + program + ")", errno);
    else
        *pHint = "udev did not apply the rules (" + program + " exit code " + std::to_string(nStatus) + ")";
    *pHint += "; when udev runs, run: " + std::string(kRunByHand);
    return false;
}
