#include "quorvane/build/Dispatcher.h"

#include <chrono>
#include <thread>

namespace qv {
namespace {

// A hand-over costs two thread wake-ups when both sides sleep; a build of
// many small files makes one per file. Both sides therefore poll for a
// short while before they sleep: the worker for the answer, which comes
// within microseconds, and the serving thread for the next hand-over,
// which comes soon while files are small.
constexpr auto kWorkerPoll = std::chrono::microseconds(50);
constexpr auto kServerPoll = std::chrono::microseconds(200);

template <typename Ready>
bool PollFor(std::chrono::microseconds window, Ready ready)
{
    const auto until = std::chrono::steady_clock::now() + window;
    for (int i = 0;; ++i) {
        if (ready())
            return true;
        if ((i & 63) == 63) {
            if (std::chrono::steady_clock::now() >= until)
                return false;
            std::this_thread::yield();
        }
    }
}

} // namespace

void QueueDispatcher::Synchronize(const std::function<void()>& work)
{
    Item item{&work, {false}, nullptr};
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(&item);
        queued_.fetch_add(1, std::memory_order_release);
        changed_.notify_all();
    }
    if (!PollFor(kWorkerPoll, [&] { return item.finished.load(std::memory_order_acquire); })) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return item.finished.load(std::memory_order_acquire); });
    }
    // The server may still hold the lock it set `finished` under; take it
    // once so `item` is not destroyed under its feet.
    std::lock_guard lock(mutex_);
    if (item.error)
        std::rethrow_exception(item.error);
}

void QueueDispatcher::Serve(const std::function<bool()>& done)
{
    std::unique_lock lock(mutex_);
    for (;;) {
        while (!queue_.empty()) {
            Item* item = queue_.front();
            queue_.pop_front();
            queued_.fetch_sub(1, std::memory_order_relaxed);
            lock.unlock();
            try {
                (*item->work)();
            } catch (...) {
                item->error = std::current_exception();
            }
            lock.lock();
            item->finished.store(true, std::memory_order_release);
            changed_.notify_all();
        }
        lock.unlock();
        if (done()) {
            lock.lock();
            if (queue_.empty())
                return;
            continue;
        }
        const bool more = PollFor(kServerPoll, [&] {
            return queued_.load(std::memory_order_acquire) > 0 || woken_.load(std::memory_order_acquire);
        });
        lock.lock();
        if (!more)
            changed_.wait(lock, [&] { return !queue_.empty() || woken_.load(std::memory_order_relaxed); });
        woken_.store(false, std::memory_order_relaxed);
    }
}

void QueueDispatcher::Wake()
{
    std::lock_guard lock(mutex_);
    woken_.store(true, std::memory_order_release);
    changed_.notify_all();
}

} // namespace qv
