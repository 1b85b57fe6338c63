#include "quorvane/archive/ArchiveReader.h"

#include "quorvane/base/Stream.h"
#include "quorvane/base/Text.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <zlib.h>

namespace qv {

using namespace archive_format;

namespace {

constexpr size_t kBlock = 64 * 1024;
// The farthest deflate data refers back.
constexpr size_t kMaxWindow = 32 * 1024;

// What went wrong inside a zlib stream; the caller says whose stream it was.
// Kept apart from qv::Error so that a failing sink is never reported as
// damaged data.
struct InflateProblem {
    std::string text;
};

// Signed, for sums with stream positions.
constexpr int64_t kTrailerSize = archive_layout::kTrailerSize;
constexpr int64_t kRecordSize = archive_layout::kRecordSize;
constexpr int32_t kVersion = archive_layout::kVersion;

std::string Hex32(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::string Num(int64_t value) { return std::to_string(value); }

uint32_t Crc(uint32_t crc, const uint8_t* data, size_t size)
{
    return static_cast<uint32_t>(crc32(crc, data, static_cast<uInt>(size)));
}

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

class InflateStream {
public:
    // 15 bits for a zlib stream; -15 for raw deflate data, met when
    // inflating begins at a block boundary.
    explicit InflateStream(int windowBits = MAX_WBITS)
    {
        if (inflateInit2(&zs_, windowBits) != Z_OK)
            throw InflateProblem{"zlib could not start (out of memory)"};
    }
    ~InflateStream() { inflateEnd(&zs_); }
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;
    z_stream* operator->() { return &zs_; }
    z_stream* get() { return &zs_; }

private:
    z_stream zs_{};
};

// Where InflateRange begins and when it may stop early.
struct InflatePlan {
    // Ends quietly once this many bytes have come out, checking nothing further.
    int64_t stopAfter = -1;
    // A block boundary of the same stream to begin at instead of its start.
    const InflatePoint* resume = nullptr;
    const ArchiveReader::BlockObserver* atBlock = nullptr;
};

// Takes up the stream at `point`: the unused bits of the byte before it,
// then the output before it as the dictionary. Returns the input left.
int64_t Resume(InflateStream& zs, Stream& stream, int64_t position, int64_t inputSize, int64_t expected,
               const InflatePoint& point)
{
    if (point.Bits < 0 || point.Bits > 7 || point.Input < (point.Bits > 0 ? 1 : 0) || point.Input > inputSize ||
        point.Output < 0 || point.Output > expected || point.Window.size() > kMaxWindow)
        throw InflateProblem{"its restart point lies outside it"};
    if (point.Bits > 0) {
        uint8_t byte = 0;
        stream.Seek(position + point.Input - 1);
        stream.ReadExact(&byte, 1);
        if (inflatePrime(zs.get(), point.Bits, byte >> (8 - point.Bits)) != Z_OK)
            throw InflateProblem{"zlib could not resume its zlib stream"};
    }
    if (!point.Window.empty() &&
        inflateSetDictionary(zs.get(), point.Window.data(), static_cast<uInt>(point.Window.size())) != Z_OK)
        throw InflateProblem{"zlib could not resume its zlib stream"};
    return inputSize - point.Input;
}

// Inflates exactly `inputSize` bytes of `stream` from `position`; they must
// be one whole zlib stream giving exactly `expected` bytes. Output goes to
// `sink` block by block and is refused as soon as it would pass `expected`,
// so nothing depends on the stream being honest.
void InflateRange(Stream& stream, int64_t position, int64_t inputSize, int64_t expected,
                  const ArchiveReader::ByteSink& sink, const InflatePlan& plan = {})
{
    std::vector<uint8_t> in(static_cast<size_t>(std::min<int64_t>(inputSize, kBlock)));
    std::vector<uint8_t> out(kBlock);
    InflateStream zs(plan.resume ? -MAX_WBITS : MAX_WBITS);
    int64_t remaining = inputSize;
    int64_t produced = 0;
    if (plan.resume) {
        remaining = Resume(zs, stream, position, inputSize, expected, *plan.resume);
        position += plan.resume->Input;
        produced = plan.resume->Output;
    }
    // Z_BLOCK returns at every block boundary as well.
    const int flush = plan.atBlock ? Z_BLOCK : Z_NO_FLUSH;
    for (;;) {
        if (zs->avail_in == 0 && remaining > 0) {
            const size_t n = static_cast<size_t>(std::min<int64_t>(remaining, static_cast<int64_t>(in.size())));
            stream.Seek(position);
            stream.ReadExact(in.data(), n);
            position += static_cast<int64_t>(n);
            remaining -= static_cast<int64_t>(n);
            zs->next_in = in.data();
            zs->avail_in = static_cast<uInt>(n);
        }
        zs->next_out = out.data();
        zs->avail_out = static_cast<uInt>(out.size());
        const int rc = inflate(zs.get(), flush);
        const size_t have = out.size() - zs->avail_out;
        if (have > 0) {
            if (static_cast<int64_t>(have) > expected - produced)
                throw InflateProblem{"it inflates to more than " + Num(expected) + " bytes"};
            sink(out.data(), have);
            produced += static_cast<int64_t>(have);
            if (plan.stopAfter >= 0 && produced >= plan.stopAfter)
                return;
        }
        // Bit 128: a block has just ended; bit 64: it was the last one.
        if (plan.atBlock && rc == Z_OK && (zs->data_type & 128) != 0 && (zs->data_type & 64) == 0)
            (*plan.atBlock)(BlockStart{produced, inputSize - remaining - static_cast<int64_t>(zs->avail_in),
                                       zs->data_type & 7});
        if (rc == Z_STREAM_END)
            break;
        if (rc == Z_BUF_ERROR) {
            // No progress was possible: with a fresh output block that means
            // the input ran out, which is the end of the data.
            if (zs->avail_in == 0 && remaining == 0)
                throw InflateProblem{"its zlib stream is cut short"};
            if (zs->avail_in != 0)
                throw InflateProblem{"its zlib stream cannot be inflated"};
            continue;
        }
        if (rc != Z_OK)
            throw InflateProblem{std::string("its zlib stream is invalid (") + (zs->msg ? zs->msg : "error " + Num(rc)) + ")"};
    }
    if (zs->avail_in != 0 || remaining != 0)
        throw InflateProblem{"bytes follow the end of its zlib stream"};
    if (produced != expected)
        throw InflateProblem{"it inflates to " + Num(produced) + " bytes instead of " + Num(expected)};
}

} // namespace

int64_t ArchiveEntry::StoredSize() const
{
    switch (Kind()) {
    case EntryStorage::Deflated: return CompressedSize;
    case EntryStorage::Stored: return FileSize;
    case EntryStorage::EncryptedDeflated:
    case EntryStorage::Encrypted: return EncryptedSize;
    }
    return 0;
}

ArchiveReader::ArchiveReader(Stream& stream) : ArchiveReader(stream, Options{}) {}

ArchiveReader::ArchiveReader(Stream& stream, Options options) : stream_(stream), options_(std::move(options))
{
    fileSize_ = stream_.Size();
    ReadTrailer();
    if (options_.VerifyArchiveCRC)
        VerifyChecksum();
    ReadDirectory();
}

std::string ArchiveReader::Prefixed(const std::string& message) const
{
    return options_.SourceName.empty() ? message : options_.SourceName + ": " + message;
}

void ArchiveReader::Fail(const std::string& message) const
{
    throw Error(Prefixed(message));
}

std::string ArchiveReader::DisplayName(const ArchiveEntry& entry) const
{
    const std::string name = entry.ArchiveName();
    if (options_.DecodeName)
        return TerminalText(options_.DecodeName(name));
    std::string shown;
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02X", static_cast<unsigned>(b));
            shown += esc;
        } else {
            shown += c;
        }
    }
    return shown;
}

