#include "SearchPages.h"

#include "PageCharsets.h"

#include "quorvane/viewercore/SearchSchema.h"

namespace viewer {

namespace {

class Exclusive {
public:
    explicit Exclusive(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~Exclusive() { ReleaseSRWLockExclusive(&lock_); }
    Exclusive(const Exclusive&) = delete;
    Exclusive& operator=(const Exclusive&) = delete;

private:
    SRWLOCK& lock_;
};

} // namespace

bool OffersSearch(const qv::SiteArchive& site)
{
    return site.Settings().EnableSearch && site.IndexOf(qv::search_schema::kEntryName) >= 0;
}

SearchPages::SearchPages(const qv::SiteArchive& site) : site_(site) {}

SearchPages::~SearchPages() = default;

std::string SearchPages::Answer(const qv::SearchRequest& request)
{
    const Exclusive hold(lock_);
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
