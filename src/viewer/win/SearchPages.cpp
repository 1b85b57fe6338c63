#include "SearchPages.h"

#include "Locked.h"
#include "PageCharsets.h"
#include "quorvane/viewercore/SearchSchema.h"

namespace viewer {

bool OffersSearch(const qv::SiteArchive& site)
{
    return site.Settings().EnableSearch && site.IndexOf(qv::search_schema::kEntryName) >= 0;
}

SearchPages::SearchPages(const qv::SiteArchive& site) : site_(site) {}

SearchPages::~SearchPages() = default;

std::string SearchPages::Answer(const qv::SearchRequest& request)
{
    const Locked hold(lock_);
    if (!opened_) {
        AddPageCharsets();
        // A damaged index throws here, and each search says so again.
        try {
            search_ = std::make_unique<qv::SiteSearch>(site_);
        } catch (const qv::NoSearchIndex&) {
        }
        opened_ = true;
    }
    return qv::AnswerSearch(search_.get(), request);
}

} // namespace viewer
