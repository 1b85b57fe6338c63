#include "quorvane/archive/ArchiveWriter.h"

#include "quorvane/archive/Crc32.h"
#include "quorvane/base/Error.h"
#include "quorvane/base/PathParts.h"
#include "quorvane/base/Text.h"
#include "quorvane/platform/CodePage.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

namespace qv {
namespace {

constexpr const char* kNoArchive = "No archive is currently open";
constexpr const char* kIndexOutOfBounds = "Index out of bounds";
constexpr const char* kAlreadyExists = "%s already exists in the archive";
constexpr const char* kAdding = "Adding: %s";
constexpr const char* kWritingRegistry = "Writing archive registry";

// Compressed bytes an entry keeps back before they go to the archive: a
// small entry that turns out stored is never written twice.
constexpr size_t kHoldLimit = size_t{1} << 20;
// Directory records fed to the compressor at a time.
constexpr size_t kRecordBatch = 119;
constexpr size_t kShortCapacity = archive_layout::kShortStringSize - 1;

std::string Format(const char* pattern, const std::string& arg)
{
    std::string text = pattern;
    const size_t at = text.find("%s");
    return text.replace(at, 2, arg);
}

// The folder part of an entry name runs up to and including its last
// backslash or colon; both are ASCII, so UTF-8 can be searched bytewise.
size_t FolderLength(const std::string& name)
{
    return CutAtLastSeparator(name, separators::kArchiveFolder).folder.size();
}

// Drops a drive ("C:") from a folder part: everything up to its first colon.
std::string WithoutDrive(const std::string& folder)
{
    const size_t colon = folder.find(':');
    return colon == std::string::npos ? folder : folder.substr(colon + 1);
}

std::string ToShortAnsi(const std::string& utf8)
{
    std::string ansi = codepage::ToAnsi(utf8, kShortCapacity);
    if (ansi.size() > kShortCapacity)
        ansi.resize(kShortCapacity);
    return ansi;
}

// The key of a name as IndexOf compares it.
std::string LookupKey(const std::string& name)
{
    const size_t folderLength = FolderLength(name);
    return AsciiLower(WithoutDrive(name.substr(0, folderLength)) + name.substr(folderLength));
}

std::string RecordKey(const ArchiveRecord& record)
{
    return AsciiLower(codepage::FromAnsi(record.PathAnsi() + record.NameAnsi()));
}

void SetStorage(ArchiveRecord& record, EntryStorage storage) { record.Storage = static_cast<uint8_t>(storage); }

// Feeds records [from, to) to a compressor `batch` records at a time,
// imaged in `images`.
void PackRecords(EntryPacker& packer, const std::deque<ArchiveRecord>& records, size_t from, size_t to, size_t batch,
                 std::vector<uint8_t>& images)
{
    for (size_t first = from; first < to; first += batch) {
        const size_t count = std::min(batch, to - first);
        images.resize(count * ArchiveRecord::kImageSize);
        for (size_t i = 0; i < count; ++i)
            records[first + i].WriteImage(std::span<uint8_t, ArchiveRecord::kImageSize>(
                images.data() + i * ArchiveRecord::kImageSize, ArchiveRecord::kImageSize));
        packer.Write(images.data(), images.size());
    }
}

// Hands a compressor's output to a stream and its progress to the writer.
class StreamSink final : public PackSink {
public:
    StreamSink(Stream& out, std::function<void(int64_t)> progress) : out_(out), progress_(std::move(progress)) {}
    void Data(const uint8_t* bytes, size_t size) override { out_.Write(bytes, size); }
    void Progress(int64_t consumed, int64_t) override { progress_(consumed); }

private:
    Stream& out_;
    std::function<void(int64_t)> progress_;
};

} // namespace

std::string ArchiveRecord::NameText() const { return codepage::FromAnsi(NameAnsi()); }
std::string ArchiveRecord::PathText() const { return codepage::FromAnsi(PathAnsi()); }

// The archive file. It keeps the CRC-32 of the bytes written from its
// start, so closing needs no second pass over a file that may be gigabytes
// long. A write anywhere but at the end drops the running value and closing
// reads the file after all; a mark lets an entry or a directory that is cut
// off again go back to the value it started from.
//
// Appends are gathered into blocks: a site of many small files would
// otherwise cost a system call per entry. Losing a gathered block loses
// entries already recorded, so a failure to write one is kept and raised
// again by everything after it: such an archive is never finished.
class ArchiveWriter::ArchiveOutput final : public Stream {
public:
    explicit ArchiveOutput(const std::string& path) : file_(path, FileStream::Mode::Create) {}
    // An archive given up still holds every entry written to it.
    ~ArchiveOutput() override
    {
        try {
            Flush();
        } catch (...) {
        }
    }
    ArchiveOutput(const ArchiveOutput&) = delete;
    ArchiveOutput& operator=(const ArchiveOutput&) = delete;

