#pragma once
#include "quorvane/archive/ArchiveWriter.h"
#include "quorvane/viewercore/PageText.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qv {

// Compresses a build's files on several threads while the archive takes
// them strictly in list order, so the archive's bytes never depend on how
// many threads made them.
//
// With one job everything runs on the calling thread. With more, as many
// workers each take the next file of the list, read it in blocks and
// compress it; Add waits for a file's turn, relays its progress and writes
// its stream as it arrives. The compressed bytes of files whose turn has not
// come are held in memory within a budget shared by all workers, and past
// it in nameless temporary files; workers run at most a window of files
// ahead of the one being written. Files are never read whole.
//
// Life cycle: construct (workers start) → Add(0), Add(1), ... in list order,
// each once → destroy (workers stop at their next block and are joined).
// Once Add has thrown, only destruction is left.
class PackPipeline {
public:
    struct Options {
        unsigned Jobs = 1;
        CompressionLevel Level = CompressionLevel::Default;
        int64_t MemoryBudget = int64_t{32} << 20;
        std::string TempFolder;           // the system's when empty
        std::function<bool()> Stopped;    // asked between blocks, on any thread
        // Files whose text is read as they are compressed, for the search
        // index; asked on the workers.
        std::function<bool(size_t index)> WantsText;
    };

    PackPipeline(const std::vector<std::string>& files, Options options);
    ~PackPipeline();
    PackPipeline(const PackPipeline&) = delete;
    PackPipeline& operator=(const PackPipeline&) = delete;

    // Adds files[index] to the archive as entry `name` through ArchiveWriter::Add.
    // Throws the file's own failure (it could not be opened or read) and
    // what ArchiveWriter::Add throws. A file WantsText takes gives its text
    // to `text`, read in the same pass that compressed it.
    void Add(size_t index, ArchiveWriter& archive, const std::string& name, PageText* text = nullptr);

private:
    struct Segment;
    struct Slot;
    class SlotSink;

    void Work();
    void Produce(EntryPacker& packer, size_t index, std::unique_lock<std::mutex>& lock);
    PackResult Pump(Slot& slot, PackSink& out);
    void Release(size_t index);
    void Notify(const Slot& slot);
    bool WorkersMayTake() const;
    bool HeadReady() const;

    const std::vector<std::string>& files_;
    Options options_;
    std::unique_ptr<EntryPacker> packer_; // the calling thread's, with one job
    std::vector<Slot> slots_;

    std::mutex mutex_;
    std::condition_variable workCv_;      // workers: room in the window or budget
    std::condition_variable headCv_;      // Add: the file being written moved on
    size_t next_ = 0;                     // the next file a worker takes
    size_t head_ = 0;                     // the file being written
    int64_t held_ = 0;                    // compressed bytes in memory, all files
    bool runWait_ = false;                // Add sleeps until HeadReady
    std::atomic<bool> stop_{false};
    std::vector<std::thread> workers_;
    // Pump's, reused from file to file.
    std::vector<int64_t> pumpProgress_;
    std::vector<Segment> pumpSegments_;
};

// Adds a file as an entry on the calling thread, reading it in blocks; with
// `text`, its page text comes from the same blocks.
// Throws the file's failure to open or read, and what ArchiveWriter::Add throws.
void AddFileEntry(ArchiveWriter& archive, EntryPacker& packer, const std::string& name, const std::string& path,
                  const std::function<bool()>& stopped, PageText* text = nullptr);

// Threads for a requested number of jobs: 0 means one per core.
unsigned JobCount(unsigned requested);

} // namespace qv
