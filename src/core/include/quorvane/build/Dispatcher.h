#pragma once
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace qv {

// Runs work on the user-interface thread for a worker. Synchronize blocks
// the worker until the callable has run there; exceptions it throws come
// back to the worker.
class Dispatcher {
public:
    virtual ~Dispatcher() = default;
    virtual void Synchronize(const std::function<void()>& work) = 0;
    // On the dispatcher's own thread: keeps running the workers' hand-overs
    // until `done()` holds, so waiting for a worker cannot dead-lock with
    // its Synchronize. Implementations may poll `done` after each hand-over
    // and on Wake.
    virtual void ServeUntil(const std::function<bool()>& done) = 0;
    // Tells a ServeUntil that `done` may have changed.
    virtual void Wake() = 0;
};

// The dispatcher of a program without an event loop: the thread that owns
// it serves the queue in Serve until `done` holds. Used by the command-line
// compiler and by the tests.
class QueueDispatcher final : public Dispatcher {
public:
    void Synchronize(const std::function<void()>& work) override;
    // Runs queued work on the calling thread until `done()` is true after
    // a wake-up. Call Wake when `done` may have changed.
    void Serve(const std::function<bool()>& done);
    void ServeUntil(const std::function<bool()>& done) override { Serve(done); }
    void Wake() override;

private:
    struct Item {
        const std::function<void()>* work;
        std::atomic<bool> finished{false};
        std::exception_ptr error;
    };
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Item*> queue_;
    std::atomic<int> queued_{0};
    std::atomic<bool> woken_{false};
};

} // namespace qv
