#pragma once
// Count-down timers in whole 50 ms ticks, all serviced by one shared ticker.
//
// The ticker is a thread of its own (not a window timer), so timed writes also expire in the
// command-line run, which has no message loop. The first live timer starts it, the last one stops it.

#include "country/PortWriter/SyncObjects.h"

class CTickTimer {
public:
    static constexpr long kTickMs = 50;

    // Fires after timeoutMs / 50 ticks (at least one: a shorter time-out would otherwise never expire);
    // a periodic timer reloads and fires again.
    CTickTimer(long timeoutMs, bool periodic);
    ~CTickTimer();
    CTickTimer(const CTickTimer&) = delete;
    CTickTimer& operator=(const CTickTimer&) = delete;

    // Set (auto-reset) each time the timer expires.
    CEvent& Event() { return m_event; }
    bool IsActive() const;
    bool IsPeriodic() const { return m_periodic; }

    // Number of live timers (for tests).
    static int LiveTimers();
    // Whether the ticker thread runs (for tests).
    static bool TickerRunning();

private:
    friend class CTickRegistry;
    void Tick();  // called by the ticker with the registry lock held

    CEvent m_event;
    bool m_periodic;
    bool m_active = true;
    long m_reload;
    long m_count;
};
