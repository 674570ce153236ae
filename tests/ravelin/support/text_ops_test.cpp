// Small text operations: number parsing, trimmed and bounded copies, case-blind comparison.
#include <gtest/gtest.h>

#include <cstring>

#include "ravelin/support/oswin32.h"

namespace {

TEST(ParseNumber, DecimalHexAndWhatStopsThem) {
    EXPECT_EQ(os_ParseNumber("0x1F"), 31u);
    EXPECT_EQ(os_ParseNumber("0X1f"), 31u);
    EXPECT_EQ(os_ParseNumber("0xaBcD"), 0xABCDu);
    EXPECT_EQ(os_ParseNumber("0x10zz"), 16u);
    EXPECT_EQ(os_ParseNumber("12abc"), 12u);
    EXPECT_EQ(os_ParseNumber("007"), 7u);
    EXPECT_EQ(os_ParseNumber("115200"), 115200u);
    EXPECT_EQ(os_ParseNumber("0x200000"), 0x200000u);
    EXPECT_EQ(os_ParseNumber("0xFFFFFFFF"), 0xFFFFFFFFu);
}

TEST(ParseNumber, TextsThatGiveZero) {
    EXPECT_EQ(os_ParseNumber(nullptr), 0u);
    EXPECT_EQ(os_ParseNumber(""), 0u);
    EXPECT_EQ(os_ParseNumber("abc"), 0u);
    EXPECT_EQ(os_ParseNumber("-5"), 0u) << "no sign";
    EXPECT_EQ(os_ParseNumber(" 5"), 0u) << "no leading blanks";
    EXPECT_EQ(os_ParseNumber("0x"), 0u);
    EXPECT_EQ(os_ParseNumber("0xg1"), 0u);
    EXPECT_EQ(os_ParseNumber("x10"), 0u);
}

TEST(ParseNumber, OverflowWrapsWithoutFailing) {
    EXPECT_EQ(os_ParseNumber("4294967296"), 0u);
    EXPECT_EQ(os_ParseNumber("0x123456789"), 0x23456789u);
}

TEST(CopyTrimmed, RemovesWhiteSpaceOnBothSides) {
    char sz[32];
    EXPECT_EQ(os_CopyTrimmed(sz, " \t\r\n Key Name \t\r\n", 32), 8);
    EXPECT_STREQ(sz, "Key Name");
    EXPECT_EQ(os_CopyTrimmed(sz, " \t ", 32), 0);
    EXPECT_STREQ(sz, "");
}

TEST(CopyTrimmed, CutsToCapacityThenTrimsTheCut) {
    char sz[6];
    std::memset(sz, '#', sizeof sz);
    EXPECT_EQ(os_CopyTrimmed(sz, "  ab  cdef", 6), 5);  // "ab  c": inner blanks stay
    EXPECT_STREQ(sz, "ab  c");
    EXPECT_EQ(os_CopyTrimmed(sz, "ab   xyz", 5), 2);     // "ab  " loses its trailing blanks
    EXPECT_STREQ(sz, "ab");
    EXPECT_EQ(os_CopyTrimmed(sz, "abcdefghij", 6), 5);
    EXPECT_STREQ(sz, "abcde");
}

TEST(CopyBounded, FitsOrCutsAndSaysWhich) {
    char sz[5];
    EXPECT_EQ(os_CopyBounded(sz, "abc", 5), 3);
    EXPECT_STREQ(sz, "abc");
    EXPECT_EQ(os_CopyBounded(sz, "abcd", 5), 4) << "capacity - 1 characters still fit";
    EXPECT_STREQ(sz, "abcd");
    EXPECT_EQ(os_CopyBounded(sz, "abcde", 5), 5) << "capacity characters are cut";
    EXPECT_STREQ(sz, "abcd");
    EXPECT_EQ(os_CopyBounded(sz, "abcdefghijkl", 5), 5);
    EXPECT_STREQ(sz, "abcd");
    EXPECT_EQ(os_CopyBounded(sz, "", 5), 0);
    EXPECT_STREQ(sz, "");
}

TEST(CompareNoCase, IgnoresCaseOnly) {
    EXPECT_EQ(os_CompareNoCase("[Sect]", "[sECT]"), 0);
    EXPECT_EQ(os_CompareNoCase("", ""), 0);
    EXPECT_LT(os_CompareNoCase("abc", "abd"), 0);
    EXPECT_GT(os_CompareNoCase("abd", "ABC"), 0);
    EXPECT_NE(os_CompareNoCase("abc", "abcd"), 0);
    EXPECT_NE(os_CompareNoCase("abcd", "abc"), 0);
}

}  // namespace