void ArchiveReader::FailEntry(const ArchiveEntry& entry, const std::string& problem) const
{
    Fail("Archive entry \"" + DisplayName(entry) + "\" " + problem);
}

void ArchiveReader::ReadTrailer()
{
    if (fileSize_ < kTrailerSize) {
        throw ArchiveNotFound(Prefixed("No archive found: the file is " + Num(fileSize_) +
                                       " bytes long, too short for an archive trailer"));
    }
    std::array<uint8_t, kTrailerSize> image;
    stream_.Seek(fileSize_ - kTrailerSize);
    stream_.ReadExact(image.data(), image.size());
    trailer_ = ArchiveTrailer::FromImage(image);

    if (trailer_.Version != kVersion) {
        throw ArchiveNotFound(Prefixed("No archive found: the trailer holds version " + Num(trailer_.Version) +
                                       ", not " + Num(kVersion)));
    }
    const std::string damaged = "Archive trailer is damaged: ";
    if (trailer_.EntryCount < 0)
        Fail(damaged + "the entry count is negative (" + Num(trailer_.EntryCount) + ")");
    if (trailer_.RegistryCompressed > 1)
        Fail(damaged + "unknown directory format " + Num(trailer_.RegistryCompressed));
    if (trailer_.RegistryOffset < 0)
        Fail(damaged + "the directory offset is negative (" + Num(trailer_.RegistryOffset) + ")");

    // Everything before the trailer; all sums below stay far from overflow
    // because each term has been bounded by it first.
    const int64_t body = fileSize_ - kTrailerSize;
    const int64_t count = trailer_.EntryCount;
    int64_t directorySize = 0;
    if (trailer_.RegistryCompressed == 1) {
        if (trailer_.RegistrySize < 0)
            Fail(damaged + "the directory size is negative (" + Num(trailer_.RegistrySize) + ")");
        directorySize = trailer_.RegistrySize;
        if (directorySize > body || trailer_.RegistryOffset > body - directorySize)
            Fail(damaged + "the directory lies outside the file");
        if (count * kRecordSize > directorySize * kMaxInflateRatio)
            Fail(damaged + Num(count) + " entries cannot come from a directory of " + Num(directorySize) + " bytes");
    } else {
        // A raw directory: the records end where the trailer begins.
        if (count * kRecordSize > body)
            Fail(damaged + Num(count) + " entries do not fit into the file");
        directorySize = count * kRecordSize;
        if (trailer_.RegistryOffset > body - directorySize)
            Fail(damaged + "the directory lies outside the file");
    }
    start_ = body - directorySize - trailer_.RegistryOffset;
    directoryStart_ = trailer_.RegistryOffset;
}

