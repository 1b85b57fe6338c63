#pragma once
#include <windows.h>

namespace viewer {

// An SRW lock held exclusively for a scope: viewer.exe's C++ runtime has
// no std::mutex.
class Locked {
public:
    explicit Locked(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~Locked() { ReleaseSRWLockExclusive(&lock_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    SRWLOCK& lock_;
};

} // namespace viewer
