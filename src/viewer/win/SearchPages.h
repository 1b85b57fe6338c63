#pragma once
#include "quorvane/viewercore/SearchPage.h"
#include "quorvane/viewercore/SiteArchive.h"

#include <memory>
#include <string>

#include <windows.h>

namespace viewer {


// The results pages the page protocol answers at "-search-", from the
// output's index. The index is opened, its CRC checked, at the first
// search, and kept. Searches take turns: the protocol may be started on
// more than one thread, and viewer.exe's libxml2 is built without threads.
class SearchPages {
public:
    explicit SearchPages(const qv::SiteArchive& site);
    ~SearchPages();
    SearchPages(const SearchPages&) = delete;
    SearchPages& operator=(const SearchPages&) = delete;

    // The page's HTML (UTF-8); "This file has no search index" where the
    // output has none. Throws qv::Error, naming the output, when the index
    // is damaged.
    std::string Answer(const qv::SearchRequest& request);

private:
    const qv::SiteArchive& site_;
    SRWLOCK lock_ = SRWLOCK_INIT;
    bool opened_ = false;
    std::unique_ptr<qv::SiteSearch> search_;
};

} // namespace viewer
