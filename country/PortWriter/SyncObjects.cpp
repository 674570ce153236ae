#include "country/PortWriter/SyncObjects.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

// Polls the descriptors until one is readable or the deadline passes; retries on EINTR.
// Returns the poll result (0 on time-out, -1 on failure).
int PollUntil(pollfd* fds, size_t count, long ms) {
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    for (;;) {
        int timeout = -1;
        if (ms >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
            timeout = left < 0 ? 0 : static_cast<int>(left);
        }
        const int rc = ::poll(fds, count, timeout);
        if (rc >= 0 || errno != EINTR)
            return rc;
    }
}

}  // namespace

// ---- CEvent -------------------------------------------------------------------------------------------

CEvent::CEvent(bool manualReset) : m_manualReset(manualReset) {
    m_fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

CEvent::~CEvent() { Close(); }

void CEvent::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

void CEvent::Set() {
    if (m_fd < 0)
        return;
    const uint64_t one = 1;
    // The counter only says "signalled"; a write can fail only when it would overflow, i.e. when the
    // event is signalled anyway.
    ssize_t rc;
    do {
        rc = ::write(m_fd, &one, sizeof one);
    } while (rc < 0 && errno == EINTR);
}

void CEvent::Reset() {
    if (m_fd < 0)
        return;
    uint64_t value;
    ssize_t rc;
    do {
        rc = ::read(m_fd, &value, sizeof value);
    } while (rc < 0 && errno == EINTR);
}

bool CEvent::TryAcquire() {
    if (m_fd < 0)
        return false;
    if (m_manualReset) {
        pollfd p{m_fd, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
    }
    uint64_t value;
    ssize_t rc;
    do {
        rc = ::read(m_fd, &value, sizeof value);
    } while (rc < 0 && errno == EINTR);
    return rc == static_cast<ssize_t>(sizeof value);
}

bool CEvent::IsSet() { return TryAcquire(); }

bool CEvent::Wait(long ms) {
    CWaitSet set;
    set.Add(*this);
    return set.Wait(ms) == this;
}

// ---- CThread ------------------------------------------------------------------------------------------

CThread::CThread() = default;

CThread::~CThread() {
    if (m_thread.joinable()) {
        if (m_finished.IsSet())
            m_thread.join();
        else
            m_thread.detach();
    }
}

bool CThread::Start() {
    if (m_started)
        return false;
    try {
        // std::thread gets the process default stack (8 MiB here), well above the 256 KiB minimum.
        m_thread = std::thread([this] {
            Run();
            m_finished.Set();
        });
    } catch (const std::system_error&) {
        return false;
    }
    m_started = true;
    return true;
}

bool CThread::Wait(long ms) {
    if (!m_started)
        return true;
    return m_finished.Wait(ms);
}

// ---- CWaitSet -----------------------------------------------------------------------------------------

bool CWaitSet::Add(CWaitable& object) {
    if (m_count >= kMaxObjects)
        return false;
    m_objects[m_count++] = &object;
    return true;
}

CWaitable* CWaitSet::Wait(long ms, bool all) {
    if (m_count == 0)
        return nullptr;
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    pollfd fds[kMaxObjects];
    for (;;) {
        long left = -1;
        if (ms >= 0) {
            left = static_cast<long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count());
            if (left < 0)
                left = 0;
        }
        for (size_t i = 0; i < m_count; ++i)
            fds[i] = pollfd{m_objects[i]->PollHandle(), POLLIN, 0};
        if (!all) {
            const int rc = PollUntil(fds, m_count, left);
            if (rc < 0)
                return nullptr;
            // Take the first signalled object; another waiter may have taken a signal between the poll
            // and here, in which case we simply wait again.
            for (size_t i = 0; i < m_count; ++i) {
                if ((fds[i].revents & POLLIN) && m_objects[i]->TryAcquire())
                    return m_objects[i];
            }
            if (rc == 0)
                return nullptr;
        } else {
            // Block on the first object that is not signalled yet; once all look signalled at the same
            // moment, take every signal.
            if (::poll(fds, m_count, 0) < 0 && errno != EINTR)
                return nullptr;
            size_t waiting = m_count;
            for (size_t i = 0; i < m_count; ++i) {
                if (!(fds[i].revents & POLLIN)) {
                    waiting = i;
                    break;
                }
            }
            if (waiting == m_count) {
                for (size_t i = 0; i < m_count; ++i)
                    m_objects[i]->TryAcquire();
                return m_objects[0];
            }
            pollfd one{fds[waiting].fd, POLLIN, 0};
            if (PollUntil(&one, 1, left) <= 0)
                return nullptr;
            continue;
        }
        if (ms >= 0 && clock::now() >= deadline)
            return nullptr;
    }
}
