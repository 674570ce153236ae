#include <gtest/gtest.h>

#include <string>

#include "ravelin/serial/urs_dump.h"

namespace {

std::string Dump(const std::string &bytes)
{
    char szOut[urs_kDumpCapacity];
    return urs_DumpBytes(bytes.data(), static_cast<long>(bytes.size()), szOut);
}

TEST(UrsDump, ShowsLineEndsAndControlBytesReadably)
{
    EXPECT_EQ(Dump("AT\r"), "AT\\r");
    EXPECT_EQ(Dump("OK\r\n"), "OK\\r\\n");
    EXPECT_EQ(Dump(std::string("\x00\x1b\x7f\xff A", 6)), "\\x00\\x1b\\x7f\\xff A");
    EXPECT_EQ(Dump(""), "");
}

TEST(UrsDump, ShowsAtMostTwentyBytes)
{
    // 100 bytes is still shown readably, cut after 20.
    std::string hundred(100, 'x');
    hundred[0] = '\r';
    EXPECT_EQ(Dump(hundred), "\\r" + std::string(19, 'x'));

    // Twenty escaped bytes fill the whole capacity without overflow.
    EXPECT_EQ(Dump(std::string(30, '\x01')).size(), static_cast<std::size_t>(20 * 4));
}

TEST(UrsDump, ShowsLongBlocksAsHexDigits)
{
    std::string block(101, '\0');
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(0xf0 + i);
    std::string dump = Dump(block);
    ASSERT_EQ(dump.size(), 40u);
    EXPECT_EQ(dump.substr(0, 8), "f0f1f2f3");
    EXPECT_EQ(dump.substr(32), "00010203");  // 0xf0 + 16 wraps to 0x00
}

}  // namespace
