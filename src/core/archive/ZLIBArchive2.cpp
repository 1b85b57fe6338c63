#include "quorvane/archive/ZLIBArchive2.h"

#include "quorvane/archive/EntryPacker.h"
#include "quorvane/base/Text.h"

#include "quorvane/base/Error.h"
#include "quorvane/base/PathParts.h"
#include "quorvane/archive/Crc32.h"
#include "quorvane/platform/CodePage.h"
#include "quorvane/platform/TempFiles.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <zlib.h>

namespace qv {
namespace {

constexpr const char* kNoArchive = "No archive is currently open";
constexpr const char* kIndexOutOfBounds = "Index out of bounds";
constexpr const char* kAlreadyExists = "%s already exists in the archive";
constexpr const char* kOlderVersion =
    "The specified archive file was created by an older version of ZLBArchive.\r\n"
    "Please convert this archive before trying to modify/update it";
constexpr const char* kUnknownMarker = "Unknown file position marker";
constexpr const char* kAdding = "Adding: %s";
constexpr const char* kWritingRegistry = "Writing archive registry";

// Compressed bytes an entry written in order keeps back before they go to
// the archive: a small entry that turns out stored is never written twice.
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

// Feeds records [from, to) to a compressor `batch` records at a time,
// imaged in `images`.
void PackRecords(EntryPacker& packer, const std::deque<TZLBFileRec2>& records, size_t from, size_t to, size_t batch,
                 std::vector<uint8_t>& images)
{
    for (size_t first = from; first < to; first += batch) {
        const size_t count = std::min(batch, to - first);
        images.resize(count * TZLBFileRec2::kImageSize);
        for (size_t i = 0; i < count; ++i)
            records[first + i].WriteImage(std::span<uint8_t, TZLBFileRec2::kImageSize>(
                images.data() + i * TZLBFileRec2::kImageSize, TZLBFileRec2::kImageSize));
        packer.Write(images.data(), images.size());
    }
}

std::string RecordKey(const TZLBFileRec2& record)
{
    return AsciiLower(codepage::FromAnsi(record.PathAnsi() + record.NameAnsi()));
}

// The compressed copy of one entry: in memory, or in a temporary file that
// is deleted whatever happens to the entry.
class ScratchBuffer {
public:
    explicit ScratchBuffer(std::string tempFile) : tempFile_(std::move(tempFile))
    {
        if (tempFile_.empty())
            return;
        try {
            file_ = std::make_unique<FileStream>(tempFile_, FileStream::Mode::Create);
        } catch (...) {
            Release();
            throw;
        }
    }
    ~ScratchBuffer() { Release(); }
    ScratchBuffer(const ScratchBuffer&) = delete;
    ScratchBuffer& operator=(const ScratchBuffer&) = delete;

    Stream& stream() { return file_ ? static_cast<Stream&>(*file_) : memory_; }

    void Empty()
    {
        if (!file_) {
            memory_.Clear();
            return;
        }
        file_.reset();
        file_ = std::make_unique<FileStream>(tempFile_, FileStream::Mode::Create);
    }

    void Release() noexcept
    {
        memory_ = MemoryStream();
        file_.reset();
        if (!tempFile_.empty()) {
            std::error_code ec;
            std::filesystem::remove(tempFile_, ec);
            tempFile_.clear();
        }
    }

private:
    std::string tempFile_;
    std::unique_ptr<FileStream> file_;
    MemoryStream memory_;
};

} // namespace

int ZLibLevel(TFileCompressionLevel level)
{
    switch (level) {
    case TFileCompressionLevel::fcNone: return 0;
    case TFileCompressionLevel::fcFastest: return 1;
    case TFileCompressionLevel::fcDefault: return Z_DEFAULT_COMPRESSION;
    case TFileCompressionLevel::fcMaximum: return 9;
    }
    return Z_DEFAULT_COMPRESSION;
}

std::string TZLBFileRec2::NameText() const { return codepage::FromAnsi(NameAnsi()); }
std::string TZLBFileRec2::PathText() const { return codepage::FromAnsi(PathAnsi()); }

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
class TZLBArc2::ArchiveOutput final : public Stream {
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
struct TZLBArc2::EarlyDirectory final : PackSink {
    struct Mark {
        size_t end;
        int64_t consumed;
    };

