#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// The words of a page as a reader sees them: what the compiler indexes and
// what a search cuts its snippets from, made by one extractor so the two
// always agree.
namespace qv {

struct PageText {
    std::string title;    // <title>
    std::string headings; // <h1> to <h6>, also part of body
    std::string body;     // everything shown, image alt texts included

    void Clear();
};

// Whether a file is indexed as a page: a name the viewers' type table
// shows as a page (html, htm, xhtml, and the server pages shtml, php, asp,
// aspx, jsp, cgi). A-Z case ignored. A page of another name that only reads
// like one is not: the build judges by names alone.
bool IsIndexedPage(std::string_view fileName);

// Reads one page in pieces as they come, with libxml2's HTML parser in
// recovery mode: no network, no external entities, broken markup read as
// browsers read it. The text of script, style, template and noscript is
// left out (a viewer runs scripts, so noscript never shows). Whitespace
// runs become one space. Texts stop growing at kMaxText bytes each.
//
// Life cycle: construct → Feed, Feed, ... → Finish once → Text. A parser
// belongs to one thread at a time.
class PageTextExtractor {
public:
    static constexpr size_t kMaxText = 8 * 1024 * 1024;

    PageTextExtractor();
    ~PageTextExtractor();
    PageTextExtractor(const PageTextExtractor&) = delete;
    PageTextExtractor& operator=(const PageTextExtractor&) = delete;

    void Feed(const uint8_t* bytes, size_t size);
    void Finish();
    PageText& Text();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The text of a page held whole in memory.
PageText ExtractPageText(const uint8_t* bytes, size_t size);

} // namespace qv
