#include "quorvane/archive/ZLIBArchive2.h"
#include "quorvane/base/Text.h"

#include "quorvane/base/Error.h"
#include "quorvane/base/PathParts.h"
#include "quorvane/archive/ZLIBArchiveGlobals2.h"
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

constexpr size_t kReadBlockSize = 61440;
constexpr size_t kDeflateBufferSize = 65536;
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

// A zlib compressor that collects its output in a 65,536-byte buffer and
// hands every full buffer to the destination, then reports how much input
// it has consumed. The final, partial buffer is not reported.
//
// The state lives as long as the writer: deflateReset costs a fraction of
// deflateInit2's allocation and clearing, and yields the same bytes.
class ArchiveDeflater {
public:
    using Notify = std::function<void(int64_t consumed)>;

    ArchiveDeflater() : buffer_(kDeflateBufferSize) {}
    ~ArchiveDeflater()
    {
        if (ready_)
            deflateEnd(&z_);
    }
    ArchiveDeflater(const ArchiveDeflater&) = delete;
    ArchiveDeflater& operator=(const ArchiveDeflater&) = delete;

    void Begin(int level, Stream& out, Notify notify)
    {
        if (ready_ && level != level_) {
            deflateEnd(&z_);
            ready_ = false;
        }
        if (!ready_) {
            z_ = z_stream{};
            Check(deflateInit2(&z_, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY));
            ready_ = true;
            level_ = level;
        } else {
            Check(deflateReset(&z_));
        }
        out_ = &out;
        notify_ = std::move(notify);
        consumed_ = 0;
        z_.next_out = buffer_.data();
        z_.avail_out = static_cast<uInt>(buffer_.size());
    }

    void Write(const uint8_t* data, size_t size)
    {
        while (size > 0) {
            // zlib counts its input in 32 bits.
            const size_t slice = std::min<size_t>(size, std::numeric_limits<uInt>::max());
            z_.next_in = const_cast<Bytef*>(data);
            z_.avail_in = static_cast<uInt>(slice);
            while (z_.avail_in > 0) {
                const uInt before = z_.avail_in;
                Check(deflate(&z_, Z_NO_FLUSH));
                consumed_ += before - z_.avail_in;
                if (z_.avail_out == 0)
                    FlushFull();
            }
            data += slice;
            size -= slice;
        }
    }

    void Finish()
    {
        z_.next_in = nullptr;
        z_.avail_in = 0;
        for (;;) {
            const int rc = deflate(&z_, Z_FINISH);
            Check(rc);
            if (z_.avail_out == 0)
                FlushFull();
            if (rc == Z_STREAM_END)
                break;
        }
        const size_t pending = buffer_.size() - z_.avail_out;
        if (pending > 0)
            out_->Write(buffer_.data(), pending);
        out_ = nullptr;
        notify_ = nullptr;
    }

private:
    void FlushFull()
    {
        out_->Write(buffer_.data(), buffer_.size());
        z_.next_out = buffer_.data();
        z_.avail_out = static_cast<uInt>(buffer_.size());
        if (notify_)
            notify_(consumed_);
    }

    static void Check(int rc)
    {
        if (rc != Z_OK && rc != Z_STREAM_END)
            throw Error("Compression error (zlib " + std::to_string(rc) + ")");
    }

    z_stream z_{};
    bool ready_ = false;
    int level_ = 0;
    std::vector<uint8_t> buffer_;
    Stream* out_ = nullptr;
    Notify notify_;
    int64_t consumed_ = 0;
};

std::string TZLBFileRec2::NameText() const { return codepage::FromAnsi(NameAnsi()); }
std::string TZLBFileRec2::PathText() const { return codepage::FromAnsi(PathAnsi()); }

TZLBArc2::TZLBArc2(void* owner) : owner_(owner), deflater_(std::make_unique<ArchiveDeflater>()) {}

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
    archive_ = std::make_unique<FileStream>(archiveName_, FileStream::Mode::Create);
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

void TZLBArc2::AddStream(const std::string& Name, Stream& Source, bool Encrypt)
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

    // From here on a failure only means the entry is not recorded; the
    // caller finds out through IndexOf, as the build job does, and may ask
    // LastAddFailure why.
    lastAddFailure_ = nullptr;
    try {
        AddEntry(Name, Source, Encrypt);
    } catch (...) {
        lastAddFailure_ = std::current_exception();
    }
}

void TZLBArc2::AddEntry(const std::string& name, Stream& source, bool encrypt)
{
    const int64_t size = source.Size();
    ScratchBuffer scratch(size > MemoryLimit() ? MakeTempFileName() : std::string());
    Stream& buffer = scratch.stream();

    const TFileCompressionLevel level = CompressionLevel;
    deflater_->Begin(ZLibLevel(level), buffer, [this](int64_t consumed) { DispatchProgress(consumed); });
    operation_ = Operation::Adding;
    progressTotal_ = size;
    progressDone_ = 0;
    progressMessage_ = Format(kAdding, name);

    source.Seek(0);
    const size_t blockSize = static_cast<size_t>(std::min<int64_t>(size, kReadBlockSize));
    block_.resize(blockSize);
    int64_t remaining = size;
    while (remaining != 0 && !aborted_.load()) {
        const size_t n = static_cast<size_t>(std::min<int64_t>(remaining, static_cast<int64_t>(blockSize)));
        source.ReadExact(block_.data(), n);
        deflater_->Write(block_.data(), n);
        remaining -= static_cast<int64_t>(n);
    }
    deflater_->Finish();
    buffer.Seek(0);

    TZLBFileRec2 record;
    record.CRC = StreamCRC32(source, 0, 0);

    const size_t folderLength = FolderLength(name);
    record.SetName(ToShortAnsi(name.substr(folderLength)));
    if (SavePaths)
        record.SetPath(WithoutDrive(ToShortAnsi(name.substr(0, folderLength))));
    record.FileSize = size;
    record.Offset = archive_->Position() - positionMarker_;

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
    Stream& out = *archive_;
    trailer_ = TZLBTrailer2{};
    trailer_.RegistryOffset = out.Size() - positionMarker_;
    out.Seek(out.Size());
    try {
        std::vector<uint8_t> directory(records_.size() * TZLBFileRec2::kImageSize);
        for (size_t i = 0; i < records_.size(); ++i)
            records_[i].WriteImage(std::span<uint8_t, TZLBFileRec2::kImageSize>(
                directory.data() + i * TZLBFileRec2::kImageSize, TZLBFileRec2::kImageSize));

        deflater_->Begin(ZLibLevel(CompressionLevel), out, [this](int64_t consumed) { DispatchProgress(consumed); });
        operation_ = Operation::WritingDirectory;
        progressTotal_ = static_cast<int64_t>(directory.size());
        progressDone_ = 0;
        progressMessage_ = kWritingRegistry;
        deflater_->Write(directory.data(), directory.size());
        deflater_->Finish();

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
    trailer_.ArchiveCRC = StreamCRC32(out, positionMarker_, 0);

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