void ArchiveReader::VerifyChecksum()
{
    std::vector<uint8_t> block(kBlock);
    int64_t remaining = fileSize_ - kTrailerSize - start_;
    int64_t position = start_;
    uint32_t crc = 0;
    stream_.Seek(position);
    while (remaining > 0) {
        const size_t n = static_cast<size_t>(std::min<int64_t>(remaining, kBlock));
        stream_.ReadExact(block.data(), n);
        crc = Crc(crc, block.data(), n);
        remaining -= static_cast<int64_t>(n);
    }
    if (crc != trailer_.ArchiveCRC)
        Fail("Archive checksum mismatch: the trailer records " + Hex32(trailer_.ArchiveCRC) + ", the archive gives " +
             Hex32(crc));
}

void ArchiveReader::ReadDirectory()
{
    // Records are parsed as they arrive, so memory follows the bytes the
    // directory really yields, never the count its trailer claims.
    std::array<uint8_t, archive_layout::kRecordSize> record;
    size_t filled = 0;
    std::unordered_set<size_t, NameHash, NameEqual> seen(0, NameHash{this}, NameEqual{this});
    const ByteSink parse = [&](const uint8_t* data, size_t size) {
        while (size > 0) {
            const size_t n = std::min(size, record.size() - filled);
            std::copy_n(data, n, record.begin() + filled);
            filled += n;
            data += n;
            size -= n;
            if (filled == record.size()) {
                AddEntry(ArchiveRecord::FromImage(record), seen);
                filled = 0;
            }
        }
    };
    const int64_t expected = int64_t(trailer_.EntryCount) * kRecordSize;
    if (trailer_.RegistryCompressed == 0) {
        std::vector<uint8_t> block(static_cast<size_t>(std::min<int64_t>(expected, kBlock)));
        for (int64_t done = 0; done < expected;) {
            const size_t n = static_cast<size_t>(std::min<int64_t>(expected - done, kBlock));
            ReadAt(directoryStart_ + done, block.data(), n);
            done += static_cast<int64_t>(n);
            parse(block.data(), n);
        }
    } else {
        try {
            InflateRange(stream_, start_ + directoryStart_, trailer_.RegistrySize, expected, parse);
        } catch (const InflateProblem& problem) {
            Fail("Archive directory is damaged: " + problem.text);
        }
    }
    CheckOverlaps();
}

size_t ArchiveReader::NameHash::operator()(size_t index) const
{
    return std::hash<std::string>()(reader->entries_[index].ArchiveName());
}

bool ArchiveReader::NameEqual::operator()(size_t a, size_t b) const
{
    return reader->entries_[a].ArchiveName() == reader->entries_[b].ArchiveName();
}

void ArchiveReader::AddEntry(const ArchiveRecord& record, std::unordered_set<size_t, NameHash, NameEqual>& seen)
{
    ArchiveEntry e;
    static_cast<ArchiveRecordNumbers&>(e) = record;
    e.Name = record.NameAnsi();
    e.Path = record.PathAnsi();
    CheckEntry(e);
    entries_.push_back(std::move(e));
    // A build never records one name twice (lookups find only the first),
    // and a directory of one record repeated is a cheap way to claim
    // millions: the first repeat ends it.
    if (!seen.insert(entries_.size() - 1).second)
        FailEntry(entries_.back(), "is recorded twice in the directory");
}

