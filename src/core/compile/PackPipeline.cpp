#include "quorvane/compile/PackPipeline.h"

#include "quorvane/base/Error.h"
#include "quorvane/base/Stream.h"
#include "quorvane/platform/TempFiles.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace qv {
namespace {

// How far workers may run ahead of the file being written. Enough that a
// run of small files never leaves a worker idle, few enough that their
// bookkeeping stays small.
constexpr size_t kWindow = 256;
constexpr size_t kCopyBlock = 65536;
// Small files the writer lets finish before it wakes up for them: one
// sleep for a run of them instead of one each.
constexpr size_t kWakeRun = 32;

// A source whose blocks also go to a page's text extractor as the packer
// reads them, so a page is read once for both.
class TextTap final : public Stream {
public:
    TextTap(Stream& source, PageTextExtractor& text) : source_(source), text_(text) {}

    int64_t Size() const override { return source_.Size(); }
    int64_t Position() const override { return source_.Position(); }
    void Seek(int64_t position) override { source_.Seek(position); }
    size_t Read(void* buffer, size_t count) override { return Fed(buffer, source_.Read(buffer, count)); }
    void Write(const void* buffer, size_t count) override { source_.Write(buffer, count); }
    void SetSize(int64_t size) override { source_.SetSize(size); }
    void ReadPromised(void* buffer, size_t count) override
    {
        source_.ReadPromised(buffer, count);
        Fed(buffer, count);
    }
    void ExpectEnd() override { source_.ExpectEnd(); }
    void ReadLast(void* buffer, size_t count) override
    {
        source_.ReadLast(buffer, count);
        Fed(buffer, count);
    }

private:
    size_t Fed(void* buffer, size_t count)
    {
        text_.Feed(static_cast<const uint8_t*>(buffer), count);
        return count;
    }

    Stream& source_;
    PageTextExtractor& text_;
};

// Packs `file`, reading its page text on the way when `text` is given.
PackResult PackReading(EntryPacker& packer, Stream& file, CompressionLevel level, PackSink& sink,
                       const std::function<bool()>& stop, PageText* text)
{
    if (!text)
        return packer.Pack(file, level, sink, stop);
    PageTextExtractor extractor;
    TextTap tap(file, extractor);
    const PackResult result = packer.Pack(tap, level, sink, stop);
    extractor.Finish();
    *text = std::move(extractor.Text());
    return result;
}

} // namespace

// One file between its worker and Add. Everything here is guarded by the
// pipeline's mutex, except the spill file's bytes: the worker writes them
// before it publishes their range, and Add reads only published ranges.
// Compressed bytes held in memory, or (when `bytes` is empty) a range of the
// spill file.
struct PackPipeline::Segment {
    std::vector<uint8_t> bytes;
    int64_t from = 0, to = 0;
};

struct PackPipeline::Slot {
    size_t index = std::numeric_limits<size_t>::max();
    bool opened = false;
    bool done = false;
    bool attached = false; // Add is writing this file: keep it in memory
    std::atomic<bool> abandoned{false};
    std::exception_ptr error;
    PackResult result;
    int64_t total = 0;
    // Vectors, swapped with Pump's own: taking them allocates nothing.
    std::vector<int64_t> progress;
    std::vector<Segment> segments;
    int64_t heldBytes = 0;
    std::unique_ptr<FileStream> spill;
    int64_t spillLength = 0;
    PageText text;

    void Clear()
    {
        index = std::numeric_limits<size_t>::max();
        opened = done = attached = false;
        abandoned = false;
        error = nullptr;
        result = PackResult{};
        total = 0;
        progress.clear();
        segments.clear();
        heldBytes = 0;
        spill.reset();
        spillLength = 0;
        text.Clear();
    }
};

// The worker's side of a slot. A file starts out kept to the worker: most
// files of a site are small, their whole stream is one partial block with
// no progress, and they are handed over in one go together with their
// result. The first progress (a full block out) makes the file live: it is
// opened for Add, and everything from then on is handed over as it comes.
class PackPipeline::SlotSink final : public PackSink {
public:
    SlotSink(PackPipeline& owner, Slot& slot) : owner_(owner), slot_(slot) {}

    void Data(const uint8_t* bytes, size_t size) override
    {
        if (!live_) {
            kept_.insert(kept_.end(), bytes, bytes + size);
            return;
        }
        Hand(bytes, size);
    }

    void Progress(int64_t consumed, int64_t total) override
    {
        if (!live_)
            GoLive();
        std::lock_guard lock(owner_.mutex_);
        slot_.progress.push_back(consumed);
        slot_.total = total;
        owner_.Notify(slot_);
    }

