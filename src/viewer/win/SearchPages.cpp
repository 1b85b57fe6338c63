#include "SearchPages.h"

#include "Locked.h"
#include "PageCharsets.h"

namespace viewer {

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
