#pragma once
#include "quorvane/viewercore/SiteSearch.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The results page both viewers serve at "/-search-?q=WORDS&page=N", made
// from SiteSearch's hits. The page needs no script: its form sends the next
// query to the same address, its links are relative to the site's root (the
// page lives there), so each viewer only has to answer that address.
namespace qv {

// A request for the results page: what was typed and which page of results.
struct SearchRequest {
    std::string query;
    size_t page = 1; // from 1
};

inline constexpr size_t kResultsPerPage = 10;

// Whether the output carries a search index and its settings let the
// reader search: where both viewers offer their search field or button.
bool OffersSearch(const SiteArchive& site);

// The parameter a result's link carries with the words to highlight on the
// page it opens ("sub/a.html?qv-find=harbour"). A viewer takes it off the
// address before the page is loaded, so the page's own scripts never see it.
inline constexpr std::string_view kFindParameter = "qv-find";

// The request an address names when it is the results page: its path is
// "-search-" (A-Z case ignored, escapes decoded, the leading "/" optional),
// followed by an optional "?query" and "#fragment". Nothing for any other
// address.
std::optional<SearchRequest> SearchRequestOf(std::string_view address);

// The request in a query string ("q=red+boats&page=2"): "+" is a space,
// "%xx" escapes are decoded, unknown fields are ignored; a page that is no
// number from 1 on is page 1.
SearchRequest ParseSearchRequest(std::string_view queryString);

// The address of a results page, relative to the site's root:
// "-search-?q=red+boats&page=2" (no "page" for the first).
std::string SearchPageAddress(const SearchRequest& request);

// The words to highlight on the page `hit` names: the page's own spelling
// of the first match in its snippet, else the first wanted word or phrase
// of `query`; empty when there is none.
std::string FindWordsOf(const SearchHit& hit, std::string_view query);

// The link of a result: its address, escaped, relative to the root, with
// kFindParameter carrying `findWords` when there are any.
std::string ResultLink(std::string_view address, std::string_view findWords);

// The words a page address carries in kFindParameter, and the address
// without them; nullopt when it carries none.
struct FindRequest {
    std::string words;
    std::string address;
};
std::optional<FindRequest> FindRequestOf(std::string_view address);

// What a results page shows.
struct SearchResults {
    size_t total = 0;            // every page the query finds
    std::vector<SearchHit> hits; // those of the requested page
};

// The HTML (UTF-8) of the results page: the form holding the query, the
// count, each hit with its title (its address when untitled) linked, the
// address in small print and the snippet with its matches marked, and the
// "Previous"/"Next" links. Everything taken from the output is escaped.
std::string SearchResultsPage(const SearchRequest& request, const SearchResults& results);

// The form with `message` where results would be; an empty query shows the
// form alone, waiting to be typed in.
std::string SearchMessagePage(const SearchRequest& request, std::string_view message);

// The whole answer for `request` from `search`, null when the output has no
// index ("This file has no search index"): a query that cannot be searched
// shows SearchQueryError's message. Throws qv::Error when the index turns
// out damaged.
std::string AnswerSearch(const SiteSearch* search, const SearchRequest& request);

} // namespace qv