    // Under the pipeline's lock, once the file is done: what was kept. It is
    // at most one block, so it goes to memory whatever the budget.
    void HandKept()
    {
        if (kept_.empty())
            return;
        const auto n = static_cast<int64_t>(kept_.size());
        slot_.segments.push_back(Segment{std::move(kept_), 0, 0});
        owner_.held_ += n;
        slot_.heldBytes += n;
    }

private:
    void GoLive()
    {
        live_ = true;
        {
            std::lock_guard lock(owner_.mutex_);
            slot_.opened = true;
            owner_.Notify(slot_);
        }
        if (!kept_.empty())
            Hand(kept_.data(), kept_.size());
        kept_ = {};
    }

    void Hand(const uint8_t* bytes, size_t size)
    {
        Segment segment;
        segment.bytes.assign(bytes, bytes + size);
        const auto n = static_cast<int64_t>(size);
        {
            std::lock_guard lock(owner_.mutex_);
            if (slot_.attached || owner_.held_ + n <= owner_.options_.MemoryBudget) {
                owner_.held_ += n;
                slot_.heldBytes += n;
                slot_.segments.push_back(std::move(segment));
                owner_.Notify(slot_);
                return;
            }
        }
        // Over the budget and not yet being written: to the slot's own file.
        if (!slot_.spill) {
            const std::string& folder = owner_.options_.TempFolder;
            auto file = tempfiles::OpenNamelessFile(folder.empty() ? tempfiles::SystemTempFolder() : folder, "ZLB");
            std::lock_guard lock(owner_.mutex_);
            slot_.spill = std::move(file);
        }
        slot_.spill->Write(bytes, size);
        std::lock_guard lock(owner_.mutex_);
        const int64_t from = slot_.spillLength;
        slot_.spillLength += n;
        if (!slot_.segments.empty() && slot_.segments.back().bytes.empty() && slot_.segments.back().to == from)
            slot_.segments.back().to = slot_.spillLength;
        else
            slot_.segments.push_back(Segment{{}, from, slot_.spillLength});
        owner_.Notify(slot_);
    }

    PackPipeline& owner_;
    Slot& slot_;
    bool live_ = false;
    std::vector<uint8_t> kept_;
};

PackPipeline::PackPipeline(const std::vector<std::string>& files, Options options)
    : files_(files), options_(std::move(options))
{
    const size_t jobs = std::min<size_t>(std::max(options_.Jobs, 1u), std::max<size_t>(files.size(), 1));
    if (jobs == 1) {
        packer_ = std::make_unique<EntryPacker>();
        return;
    }
    slots_ = std::vector<Slot>(kWindow);
    try {
        for (size_t i = 0; i < jobs; ++i)
            workers_.emplace_back([this] { Work(); });
    } catch (...) {
        stop_ = true;
        workCv_.notify_all();
        for (std::thread& t : workers_)
            t.join();
        throw;
    }
}

PackPipeline::~PackPipeline()
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    workCv_.notify_all();
    for (std::thread& t : workers_)
        t.join();
}

// Wakes Add when what it waits for may have come: news of the file being
// written or, while Add sleeps for a run, the run.
void PackPipeline::Notify(const Slot& slot)
{
    if (runWait_ ? HeadReady() : slot.index == head_)
        headCv_.notify_one();
}

bool PackPipeline::WorkersMayTake() const
{
    // The file being written is always taken, whatever the budget: its bytes
    // are what frees memory.
    return next_ < files_.size() && next_ < head_ + kWindow &&
           (next_ == head_ || held_ < options_.MemoryBudget / 2);
}

bool PackPipeline::HeadReady() const
{
    const Slot& head = slots_[head_ % kWindow];
    if (head.index != head_)
        return false;
    if (head.opened && !head.done)
        return true; // a big file: its stream is to be written as it comes
    const size_t end = std::min(next_, head_ + kWakeRun);
    for (size_t i = head_; i < end; ++i)
        if (!slots_[i % kWindow].done)
            return false;
    // Short of a run, only when the workers wait for the writer.
    return end == head_ + kWakeRun || !WorkersMayTake();
}

void PackPipeline::Work()
{
    EntryPacker packer;
    std::unique_lock lock(mutex_);
    for (;;) {
        workCv_.wait(lock, [&] { return stop_ || next_ >= files_.size() || WorkersMayTake(); });
        if (stop_ || next_ >= files_.size())
            return;
        const size_t index = next_++;
        slots_[index % kWindow].index = index;
        lock.unlock();
        Produce(packer, index, lock);
    }
}

