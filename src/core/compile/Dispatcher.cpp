#include "quorvane/compile/Dispatcher.h"

namespace qv {

void QueueDispatcher::Synchronize(const std::function<void()>& work)
{
    Item item{&work, false, nullptr};
    std::unique_lock lock(mutex_);
    queue_.push_back(&item);
    changed_.notify_one();
    served_.wait(lock, [&] { return item.finished; });
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
            lock.unlock();
            try {
                (*item->work)();
            } catch (...) {
                item->error = std::current_exception();
            }
            lock.lock();
            item->finished = true;
            served_.notify_all();
        }
        lock.unlock();
        const bool finished = done();
        lock.lock();
        if (finished && queue_.empty())
            return;
        changed_.wait(lock, [&] { return !queue_.empty() || woken_; });
        woken_ = false;
    }
}

void QueueDispatcher::Wake()
{
    std::lock_guard lock(mutex_);
    woken_ = true;
    changed_.notify_all();
}

void InlineDispatcher::Synchronize(const std::function<void()>& work)
{
    // No wake-up here: a build makes a hand-over per file, and the waiting
    // thread needs to hear only of the end, which comes with Wake.
    std::lock_guard lock(mutex_);
    work();
}

void InlineDispatcher::ServeUntil(const std::function<bool()>& done)
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, done);
}

void InlineDispatcher::Wake()
{
    // Taken so a ServeUntil between its test and its sleep cannot miss us.
    std::lock_guard lock(mutex_);
    changed_.notify_all();
}

} // namespace qv
