// The percentage ravelin-cli shows for a device, read from the status short code the engine wrote.
#include <gtest/gtest.h>

#include "tools/ravelin-cli/cli_progress.h"

namespace {

TEST(ShortCodePercent, TheNumberOfAPercentCodeAndNothingElse)
{
    struct Case {
        const char *pszCode;
        int nPercent;
    };
    const Case cases[] = {
        {"H  50", 50},     {"P  00", 0},      {"P  07", 7},    {"P 100", 100}, {"PL  42", 42}, {"PL 100", 100},
        {"T  12", 12},     {"P 38400", 100},  // never above a whole
        {"ResDef", 0},     {"I    ", 0},      {"R    ", 0},   {"Sort", 0},    {"Reboot", 0},  {"H 100", 100},
        {"", 0},           {"     ", 0},      {"P", 0},        {"P  ", 0},     {"50", 0},      {"P 5x", 0},
    };
    for (const Case &c : cases) EXPECT_EQ(c.nPercent, cli_ShortCodePercent(c.pszCode)) << '"' << c.pszCode << '"';
}

} // namespace
