#include "quorvane/Dispatcher.h"

namespace qv {

void QueueDispatcher::Synchronize(const std::function<void()>& work)
{
    Item item{&work, false, nullptr};
    std::unique_lock lock(mutex_);
    queue_.push_back(&item);
    changed_.notify_all();
    changed_.wait(lock, [&] { return item.finished; });
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
            changed_.notify_all();
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

} // namespace qv
