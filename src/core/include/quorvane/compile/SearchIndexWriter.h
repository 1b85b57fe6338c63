#pragma once
#include "quorvane/viewercore/PageText.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct sqlite3;

namespace qv {

// Builds the search index of one output (see viewercore/SearchSchema.h) as
// an SQLite file, a page at a time in entry order. On disk, not in memory:
// a large site's index would otherwise be held two or three times over at
// the end. The same pages in the same order give the same bytes.
//
// Life cycle: construct (creates `path`, which must not exist) → Add per
// page → Finish once; the caller removes the file. Throws qv::Error
// "Could not build the search index: <SQLite's reason>" on any failure;
// std::bad_alloc when memory runs out.
class SearchIndexWriter {
public:
    explicit SearchIndexWriter(const std::string& path);
    ~SearchIndexWriter();
    SearchIndexWriter(const SearchIndexWriter&) = delete;
    SearchIndexWriter& operator=(const SearchIndexWriter&) = delete;

    // `sitePath` is the page's path below the root, "/" between folders.
    void Add(const std::string& sitePath, const PageText& text);
    size_t Pages() const { return pages_; }

    // Merges the index into one segment, compacts the file and closes it.
    // `stopped` is asked as it works; false when it stopped the work.
    bool Finish(const std::function<bool()>& stopped);

private:
    void Execute(const char* sql);
    [[noreturn]] void Fail();

    sqlite3* db_ = nullptr;
    struct Statements;
    std::unique_ptr<Statements> statements_;
    size_t pages_ = 0;
};

} // namespace qv
