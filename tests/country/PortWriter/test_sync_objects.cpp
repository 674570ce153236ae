// Events, wait sets, threads and the recursive mutex of the country port layer.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "country/PortWriter/SyncObjects.h"

namespace {

TEST(CEventTest, AutoResetEventReleasesOneWaitThenIsClear) {
    CEvent event;
    EXPECT_FALSE(event.IsSet());
    event.Set();
    event.Set();  // two signals before a wait still make one
    EXPECT_TRUE(event.IsSet());
    EXPECT_FALSE(event.IsSet());
    event.Set();
    event.Reset();
    EXPECT_FALSE(event.Wait(0));
}

TEST(CEventTest, ManualResetEventStaysSignalledUntilReset) {
    CEvent event(true);
    event.Set();
    EXPECT_TRUE(event.IsSet());
    EXPECT_TRUE(event.Wait(0));
    event.Reset();
    EXPECT_FALSE(event.IsSet());
}

TEST(CEventTest, ClosedEventNeverSignals) {
    CEvent event;
    event.Close();
    event.Set();
    EXPECT_FALSE(event.IsSet());
    EXPECT_EQ(event.PollHandle(), -1);
}

TEST(CEventTest, WaitWakesWhenAnotherThreadSets) {
    CEvent event;
    std::thread setter([&event] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        event.Set();
    });
    EXPECT_TRUE(event.Wait(10000));
    setter.join();
}

TEST(CWaitSetTest, ReturnsTheFirstSignalledObjectInOrderAndTakesOnlyItsSignal) {
    CEvent a, b, c;
    CWaitSet set;
    set.Add(a);
    set.Add(b);
    set.Add(c);
    c.Set();
    b.Set();
    EXPECT_EQ(set.Wait(0), &b);
    EXPECT_EQ(set.Wait(0), &c);
    EXPECT_EQ(set.Wait(0), nullptr);
}

TEST(CWaitSetTest, TimesOutWithNothingSignalled) {
    CEvent a;
    CWaitSet set;
    set.Add(a);
    EXPECT_EQ(set.Wait(30), nullptr);
    CWaitSet empty;
    EXPECT_EQ(empty.Wait(0), nullptr);
}

TEST(CWaitSetTest, HoldsAtMostOneHundredObjects) {
    std::vector<std::unique_ptr<CEvent>> events;
    CWaitSet set;
    for (size_t i = 0; i < CWaitSet::kMaxObjects; ++i) {
        events.emplace_back(new CEvent());
        EXPECT_TRUE(set.Add(*events.back()));
    }
    CEvent extra;
    EXPECT_FALSE(set.Add(extra));
    events[99]->Set();
    EXPECT_EQ(set.Wait(1000), events[99].get());
    set.Clear();
    EXPECT_EQ(set.Count(), 0u);
}

TEST(CWaitSetTest, WaitAllNeedsEverySignalAndTakesThem) {
    CEvent a, b;
    CWaitSet set;
    set.Add(a);
    set.Add(b);
    a.Set();
    EXPECT_EQ(set.Wait(30, true), nullptr);
    b.Set();
    EXPECT_EQ(set.Wait(1000, true), &a);
    EXPECT_FALSE(a.IsSet());
    EXPECT_FALSE(b.IsSet());
}

class CountingThread : public CThread {
public:
    explicit CountingThread(CEvent& go) : m_go(go) {}
    ~CountingThread() override { Wait(-1); }
    std::atomic<int> runs{0};

protected:
    void Run() override {
        m_go.Wait(-1);
        ++runs;
    }

private:
    CEvent& m_go;
};

TEST(CThreadTest, RunsOnceAndItsHandleSignalsWhenRunReturns) {
    CEvent go;
    CountingThread thread(go);
    EXPECT_TRUE(thread.Start());
    EXPECT_FALSE(thread.Start());
    EXPECT_FALSE(thread.Wait(20));
    CWaitSet set;
    set.Add(thread);
    go.Set();
    EXPECT_EQ(set.Wait(10000), &thread);
    EXPECT_TRUE(thread.Wait(0));  // a finished thread stays signalled
    EXPECT_EQ(thread.runs.load(), 1);
}

TEST(CMutexTest, OwnerMayLockAgain) {
    CMutex mutex;
    std::atomic<bool> otherGotIt{false};
    mutex.Lock();
    mutex.Lock();
    mutex.Unlock();
    std::thread other([&] {
        CMutexLock hold(mutex);
        otherGotIt = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(otherGotIt.load());  // still held once
    mutex.Unlock();
    other.join();
    EXPECT_TRUE(otherGotIt.load());
}

}  // namespace
