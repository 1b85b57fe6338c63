#include "quorvane/archive/InflateIndex.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <thread>

namespace qv {

namespace {

// The farthest deflate data refers back.
constexpr size_t kWindow = 32 * 1024;

// The last kWindow bytes of output, as they pass.
class RecentOutput {
public:
    void Add(const uint8_t* data, size_t size)
    {
        if (size >= kWindow) {
            std::copy(data + size - kWindow, data + size, ring_.begin());
            next_ = 0;
            filled_ = kWindow;
            return;
        }
        const size_t first = std::min(size, kWindow - next_);
        std::copy_n(data, first, ring_.begin() + static_cast<std::ptrdiff_t>(next_));
        std::copy_n(data + first, size - first, ring_.begin());
        next_ = (next_ + size) % kWindow;
        filled_ = std::min(kWindow, filled_ + size);
    }

    // Oldest first.
    std::vector<uint8_t> Window() const
    {
        std::vector<uint8_t> window;
        window.reserve(filled_);
        if (filled_ == kWindow)
            window.insert(window.end(), ring_.begin() + static_cast<std::ptrdiff_t>(next_), ring_.end());
        window.insert(window.end(), ring_.begin(), ring_.begin() + static_cast<std::ptrdiff_t>(next_));
        return window;
    }

private:
    std::vector<uint8_t> ring_ = std::vector<uint8_t>(kWindow);
    size_t next_ = 0;
    size_t filled_ = 0;
};

void WaitWhileBuilding(const std::atomic<int>& building)
{
#ifdef __cpp_lib_atomic_wait
    building.wait(1, std::memory_order_acquire);
#else
    // The Windows cross compiler's thread model cannot block on an atomic.
    // Waiting threads are rare (two first reads of one large entry) and the
    // pass they wait for is what they would otherwise run themselves.
    while (building.load(std::memory_order_acquire) == 1)
        std::this_thread::yield();
#endif
}

} // namespace

std::shared_ptr<const InflateIndex> InflateIndex::Build(const ArchiveReader& reader, Stream& from, size_t index,
                                                        int64_t spacing)
{
    const ArchiveEntry& entry = reader.Entry(index);
    const int64_t wanted = static_cast<int64_t>(kMaxPoints);
    const int64_t step = std::max({spacing, int64_t(1), (entry.FileSize + wanted - 1) / wanted});
    auto built = std::make_shared<InflateIndex>();
    built->entry_ = index;
    RecentOutput recent;
    int64_t last = 0;
    reader.Extract(
        from, index, [&recent](const uint8_t* data, size_t size) { recent.Add(data, size); },
        [&](const BlockStart& at) {
            if (at.Output - last < step)
                return;
            InflatePoint point;
            static_cast<BlockStart&>(point) = at;
            point.Window = recent.Window();
            built->points_.push_back(std::move(point));
            last = at.Output;
        });
    built->points_.shrink_to_fit();
    return built;
}

void InflateIndex::ExtractRange(const ArchiveReader& reader, Stream& from, int64_t offset, int64_t count,
                                const ArchiveReader::ByteSink& sink) const
{
    const auto after = std::upper_bound(points_.begin(), points_.end(), offset,
                                        [](int64_t at, const InflatePoint& point) { return at < point.Output; });
    if (after == points_.begin())
        reader.ExtractRange(from, entry_, offset, count, sink);
    else
        reader.ExtractRange(from, entry_, offset, count, sink, *std::prev(after));
}

int64_t InflateIndex::MemoryUse() const
{
    int64_t bytes = static_cast<int64_t>(sizeof(*this) + points_.capacity() * sizeof(InflatePoint));
    for (const InflatePoint& point : points_)
        bytes += static_cast<int64_t>(point.Window.capacity());
    return bytes;
}

// One entry's kept index. GCC 12's std::atomic<std::shared_ptr> releases
// its lock too weakly for ThreadSanitizer, and the Windows cross compiler
// has no std::mutex, so the pointer is guarded by a flag held only for the
// instant of a copy or a swap.
struct SeekPoints::Slot {
    std::shared_ptr<const InflateIndex> Load() const
    {
        Hold hold(guard_);
        return index_;
    }
    // Returns what was kept before.
    std::shared_ptr<const InflateIndex> Exchange(std::shared_ptr<const InflateIndex> index)
    {
        Hold hold(guard_);
        index_.swap(index);
        return index;
    }