    TFileCompressionLevel level{};
    size_t fed = 0;
    EntryPacker packer;
    std::vector<uint8_t> stream;
    std::vector<Mark> marks;
    std::vector<uint8_t> images;

    void Data(const uint8_t* bytes, size_t size) override { stream.insert(stream.end(), bytes, bytes + size); }
    void Progress(int64_t consumed, int64_t) override { marks.push_back({stream.size(), consumed}); }
};

TZLBArc2::TZLBArc2(void* owner) : owner_(owner), packer_(std::make_unique<EntryPacker>()) {}

TZLBArc2::~TZLBArc2()
{
    // Nothing is reported from here: the owner may be half gone already.
    destroying_ = true;
    if (!archiveName_.empty())
        Reset();
}

void TZLBArc2::Reset()
{
    archive_.reset();
    records_.clear();
    index_.clear();
    early_.reset();
    earlyOff_ = false;
    mode_ = 0;
    trailer_ = TZLBTrailer2{};
    archiveName_.clear();
    operation_ = Operation::Resetting;
    DispatchProgress(0);
    positionMarker_ = -1;
}

void TZLBArc2::CreateArchive(const std::string& FileName)
{
    aborted_.store(false);
    Reset();
    archiveName_ = FileName;
    if (FileName.empty())
        return;
    std::error_code ec;
    if (std::filesystem::exists(FileName, ec))
        throw Error(Format(kAlreadyExists, FileName));
    mode_ = 1;
    // Set before the event, so a failing handler cannot leave a started
    // archive whose offsets would be counted from an unknown marker.
    positionMarker_ = 0;
    if (OnArchiveOpened)
        OnArchiveOpened(*this);
}

void TZLBArc2::OpenForWriting()
{
    // Only a started archive: after CreateArchive refused an existing file
    // the name is still set, and creating it would wipe that file.
    if (mode_ != 1)
        throw Error(kNoArchive);
    archive_ = std::make_unique<ArchiveOutput>(archiveName_);
}

int64_t TZLBArc2::MemoryLimit() const
{
    // The threshold has always been a signed 32-bit product; it wraps for
    // 2048 MiB and more, which sends every entry through a temporary file.
    const int64_t product = static_cast<int64_t>(MaxMemoryUsage) * 1048576;
    return static_cast<int32_t>(static_cast<uint32_t>(product));
}

int64_t TZLBArc2::FilePosition(int64_t archiveOffset) const
{
    if (positionMarker_ < 0)
        throw Error(kUnknownMarker);
    return archiveOffset + positionMarker_;
}

std::string TZLBArc2::LookupKey(const std::string& name) const
{
    const size_t folderLength = FolderLength(name);
    std::string folder = name.substr(0, folderLength);
    if (SavePaths)
        folder = WithoutDrive(folder);
    return AsciiLower(folder + name.substr(folderLength));
}

int32_t TZLBArc2::IndexOf(const std::string& Name) const
{
    if (archiveName_.empty())
        throw Error(kNoArchive);
    const auto it = index_.find(LookupKey(Name));
    return it == index_.end() ? -1 : it->second;
}

int32_t TZLBArc2::FileCount() const
{
    if (archiveName_.empty())
        throw Error(kNoArchive);
    return static_cast<int32_t>(records_.size());
}

TZLBFileRec2 TZLBArc2::GetFileItem(int32_t Index) const
{
    if (Index < 0 || static_cast<size_t>(Index) >= records_.size())
        throw Error(kIndexOutOfBounds);
    return records_[static_cast<size_t>(Index)];
}

void TZLBArc2::CheckNewEntry(const std::string& Name) const
{
    if (archiveName_.empty())
        throw Error(kNoArchive);
    if (olderVersion_)
        throw Error(kOlderVersion);
    // Started but not opened: there is no file for the data to go to.
    if (!archive_)
        throw Error(kNoArchive);

    const size_t folderLength = FolderLength(Name);
    const std::string key = (SavePaths ? Name.substr(0, folderLength) : std::string()) + Name.substr(folderLength);
    if (IndexOf(key) >= 0)
        throw Error(Format(kAlreadyExists, key));
}

void TZLBArc2::AddStream(const std::string& Name, Stream& Source, bool Encrypt)
{
    CheckNewEntry(Name);
    // From here on a failure only means the entry is not recorded; the
    // caller finds out through IndexOf, as the build job does, and may ask
    // LastAddFailure why.
    lastAddFailure_ = nullptr;
    try {
        AddEntry(Name, Source, Encrypt);
    } catch (...) {
        lastAddFailure_ = std::current_exception();
    }
    FeedDirectory();
}

void TZLBArc2::BeginProgress(const std::string& name, int64_t total)
{
    operation_ = Operation::Adding;
    progressTotal_ = total;
    progressDone_ = 0;
    progressMessage_ = Format(kAdding, name);
}

TZLBFileRec2 TZLBArc2::NewRecord(const std::string& name, int64_t size, int64_t position) const
{
    TZLBFileRec2 record;
    const size_t folderLength = FolderLength(name);
    record.SetName(ToShortAnsi(name.substr(folderLength)));
    if (SavePaths)
        record.SetPath(WithoutDrive(ToShortAnsi(name.substr(0, folderLength))));
    record.FileSize = size;
    record.Offset = position - positionMarker_;
    return record;
}

namespace {

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

void TZLBArc2::AddEntry(const std::string& name, Stream& source, bool encrypt)
{
    const int64_t size = source.Size();
    ScratchBuffer scratch(size > MemoryLimit() ? MakeTempFileName() : std::string());
    Stream& buffer = scratch.stream();

    const TFileCompressionLevel level = CompressionLevel;
    BeginProgress(name, size);
    StreamSink sink(buffer, [this](int64_t consumed) { DispatchProgress(consumed); });
    packer_->Pack(source, level, sink, [this] { return aborted_.load(); });
    buffer.Seek(0);

    // Checksummed apart from compression: an aborted entry still describes
    // its whole source.
    TZLBFileRec2 record = NewRecord(name, size, archive_->Position());
    record.CRC = StreamCRC32(source, 0, 0);

    const bool encrypting = encrypt && OnEncryptStream;
    const bool compressed = buffer.Size() < size;
    if (encrypting && compressed) {
        OnEncryptStream(buffer, *archive_, password_);
        record.Storage = 2;
        record.CompressedSize = buffer.Size();
        record.EncryptedSize = archive_->Position() - FilePosition(record.Offset);
        record.Level = static_cast<uint8_t>(level);
    } else if (encrypting) {
        scratch.Empty();
        Stream& encrypted = scratch.stream();
        source.Seek(0);
        encrypted.Seek(0);
        OnEncryptStream(source, encrypted, password_);
        archive_->CopyFrom(encrypted, 0);
        record.Storage = 3;
        record.EncryptedSize = encrypted.Size();
    } else if (compressed) {
        archive_->CopyFrom(buffer, 0);
        record.Storage = 0;
        record.CompressedSize = buffer.Size();
        record.Level = static_cast<uint8_t>(level);
    } else {
        archive_->CopyFrom(source, 0);
        record.Storage = 1;
    }
    scratch.Release();
    Record(record);
}

// Takes an entry's zlib stream as it is made and writes it at the end of
// the archive. The first MiB is held back, so a small entry that turns out
// stored costs no second write; past that the stream goes straight to the
// file and an entry that turns out stored is cut off again.
class TZLBArc2::EntryWriter final : public PackSink {
public:
    struct Failed {};