void ArchiveReader::CheckOverlaps() const
{
    // Entries never share bytes: one run of data under several names would
    // be inflated once per name.
    std::vector<std::pair<int64_t, size_t>> starts;
    for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].StoredSize() > 0)
            starts.emplace_back(entries_[i].Offset, i);
    std::sort(starts.begin(), starts.end());
    // Sorted by start, any overlap shows between neighbours.
    for (size_t k = 1; k < starts.size(); ++k) {
        const ArchiveEntry& before = entries_[starts[k - 1].second];
        const ArchiveEntry& e = entries_[starts[k].second];
        if (e.Offset < before.Offset + before.StoredSize())
            FailEntry(e, "shares its data with \"" + DisplayName(before) + "\"");
    }
}

void ArchiveReader::CheckEntry(const ArchiveEntry& e) const
{
    if (e.Storage > 3)
        FailEntry(e, "has an unknown storage kind (" + Num(e.Storage) + ")");
    if (e.FileSize < 0 || e.CompressedSize < 0 || e.EncryptedSize < 0 || e.Offset < 0)
        FailEntry(e, "has a negative size or offset");
    // Entry data lies before the directory.
    const int64_t end = directoryStart_;
    const int64_t stored = e.StoredSize();
    if (e.Offset > end || stored > end - e.Offset)
        FailEntry(e, "lies outside the archive (offset " + Num(e.Offset) + ", " + Num(stored) + " bytes)");
    if (e.Kind() == EntryStorage::Deflated && e.FileSize / kMaxInflateRatio > e.CompressedSize)
        FailEntry(e, "claims " + Num(e.FileSize) + " bytes from " + Num(e.CompressedSize) + " compressed bytes");
}

const ArchiveEntry& ArchiveReader::Entry(size_t index) const
{
    if (index >= entries_.size())
        throw Error("Index out of bounds");
    return entries_[index];
}

int ArchiveReader::IndexOf(std::string_view ansiName) const
{
    for (size_t i = 0; i < entries_.size(); ++i) {
        const std::string name = entries_[i].ArchiveName();
        if (name.size() == ansiName.size() &&
            std::equal(name.begin(), name.end(), ansiName.begin(),
                       [](char a, char b) { return FoldAscii(a) == FoldAscii(b); }))
            return static_cast<int>(i);
    }
    return -1;
}

void ArchiveReader::ReadAt(int64_t archiveOffset, void* buffer, size_t count)
{
    ReadAt(stream_, archiveOffset, buffer, count);
}

void ArchiveReader::ReadAt(Stream& from, int64_t archiveOffset, void* buffer, size_t count) const
{
    from.Seek(start_ + archiveOffset);
    from.ReadExact(buffer, count);
}

const ArchiveEntry& ArchiveReader::Readable(size_t index) const
{
    const ArchiveEntry& e = Entry(index);
    if (e.Encrypted())
        Fail("Cannot extract \"" + DisplayName(e) + "\": encrypted entry");
    return e;
}

void ArchiveReader::Extract(size_t index, const ByteSink& sink)
{
    Extract(stream_, index, sink);
}

void ArchiveReader::Extract(Stream& from, size_t index, const ByteSink& sink) const
{
    Extract(from, index, sink, nullptr);
}

void ArchiveReader::Extract(Stream& from, size_t index, const ByteSink& sink, const BlockObserver& atBlock) const
{
    const ArchiveEntry& e = Readable(index);

    uint32_t crc = 0;
    int64_t produced = 0;
    const ByteSink checked = [&](const uint8_t* data, size_t size) {
        crc = Crc(crc, data, size);
        produced += static_cast<int64_t>(size);
        sink(data, size);
    };
    if (e.Kind() == EntryStorage::Stored) {
        std::vector<uint8_t> block(static_cast<size_t>(std::min<int64_t>(e.FileSize, kBlock)));
        int64_t position = e.Offset;
        while (produced < e.FileSize) {
            const size_t n = static_cast<size_t>(std::min<int64_t>(e.FileSize - produced, kBlock));
            ReadAt(from, position, block.data(), n);
            position += static_cast<int64_t>(n);
            checked(block.data(), n);
        }
    } else {
        try {
            InflatePlan plan;
            plan.atBlock = atBlock ? &atBlock : nullptr;
            InflateRange(from, start_ + e.Offset, e.CompressedSize, e.FileSize, checked, plan);
        } catch (const InflateProblem& problem) {
            FailEntry(e, "is damaged: " + problem.text);
        }
    }
    if (produced != e.FileSize)
        FailEntry(e, "is damaged: it holds " + Num(produced) + " bytes instead of " + Num(e.FileSize));
    if (crc != e.CRC)
        FailEntry(e, "is damaged: CRC mismatch (recorded " + Hex32(e.CRC) + ", data gives " + Hex32(crc) + ")");
}

