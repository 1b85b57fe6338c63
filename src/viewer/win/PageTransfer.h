#pragma once
#include "RequestHeaders.h"
#include "quorvane/viewercore/SiteArchive.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

namespace viewer {

class PageTransfer;

// The worker threads of one page protocol. Stop stops every transfer still
// running, waits until their workers have ended and lets no new one start.
class TransferWorkers {
public:
    TransferWorkers();
    ~TransferWorkers();
    TransferWorkers(const TransferWorkers&) = delete;
    TransferWorkers& operator=(const TransferWorkers&) = delete;

    void Stop();

private:
    friend class PageTransfer;
    bool Enter(PageTransfer* transfer);
    void Leave(PageTransfer* transfer);

    SRWLOCK lock_ = SRWLOCK_INIT; // taken before any transfer's own
    CONDITION_VARIABLE ended_ = CONDITION_VARIABLE_INIT;
    std::vector<PageTransfer*> running_;
    bool stopping_ = false;
};

// The bytes of one large entry, inflated on a worker thread and handed to
// the window's thread in blocks, so the window never waits for inflation.
// The worker keeps at most kAhead bytes waiting, then rests until the
// browser has read some. `wake` runs on the worker (under the transfer's
// lock, so never after Stop) when there is news for the window's thread;
// it is called again only after Look.
class PageTransfer {
public:
    static constexpr size_t kAhead = 8 * 1024 * 1024;

    struct Request {
        const qv::SiteArchive* site = nullptr;
        size_t entry = 0;
        ByteRange range;
        std::wstring cacheFile; // where a copy of the whole entry goes, or empty
    };
    // Throws qv::Error when no worker thread can start.
    static std::shared_ptr<PageTransfer> Start(Request request, TransferWorkers& workers, std::function<void()> wake);
    ~PageTransfer();

    // On the window's thread.
    struct State {
        int64_t received = 0; // bytes read from the archive so far
        bool done = false;
        bool failed = false;
        std::string error;     // why, when failed
    };
    // What has happened; lets the worker wake the window's thread again.
    State Look();
    // Up to `size` waiting bytes; 0 when none wait.
    size_t Take(uint8_t* buffer, size_t size);
    // A copy of up to `size` of the waiting bytes, which stay waiting.
    std::vector<uint8_t> Peek(size_t size);
    // Whether the worker has ended and every byte has been taken.
    bool Drained();
    // The worker ends soon and calls `wake` no more.
    void Stop();

private:
    PageTransfer(Request request, TransferWorkers& workers, std::function<void()> wake);
    static DWORD WINAPI Work(void* self);
    void Run();
    void Add(const uint8_t* data, size_t size);
    void Finish(bool failed, std::string error);
    void Wake(); // with lock_ held

    Request request_;
    TransferWorkers& workers_;
    std::function<void()> wake_;
    std::shared_ptr<PageTransfer> self_; // the worker's hold, while it runs

    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE room_ = CONDITION_VARIABLE_INIT;
    std::deque<std::vector<uint8_t>> blocks_;
    size_t taken_ = 0;   // of blocks_.front()
    size_t waiting_ = 0; // bytes in blocks_ not yet taken
    State state_;
    bool stopped_ = false;
    bool woken_ = false; // a wake since the last Look
};

} // namespace viewer
