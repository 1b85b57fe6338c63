#pragma once
#include "quorvane/base/Error.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The query side of an output's search index (see SearchSchema.h): plain
// C++ over SQLite's C interface, for both viewers and quorvanec.
namespace qv {

class SiteArchive;

// The output carries no "-search-" entry.
class NoSearchIndex : public Error {
public:
    using Error::Error;
};

// What the reader typed cannot be searched; the message says what to type.
class SearchQueryError : public Error {
public:
    using Error::Error;
};

// One piece of what the reader typed: a word (`run`, a prefix `comprehen*`)
// or a phrase in double quotes, wanted or, after "-", excluded.
struct SearchTerm {
    std::string text;
    bool phrase = false;
    bool prefix = false;
    bool excluded = false;
};

// Splits typed text into terms. An unclosed quote runs to the end; a lone
// "-" or "*" is no term.
std::vector<SearchTerm> ParseSearchQuery(std::string_view query);

// The FTS5 MATCH expression of the terms: every term quoted (so no typed
// character acts as FTS5 syntax), wanted terms joined by AND, excluded ones
// cut off with NOT. Throws SearchQueryError when no wanted term is left.
std::string MatchExpression(const std::vector<SearchTerm>& terms);

// A stretch of a snippet, `matched` when it is a word the query found.
struct SnippetPart {
    std::string text;
    bool matched = false;
};

struct SearchHit {
    std::string address;  // the page's site path, UTF-8, "/" between folders
    std::string title;    // its <title>; may be empty
    double score = 0;     // bm25, lower ranks higher
    std::vector<SnippetPart> snippet;
};

// The snippet as one text with each match between `open` and `close`
// ("«" "»" for a terminal; a viewer escapes the parts and uses <mark>).
std::string MarkedText(const std::vector<SnippetPart>& parts, std::string_view open, std::string_view close);

// An output's index, read in place: SQLite reads the stored "-search-"
// entry straight from the output file through a read-only file layer of its
// own, never copied out or read whole into memory.
//
// Opening checks that the entry is stored unchanged, its CRC, and the index's
// layout. Throws NoSearchIndex, or qv::Error starting with the output's name
// when the index is damaged or of another version. Find throws
// SearchQueryError for a query with no wanted word, qv::Error when the index
// turns out damaged. One object serves one thread at a time; the archive
// must outlive it.
class SiteSearch {
public:
    explicit SiteSearch(const SiteArchive& site);
    ~SiteSearch();
    SiteSearch(const SiteSearch&) = delete;
    SiteSearch& operator=(const SiteSearch&) = delete;

    size_t PageCount() const;

    // The best `limit` pages for `query` after the first `skip`, best
    // first, each with a snippet cut from the page's own text around the
    // words it matched.
    std::vector<SearchHit> Find(std::string_view query, size_t limit, size_t skip = 0) const;
    // How many pages `query` finds; throws as Find does.
    size_t Count(std::string_view query) const;

private:
    struct Index;
    std::unique_ptr<Index> index_;
};

} // namespace qv
