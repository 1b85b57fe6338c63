#pragma once
#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>

namespace qv::term {

bool IsTerminal(std::FILE* stream);

// While it lives, SIGINT and SIGTERM run `onInterrupt` (on a thread of its
// own, not in a signal handler) instead of ending the process. Create it
// before starting other threads, so they inherit the blocked signals.
class CancelOnInterrupt {
public:
    explicit CancelOnInterrupt(std::function<void()> onInterrupt);
    ~CancelOnInterrupt();
    CancelOnInterrupt(const CancelOnInterrupt&) = delete;
    CancelOnInterrupt& operator=(const CancelOnInterrupt&) = delete;
    bool Interrupted() const { return interrupted_; }

private:
    std::function<void()> onInterrupt_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> interrupted_{false};
    std::thread watcher_;
};

} // namespace qv::term
