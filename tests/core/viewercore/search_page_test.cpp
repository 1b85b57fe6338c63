// The results page both viewers serve: its address read alike in both, and
// its HTML read back by libxml2's parser, so escaping is judged by a real
// HTML reader rather than by looking for our own strings.
#include "quorvane/viewercore/PageText.h"
#include "quorvane/viewercore/SearchPage.h"

#include <gtest/gtest.h>

namespace {

qv::PageText Shown(const std::string& html)
{
    return qv::ExtractPageText(reinterpret_cast<const uint8_t*>(html.data()), html.size());
}

qv::SearchHit Hit(std::string address, std::string title, std::vector<qv::SnippetPart> snippet = {})
{
    return qv::SearchHit{std::move(address), std::move(title), 0, std::move(snippet)};
}

TEST(SearchAddress, IsReadAlikeWhereverItComesFrom)
{
    auto request = qv::SearchRequestOf("/-search-?q=red+boats%21%2B&page=2#top");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->query, "red boats!+");
    EXPECT_EQ(request->page, 2u);
    // viewer.exe names it without the leading "/"; case and escapes vary.
    EXPECT_EQ(qv::SearchRequestOf("-SEARCH-?page=3&q=x&x=y")->query, "x");
    EXPECT_EQ(qv::SearchRequestOf("/%2Dsearch%2D")->query, "");
    EXPECT_EQ(qv::SearchRequestOf("/-search-")->page, 1u);
    for (const char* other : {"/-search-x", "/sub/-search-", "/index.html?q=a", "/", "/-config-"})
        EXPECT_FALSE(qv::SearchRequestOf(other)) << other;
    for (const char* page : {"0", "-1", "two", "", "99999999999", "1e3"})
        EXPECT_EQ(qv::ParseSearchRequest(std::string("q=a&page=") + page).page, 1u) << page;
    EXPECT_EQ(qv::ParseSearchRequest("q&page=7").query, "");

    // What the links write, the parser reads back, hostile characters too.
    const qv::SearchRequest typed{"a&b=c+d %25\"<é# \"x\"", 4};
    const std::string address = qv::SearchPageAddress(typed);
    EXPECT_EQ(address.find_first_of(" &#\"<", address.find('?')), address.find("&page="));
    const auto read = qv::SearchRequestOf(address);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->query, typed.query);
    EXPECT_EQ(read->page, 4u);
    EXPECT_EQ(qv::SearchPageAddress({"boats", 1}), "-search-?q=boats");
}

TEST(SearchAddress, ResultLinksCarryTheWordsToFindAndGiveThemBack)
{
    const qv::SearchHit hit = Hit("sub/my page&.html", "", {{"Sailing ", false}, {"Boats", true}});
    EXPECT_EQ(qv::FindWordsOf(hit, "boat"), "Boats");
    EXPECT_EQ(qv::FindWordsOf(Hit("a.html", ""), "-draft \"low tide\" moor*"), "low tide");
    EXPECT_EQ(qv::FindWordsOf(Hit("a.html", ""), "-draft"), "");
    const std::string link = qv::ResultLink(hit.address, "caf\u00e9 bar");
    EXPECT_EQ(link, "sub/my%20page%26.html?qv-find=caf%C3%A9+bar");
    EXPECT_EQ(qv::ResultLink("a.html", ""), "a.html");

    const auto find = qv::FindRequestOf("/" + link + "#top");
    ASSERT_TRUE(find);
    EXPECT_EQ(find->words, "caf\u00e9 bar");
    EXPECT_EQ(find->address, "/sub/my%20page%26.html#top");
    EXPECT_EQ(qv::FindRequestOf("/a.html?x=1&qv-find=a&y")->address, "/a.html?x=1&y");
    EXPECT_FALSE(qv::FindRequestOf("/a.html?x=1#?qv-find=a"));
    EXPECT_FALSE(qv::FindRequestOf("/a.html"));
}

TEST(SearchResultsPage, ShowsHostileTitlesAndSnippetsAsText)
{
    qv::SearchResults results;
    results.total = 2;
    results.hits.push_back(Hit("evil\".html", "<script>alert(1)</script>",
                               {{"say <img src=x onerror=alert(2)> & ", false}, {"<b>", true}}));
    results.hits.push_back(Hit("sub/untitled.html", ""));
    const std::string html = qv::SearchResultsPage({"<b> \"x", 1}, results);

    const qv::PageText shown = Shown(html);
    EXPECT_EQ(shown.title, "Search: <b> \"x");
    EXPECT_NE(shown.body.find("2 pages found <script>alert(1)</script> evil\".html say <img src=x onerror=alert(2)> "
                              "& <b> sub/untitled.html sub/untitled.html"),
              std::string::npos)
        << shown.body;
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(html.find("<img"), std::string::npos);
    EXPECT_NE(html.find("<mark>&lt;b&gt;</mark>"), std::string::npos);
    EXPECT_NE(html.find("href=\"evil%22.html?qv-find=%3Cb%3E\""), std::string::npos);
    EXPECT_NE(html.find("name=\"q\" value=\"&lt;b&gt; &quot;x\""), std::string::npos);
    EXPECT_EQ(html.find("<nav"), std::string::npos);
}

TEST(SearchResultsPage, PagesThroughTenAtATime)
{
    qv::SearchResults results;
    results.total = 23;
    results.hits.assign(3, Hit("a.html", "A"));
    auto nav = [](const std::string& html) {
        const size_t at = html.find("<nav>");
        return at == std::string::npos ? std::string() : html.substr(at, html.find("</nav>") - at + 6);
    };
    EXPECT_EQ(nav(qv::SearchResultsPage({"red boats", 1}, results)),
              "<nav><span>Page 1 of 3</span><a rel=\"next\" href=\"-search-?q=red+boats&amp;page=2\">Next</a></nav>");
    EXPECT_EQ(nav(qv::SearchResultsPage({"red boats", 2}, results)),
              "<nav><a rel=\"prev\" href=\"-search-?q=red+boats\">Previous</a><span>Page 2 of 3</span>"
              "<a rel=\"next\" href=\"-search-?q=red+boats&amp;page=3\">Next</a></nav>");
    // A page past the end (an old link after a rebuild) leads back to the last.
    EXPECT_EQ(nav(qv::SearchResultsPage({"red boats", 9}, {23, {}})),
              "<nav><a rel=\"prev\" href=\"-search-?q=red+boats&amp;page=3\">Previous</a>"
              "<span>Page 9 of 3</span></nav>");
    results.total = 1;
    const std::string one = qv::SearchResultsPage({"red", 1}, results);
    EXPECT_NE(Shown(one).body.find("1 page found"), std::string::npos);
    EXPECT_EQ(nav(one), "");
}

TEST(SearchResultsPage, SaysWhyThereAreNoResults)
{
    EXPECT_EQ(Shown(qv::SearchResultsPage({"  red \t boats ", 1}, {})).body,
              "Search No page contains \u201cred boats\u201d");
    EXPECT_EQ(Shown(qv::AnswerSearch(nullptr, {"boats", 1})).body, "Search This file has no search index");
    // An empty query is the form alone, ready to be typed in.
    const std::string empty = qv::SearchMessagePage({"", 1}, {});
    EXPECT_EQ(Shown(empty).body, "Search");
    EXPECT_EQ(Shown(empty).title, "Search");
    EXPECT_NE(empty.find(" autofocus>"), std::string::npos);
    EXPECT_NE(empty.find("placeholder=\"Search all pages\""), std::string::npos);
    EXPECT_NE(empty.find("<form method=\"get\" action=\"-search-\""), std::string::npos);
}

} // namespace
