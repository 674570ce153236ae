#include <cstdio>

#include "tools/ravelin-cli/commands.h"

int cli_Flash(int, char **)
{
    std::fputs("ravelin-cli: this command is not available yet\n", stderr);
    return 2;
}