void ArchiveReader::CheckSize(const ArchiveEntry& e, int64_t size, const std::string& what) const
{
    if (e.FileSize != size)
        FailEntry(e, "holds " + Num(e.FileSize) + " bytes, not the " + Num(size) + " of " + what);
}

void ArchiveReader::CheckRange(const ArchiveEntry& e, int64_t offset, int64_t count) const
{
    if (offset < 0 || count < 0 || offset > e.FileSize || count > e.FileSize - offset)
        Fail("Cannot read bytes " + Num(offset) + " to " + Num(offset + count) + " of \"" + DisplayName(e) +
             "\": it holds " + Num(e.FileSize) + " bytes");
}

void ArchiveReader::ExtractRange(Stream& from, size_t index, int64_t offset, int64_t count,
                                 const ByteSink& sink) const
{
    ExtractRangeFrom(from, index, offset, count, sink, nullptr);
}

void ArchiveReader::ExtractRange(Stream& from, size_t index, int64_t offset, int64_t count, const ByteSink& sink,
                                 const InflatePoint& start) const
{
    ExtractRangeFrom(from, index, offset, count, sink, &start);
}

void ArchiveReader::ExtractRangeFrom(Stream& from, size_t index, int64_t offset, int64_t count,
                                     const ByteSink& sink, const InflatePoint* start) const
{
    const ArchiveEntry& e = Readable(index);
    CheckRange(e, offset, count);
    if (count == 0)
        return;
    if (e.Kind() == EntryStorage::Stored) {
        std::vector<uint8_t> block(static_cast<size_t>(std::min<int64_t>(count, kBlock)));
        for (int64_t done = 0; done < count;) {
            const size_t n = static_cast<size_t>(std::min<int64_t>(count - done, kBlock));
            ReadAt(from, e.Offset + offset + done, block.data(), n);
            done += static_cast<int64_t>(n);
            sink(block.data(), n);
        }
        return;
    }
    // Deflate data cannot be entered just anywhere: inflate from the entry's
    // start, or from a block boundary before the range, and pass on only
    // the bytes asked for.
    if (start && start->Output > offset)
        Fail("Cannot read bytes " + Num(offset) + " to " + Num(offset + count) + " of \"" + DisplayName(e) +
             "\" from byte " + Num(start->Output));
    int64_t position = start ? start->Output : 0;
    const ByteSink window = [&](const uint8_t* data, size_t size) {
        const int64_t end = position + static_cast<int64_t>(size);
        const int64_t first = std::max(position, offset);
        const int64_t last = std::min(end, offset + count);
        if (first < last)
            sink(data + (first - position), static_cast<size_t>(last - first));
        position = end;
    };
    try {
        InflatePlan plan;
        plan.stopAfter = offset + count;
        plan.resume = start;
        InflateRange(from, start_ + e.Offset, e.CompressedSize, e.FileSize, window, plan);
    } catch (const InflateProblem& problem) {
        FailEntry(e, "is damaged: " + problem.text);
    }
}

void ArchiveReader::ExtractTo(size_t index, Stream& out)
{
    Extract(index, [&out](const uint8_t* data, size_t size) { out.Write(data, size); });
}

std::vector<uint8_t> ArchiveReader::Extract(size_t index)
{
    const ArchiveEntry& e = Entry(index);
    if (e.FileSize >= (int64_t(1) << 31) ||
        static_cast<uint64_t>(e.FileSize) > std::numeric_limits<size_t>::max())
        FailEntry(e, "is too large to extract into memory (" + Num(e.FileSize) + " bytes)");
    std::vector<uint8_t> bytes;
    // A size the data has not yet given is only a claim: beyond this much
    // the vector grows with the bytes really inflated.
    if (!e.Encrypted())
        bytes.reserve(static_cast<size_t>(std::min(e.FileSize, kMaxReservation)));
    Extract(index, [&bytes](const uint8_t* data, size_t size) { bytes.insert(bytes.end(), data, data + size); });
    return bytes;
}

} // namespace qv
