// The clock helper that every sleep and time-out of the port layer goes through.
#include <gtest/gtest.h>

#include <regex>

#include "country/PortWriter/CountryClock.h"
#include "portwriter_test_util.h"

namespace {

TEST(CClockTest, TimeScaleIsAPositiveDecimalOrOne) {
    EXPECT_DOUBLE_EQ(CClock::ParseTimeScale(nullptr), 1.0);
    EXPECT_DOUBLE_EQ(CClock::ParseTimeScale(""), 1.0);
    EXPECT_DOUBLE_EQ(CClock::ParseTimeScale("0.25"), 0.25);
    EXPECT_DOUBLE_EQ(CClock::ParseTimeScale("3"), 3.0);
    EXPECT_DOUBLE_EQ(CClock::ParseTimeScale("0"), 1.0);
    EXPECT_DOUBLE_EQ(CClock::ParseTimeScale("-2"), 1.0);
    EXPECT_DOUBLE_EQ(CClock::ParseTimeScale("fast"), 1.0);
    EXPECT_DOUBLE_EQ(CClock::ParseTimeScale("0.5s"), 1.0);
    EXPECT_DOUBLE_EQ(CClock::ParseTimeScale("nan"), 1.0);
}

TEST(CClockTest, SleepAndElapsedTimeAgreeInLogicalMilliseconds) {
    const int64_t start = CClock::NowMs();
    CClock::SleepMs(120);
    const int64_t elapsed = CClock::NowMs() - start;
    EXPECT_GE(elapsed, 119);  // logical time: the same under any scale
    EXPECT_EQ(CClock::ToRealMs(0), 0);
    EXPECT_GE(CClock::ToRealMs(1), 1);  // a positive wait never becomes no wait
}

TEST(CClockTest, TimeOfDayHasMilliseconds) {
    EXPECT_TRUE(std::regex_match(CClock::TimeOfDay(), std::regex("[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\\.[0-9]{3}")));
    long seconds = 0;
    int ms = -1;
    CClock::WallClock(seconds, ms);
    EXPECT_GT(seconds, 1600000000L);
    EXPECT_GE(ms, 0);
    EXPECT_LT(ms, 1000);
}

}  // namespace
