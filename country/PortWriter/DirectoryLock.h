#pragma once
// An exclusive lock on a directory, held for a scope and shared by every program on the machine.
//
// Files such as modem.ini are read, changed and replaced as a whole. Two country programs doing that at
// once (a script configuring several ports in parallel) would each write back what they read, and the
// later one would drop the other's section. Taking this lock around the whole read-change-replace makes
// them take turns.

#include <string>

class CDirectoryLock {
public:
    // Blocks until the lock on directory ("" means the current one) is held, or fails (Held() false).
    explicit CDirectoryLock(const std::string& directory);
    ~CDirectoryLock();
    CDirectoryLock(const CDirectoryLock&) = delete;
    CDirectoryLock& operator=(const CDirectoryLock&) = delete;

    bool Held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};
