#include <gtest/gtest.h>

#include <random>
#include <string>

#include "ravelin/serial/urswin32.h"

namespace {

// Feeds each byte and returns the index (0-based) of the first byte at which the watcher reported 1,
// or -1. Checks that it keeps reporting 1 afterwards.
int FirstMatch(const char *pszPattern, const std::string &stream)
{
    ResponseWatcher watcher;
    urs_ResetWatcher(&watcher, pszPattern);
    int nFirst = -1;
    for (std::size_t i = 0; i < stream.size(); ++i) {
        int nSeen = urs_FeedWatcher(&watcher, static_cast<unsigned char>(stream[i]));
        if (nFirst >= 0)
            EXPECT_EQ(nSeen, 1) << "stopped reporting after the match at byte " << i;
        else if (nSeen)
            nFirst = static_cast<int>(i);
    }
    return nFirst;
}

TEST(ResponseWatcher, FalseStartOverlappingTheTrueOneStillMatches)
{
    EXPECT_EQ(FirstMatch("OK\r\n", "OOK\r\n"), 4);
    EXPECT_EQ(FirstMatch("ABABC", "ABABABC"), 6);
    EXPECT_EQ(FirstMatch("aab", "aaab"), 3);
    EXPECT_EQ(FirstMatch("OK\r\n", "OK\rOK\r\n"), 6);
}

TEST(ResponseWatcher, ReportsAtTheFinalByteAndKeepsReportingUntilReset)
{
    const char *pszPattern = "Download initiated ..\r\n";
    std::string stream = std::string("x\r") + pszPattern;
    EXPECT_EQ(FirstMatch(pszPattern, stream + "more bytes"), static_cast<int>(stream.size()) - 1);

    ResponseWatcher watcher;
    urs_ResetWatcher(&watcher, "OK");
    urs_FeedWatcher(&watcher, 'O');
    EXPECT_EQ(urs_FeedWatcher(&watcher, 'K'), 1);
    urs_ResetWatcher(&watcher, "OK");
    EXPECT_EQ(urs_FeedWatcher(&watcher, 'K'), 0);
}

TEST(ResponseWatcher, HighBytesAndMissesDoNotMatch)
{
    EXPECT_EQ(FirstMatch("\xff\x01", "\xfe\xff\xff\x01"), 3);
    EXPECT_EQ(FirstMatch("ERROR", "ERRO\rERR"), -1);
    EXPECT_EQ(FirstMatch("", "x"), 0);  // an empty pattern is seen at once
}

// The watcher must report exactly where the pattern first appears as a contiguous run; compare with
// a plain search over many random streams of a small alphabet, where overlapping false starts abound.
TEST(ResponseWatcher, AgreesWithPlainSearchOnRandomStreams)
{
    std::mt19937 rng(12345);
    const char *kPatterns[] = {"aab", "abab", "aabaa", "abcabd", "aaaa", "abaabab"};
    for (const char *pszPattern : kPatterns) {
        for (int nRun = 0; nRun < 400; ++nRun) {
            std::string stream;
            std::uniform_int_distribution<int> pick(0, 2);
            for (int i = 0; i < 30; ++i)
                stream += static_cast<char>('a' + pick(rng));
            std::size_t nFound = stream.find(pszPattern);
            int nExpected = nFound == std::string::npos
                                ? -1
                                : static_cast<int>(nFound + std::string(pszPattern).size() - 1);
            ASSERT_EQ(FirstMatch(pszPattern, stream), nExpected) << pszPattern << " in " << stream;
        }
    }
}

}  // namespace
