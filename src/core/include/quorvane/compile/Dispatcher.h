#pragma once
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

// The dispatcher of a program without an event loop whose own thread
// serves the hand-overs in Serve (the tests). Both sides sleep on a
// condition while they wait.
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
        bool finished = false;
        std::exception_ptr error;
    };
    std::mutex mutex_;
    std::condition_variable served_;   // the waiting worker
    std::condition_variable changed_;  // the serving thread
    std::deque<Item*> queue_;
    bool woken_ = false;
};

// The dispatcher of a program without windows (the command line): a
// hand-over runs at once on the worker that asks for it, one at a time,
// without a thread switch. ServeUntil only sleeps until `done` holds; the
// work and `done` are never run at the same time.
class InlineDispatcher final : public Dispatcher {
public:
    void Synchronize(const std::function<void()>& work) override;
    void ServeUntil(const std::function<bool()>& done) override;
    void Wake() override;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

} // namespace qv
