#pragma once
#include "quorvane/archive/ArchiveLayout.h"
#include "quorvane/archive/EntryPacker.h"
#include "quorvane/base/Stream.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

// The archive's writer; the container's layout is in ArchiveLayout.h.
namespace qv {

// Writes one archive, single pass and append-only.
//
// Life cycle: construct; SetLevel and SetProgressHandler as needed;
// Create(path); Add once per entry (IndexOf, Count and Record work in
// between); Close() writes the directory and the trailer. The writer can
// then create the next archive. Discard, destruction or a new Create
// forget the directory without writing it: the file keeps the entries'
// bytes only.
//
// Throws qv::Error:
// - Create: "%s already exists in the archive" when the file is on disk
//   (it is left as it is); the platform's error creating it.
// - Add: "No archive is currently open"; "%s already exists in the archive"
//   for a second entry of the same name; otherwise whatever stopped the
//   entry: the source's failure to read, the producer's, a write to the
//   archive that failed, the progress handler's. An entry is recorded only
//   when Add returns; after a failure the writer takes further entries, but
//   once a write to the file has failed every later Add and Close fails
//   with that same cause, as the entries it held are lost.
// - IndexOf, Count: "No archive is currently open". Record: "Index out of
//   bounds".
// - Close: "No archive is currently open"; a failure to write the file.
//   A directory that cannot be compressed is written raw instead.
//
// Entry names are UTF-8 with "\" between folders ("images\logo.png"); they
// become code-page bytes, cut to 255, only in the record. A drive ("C:") is
// dropped from the folder part. The progress handler runs on the thread that
// called the operation; only Abort may come from another thread.
class ArchiveWriter {
public:
    using ProgressHandler = std::function<void(const std::string& message, int32_t percent)>;
    // Hands an entry's zlib stream and its progress, in order, to the sink
    // it is given and returns what the packer made of the source.
    using Producer = std::function<PackResult(PackSink&)>;
    // The source again, read only when the entry is stored unchanged.
    using SourceAgain = std::function<Stream&()>;

    ArchiveWriter();
    ~ArchiveWriter();
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    void SetLevel(CompressionLevel level) { level_ = level; }
    CompressionLevel Level() const { return level_; }
    void SetProgressHandler(ProgressHandler handler) { onProgress_ = std::move(handler); }

    void Create(const std::string& path);
    // Compresses `source` from its start, whatever its position, and
    // appends the entry; stops feeding the compressor once aborted.
    void Add(const std::string& name, Stream& source);
    // Adds an entry whose stream `produce` makes, on any thread: an
    // EntryPacker, or a pipeline relaying one.
    void Add(const std::string& name, const Producer& produce, const SourceAgain& source);
    // Writes the directory and the trailer; the writer is then free.
    void Close();
    // Forgets the archive: directory, name and an unclosed file (left
    // without directory or trailer). Reports ("", 0).
    void Discard();

    // Index of the first entry whose name matches, ASCII letters compared
    // without case; -1 when none does.
    int32_t IndexOf(const std::string& name) const;
    int32_t Count() const;
    ArchiveRecord Record(int32_t index) const;
    const std::string& Path() const { return path_; }

    // Makes a running Add(name, source) stop feeding the compressor at its
    // next block, and every later one before its first; a producer asks
    // Aborted itself. The entry keeps what was made of it. Safe from any
    // thread.
    void Abort() noexcept { aborted_.store(true); }
    bool Aborted() const noexcept { return aborted_.load(); }

private:
    enum class Operation { None, Adding, WritingDirectory };
    class ArchiveOutput;
    class EntryWriter;
    struct EarlyDirectory;

    void CheckNewEntry(const std::string& name) const;
    ArchiveRecord NewRecord(const std::string& name, int64_t size, int64_t offset) const;
    void Append(ArchiveRecord record);
    void WriteDirectory();
    void FeedDirectory() noexcept;
    bool WriteEarlyDirectory(PackSink& out);
    void Report(int64_t consumed);
    void Forget();

    CompressionLevel level_ = CompressionLevel::Default;
    ProgressHandler onProgress_;
    std::atomic<bool> aborted_{false};
    std::string path_;
    std::unique_ptr<ArchiveOutput> archive_;
    // A deque: a vector's doubling would hold two copies of a big directory
    // while it grows.
    std::deque<ArchiveRecord> records_;
    // ASCII-lowered "Path + Name" of the records as UTF-8, to the first
    // index that has it: IndexOf without walking the directory.
    std::unordered_map<std::string, int32_t> index_;
    Operation operation_ = Operation::None;
    std::string progressMessage_;
    int64_t progressTotal_ = 0;
    // One compressor state serves every entry and the directory.
    EntryPacker packer_;
    // What EntryWriter holds back of the entry being added.
    std::vector<uint8_t> held_;
    // The directory compressed while the entries are added, so that closing
    // only writes it; dropped for compression at closing when anything
    // about it fails or the level changes.
    std::unique_ptr<EarlyDirectory> early_;
    bool earlyOff_ = false;
};

} // namespace qv
