// The shared 50 ms ticker that expires timed writes: it runs on its own thread, so timers expire
// without any message loop.
#include <gtest/gtest.h>

#include <memory>

#include "country/PortWriter/TickTimer.h"
#include "portwriter_test_util.h"

namespace {

using pw_testing::MonotonicMs;

TEST(CTickTimerTest, OneShotFiresOnceAfterItsTicks) {
    const long long start = MonotonicMs();
    CTickTimer timer(200, false);
    EXPECT_TRUE(timer.IsActive());
    ASSERT_TRUE(timer.Event().Wait(10000));
    // Four ticks of a shared ticker: the first may come at once after the start, so at least three.
    EXPECT_GE(MonotonicMs() - start, pw_testing::ScaledMs(140));
    EXPECT_FALSE(timer.IsActive());
    EXPECT_FALSE(timer.Event().Wait(200));
}

TEST(CTickTimerTest, PeriodicTimerFiresAgain) {
    CTickTimer timer(50, true);
    ASSERT_TRUE(timer.Event().Wait(10000));
    ASSERT_TRUE(timer.Event().Wait(10000));
    EXPECT_TRUE(timer.IsActive());
}

TEST(CTickTimerTest, TimeOutBelowOneTickStillExpires) {
    CTickTimer timer(10, false);
    EXPECT_TRUE(timer.Event().Wait(10000));
}

TEST(CTickTimerTest, TickerRunsOnlyWhileTimersLive) {
    {
        CTickTimer a(10000, false);
        std::unique_ptr<CTickTimer> b(new CTickTimer(10000, false));
        EXPECT_EQ(CTickTimer::LiveTimers(), 2);
        EXPECT_TRUE(CTickTimer::TickerRunning());
        b.reset();
        EXPECT_TRUE(CTickTimer::TickerRunning());
    }
    EXPECT_EQ(CTickTimer::LiveTimers(), 0);
    EXPECT_FALSE(CTickTimer::TickerRunning());
    // A new timer after the ticker stopped starts it again.
    CTickTimer again(50, false);
    EXPECT_TRUE(again.Event().Wait(10000));
}

TEST(CTickTimerTest, TimersOnManyThreadsAllExpire) {
    std::vector<std::thread> threads;
    std::atomic<int> expired{0};
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&expired, i] {
            CTickTimer timer(50 + 50 * (i % 3), false);
            if (timer.Event().Wait(10000))
                ++expired;
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(expired.load(), 8);
}

}  // namespace