    EntryWriter(TZLBArc2& arc, const std::string& name) : arc_(arc), out_(*arc.archive_), start_(out_.Position())
    {
        out_.Mark();
        arc_.BeginProgress(name, 0);
        arc_.held_.clear();
    }

    void Data(const uint8_t* bytes, size_t size) override
    {
        try {
            std::vector<uint8_t>& held = arc_.held_;
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
        } catch (...) {
            arc_.lastAddFailure_ = std::current_exception();
            throw Failed{};
        }
    }

    void Progress(int64_t consumed, int64_t total) override
    {
        try {
            arc_.progressTotal_ = total;
            arc_.DispatchProgress(consumed);
        } catch (...) {
            arc_.lastAddFailure_ = std::current_exception();
            throw Failed{};
        }
    }

    TZLBFileRec2 Finish(const std::string& name, const PackResult& result, const std::function<Stream&()>& source)
    {
        TZLBFileRec2 record = arc_.NewRecord(name, result.SourceSize, start_);
        record.CRC = result.CRC;
        // A stopped entry keeps what was made of it, as AddStream's does.
        if (!result.Complete() || result.CompressedSize < result.SourceSize) {
            out_.Write(arc_.held_.data(), arc_.held_.size());
            record.Storage = 0;
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
            record.Storage = 1;
        }
        arc_.held_.clear();
        return record;
    }

private:
    TZLBArc2& arc_;
    ArchiveOutput& out_;
    int64_t start_;
    bool streaming_ = false;
};

void TZLBArc2::AddPacked(const std::string& Name, const std::function<PackResult(PackSink&)>& produce,
                         const std::function<Stream&()>& source)
{
    CheckNewEntry(Name);
    lastAddFailure_ = nullptr;
    EntryWriter writer(*this, Name);
    PackResult result;
    try {
        result = produce(writer);
    } catch (const EntryWriter::Failed&) {
        held_.clear();
        return;
    }
    try {
        Record(writer.Finish(Name, result, source));
    } catch (...) {
        lastAddFailure_ = std::current_exception();
        held_.clear();
    }
    FeedDirectory();
}

void TZLBArc2::FeedDirectory() noexcept
{
    const TFileCompressionLevel level = CompressionLevel;
    // Stored blocks (level 0) follow how the input is cut, so there the
    // directory is compressed whole at closing.
    if (earlyOff_ || level == TFileCompressionLevel::fcNone)
        return;
    if (early_ && early_->level != level) {
        early_.reset();
        earlyOff_ = true;
        return;
    }
    try {
        if (!early_) {
            auto early = std::make_unique<EarlyDirectory>();
            early->level = level;
            early->packer.Begin(level, *early, 0);
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
bool TZLBArc2::WriteEarlyDirectory(PackSink& out)
{
    const std::unique_ptr<EarlyDirectory> early = std::move(early_);
    if (!early || early->level != CompressionLevel)
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

void TZLBArc2::Record(TZLBFileRec2 record)
{
    records_.push_back(record);
    const auto index = static_cast<int32_t>(records_.size() - 1);
    TZLBFileRec2& stored = records_.back();

    // The handler edits the record in place, so its changes stand even when
    // it fails half-way; the lookup always follows what is stored, and a
    // record the lookup cannot hold is not kept.
    auto indexStored = [&] {
        try {
            index_.try_emplace(RecordKey(stored), index);
        } catch (...) {
            records_.pop_back();
            throw;
        }
    };
    if (!OnFileAddUpdate) {
        indexStored();
        return;
    }
    std::string path = stored.PathAnsi();
    std::string name = stored.NameAnsi();
    auto store = [&] {
        if (path != stored.PathAnsi())
            stored.SetPath(path);
        if (name != stored.NameAnsi())
            stored.SetName(name);
        indexStored();
    };
    try {
        OnFileAddUpdate(path, name);
    } catch (...) {
        store();
        throw;
    }
    store();
}

void TZLBArc2::CloseArchive()
{
    if (!archive_)
        throw Error(kNoArchive);
    WriteRegistry();
    archive_->Close();
    archive_.reset();
    Reset();
}

void TZLBArc2::WriteRegistry()
{
    ArchiveOutput& out = *archive_;
    trailer_ = TZLBTrailer2{};
    trailer_.RegistryOffset = out.Size() - positionMarker_;
    out.Seek(out.Size());
    out.Mark();
    try {
        StreamSink sink(out, [this](int64_t consumed) { DispatchProgress(consumed); });
        const int64_t total = static_cast<int64_t>(records_.size() * TZLBFileRec2::kImageSize);
        operation_ = Operation::WritingDirectory;
        progressTotal_ = total;
        progressDone_ = 0;
        progressMessage_ = kWritingRegistry;
        if (!WriteEarlyDirectory(sink)) {
            packer_->Begin(CompressionLevel, sink, total);
            // Stored blocks (level 0) follow how the input is cut, so there
            // the directory goes in whole; every other level gives the same
            // bytes batch by batch, without a second copy of every record.
            const size_t batch =
                CompressionLevel == TFileCompressionLevel::fcNone ? records_.size() : kRecordBatch;
            std::vector<uint8_t> images;
            PackRecords(*packer_, records_, 0, records_.size(), batch, images);
            packer_->Finish();
        }

        const int64_t registrySize = out.Size() - positionMarker_ - trailer_.RegistryOffset;
        // The field is 32 bits; a directory that does not fit is stored raw
        // rather than with a size a reader would misread.
        if (registrySize > std::numeric_limits<int32_t>::max())
            throw Error("Archive directory too large to compress");
        trailer_.RegistrySize = static_cast<int32_t>(registrySize);
        trailer_.RegistryCompressed = 1;
    } catch (...) {
        trailer_.RegistrySize = 0;
        trailer_.RegistryCompressed = 0;
        // Bytes of the failed stream would sit between the entries and the
        // raw records, where no reader can tell where the archive starts:
        // cut them off so the raw directory ends right before the trailer.
        const int64_t directoryStart = positionMarker_ + trailer_.RegistryOffset;
        out.SetSize(directoryStart);
        out.Seek(directoryStart);
        for (const TZLBFileRec2& record : records_) {
            const auto image = record.Image();
            out.Write(image.data(), image.size());
        }
    }
    trailer_.EntryCount = static_cast<int32_t>(records_.size());
    trailer_.Version = TZLBTrailer2::kVersion;
    trailer_.ArchiveCRC = out.Checksum(positionMarker_);

    const auto image = trailer_.Image();
    out.Seek(out.Size());
    out.Write(image.data(), image.size());
}

void TZLBArc2::DispatchProgress(int64_t consumed)
{
    if (destroying_)
        return;
    int32_t percentage = 0;
    std::string message;
    switch (operation_) {
    case Operation::Adding:
        progressDone_ = consumed;
        message = progressMessage_;
        if (progressTotal_ > 0)
            percentage = static_cast<int32_t>(
                std::nearbyint(static_cast<double>(progressDone_) / static_cast<double>(progressTotal_) * 100.0));
        break;
    case Operation::WritingDirectory:
        message = progressMessage_;
        break;
    case Operation::Resetting:
    case Operation::None:
        break;
    }
    if (OnProgress)
        OnProgress(message, percentage);
}

std::string TZLBArc2::MakeTempFileName()
{
    return tempfiles::CreateUniqueFile(TempPath.empty() ? tempfiles::SystemTempFolder() : TempPath, "ZLB");
}

void TZLBArc2::ListFolder(const std::string& Folder, std::vector<std::string>& List)
{
    namespace fs = std::filesystem;
    std::string folder = Folder;
    if (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\'))
        folder.pop_back();

    std::vector<fs::directory_entry> entries;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(*it);
    std::sort(entries.begin(), entries.end(), [](const fs::directory_entry& a, const fs::directory_entry& b) {
        return AsciiLower(a.path().filename().string()) < AsciiLower(b.path().filename().string());
    });

    for (const fs::directory_entry& entry : entries) {
        const std::string full = folder + "/" + entry.path().filename().string();
        // A link to a folder is listed but never followed, so a loop of
        // links cannot send the walk round for ever.
        std::error_code statusError;
        if (entry.is_directory(statusError) && !entry.is_symlink(statusError)) {
            if (RecursePaths)
                ListFolder(full, List);
            if (SavePaths)
                List.push_back(full);
        } else {
            List.push_back(full);
        }
    }
}

} // namespace qv