    int64_t Size() const override { return size_; }
    int64_t Position() const override { return position_; }
    void Seek(int64_t position) override
    {
        if (position < 0)
            throw Error("Stream seek error");
        position_ = position;
    }

    size_t Read(void* buffer, size_t count) override
    {
        Flush();
        file_.Seek(position_);
        const size_t done = file_.Read(buffer, count);
        position_ += static_cast<int64_t>(done);
        return done;
    }

    void Write(const void* buffer, size_t count) override
    {
        if (failed_)
            std::rethrow_exception(failed_);
        const int64_t at = position_;
        const bool appending = at == size_ && (gathered_.empty() || at == gatheredAt_ + Gathered());
        if (appending && gathered_.size() + count <= kGatherLimit) {
            if (gathered_.empty())
                gatheredAt_ = at;
            const auto* bytes = static_cast<const uint8_t*>(buffer);
            gathered_.insert(gathered_.end(), bytes, bytes + count);
        } else {
            Flush();
            file_.Seek(at);
            try {
                file_.Write(buffer, count);
            } catch (...) {
                position_ = file_.Position();
                size_ = std::max(size_, position_);
                covered_ = kLost;
                throw;
            }
        }
        position_ = at + static_cast<int64_t>(count);
        size_ = std::max(size_, position_);
        if (at == covered_) {
            crc_ = UpdateCRC32(crc_, buffer, count);
            covered_ += static_cast<int64_t>(count);
        } else {
            covered_ = kLost;
        }
    }

    void SetSize(int64_t size) override
    {
        Flush();
        file_.SetSize(size);
        size_ = size;
        if (size == markAt_) {
            covered_ = markAt_;
            crc_ = markCrc_;
        } else if (size < covered_) {
            covered_ = kLost;
        }
    }

    void Mark()
    {
        markAt_ = covered_;
        markCrc_ = crc_;
    }

    // The CRC-32 of the bytes from `start` to the end, as StreamCRC32 gives it.
    uint32_t Checksum(int64_t start)
    {
        if (start == 0 && covered_ != kLost && covered_ == size_)
            return covered_ > 0 ? crc_ ^ 0xFFFFFFFFu : 0;
        return StreamCRC32(*this, start, 0);
    }

    void Close()
    {
        Flush();
        file_.Close();
    }

private:
    static constexpr int64_t kLost = -1;
    static constexpr size_t kGatherLimit = size_t{256} << 10;

    int64_t Gathered() const { return static_cast<int64_t>(gathered_.size()); }

    void Flush()
    {
        if (failed_)
            std::rethrow_exception(failed_);
        if (gathered_.empty())
            return;
        try {
            file_.Seek(gatheredAt_);
            file_.Write(gathered_.data(), gathered_.size());
        } catch (...) {
            failed_ = std::current_exception();
            gathered_.clear();
            throw;
        }
        gathered_.clear();
    }

    FileStream file_;
    int64_t position_ = 0;
    int64_t size_ = 0;
    std::vector<uint8_t> gathered_;
    int64_t gatheredAt_ = 0;
    std::exception_ptr failed_;
    uint32_t crc_ = 0xFFFFFFFFu;
    int64_t covered_ = 0;
    int64_t markAt_ = kLost;
    uint32_t markCrc_ = 0;
};

// The directory's zlib stream as far as it has been made, with the place
// of every progress report in it, so that writing it out later reports as
// compressing it then would have.
struct ArchiveWriter::EarlyDirectory final : PackSink {
    struct Mark {
        size_t end;
        int64_t consumed;
    };

    CompressionLevel level{};
    size_t fed = 0;
    EntryPacker packer;
    std::vector<uint8_t> stream;
    std::vector<Mark> marks;
    std::vector<uint8_t> images;

