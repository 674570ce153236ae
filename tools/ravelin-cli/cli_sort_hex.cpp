// ravelin-cli sort-hex IN OUT: rewrites an Intel HEX image in address order, exactly as the flash
// engine sorts an image before programming it (so a service bench can inspect what a device gets).
#include <cstdio>
#include <cstring>
#include <new>

#include "ravelin/flash/flsh.h"
#include "ravelin/flash/hex_image.h"
#include "tools/ravelin-cli/commands.h"

int cli_SortHex(int argc, char **argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs("usage: ravelin-cli sort-hex IN OUT\n"
                   "Writes OUT with the data records of IN grouped by address base in ascending order,\n"
                   "each base introduced by its extended address record, and one end-of-file record.\n"
                   "Exit code 0, or 11 when IN cannot be sorted.\n",
                   stdout);
        return 0;
    }
    if (argc != 3) {
        std::fputs("usage: ravelin-cli sort-hex IN OUT\n", stderr);
        return 2;
    }
    // The work area holds the record table pointer and a line buffer; keep it off the stack.
    SortWork *pWork = new (std::nothrow) SortWork();
    if (pWork == nullptr) {
        std::fprintf(stderr, "%s\n", flsh_ResultText(FR_SORT_FAILED));
        return FR_SORT_FAILED;
    }
    pWork->pOwner = nullptr;
    int nResult = sortHexFile(argv[1], argv[2], pWork, nullptr);
    delete pWork;
    if (nResult != 0) {
        std::fprintf(stderr, "%s\n", flsh_ResultText(FR_SORT_FAILED));
        return FR_SORT_FAILED;
    }
    return 0;
}
