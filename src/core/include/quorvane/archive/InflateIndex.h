#pragma once
#include "quorvane/archive/ArchiveReader.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

// Portable: compiled into the Windows viewer too, with atomics for its only
// shared state, since its cross compiler's thread model has no std::mutex.
namespace qv {

// Places to start inflating one deflated entry in the middle: block
// boundaries about `spacing` bytes of output apart, each with the 32 KiB
// before it, so a range is inflated from the nearest one at or before it
// rather than from the entry's start.
//
// Build inflates the entry whole and checks its size and CRC as
// ArchiveReader::Extract does, throwing its qv::Error when it is damaged; an
// index that exists describes sound data. It is immutable afterwards, so any
// number of threads may read through it, each with a stream of its own.
class InflateIndex {
public:
    static constexpr int64_t kSpacing = 1024 * 1024;
    // Longer entries space their points wider, so one costs at most
    // kMaxPoints windows (32 MiB).
    static constexpr size_t kMaxPoints = 1024;

    static std::shared_ptr<const InflateIndex> Build(const ArchiveReader& reader, Stream& from, size_t index,
                                                     int64_t spacing = kSpacing);

    // Bytes [offset, offset + count) of the entry, as ArchiveReader::ExtractRange
    // gives them; throws as it does.
    void ExtractRange(const ArchiveReader& reader, Stream& from, int64_t offset, int64_t count,
                      const ArchiveReader::ByteSink& sink) const;

    size_t Entry() const { return entry_; }
    const std::vector<InflatePoint>& Points() const { return points_; }
    // Bytes the points hold.
    int64_t MemoryUse() const;

private:
    size_t entry_ = 0;
    std::vector<InflatePoint> points_; // by Output, ascending
};

// The inflate indexes of an archive's deflated entries larger than a given
// size, each built on the first range read from it and then kept, together
// within a memory budget (the least recently read index goes first; it is
// built again when needed).
//
// Read may run on any thread. Threads that ask for an entry whose index is
// being built wait for that one pass rather than inflating the entry again;
// a pass that fails keeps nothing, so the next read checks the entry anew.
class SeekPoints {
public:
    struct Limits {
        int64_t Spacing = InflateIndex::kSpacing;
        int64_t Budget = 64 * 1024 * 1024;
    };

    // Keeps points for the deflated entries of `reader` larger than `minSize`.
    SeekPoints(const ArchiveReader& reader, int64_t minSize);
    SeekPoints(const ArchiveReader& reader, int64_t minSize, Limits limits);
    ~SeekPoints();
    SeekPoints(const SeekPoints&) = delete;
    SeekPoints& operator=(const SeekPoints&) = delete;

    // Whether Read serves this entry.
    bool Covers(size_t index) const { return slotOf_.count(index) != 0; }
    // Bytes [offset, offset + count) of a covered entry through `from`; none
    // reaches `sink` before the entry has been found sound. Throws qv::Error
    // naming the entry when it is damaged or the range lies outside it, and
    // std::logic_error for an entry not covered.
    void Read(Stream& from, size_t index, int64_t offset, int64_t count, const ArchiveReader::ByteSink& sink) const;

    // The index kept for an entry, or null.
    std::shared_ptr<const InflateIndex> Kept(size_t index) const;
    // Bytes the kept indexes hold together.
    int64_t MemoryUse() const { return memory_.load(std::memory_order_relaxed); }

private:
    struct Slot;
    Slot& SlotOf(size_t index) const;
    std::shared_ptr<const InflateIndex> IndexOf(Stream& from, size_t index) const;
    std::shared_ptr<const InflateIndex> BuildInto(Slot& slot, Stream& from, size_t index) const;
    void KeepWithinBudget(const Slot& keep) const;

    const ArchiveReader& reader_;
    Limits limits_;
    std::unordered_map<size_t, size_t> slotOf_; // entry -> slot; fixed at construction
    std::unique_ptr<Slot[]> slots_;
    size_t slotCount_ = 0;
    mutable std::atomic<uint64_t> clock_{0};
    mutable std::atomic<int64_t> memory_{0};
};

} // namespace qv
