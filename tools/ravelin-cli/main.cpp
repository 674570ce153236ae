// ravelin-cli: a headless front end over the update engine, for scripts and service benches.
#include <cstdio>
#include <cstring>

#include "suite_version.h"
#include "tools/ravelin-cli/commands.h"

namespace {

void printUsage(FILE *out)
{
    std::fputs("usage: ravelin-cli COMMAND [ARGS]\n"
               "\n"
               "commands:\n"
               "  probe [PORT ...] [--json] [--log]   identify the devices on the named ports\n"
               "                                      (COM1 to COM36 when none is named)\n"
               "  sort-hex [--strict] IN OUT          rewrite an Intel HEX image in address order\n"
               "  flash --port PORT --image FILE --model NAME [options]\n"
               "                                      update one device\n"
               "  ports [PORT ...] [--json]           what each port maps to and whether it can be used\n"
               "  ports --assign | --unassign COMn | --watch\n"
               "                                      COM numbers that stay, kept as udev rules\n"
               "  run [SWITCHES] [--images DIR] [--ports LIST] [--yes] [--dry-run] [--verify] [--json]\n"
               "                                      identify a bank and update every device at once\n"
               "  history [--port PORT] [--since DATE] [--failed] [--unfinished] [--json | --csv]\n"
               "                                      the updates on record, newest first\n"
               "  resume [PORT ...] [--yes] [--dry-run] [--json]\n"
               "                                      finish the updates the history says were interrupted\n"
               "\n"
               "'ravelin-cli COMMAND --help' describes each command; 'ravelin-cli --version' names the\n"
               "release.\n",
               out);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        printUsage(stderr);
        return 2;
    }
    const char *command = argv[1];
    if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0) {
        printUsage(stdout);
        return 0;
    }
    if (std::strcmp(command, "--version") == 0) {
        std::printf("ravelin-cli " SUITE_VERSION "\n");
        return 0;
    }
    // Each sub-command sees its own name as argv[0].
    if (std::strcmp(command, "probe") == 0)
        return cli_Probe(argc - 1, argv + 1);
    if (std::strcmp(command, "sort-hex") == 0)
        return cli_SortHex(argc - 1, argv + 1);
    if (std::strcmp(command, "flash") == 0)
        return cli_Flash(argc - 1, argv + 1);
    if (std::strcmp(command, "ports") == 0)
        return cli_Ports(argc - 1, argv + 1);
    if (std::strcmp(command, "run") == 0)
        return cli_Run(argc - 1, argv + 1);
    if (std::strcmp(command, "history") == 0)
        return cli_History(argc - 1, argv + 1);
    if (std::strcmp(command, "resume") == 0)
        return cli_Resume(argc - 1, argv + 1);
    std::fprintf(stderr, "ravelin-cli: unknown command '%s'\n", command);
    printUsage(stderr);
    return 2;
}
