#include "quorvane/viewercore/SiteArchive.h"

#include "quorvane/base/Text.h"
#include "quorvane/viewercore/MimeTypes.h"
#include "quorvane/viewercore/TextCharset.h"

#include <iterator>

namespace qv {

SiteArchive::SiteArchive(OpenStream open, AnsiCodec codec, std::string displayName)
    : open_(std::move(open)), codec_(std::move(codec)), displayName_(std::move(displayName))
{
    own_ = open_();
    ArchiveReader::Options options;
    options.DecodeName = codec_.FromAnsi;
    options.SourceName = displayName_;
    options.VerifyArchiveCRC = false;
    reader_ = std::make_unique<ArchiveReader>(*own_, std::move(options));
    sound_ = std::make_unique<std::atomic<bool>[]>(reader_->Count());
    seekPoints_ = std::make_unique<SeekPoints>(*reader_, kCheckedInMemory);
    index_.reserve(reader_->Count());
    for (size_t i = 0; i < reader_->Count(); ++i)
        index_.emplace(AsciiLower(reader_->Entry(i).ArchiveName()), i);
    ReadSettings();
}

SiteArchive::~SiteArchive() = default;

void SiteArchive::ReadSettings()
{
    const int64_t config = SettingsEntryOf(*reader_);
    if (config < 0)
        return;
    const std::vector<uint8_t> image = ReadAll(static_cast<size_t>(config));
    try {
        settings_ = ReadViewerSettings(image);
    } catch (const Error& e) {
        throw Error(displayName_ + ": " + e.what());
    }
    hasSettings_ = true;
}

int64_t SiteArchive::IndexOf(std::string_view ansiName) const
{
    const auto it = index_.find(AsciiLower(std::string(ansiName)));
    return it == index_.end() ? -1 : static_cast<int64_t>(it->second);
}

std::vector<uint8_t> SiteArchive::Logo() const
{
    const int64_t logo = IndexOf("-logo-");
    if (logo < 0 || reader_->Entry(static_cast<size_t>(logo)).FileSize > kMaxLogoSize)
        return {};
    return ReadAll(static_cast<size_t>(logo));
}

std::string SiteArchive::HomeAddress() const
{
    int64_t home = -1;
    if (!settings_.HomePage.empty())
        home = IndexOf(settings_.HomePage);
    else
        for (const std::string_view name : kFolderPages)
            if ((home = IndexOf(name)) >= 0)
                break;
    if (home < 0 || IsReservedEntry(reader_->Entry(static_cast<size_t>(home)).ArchiveName()))
        return {};
    return AddressPathOf(reader_->Entry(static_cast<size_t>(home)).ArchiveName(), codec_);
}

SiteArchive::Target SiteArchive::Find(std::string_view addressPath) const
{
    Target target;
    const auto sitePath = SitePathOf(addressPath);
    if (!sitePath)
        return target;
    target.sitePath = *sitePath;
    if (sitePath->empty()) {
        const std::string home = HomeAddress();
        if (home.empty())
            return target;
        return Find(home);
    }
    const auto name = EntryNameOf(addressPath, codec_);
    int64_t index = name ? IndexOf(*name) : -1;
    for (size_t page = 0; name && index < 0 && page < std::size(kFolderPages); ++page) {
        index = IndexOf(*name + '\\' + std::string(kFolderPages[page]));
        if (index < 0)
            continue;
        const std::string_view path = addressPath.substr(0, addressPath.find_first_of("?#"));
        target.slashMissing = !path.empty() && path.back() != '/' && path.back() != '\\';
        target.sitePath.append("/").append(kFolderPages[page]);
    }
    if (index >= 0) {
        target.kind = Target::Kind::Entry;
        target.index = static_cast<size_t>(index);
        return target;
    }
    if (DirectMaskTakes(*sitePath, codec_.FromAnsi(settings_.DirectMask)))
        target.kind = Target::Kind::Direct;
    return target;
}

void SiteArchive::Verify(size_t index, Stream& from) const
{
    // Two threads may check the same entry at once; both come to the same
    // answer, and a damaged entry is simply checked (and refused) again.
    if (sound_[index].load(std::memory_order_acquire))
        return;
    reader_->Extract(from, index, [](const uint8_t*, size_t) {});
    sound_[index].store(true, std::memory_order_release);
}

void SiteArchive::Read(size_t index, int64_t offset, int64_t count, const ByteSink& sink) const
{
    const ArchiveEntry& entry = reader_->Entry(index);
    reader_->CheckRange(entry, offset, count);
    const std::unique_ptr<Stream> stream = open_();
    if (entry.FileSize > kCheckedInMemory) {
        // A deflated entry is checked by the pass that finds its seek points.
        if (seekPoints_->Covers(index)) {
            seekPoints_->Read(*stream, index, offset, count, sink);
            return;
        }
        Verify(index, *stream);
        reader_->ExtractRange(*stream, index, offset, count, sink);
        return;
    }
    // Checked whole before anything is passed on: never a wrong byte.
    std::vector<uint8_t> bytes;
    bytes.reserve(static_cast<size_t>(entry.FileSize));
    reader_->Extract(*stream, index, [&bytes](const uint8_t* data, size_t size) {
        bytes.insert(bytes.end(), data, data + size);
    });
    if (count > 0)
        sink(bytes.data() + offset, static_cast<size_t>(count));
}

std::string SiteArchive::ContentTypeOf(size_t index, std::vector<uint8_t>* whole) const
{
    const ArchiveEntry& entry = reader_->Entry(index);
    const std::string_view byName = MimeTypeOf(entry.ArchiveName());
    if (byName != kUnknownType && !TakesCharset(byName))
        return std::string(byName);
    std::vector<uint8_t> bytes;
    const bool head = entry.FileSize > kCheckedInMemory;
    // Of a large file whose name says nothing, its start is enough to tell
    // a page; a page that large is rare enough to have its charset judged
    // by that too.
    if (head)
        Read(index, 0, byName == kUnknownType ? int64_t(kPageStartLength) : kCharsetHead,
             [&bytes](const uint8_t* data, size_t size) {
            bytes.insert(bytes.end(), data, data + size);
        });
    else
        bytes = ReadAll(index);
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::string type = ContentTypeWithCharset(EntryTypeOf(entry.ArchiveName(), text), text, head);
    if (whole && !head)
        *whole = std::move(bytes);
    return type;
}

std::vector<uint8_t> SiteArchive::ReadAll(size_t index) const
{
    const ArchiveEntry& entry = reader_->Entry(index);
    if (entry.FileSize >= (int64_t(1) << 31))
        throw Error(displayName_ + ": Archive entry \"" + reader_->DisplayName(entry) +
                    "\" is too large to read into memory (" + std::to_string(entry.FileSize) + " bytes)");
    std::vector<uint8_t> bytes;
    // Read has checked the whole entry before its first byte arrives, so
    // only then is its size more than a claim.
    Read(index, 0, entry.FileSize, [&](const uint8_t* data, size_t size) {
        if (bytes.empty())
            bytes.reserve(static_cast<size_t>(entry.FileSize));
        bytes.insert(bytes.end(), data, data + size);
    });
    return bytes;
}

} // namespace qv
