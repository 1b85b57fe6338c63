#pragma once
#include "quorvane/viewercore/PageText.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct sqlite3;

namespace qv {

// Builds the search index of one output (see viewercore/SearchSchema.h) in
// memory, a page at a time in entry order, and hands it over as the bytes
// of an SQLite file. The same pages in the same order give the same bytes.
//
// Life cycle: construct → Add per page → Finish once. Throws qv::Error
// "Could not build the search index: <SQLite's reason>" on any failure;
// std::bad_alloc when memory runs out.
class SearchIndexWriter {
public:
    SearchIndexWriter();
    ~SearchIndexWriter();
    SearchIndexWriter(const SearchIndexWriter&) = delete;
    SearchIndexWriter& operator=(const SearchIndexWriter&) = delete;

    // `sitePath` is the page's path below the root, "/" between folders.
    void Add(const std::string& sitePath, const PageText& text);
    size_t Pages() const { return pages_; }

    // Merges the index into one segment and compacts the file. `stopped` is
    // asked as it works; once it holds, Finish returns nothing.
    std::vector<uint8_t> Finish(const std::function<bool()>& stopped);

private:
    void Execute(const char* sql);
    [[noreturn]] void Fail();

    sqlite3* db_ = nullptr;
    struct Statements;
    std::unique_ptr<Statements> statements_;
    size_t pages_ = 0;
};

} // namespace qv
