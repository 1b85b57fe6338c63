#pragma once
#include "OutputFile.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace viewer {

class NameSpaceRegistration;
class SearchPages;

// What the page protocol answers for one address: an entry's bytes with
// its MIME type, or a short page saying why there is none.
struct PageReply {
    enum class Kind {
        Entry,    // the entry's bytes
        Missing,  // no such entry: the "Not found" page
        Reserved, // "-config-" or "-logo-", never served: the "Not found" page
        Direct,   // a file DirectMask kept beside the output: the "Not found" page
        Damaged,  // the entry fails its size or CRC check: the "Damaged page" page
        Program,  // a program or launcher, never let out of the archive: a page saying so
        Redirect, // a folder named without its final "/": `location` is the address with it
        Search    // the results page of the output's index, served like a page of the site
    };
    // Entries larger than this are read on a worker thread while the page
    // takes them; smaller ones are read whole at once.
    static constexpr int64_t kReadInWorker = 4 * 1024 * 1024;

    Kind kind = Kind::Missing;
    // The type the entry is shown as (qv::EntryTypeOf); for an entry read
    // in a worker whose name says nothing, qv::kUnknownType until its first
    // bytes are in (ShownType).
    std::string mimeType;
    std::vector<uint8_t> bytes; // empty for an entry larger than kReadInWorker
    std::string reason; // UTF-8; empty for an entry
    std::wstring location; // for a redirect
    size_t entry = 0;   // for an entry: its index
    int64_t size = 0;   // for an entry: its size
    bool Streamed() const { return kind == Kind::Entry && size > kReadInWorker; }
};

// "-search-" in any spelling is the results page, never that entry.
PageReply ServePage(const OutputFile& output, SearchPages& search, std::wstring_view url);

// The type an entry is shown as, the one quorvane-view judges too
// (qv::EntryTypeOf) but without a charset: `head` holds its first bytes,
// which only a name of unknown type needs.
std::string ShownType(std::string_view entryName, const std::vector<uint8_t>& head);
// The same for entry `index`, reading its first bytes only when its name
// needs them. Throws qv::Error when the entry is damaged.
std::string ShownTypeOf(const qv::SiteArchive& site, size_t index);

// What an address path names, looked up in the system's code page and then
// in Windows-1252, the compiler's default: an output made with the default
// opens on a Russian, Far-Eastern or UTF-8 Windows too.
qv::SiteArchive::Target FindPage(const qv::SiteArchive& site, std::string_view addressPath);

// The page protocol (scheme "qv", see SiteUrl.h) registered for this process
// only, for as long as the object lives. Pages are read from the archive
// when the browser asks for them; large entries on worker threads, and for
// audio and video (or a binding that asks for a file) also into a file in a
// temporary folder, which goes when the object does. `observer`, if set,
// sees every reply before its bytes are handed over (on the thread that
// asked). `output` must outlive the object.
class PageProtocol {
public:
    using Observer = std::function<void(const PageReply&)>;
    // Throws qv::Error when urlmon refuses the registration.
    explicit PageProtocol(const OutputFile& output, Observer observer = {});
    ~PageProtocol();
    PageProtocol(const PageProtocol&) = delete;
    PageProtocol& operator=(const PageProtocol&) = delete;

    struct Context; // what every request shares

private:
    std::shared_ptr<Context> context_;
    std::unique_ptr<NameSpaceRegistration> registration_;
};

} // namespace viewer
