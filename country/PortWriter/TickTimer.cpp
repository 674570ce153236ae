#include "country/PortWriter/TickTimer.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "country/PortWriter/CountryClock.h"

// The process-wide list of live timers and the ticker thread that services them.
class CTickRegistry {
public:
    static CTickRegistry& Instance() {
        // Never destroyed: timers may outlive static destruction order in detached worker threads.
        static CTickRegistry* registry = new CTickRegistry();
        return *registry;
    }

    void Add(CTickTimer* timer) {
        CMutexLock hold(m_lock);
        m_timers.push_back(timer);
        if (!m_ticker) {
            m_ticker = std::make_shared<Ticker>();
            std::shared_ptr<Ticker> ticker = m_ticker;
            ticker->thread = std::thread([this, ticker] { RunTicker(*ticker); });
        }
    }

    void Remove(CTickTimer* timer) {
        std::shared_ptr<Ticker> stopping;
        {
            CMutexLock hold(m_lock);
            m_timers.erase(std::remove(m_timers.begin(), m_timers.end(), timer), m_timers.end());
            if (m_timers.empty() && m_ticker) {
                stopping = std::move(m_ticker);
                // Set under the registry lock: a stopping ticker never ticks a timer made after this.
                std::lock_guard<std::mutex> wake(stopping->mutex);
                stopping->stop = true;
            }
        }
        if (stopping) {
            stopping->wake.notify_all();
            if (stopping->thread.get_id() == std::this_thread::get_id())
                stopping->thread.detach();
            else
                stopping->thread.join();
        }
    }

    int Count() {
        CMutexLock hold(m_lock);
        return static_cast<int>(m_timers.size());
    }

    bool Running() {
        CMutexLock hold(m_lock);
        return m_ticker != nullptr;
    }

    CMutex& Lock() { return m_lock; }

private:
    struct Ticker {
        std::mutex mutex;
        std::condition_variable wake;
        bool stop = false;
        std::thread thread;
    };

    void RunTicker(Ticker& ticker) {
        using clock = std::chrono::steady_clock;
        const auto period = std::chrono::milliseconds(CClock::ToRealMs(CTickTimer::kTickMs));
        auto next = clock::now() + period;
        for (;;) {
            {
                std::unique_lock<std::mutex> wait(ticker.mutex);
                if (ticker.wake.wait_until(wait, next, [&ticker] { return ticker.stop; }))
                    return;
            }
            // A ticker held up (a suspended machine) does not make up for lost ticks in a burst.
            next += period;
            const auto now = clock::now();
            if (next < now)
                next = now + period;
            CMutexLock hold(m_lock);
            {
                std::lock_guard<std::mutex> check(ticker.mutex);
                if (ticker.stop)
                    return;
            }
            for (CTickTimer* timer : m_timers)
                timer->Tick();
        }
    }

    CMutex m_lock;
    std::vector<CTickTimer*> m_timers;
    std::shared_ptr<Ticker> m_ticker;
};

CTickTimer::CTickTimer(long timeoutMs, bool periodic)
    : m_periodic(periodic), m_reload(std::max(1L, timeoutMs / kTickMs)), m_count(m_reload) {
    CTickRegistry::Instance().Add(this);
}

CTickTimer::~CTickTimer() { CTickRegistry::Instance().Remove(this); }

bool CTickTimer::IsActive() const {
    CMutexLock hold(CTickRegistry::Instance().Lock());
    return m_active;
}

void CTickTimer::Tick() {
    if (!m_active)
        return;
    if (m_count-- == 1) {
        m_event.Set();
        if (m_periodic)
            m_count = m_reload;
        else
            m_active = false;
    }
}

int CTickTimer::LiveTimers() { return CTickRegistry::Instance().Count(); }

bool CTickTimer::TickerRunning() { return CTickRegistry::Instance().Running(); }
