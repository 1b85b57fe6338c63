#pragma once
#include "quorvane/archive/ArchiveReader.h"
#include "quorvane/archive/InflateIndex.h"
#include "quorvane/base/Stream.h"
#include "quorvane/viewercore/PageAddress.h"
#include "quorvane/viewercore/ViewerSettings.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Portable: the output as both viewers see it.
namespace qv {

// An output (QPF, or EXE with its archive appended) opened for viewing: its
// directory, its settings, and its entries served by page address.
//
// Construction reads the trailer, the directory and "-config-" (which must
// be exactly a settings image, with its CRC checked), but not the whole
// archive's CRC, so a big output opens at once. Throws ArchiveNotFound when the file holds no archive and
// qv::Error, starting with `displayName`, when it is damaged.
//
// Thread-safe after construction: every reading call may run on any thread,
// each reading through a stream of its own that `open` makes for it (`open`
// is also called once during construction). What threads share is guarded
// by atomics, never a std::mutex, so the unit builds with any thread model
// of the Windows cross compiler.
class SiteArchive {
public:
    using OpenStream = std::function<std::unique_ptr<Stream>()>;
    using ByteSink = ArchiveReader::ByteSink;

    // Entries up to this size are read whole and checked in memory before
    // their first byte is passed on; larger ones are checked by one full
    // pass until a pass has found them sound.
    static constexpr int64_t kCheckedInMemory = 16 * 1024 * 1024;
    // A full icon file, every size up to 256 x 256 at 32 bits, takes well
    // under 1 MiB; a "-logo-" beyond this is not read at all.
    static constexpr int64_t kMaxLogoSize = 8 * 1024 * 1024;

    SiteArchive(OpenStream open, AnsiCodec codec, std::string displayName);
    ~SiteArchive();
    SiteArchive(const SiteArchive&) = delete;
    SiteArchive& operator=(const SiteArchive&) = delete;

    const ViewerSettings& Settings() const { return settings_; }
    // False when the output has no "-config-" (Settings() are the defaults).
    bool HasSettings() const { return hasSettings_; }
    const ArchiveReader& Reader() const { return *reader_; }
    // A stream of its own on the output, for reading an entry in place.
    std::unique_ptr<Stream> OpenOwnStream() const { return open_(); }
    const AnsiCodec& Codec() const { return codec_; }
    const std::string& DisplayName() const { return displayName_; }

    // The bytes of "-logo-" (an ICO file), checked; empty when there is none
    // or it is larger than kMaxLogoSize.
    std::vector<uint8_t> Logo() const;

    // The pages that stand for their folder, in the order they are looked
    // for.
    static constexpr std::string_view kFolderPages[] = {"index.html", "index.htm", "default.htm"};

    // The home page's address path ("/index.html"); empty when the output
    // names none that it holds. Without a name in the settings the root's
    // folder page is taken (kFolderPages).
    std::string HomeAddress() const;

    struct Target {
        enum class Kind {
            Entry,   // `index` is the entry to serve
            Direct,  // not packed, but DirectMask names it: the file `sitePath`
                     // beside the output is opened with the desktop's handler
            Missing  // not found (also "-config-" and "-logo-")
        };
        Kind kind = Kind::Missing;
        size_t index = 0;
        std::string sitePath; // UTF-8, "/" between folders
        // An Entry that is a folder's page, named by an address without the
        // final "/": the page's relative links want the address with it.
        bool slashMissing = false;
    };
    // What a page address' path names (see EntryNameOf); the root names the
    // home page, and a folder ("sub/" or "sub") its first page of
    // kFolderPages.
    Target Find(std::string_view addressPath) const;
    // Index of the entry with this archive name (code-page bytes, "\"
    // between folders, A-Z case ignored), or -1; the first one wins.
    int64_t IndexOf(std::string_view ansiName) const;

    // Bytes [offset, offset + count) of entry `index`, all checked before
    // the first of them reaches `sink` (see kCheckedInMemory); a large
    // deflated entry is inflated from the nearest seek point before
    // `offset` (see SeekPoints), not from its start. Throws
    // qv::Error naming the entry when it is damaged (the sink has then been
    // given nothing) or the range lies outside it; what `sink` throws passes.
    void Read(size_t index, int64_t offset, int64_t count, const ByteSink& sink) const;
    // The whole entry, checked; refuses entries of 2 GiB or more.
    std::vector<uint8_t> ReadAll(size_t index) const;

    // Text larger than kCheckedInMemory has its charset judged by this much
    // of its beginning.
    static constexpr int64_t kCharsetHead = 1024 * 1024;
    // The Content-Type entry `index` is served with: EntryTypeOf its name
    // and first bytes, with the charset ContentTypeWithCharset gives text.
    // Reads the entry only when its type needs the bytes: whole up to
    // kCheckedInMemory (handed to `whole` when given, so it need not be
    // read again), else its beginning. Throws like Read.
    std::string ContentTypeOf(size_t index, std::vector<uint8_t>* whole = nullptr) const;

private:
    void Verify(size_t index, Stream& from) const;
    void ReadSettings();

    OpenStream open_;
    AnsiCodec codec_;
    std::string displayName_;
    std::unique_ptr<Stream> own_; // the stream the reader was built on
    std::unique_ptr<ArchiveReader> reader_;
    std::unordered_map<std::string, size_t> index_; // A-Z folded name -> first entry
    ViewerSettings settings_;
    bool hasSettings_ = false;
    // Stored entries larger than kCheckedInMemory that a full pass found sound.
    std::unique_ptr<std::atomic<bool>[]> sound_;
    // Deflated entries larger than kCheckedInMemory: checked and indexed by
    // one pass, then entered near any offset.
    std::unique_ptr<SeekPoints> seekPoints_;
};

} // namespace qv
