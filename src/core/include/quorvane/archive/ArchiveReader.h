#pragma once
#include "quorvane/archive/ArchiveLayout.h"
#include "quorvane/base/Error.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

// Portable on purpose: this unit is also compiled into the Windows viewer,
// so it depends on Stream, Error, the archive layout, zlib and the standard
// library only.
namespace qv {

class Stream;

// The file holds no archive at all: too short for a trailer, or the trailer's
// version is not ours. Every other failure means an archive that is damaged.
class ArchiveNotFound : public Error {
public:
    using Error::Error;
};

namespace archive_format {
// zlib cannot expand deflate data by more than this factor; a size claiming
// more is a lie told by damaged or hostile bytes.
constexpr int64_t kMaxInflateRatio = 1032;
// Memory reserved for a whole entry before its data has proved its size.
constexpr int64_t kMaxReservation = 16 * 1024 * 1024;
} // namespace archive_format

// One directory record. Name and Path are the raw bytes of the writer's ANSI
// code page; the reader never converts them, its callers do.
struct ArchiveEntry : ArchiveRecordNumbers {
    std::string Name;
    std::string Path;

    // Path followed by Name, e.g. "sub\page.html" (ANSI bytes).
    std::string ArchiveName() const { return Path + Name; }
    EntryStorage Kind() const { return static_cast<EntryStorage>(Storage); }
    bool Encrypted() const { return Storage >= 2; }
    // Bytes the entry occupies at Offset, as its storage kind defines them.
    int64_t StoredSize() const;
};

// A deflate block boundary inside a deflated entry's zlib stream: a place
// where inflating can begin afresh, given the output before it.
struct BlockStart {
    int64_t Output = 0; // bytes of the entry before it
    int64_t Input = 0;  // bytes of the stream taken up to it
    int Bits = 0;       // bits of the last byte taken that belong to the next block (0 to 7)
};

// A block boundary with the up to 32 KiB of output before it, which the
// data after it may refer back to.
struct InflatePoint : BlockStart {
    std::vector<uint8_t> Window;
};

// Reads an archive from the end of any stream: a file of its own, or the
// tail of an executable. Construction finds the trailer, checks the version,
// the archive's CRC-32 and every record of the directory, so a reader that
// exists describes an archive whose entries all lie inside it, none sharing
// bytes with another and no two of the same archive name (A-Z case counts). Extraction checks the size and
// CRC-32 of each entry. Every failure is a qv::Error (ArchiveNotFound when
// there is no archive); nothing the stream holds can make the reader crash
// or loop, and memory follows the bytes the stream really yields (a small
// multiple of the directory's inflated records), never a count or size it
// merely claims.
//
// The stream is borrowed, must outlive the reader and is read through its
// position, so one stream serves one reader at a time.
class ArchiveReader {
public:
    using ByteSink = std::function<void(const uint8_t* data, size_t size)>;
    // Told of each block boundary of a deflated entry, after the sink has
    // been given every byte before it.
    using BlockObserver = std::function<void(const BlockStart& at)>;

    struct Options {
        // Turns an ANSI name into UTF-8 for messages, which show its control
        // characters escaped; without it bytes above 0x7F are shown as \xNN.
        std::function<std::string(std::string_view)> DecodeName;
        // Put before every message, e.g. the file's name.
        std::string SourceName;
        bool VerifyArchiveCRC = true;
    };

    explicit ArchiveReader(Stream& stream);
    ArchiveReader(Stream& stream, Options options);

    // Position of the archive's first byte in the stream (0 for a QPF file,
    // the viewer's length for an EXE).
    int64_t ArchiveStart() const { return start_; }
    const ArchiveTrailer& Trailer() const { return trailer_; }
    const std::vector<ArchiveEntry>& Entries() const { return entries_; }
    size_t Count() const { return entries_.size(); }
    const ArchiveEntry& Entry(size_t index) const;

    // Index of the entry whose archive name equals `ansiName` with ASCII
    // letters folded, or -1.
    int IndexOf(std::string_view ansiName) const;

    // Streams the entry's bytes to `sink` in pieces; throws when they do not
    // come to FileSize bytes with the recorded CRC (the sink may have been
    // given part of them by then).
    void Extract(size_t index, const ByteSink& sink);
    // The same through another stream on the same file, so that threads
    // with a stream each can read side by side; the reader is not changed.
    void Extract(Stream& from, size_t index, const ByteSink& sink) const;
    // The same, telling `atBlock` where the deflate blocks begin (stored
    // entries have none), for InflateIndex.
    void Extract(Stream& from, size_t index, const ByteSink& sink, const BlockObserver& atBlock) const;
    // Bytes [offset, offset + count) of the entry through `from`, without
    // checking the entry's size or CRC: for callers that have checked the
    // whole entry once with Extract. A stored entry is read in place; a
    // deflated one is inflated from its start. Throws for a range outside
    // the entry and for deflate data that turns out damaged.
    void ExtractRange(Stream& from, size_t index, int64_t offset, int64_t count, const ByteSink& sink) const;
    // The same for a deflated entry, inflating from `start` (a point of this
    // entry at or before `offset`, see InflateIndex) instead of its start.
    void ExtractRange(Stream& from, size_t index, int64_t offset, int64_t count, const ByteSink& sink,
                      const InflatePoint& start) const;
    void ExtractTo(size_t index, Stream& out);
    // Throws naming the entry unless it holds exactly `size` bytes, `what`
    // saying whose size that is ("a settings image").
    void CheckSize(const ArchiveEntry& entry, int64_t size, const std::string& what) const;
    // Throws unless [offset, offset + count) lies inside the entry.
    void CheckRange(const ArchiveEntry& entry, int64_t offset, int64_t count) const;
    // The whole entry in memory; refuses entries of 2 GiB or more, and
    // reserves at most kMaxReservation before the data has come.
    std::vector<uint8_t> Extract(size_t index);

    // The entry's name as the messages show it.
    std::string DisplayName(const ArchiveEntry& entry) const;

private:
    std::string Prefixed(const std::string& message) const;
    [[noreturn]] void Fail(const std::string& message) const;
    [[noreturn]] void FailEntry(const ArchiveEntry& entry, const std::string& problem) const;
    void ReadTrailer();
    void VerifyChecksum();
    // Entries by index, hashed and compared by archive name, for the set
    // that finds a name recorded twice.
    struct NameHash {
        const ArchiveReader* reader;
        size_t operator()(size_t index) const;
    };
    struct NameEqual {
        const ArchiveReader* reader;
        bool operator()(size_t a, size_t b) const;
    };
    void ReadDirectory();
    void AddEntry(const ArchiveRecord& record, std::unordered_set<size_t, NameHash, NameEqual>& seen);
    void CheckOverlaps() const;
    void CheckEntry(const ArchiveEntry& entry) const;
    void ReadAt(int64_t archiveOffset, void* buffer, size_t count);
    void ReadAt(Stream& from, int64_t archiveOffset, void* buffer, size_t count) const;
    const ArchiveEntry& Readable(size_t index) const;
    void ExtractRangeFrom(Stream& from, size_t index, int64_t offset, int64_t count, const ByteSink& sink,
                          const InflatePoint* start) const;

    Stream& stream_;
    Options options_;
    int64_t fileSize_ = 0;
    int64_t start_ = 0;
    int64_t directoryStart_ = 0; // archive offset of the directory
    ArchiveTrailer trailer_;
    std::vector<ArchiveEntry> entries_;
};

} // namespace qv