    std::atomic<int> building{0}; // 1 while one thread builds the index
    std::atomic<uint64_t> lastRead{0};

private:
    class Hold {
    public:
        explicit Hold(std::atomic<bool>& guard) : guard_(guard)
        {
            while (guard_.exchange(true, std::memory_order_acquire))
                std::this_thread::yield();
        }
        ~Hold() { guard_.store(false, std::memory_order_release); }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        std::atomic<bool>& guard_;
    };

    mutable std::atomic<bool> guard_{false};
    std::shared_ptr<const InflateIndex> index_;
};

SeekPoints::SeekPoints(const ArchiveReader& reader, int64_t minSize) : SeekPoints(reader, minSize, Limits{}) {}

SeekPoints::SeekPoints(const ArchiveReader& reader, int64_t minSize, Limits limits)
    : reader_(reader), limits_(limits)
{
    for (size_t i = 0; i < reader_.Count(); ++i) {
        const ArchiveEntry& entry = reader_.Entry(i);
        if (entry.Kind() == EntryStorage::Deflated && entry.FileSize > minSize)
            slotOf_.emplace(i, slotCount_++);
    }
    slots_ = std::make_unique<Slot[]>(slotCount_);
}

SeekPoints::~SeekPoints() = default;

SeekPoints::Slot& SeekPoints::SlotOf(size_t index) const
{
    const auto it = slotOf_.find(index);
    if (it == slotOf_.end())
        throw std::logic_error("SeekPoints: entry " + std::to_string(index) + " is not one that points are kept for");
    return slots_[it->second];
}

std::shared_ptr<const InflateIndex> SeekPoints::Kept(size_t index) const
{
    return SlotOf(index).Load();
}

void SeekPoints::Read(Stream& from, size_t index, int64_t offset, int64_t count,
                      const ArchiveReader::ByteSink& sink) const
{
    reader_.CheckRange(reader_.Entry(index), offset, count);
    IndexOf(from, index)->ExtractRange(reader_, from, offset, count, sink);
}

std::shared_ptr<const InflateIndex> SeekPoints::IndexOf(Stream& from, size_t index) const
{
    Slot& slot = SlotOf(index);
    for (;;) {
        if (auto kept = slot.Load()) {
            slot.lastRead.store(++clock_, std::memory_order_relaxed);
            return kept;
        }
        int idle = 0;
        if (slot.building.compare_exchange_strong(idle, 1, std::memory_order_acq_rel))
            return BuildInto(slot, from, index);
        WaitWhileBuilding(slot.building);
    }
}

std::shared_ptr<const InflateIndex> SeekPoints::BuildInto(Slot& slot, Stream& from, size_t index) const
{
    struct Done {
        std::atomic<int>& building;
        ~Done()
        {
            building.store(0, std::memory_order_release);
#ifdef __cpp_lib_atomic_wait
            building.notify_all();
#endif
        }
    };
    std::shared_ptr<const InflateIndex> built;
    {
        const Done done{slot.building};
        // Another thread may have finished building it since this one looked.
        built = slot.Load();
        if (built)
            return built;
        built = InflateIndex::Build(reader_, from, index, limits_.Spacing);
        slot.lastRead.store(++clock_, std::memory_order_relaxed);
        memory_.fetch_add(built->MemoryUse(), std::memory_order_relaxed);
        slot.Exchange(built);
    }
    KeepWithinBudget(slot);
    return built;
}

void SeekPoints::KeepWithinBudget(const Slot& keep) const
{
    while (memory_.load(std::memory_order_relaxed) > limits_.Budget) {
        Slot* oldest = nullptr;
        uint64_t oldestRead = std::numeric_limits<uint64_t>::max();
        for (size_t i = 0; i < slotCount_; ++i) {
            Slot& slot = slots_[i];
            const uint64_t read = slot.lastRead.load(std::memory_order_relaxed);
            if (&slot != &keep && read < oldestRead && slot.Load()) {
                oldest = &slot;
                oldestRead = read;
            }
        }
        if (!oldest)
            return;
        // Readers still holding it finish with it; the memory goes with them.
        if (const auto dropped = oldest->Exchange(nullptr))
            memory_.fetch_sub(dropped->MemoryUse(), std::memory_order_relaxed);
    }
}

} // namespace qv
