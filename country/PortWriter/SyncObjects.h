#pragma once
// Thin synchronisation wrappers of the country program: thread, event, mutex and wait set.
//
// Events and threads are "waitable": each owns a file descriptor that poll() reports readable while the
// object is signalled, so a CWaitSet can block on any mix of them in one system call (nothing spins).

#include <atomic>
#include <cstddef>
#include <mutex>
#include <thread>

// Something a CWaitSet can wait for.
class CWaitable {
public:
    virtual ~CWaitable() = default;
    // Descriptor that polls readable while the object may be signalled; -1 when closed.
    virtual int PollHandle() const = 0;
    // Takes the signal if the object is signalled (an auto-reset event is reset by this); false if not.
    virtual bool TryAcquire() = 0;
};

// An event, auto-reset unless asked otherwise, created non-signalled.
class CEvent : public CWaitable {
public:
    explicit CEvent(bool manualReset = false);
    ~CEvent() override;
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    void Set();
    void Reset();
    // A zero-time wait: true when signalled. Like any successful wait, it resets an auto-reset event.
    bool IsSet();
    // Waits up to ms milliseconds (real time; negative waits without limit); true when signalled.
    bool Wait(long ms);
    void Close();
    bool IsManualReset() const { return m_manualReset; }

    int PollHandle() const override { return m_fd; }
    bool TryAcquire() override;

private:
    int m_fd = -1;
    bool m_manualReset;
};

// A recursive mutex: the owner may lock it again (the traffic log's Print relies on that).
class CMutex {
public:
    void Lock() { m_mutex.lock(); }
    void Unlock() { m_mutex.unlock(); }

private:
    std::recursive_mutex m_mutex;
};

// Holds a CMutex for a scope.
class CMutexLock {
public:
    explicit CMutexLock(CMutex& mutex) : m_mutex(mutex) { m_mutex.Lock(); }
    ~CMutexLock() { m_mutex.Unlock(); }
    CMutexLock(const CMutexLock&) = delete;
    CMutexLock& operator=(const CMutexLock&) = delete;

private:
    CMutex& m_mutex;
};

// A thread that runs the virtual Run. The thread handle is waitable: it is signalled once Run returned.
class CThread : public CWaitable {
public:
    CThread();
    // Joins a finished thread; a thread still running is detached (closing a handle never kills it),
    // so derived objects must make Run end before they are destroyed.
    ~CThread() override;
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    // Starts the thread running Run; false when it cannot be created or is already started.
    bool Start();
    // Waits up to ms milliseconds (real time; negative waits without limit) for Run to return.
    bool Wait(long ms);
    bool IsStarted() const { return m_started; }

    int PollHandle() const override { return m_finished.PollHandle(); }
    bool TryAcquire() override { return m_finished.TryAcquire(); }

protected:
    virtual void Run() = 0;

private:
    std::thread m_thread;
    bool m_started = false;
    CEvent m_finished{true};
};

// Up to 100 waitable objects; Wait returns the one whose signal ended the wait.
class CWaitSet {
public:
    static constexpr size_t kMaxObjects = 100;

    void Clear() { m_count = 0; }
    // False when the set is full.
    bool Add(CWaitable& object);
    size_t Count() const { return m_count; }
    // Waits up to ms milliseconds (real time; negative waits without limit). With all false: the first
    // signalled object in the order they were added, its signal taken. With all true: waits until every
    // object is signalled, takes every signal and returns the first object. nullptr on time-out or failure.
    CWaitable* Wait(long ms, bool all = false);

private:
    CWaitable* m_objects[kMaxObjects] = {};
    size_t m_count = 0;
};
