#include "PageTransfer.h"

#include "Locked.h"
#include "Win32FileStream.h"
#include "WinText.h"
#include "quorvane/base/Error.h"

#include <algorithm>
#include <cstring>

namespace viewer {

namespace {

// Thrown through SiteArchive::Read when the transfer is stopped.
struct Halted {};

} // namespace

TransferWorkers::TransferWorkers() = default;

TransferWorkers::~TransferWorkers() { Stop(); }

void TransferWorkers::Stop()
{
    Locked held(lock_);
    stopping_ = true;
    // A worker ends at its next block; one still checking a large entry
    // whole finishes that pass first.
    for (PageTransfer* transfer : running_)
        transfer->Stop();
    while (!running_.empty())
        SleepConditionVariableSRW(&ended_, &lock_, INFINITE, 0);
}

bool TransferWorkers::Enter(PageTransfer* transfer)
{
    Locked held(lock_);
    if (stopping_)
        return false;
    running_.push_back(transfer);
    return true;
}

void TransferWorkers::Leave(PageTransfer* transfer)
{
    Locked held(lock_);
    running_.erase(std::find(running_.begin(), running_.end(), transfer));
    WakeAllConditionVariable(&ended_);
}

PageTransfer::PageTransfer(Request request, TransferWorkers& workers, std::function<void()> wake)
    : request_(std::move(request)), workers_(workers), wake_(std::move(wake))
{
}

PageTransfer::~PageTransfer() = default;

std::shared_ptr<PageTransfer> PageTransfer::Start(Request request, TransferWorkers& workers,
                                                  std::function<void()> wake)
{
    std::shared_ptr<PageTransfer> transfer(new PageTransfer(std::move(request), workers, std::move(wake)));
    if (!workers.Enter(transfer.get()))
        throw qv::Error("The viewer is closing");
    transfer->self_ = transfer;
    if (!QueueUserWorkItem(Work, transfer.get(), WT_EXECUTELONGFUNCTION)) {
        const DWORD error = GetLastError();
        transfer->self_.reset();
        workers.Leave(transfer.get());
        throw qv::Error("Cannot start reading a page. " + WideToUtf8(SystemMessage(error)));
    }
    return transfer;
}

DWORD WINAPI PageTransfer::Work(void* self)
{
    auto* transfer = static_cast<PageTransfer*>(self);
    transfer->Run();
    std::shared_ptr<PageTransfer> hold = std::move(transfer->self_);
    TransferWorkers& workers = transfer->workers_;
    // The transfer may outlive its workers' owner from here on, so it is
    // let go of only after nothing else of it is touched.
    workers.Leave(transfer);
    hold.reset();
    return 0;
}

void PageTransfer::Run()
{
    std::unique_ptr<Win32FileStream> copy;
    try {
        if (!request_.cacheFile.empty())
            copy = std::make_unique<Win32FileStream>(request_.cacheFile, Win32FileStream::Mode::Create);
        request_.site->Read(request_.entry, request_.range.first, request_.range.Count(),
                            [&](const uint8_t* data, size_t size) {
                                if (copy)
                                    copy->Write(data, size);
                                Add(data, size);
                            });
        if (copy)
            copy->Close();
        Finish(false, {});
        return;
    } catch (const Halted&) {
        Finish(true, "Stopped");
    } catch (const std::bad_alloc&) {
        Finish(true, "Out of memory");
    } catch (const std::exception& e) {
        Finish(true, e.what());
    }
    // Half a copy is no copy.
    copy.reset();
    if (!request_.cacheFile.empty())
        DeleteFileW(request_.cacheFile.c_str());
}

void PageTransfer::Add(const uint8_t* data, size_t size)
{
    Locked held(lock_);
    while (waiting_ >= kAhead && !stopped_)
        SleepConditionVariableSRW(&room_, &lock_, INFINITE, 0);
    if (stopped_)
        throw Halted();
    blocks_.emplace_back(data, data + size);
    waiting_ += size;
    state_.received += static_cast<int64_t>(size);
    Wake();
}

void PageTransfer::Finish(bool failed, std::string error)
{
    Locked held(lock_);
    state_.done = true;
    state_.failed = failed;
    state_.error = std::move(error);
    Wake();
}

void PageTransfer::Wake()
{
    if (woken_ || stopped_)
        return;
    woken_ = true;
    wake_();
}

PageTransfer::State PageTransfer::Look()
{
    Locked held(lock_);
    woken_ = false;
    return state_;
}

size_t PageTransfer::Take(uint8_t* buffer, size_t size)
{
    Locked held(lock_);
    size_t done = 0;
    while (done < size && !blocks_.empty()) {
        const std::vector<uint8_t>& block = blocks_.front();
        const size_t count = std::min(size - done, block.size() - taken_);
        std::memcpy(buffer + done, block.data() + taken_, count);
        done += count;
        taken_ += count;
        if (taken_ == block.size()) {
            blocks_.pop_front();
            taken_ = 0;
        }
    }
    waiting_ -= done;
    if (done)
        WakeConditionVariable(&room_);
    return done;
}

std::vector<uint8_t> PageTransfer::Peek(size_t size)
{
    Locked held(lock_);
    std::vector<uint8_t> copy;
    size_t skip = taken_;
    for (const std::vector<uint8_t>& block : blocks_) {
        if (copy.size() >= size)
            break;
        const size_t count = std::min(size - copy.size(), block.size() - skip);
        copy.insert(copy.end(), block.begin() + static_cast<ptrdiff_t>(skip),
                    block.begin() + static_cast<ptrdiff_t>(skip + count));
        skip = 0;
    }
    return copy;
}

bool PageTransfer::Drained()
{
    Locked held(lock_);
    return state_.done && waiting_ == 0;
}

void PageTransfer::Stop()
{
    Locked held(lock_);
    stopped_ = true;
    blocks_.clear();
    waiting_ = 0;
    WakeConditionVariable(&room_);
}

} // namespace viewer
