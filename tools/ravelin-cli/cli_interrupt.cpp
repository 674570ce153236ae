#include "tools/ravelin-cli/cli_interrupt.h"

#include <atomic>
#include <cstdio>

#include "ravelin/flash/flsh.h"
#include "ravelin/support/oswin32.h"

namespace {

std::atomic<const char *> g_pszCommand{"ravelin-cli"};
std::atomic<bool> g_bInterrupted{false};

void OnInterrupt(int nCount)
{
    g_bInterrupted.store(true);
    flsh_SetCancel();
    // On a terminal the progress bar holds the line: the message starts a fresh one.
    if (nCount == 1)
        std::fprintf(stderr, "%s%s: interrupted: stopping at the next step and releasing the ports\n",
                     os_StderrIsTerminal() ? "\n" : "", g_pszCommand.load());
    else
        std::fprintf(stderr, "%s: still stopping: the current step ends within its time-out\n", g_pszCommand.load());
    std::fflush(stderr);
}

} // namespace

void cli_CatchInterrupts(const char *pszCommand)
{
    g_pszCommand.store(pszCommand);
    if (!os_CatchInterrupts(OnInterrupt))
        std::fprintf(stderr, "%s: Ctrl-C cannot be caught; it would end the program at once\n", pszCommand);
}

bool cli_Interrupted()
{
    return g_bInterrupted.load();
}

void cli_PrintLoaderHint(const char *pszCommand)
{
    std::fprintf(stderr,
                 "%s: a device left in its flash loader answers no AT commands: power-cycle it, or program it "
                 "again with --fixed-speed\n",
                 pszCommand);
}