void PackPipeline::Produce(EntryPacker& packer, size_t index, std::unique_lock<std::mutex>& lock)
{
    Slot& slot = slots_[index % kWindow];
    SlotSink sink(*this, slot);
    bool opened = false;
    PackResult result;
    std::exception_ptr error;
    PageText text;
    try {
        FileStream file(files_[index], FileStream::Mode::OpenRead);
        opened = true;
        const bool wantsText = options_.WantsText && options_.WantsText(index);
        result = PackReading(packer, file, options_.Level, sink, [&] {
            return stop_.load(std::memory_order_relaxed) || slot.abandoned.load(std::memory_order_relaxed) ||
                   (options_.Stopped && options_.Stopped());
        }, wantsText ? &text : nullptr);
    } catch (...) {
        error = std::current_exception();
    }
    // The file's end and the worker's next take share one turn of the lock.
    lock.lock();
    slot.opened = slot.opened || opened;
    if (!error) {
        try {
            sink.HandKept();
        } catch (...) {
            error = std::current_exception();
        }
    }
    slot.result = result;
    slot.error = error;
    slot.text = std::move(text);
    slot.done = true;
    Notify(slot);
}

PackResult PackPipeline::Pump(Slot& slot, PackSink& out)
{
    std::unique_lock lock(mutex_);
    slot.attached = true;
    std::vector<uint8_t> block;
    std::vector<int64_t>& progress = pumpProgress_;
    std::vector<Segment>& segments = pumpSegments_;
    for (;;) {
        headCv_.wait(lock, [&] { return !slot.progress.empty() || !slot.segments.empty() || slot.done; });
        progress.clear();
        segments.clear();
        progress.swap(slot.progress);
        segments.swap(slot.segments);
        const int64_t total = slot.total;
        int64_t freed = 0;
        for (const Segment& s : segments)
            freed += static_cast<int64_t>(s.bytes.size());
        if (freed > 0) {
            held_ -= freed;
            slot.heldBytes -= freed;
            workCv_.notify_all();
        }
        // Once done, the worker is gone from the slot: nothing more comes.
        const bool finished = slot.done;
        const PackResult result = slot.result;
        const std::exception_ptr error = slot.error;
        lock.unlock();

        for (int64_t consumed : progress)
            out.Progress(consumed, total);
        for (const Segment& s : segments) {
            if (!s.bytes.empty()) {
                out.Data(s.bytes.data(), s.bytes.size());
                continue;
            }
            block.resize(kCopyBlock);
            for (int64_t at = s.from; at < s.to;) {
                const size_t n = static_cast<size_t>(std::min<int64_t>(s.to - at, kCopyBlock));
                if (slot.spill->ReadAt(at, block.data(), n) != n)
                    throw Error("Stream read error");
                out.Data(block.data(), n);
                at += static_cast<int64_t>(n);
            }
        }

        if (finished) {
            segments.clear();
            if (error)
                std::rethrow_exception(error);
            return result;
        }
        lock.lock();
    }
}

void PackPipeline::Release(size_t index)
{
    Slot& slot = slots_[index % kWindow];
    std::unique_lock lock(mutex_);
    // A file left half written (its entry failed) stops at its next block.
    slot.abandoned = true;
    headCv_.wait(lock, [&] { return slot.index != index || slot.done; });
    held_ -= slot.heldBytes;
    slot.Clear();
    head_ = index + 1;
    workCv_.notify_all();
}

void PackPipeline::Add(size_t index, ArchiveWriter& archive, const std::string& name, PageText* text)
{
    if (workers_.empty()) {
        const bool wantsText = text && options_.WantsText && options_.WantsText(index);
        AddFileEntry(archive, *packer_, name, files_[index], options_.Stopped, wantsText ? text : nullptr);
        return;
    }
    struct Releasing {
        PackPipeline& owner;
        size_t index;
        ~Releasing() { owner.Release(index); }
    } releasing{*this, index};

    Slot& slot = slots_[index % kWindow];
    {
        std::unique_lock lock(mutex_);
        // Once asleep, the writer wakes for a run of files, not for each.
        if (!(slot.index == index && (slot.opened || slot.done)) && !HeadReady()) {
            runWait_ = true;
            headCv_.wait(lock, [&] { return HeadReady(); });
            runWait_ = false;
        }
        if (!slot.opened && slot.error)
            std::rethrow_exception(slot.error);
    }
    std::unique_ptr<FileStream> again;
    archive.Add(
        name, [&](PackSink& out) { return Pump(slot, out); },
        [&]() -> Stream& {
            again = std::make_unique<FileStream>(files_[index], FileStream::Mode::OpenRead);
            return *again;
        });
    // The worker left the slot with its result, which Pump has seen.
    if (text)
        *text = std::move(slot.text);
}

void AddFileEntry(ArchiveWriter& archive, EntryPacker& packer, const std::string& name, const std::string& path,
                  const std::function<bool()>& stopped, PageText* text)
{
    FileStream file(path, FileStream::Mode::OpenRead);
    const CompressionLevel level = archive.Level();
    archive.Add(
        name, [&](PackSink& out) { return PackReading(packer, file, level, out, stopped, text); },
        [&]() -> Stream& { return file; });
}

unsigned JobCount(unsigned requested)
{
    if (requested > 0)
        return requested;
    return std::max(std::thread::hardware_concurrency(), 1u);
}

} // namespace qv
