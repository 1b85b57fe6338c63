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

// What the page protocol answers for one address: an entry's bytes with
// its MIME type, or a short page saying why there is none.
struct PageReply {
    enum class Kind {
        Entry,    // the entry's bytes
        Missing,  // no such entry: the "Not found" page
        Reserved, // "-config-" or "-logo-", never served: the "Not found" page
        Direct,   // a file DirectMask kept beside the output: the "Not found" page
        Damaged,  // the entry fails its size or CRC check: the "Damaged page" page
        Program   // a program or launcher, never let out of the archive: a page saying so
    };
    Kind kind = Kind::Missing;
    std::string mimeType;
    std::vector<uint8_t> bytes;
    std::string reason; // UTF-8; empty for an entry
};

PageReply ServePage(const OutputFile& output, std::wstring_view url);

// The page protocol (scheme "qv", see SiteUrl.h) registered for this process
// only, for as long as the object lives. Pages are read from the archive
// when the browser asks for them; nothing reaches the disk. `observer`, if
// set, sees every reply before its bytes are handed over (on the thread
// that asked). `output` must outlive the object.
class PageProtocol {
public:
    using Observer = std::function<void(const PageReply&)>;
    // Throws qv::Error when urlmon refuses the registration.
    explicit PageProtocol(const OutputFile& output, Observer observer = {});
    ~PageProtocol();
    PageProtocol(const PageProtocol&) = delete;
    PageProtocol& operator=(const PageProtocol&) = delete;

private:
    std::unique_ptr<NameSpaceRegistration> registration_;
};

} // namespace viewer