    void Data(const uint8_t* bytes, size_t size) override { stream.insert(stream.end(), bytes, bytes + size); }
    void Progress(int64_t consumed, int64_t) override { marks.push_back({stream.size(), consumed}); }
};

ArchiveWriter::ArchiveWriter() = default;

// Nothing is reported from here: the owner may be half gone already.
ArchiveWriter::~ArchiveWriter() { Forget(); }

void ArchiveWriter::Forget()
{
    archive_.reset();
    records_.clear();
    index_.clear();
    early_.reset();
    earlyOff_ = false;
    held_.clear();
    path_.clear();
    operation_ = Operation::None;
}

void ArchiveWriter::Discard()
{
    Forget();
    Report(0);
}

void ArchiveWriter::Create(const std::string& path)
{
    aborted_.store(false);
    Discard();
    std::error_code ec;
    if (std::filesystem::exists(path, ec))
        throw Error(Format(kAlreadyExists, path));
    archive_ = std::make_unique<ArchiveOutput>(path);
    path_ = path;
}

int32_t ArchiveWriter::IndexOf(const std::string& name) const
{
    if (!archive_)
        throw Error(kNoArchive);
    const auto it = index_.find(LookupKey(name));
    return it == index_.end() ? -1 : it->second;
}

int32_t ArchiveWriter::Count() const
{
    if (!archive_)
        throw Error(kNoArchive);
    return static_cast<int32_t>(records_.size());
}

ArchiveRecord ArchiveWriter::Record(int32_t index) const
{
    if (index < 0 || static_cast<size_t>(index) >= records_.size())
        throw Error(kIndexOutOfBounds);
    return records_[static_cast<size_t>(index)];
}

void ArchiveWriter::CheckNewEntry(const std::string& name) const
{
    if (IndexOf(name) >= 0)
        throw Error(Format(kAlreadyExists, name));
}

ArchiveRecord ArchiveWriter::NewRecord(const std::string& name, int64_t size, int64_t offset) const
{
    ArchiveRecord record;
    const size_t folderLength = FolderLength(name);
    record.SetName(ToShortAnsi(name.substr(folderLength)));
    record.SetPath(WithoutDrive(ToShortAnsi(name.substr(0, folderLength))));
    record.FileSize = size;
    record.Offset = offset;
    return record;
}

// Takes an entry's zlib stream as it is made and writes it at the end of
// the archive. The first MiB is held back, so a small entry that turns out
// stored costs no second write; past that the stream goes straight to the
// file and an entry that turns out stored is cut off again.
class ArchiveWriter::EntryWriter final : public PackSink {
public:
    EntryWriter(ArchiveWriter& writer, const std::string& name)
        : writer_(writer), out_(*writer.archive_), start_(out_.Position())
    {
        out_.Mark();
        writer_.operation_ = Operation::Adding;
        writer_.progressTotal_ = 0;
        writer_.progressMessage_ = Format(kAdding, name);
        writer_.held_.clear();
    }

    void Data(const uint8_t* bytes, size_t size) override
    {
        std::vector<uint8_t>& held = writer_.held_;
        if (!streaming_ && held.size() + size <= kHoldLimit) {
            held.insert(held.end(), bytes, bytes + size);
            return;
        }
        if (!streaming_) {
            out_.Write(held.data(), held.size());
            held.clear();
            streaming_ = true;
        }
        out_.Write(bytes, size);
    }

    void Progress(int64_t consumed, int64_t total) override
    {
        writer_.progressTotal_ = total;
        writer_.Report(consumed);
    }

