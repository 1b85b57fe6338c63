#include "quorvane/viewercore/SearchPage.h"

#include "quorvane/base/Text.h"
#include "quorvane/viewercore/PageAddress.h"
#include "quorvane/viewercore/ReplyPages.h"
#include "quorvane/viewercore/SearchSchema.h"
#include "quorvane/viewercore/SiteArchive.h"

#include <algorithm>

namespace qv {
namespace {

constexpr std::string_view kPageName = "-search-";
// Far beyond any output's pages, and small enough that page * 10 stays exact.
constexpr size_t kLastPage = 1000000;

// A query-string value: "+" is a space there, unlike in a path.
std::string FormDecoded(std::string_view value)
{
    std::string plus(value);
    std::replace(plus.begin(), plus.end(), '+', ' ');
    return PercentDecode(plus);
}

std::string FormEncoded(std::string_view value)
{
    std::string encoded = PercentEncode(value, " ");
    std::replace(encoded.begin(), encoded.end(), ' ', '+');
    return encoded;
}

size_t PageNumberOf(std::string_view text)
{
    if (text.empty() || text.size() > 7 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return 1;
    const size_t page = std::stoul(std::string(text));
    return page < 1 || page > kLastPage ? 1 : page;
}

// Calls `field(name, value)` for each "name=value" of a query string, both
// still escaped.
template <typename Field>
void EachField(std::string_view queryString, Field field)
{
    while (!queryString.empty()) {
        const size_t end = std::min(queryString.find('&'), queryString.size());
        const std::string_view pair = queryString.substr(0, end);
        const size_t equals = pair.find('=');
        field(pair.substr(0, equals), equals == std::string_view::npos ? std::string_view{} : pair.substr(equals + 1));
        queryString.remove_prefix(std::min(end + 1, queryString.size()));
    }
}

// Spaces as the reader typed them may be many; one is enough in a title.
std::string Squeezed(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
        if (!blank)
            out += c;
        else if (!out.empty() && out.back() != ' ')
            out += ' ';
    }
    if (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

constexpr const char* kStyle =
    "body{font-family:system-ui,sans-serif;margin:0 auto;padding:1.5em 1em;max-width:46em;line-height:1.45;"
    "color:#1d1f23;background:#fff}"
    "form{display:flex;gap:.5em;margin-bottom:1.2em}"
    "input{flex:1;font:inherit;padding:.45em .6em;border:1px solid #8a8f98;border-radius:4px}"
    "button{font:inherit;padding:.45em 1em;border:1px solid #8a8f98;border-radius:4px;background:#f1f3f5}"
    ".count{color:#555;margin:.2em 0 1em}"
    "ol{list-style:none;padding:0;margin:0}"
    "li{margin:0 0 1.3em}"
    "li a{font-size:1.15em;color:#1a4fb4;text-decoration:none}"
    "li a:hover{text-decoration:underline}"
    ".address{font-size:.8em;color:#3c7a3c;word-break:break-all}"
    ".snippet{margin:.2em 0 0}"
    "mark{background:#ffe58a;color:inherit;padding:0 .1em}"
    "nav{display:flex;gap:1.5em;align-items:baseline;margin-top:1.5em}"
    "nav span{color:#555}";

std::string Page(const SearchRequest& request, const std::string& body)
{
    const std::string words = Squeezed(request.query);
    const std::string title = words.empty() ? "Search" : "Search: " + words;
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
           "<title>" +
           HtmlEscaped(title) + "</title><style>" + kStyle +
           "</style></head>\n<body>\n<form method=\"get\" action=\"" + std::string(kPageName) +
           "\" role=\"search\"><input type=\"search\" name=\"q\" value=\"" + HtmlEscaped(request.query) +
           "\" placeholder=\"Search all pages\" aria-label=\"Search all pages\"" + (words.empty() ? " autofocus" : "") +
           "><button type=\"submit\">Search</button></form>\n" + body + "</body></html>\n";
}

std::string Snippet(const std::vector<SnippetPart>& parts)
{
    std::string html;
    for (const SnippetPart& part : parts)
        html += part.matched ? "<mark>" + HtmlEscaped(part.text) + "</mark>" : HtmlEscaped(part.text);
    return html;
}

} // namespace

std::optional<SearchRequest> SearchRequestOf(std::string_view address)
{
    const size_t fragment = std::min(address.find('#'), address.size());
    address = address.substr(0, fragment);
    const size_t query = std::min(address.find('?'), address.size());
    std::string path = PercentDecode(address.substr(0, query));
    if (!path.empty() && path.front() == '/')
        path.erase(0, 1);
    if (!EqualAsciiNoCase(path, kPageName))
        return std::nullopt;
    return ParseSearchRequest(address.substr(std::min(query + 1, address.size())));
}

SearchRequest ParseSearchRequest(std::string_view queryString)
{
    SearchRequest request;
    EachField(queryString, [&](std::string_view name, std::string_view value) {
        if (name == "q")
            request.query = FormDecoded(value);
        else if (name == "page")
            request.page = PageNumberOf(value);
    });
    return request;
}

std::string SearchPageAddress(const SearchRequest& request)
{
    std::string address = std::string(kPageName) + "?q=" + FormEncoded(request.query);
    if (request.page > 1)
        address += "&page=" + std::to_string(request.page);
    return address;
}

std::string FindWordsOf(const SearchHit& hit, std::string_view query)
{
    for (const SnippetPart& part : hit.snippet)
        if (part.matched)
            return part.text;
    for (const SearchTerm& term : ParseSearchQuery(query))
        if (!term.excluded)
            return term.text;
    return {};
}

std::string ResultLink(std::string_view address, std::string_view findWords)
{
    std::string link = PercentEncode(address, "/");
    if (!findWords.empty())
        link += "?" + std::string(kFindParameter) + "=" + FormEncoded(findWords);
    return link;
}

std::optional<FindRequest> FindRequestOf(std::string_view address)
{
    const size_t fragment = std::min(address.find('#'), address.size());
    const size_t query = address.find('?');
    if (query == std::string_view::npos || query > fragment)
        return std::nullopt;
    std::optional<FindRequest> found;
    std::string kept;
    EachField(address.substr(query + 1, fragment - query - 1), [&](std::string_view name, std::string_view value) {
        if (name == kFindParameter) {
            found.emplace();
            found->words = FormDecoded(value);
            return;
        }
        kept += (kept.empty() ? "" : "&") + std::string(name);
        if (value.data() != nullptr)
            kept += "=" + std::string(value);
    });
    if (found)
        found->address = std::string(address.substr(0, query)) + (kept.empty() ? "" : "?" + kept) +
                         std::string(address.substr(fragment));
    return found;
}

std::string SearchResultsPage(const SearchRequest& request, const SearchResults& results)
{
    if (results.total == 0)
        return SearchMessagePage(request, "No page contains \u201c" + Squeezed(request.query) + "\u201d");

    std::string body = "<p class=\"count\">" + std::to_string(results.total) +
                       (results.total == 1 ? " page found" : " pages found") + "</p>\n<ol>\n";
    for (const SearchHit& hit : results.hits) {
        const std::string& name = hit.title.empty() ? hit.address : hit.title;
        body += "<li><a href=\"" + HtmlEscaped(ResultLink(hit.address, FindWordsOf(hit, request.query))) + "\">" +
                HtmlEscaped(name) + "</a>\n<div class=\"address\">" + HtmlEscaped(hit.address) + "</div>\n";
        if (!hit.snippet.empty())
            body += "<p class=\"snippet\">" + Snippet(hit.snippet) + "</p>\n";
        body += "</li>\n";
    }
    body += "</ol>\n";

    const size_t pages = (results.total + kResultsPerPage - 1) / kResultsPerPage;
    if (pages > 1 || request.page > 1) {
        auto link = [&](size_t page, const char* rel, const char* text) {
            return "<a rel=\"" + std::string(rel) + "\" href=\"" +
                   HtmlEscaped(SearchPageAddress({request.query, page})) + "\">" + text + "</a>";
        };
        body += "<nav>";
        if (request.page > 1)
            body += link(std::min(request.page - 1, pages), "prev", "Previous");
        body += "<span>Page " + std::to_string(request.page) + " of " + std::to_string(pages) + "</span>";
        if (request.page < pages)
            body += link(request.page + 1, "next", "Next");
        body += "</nav>\n";
    }
    return Page(request, body);
}

std::string SearchMessagePage(const SearchRequest& request, std::string_view message)
{
    return Page(request, message.empty() ? std::string() : "<p class=\"count\">" + HtmlEscaped(message) + "</p>\n");
}

std::string AnswerSearch(const SiteSearch* search, const SearchRequest& request)
{
    if (!search)
        return SearchMessagePage(request, "This file has no search index");
    if (ParseSearchQuery(request.query).empty())
        return SearchMessagePage(request, {});
    SearchResults results;
    try {
        results.total = search->Count(request.query);
        const size_t skip = (request.page - 1) * kResultsPerPage;
        if (skip < results.total)
            results.hits = search->Find(request.query, kResultsPerPage, skip);
    } catch (const SearchQueryError& e) {
        return SearchMessagePage(request, e.what());
    }
    return SearchResultsPage(request, results);
}

bool OffersSearch(const SiteArchive& site)
{
    return site.Settings().EnableSearch && site.IndexOf(search_schema::kEntryName) >= 0;
}

} // namespace qv