    // Where stored and compressed part: the one place that decides.
    ArchiveRecord Finish(const std::string& name, const PackResult& result, const SourceAgain& source)
    {
        ArchiveRecord record = writer_.NewRecord(name, result.SourceSize, start_);
        record.CRC = result.CRC;
        // A stopped entry keeps what was made of it.
        if (!result.Complete() || result.CompressedSize < result.SourceSize) {
            out_.Write(writer_.held_.data(), writer_.held_.size());
            SetStorage(record, EntryStorage::Deflated);
            record.CompressedSize = result.CompressedSize;
            record.Level = static_cast<uint8_t>(result.Level);
        } else {
            if (streaming_) {
                out_.SetSize(start_);
                out_.Seek(start_);
            }
            if (result.SourceSize > 0) {
                Stream& again = source();
                again.Seek(0);
                out_.CopyFrom(again, result.SourceSize);
            }
            SetStorage(record, EntryStorage::Stored);
        }
        writer_.held_.clear();
        return record;
    }

private:
    ArchiveWriter& writer_;
    ArchiveOutput& out_;
    int64_t start_;
    bool streaming_ = false;
};

void ArchiveWriter::Add(const std::string& name, Stream& source)
{
    Add(
        name, [&](PackSink& out) { return packer_.Pack(source, level_, out, [this] { return aborted_.load(); }); },
        [&]() -> Stream& { return source; });
}

void ArchiveWriter::Add(const std::string& name, const Producer& produce, const SourceAgain& source)
{
    CheckNewEntry(name);
    EntryWriter writer(*this, name);
    try {
        const PackResult result = produce(writer);
        Append(writer.Finish(name, result, source));
    } catch (...) {
        held_.clear();
        throw;
    }
    FeedDirectory();
}

void ArchiveWriter::Append(ArchiveRecord record)
{
    records_.push_back(record);
    // A record the lookup cannot hold is not kept.
    try {
        index_.try_emplace(RecordKey(records_.back()), static_cast<int32_t>(records_.size() - 1));
    } catch (...) {
        records_.pop_back();
        throw;
    }
}

void ArchiveWriter::FeedDirectory() noexcept
{
    // Stored blocks (level 0) follow how the input is cut, so there the
    // directory is compressed whole at closing.
    if (earlyOff_ || level_ == CompressionLevel::None)
        return;
    if (early_ && early_->level != level_) {
        early_.reset();
        earlyOff_ = true;
        return;
    }
    try {
        if (!early_) {
            auto early = std::make_unique<EarlyDirectory>();
            early->level = level_;
            early->packer.Begin(level_, *early, 0);
            early_ = std::move(early);
        }
        const size_t ready = records_.size() - (records_.size() - early_->fed) % kRecordBatch;
        PackRecords(early_->packer, records_, early_->fed, ready, kRecordBatch, early_->images);
        early_->fed = ready;
    } catch (...) {
        early_.reset();
        earlyOff_ = true;
    }
}

// Writes the directory compressed while the entries were added, with the
// progress compressing it now would report; false when there is none to
// write, or it cannot be finished.
bool ArchiveWriter::WriteEarlyDirectory(PackSink& out)
{
    const std::unique_ptr<EarlyDirectory> early = std::move(early_);
    if (!early || early->level != level_)
        return false;
    try {
        PackRecords(early->packer, records_, early->fed, records_.size(), kRecordBatch, early->images);
        early->packer.Finish();
    } catch (...) {
        return false;
    }
    size_t at = 0;
    for (const EarlyDirectory::Mark& mark : early->marks) {
        out.Data(early->stream.data() + at, mark.end - at);
        out.Progress(mark.consumed, progressTotal_);
        at = mark.end;
    }
    if (at < early->stream.size())
        out.Data(early->stream.data() + at, early->stream.size() - at);
    return true;
}

void ArchiveWriter::Close()
{
    if (!archive_)
        throw Error(kNoArchive);
    WriteDirectory();
    archive_->Close();
    Discard();
}

void ArchiveWriter::WriteDirectory()
{
    ArchiveOutput& out = *archive_;
    ArchiveTrailer trailer;
    trailer.RegistryOffset = out.Size();
    out.Seek(out.Size());
    out.Mark();
    try {
        StreamSink sink(out, [this](int64_t consumed) { Report(consumed); });
        const int64_t total = static_cast<int64_t>(records_.size() * ArchiveRecord::kImageSize);
        operation_ = Operation::WritingDirectory;
        progressTotal_ = total;
        progressMessage_ = kWritingRegistry;
        if (!WriteEarlyDirectory(sink)) {
            packer_.Begin(level_, sink, total);
            // Stored blocks (level 0) follow how the input is cut, so there
            // the directory goes in whole; every other level gives the same
            // bytes batch by batch, without a second copy of every record.
            const size_t batch = level_ == CompressionLevel::None ? records_.size() : kRecordBatch;
            std::vector<uint8_t> images;
            PackRecords(packer_, records_, 0, records_.size(), batch, images);
            packer_.Finish();
        }

        const int64_t registrySize = out.Size() - trailer.RegistryOffset;
        // The field is 32 bits; a directory that does not fit is stored raw
        // rather than with a size a reader would misread.
        if (registrySize > std::numeric_limits<int32_t>::max())
            throw Error("Archive directory too large to compress");
        trailer.RegistrySize = static_cast<int32_t>(registrySize);
        trailer.RegistryCompressed = 1;
    } catch (...) {
        trailer.RegistrySize = 0;
        trailer.RegistryCompressed = 0;
        // Bytes of the failed stream would sit between the entries and the
        // raw records, where no reader can tell where the archive starts:
        // cut them off so the raw directory ends right before the trailer.
        out.SetSize(trailer.RegistryOffset);
        out.Seek(trailer.RegistryOffset);
        for (const ArchiveRecord& record : records_) {
            const auto image = record.Image();
            out.Write(image.data(), image.size());
        }
    }
    trailer.EntryCount = static_cast<int32_t>(records_.size());
    trailer.Version = ArchiveTrailer::kVersion;
    trailer.ArchiveCRC = out.Checksum(0);

    const auto image = trailer.Image();
    out.Seek(out.Size());
    out.Write(image.data(), image.size());
}

void ArchiveWriter::Report(int64_t consumed)
{
    int32_t percentage = 0;
    std::string message;
    switch (operation_) {
    case Operation::Adding:
        message = progressMessage_;
        if (progressTotal_ > 0)
            percentage = static_cast<int32_t>(
                std::nearbyint(static_cast<double>(consumed) / static_cast<double>(progressTotal_) * 100.0));
        break;
    case Operation::WritingDirectory: message = progressMessage_; break;
    case Operation::None: break;
    }
    if (onProgress_)
        onProgress_(message, percentage);
}

} // namespace qv
