// The search's two ends apart from the build: page text as the extractor
// reads it, typed queries as FTS5 gets them, and SiteSearch over outputs
// whose index the sqlite3 program wrote, not our writer.
#include "ArchiveComposer.h"
#include "ExeTools.h"
#include "TestSupport.h"

#include "quorvane/viewercore/PageText.h"
#include "quorvane/viewercore/SearchPage.h"
#include "quorvane/viewercore/SiteFile.h"
#include "quorvane/viewercore/SiteSearch.h"

#include <gtest/gtest.h>

namespace {

using qvtest::Quoted;

qv::PageText Extracted(const std::string& html, size_t chunk = 0)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(html.data());
    if (chunk == 0)
        return qv::ExtractPageText(bytes, html.size());
    qv::PageTextExtractor extractor;
    for (size_t at = 0; at < html.size(); at += chunk)
        extractor.Feed(bytes + at, std::min(chunk, html.size() - at));
    extractor.Finish();
    return extractor.Text();
}

TEST(PageText, KeepsWhatAReaderSeesAndNothingElse)
{
    const std::string page =
        "<!DOCTYPE html><html><head><title> Harbour  guide </title><style>p{color:red} stylewords</style>"
        "<script>var scriptwords = '<p>';</script></head><body><h1>Tides</h1><p>Low <b>water</b>mark"
        "<br>at&nbsp;noon &amp; caf&eacute;</p><h2>Boats</h2><!-- commentwords --><img src=a.png alt=\"a gull\">"
        "<template>templatewords</template><noscript>noscriptwords</noscript><div>end<p>unclosed";
    const qv::PageText text = Extracted(page);
    EXPECT_EQ(text.title, "Harbour guide");
    EXPECT_EQ(text.headings, "Tides Boats");
    EXPECT_EQ(text.body, "Tides Low watermark at\u00a0noon & caf\u00e9 Boats a gull end unclosed");
    // Packing blocks end anywhere, also inside "</script>" (which libxml2's
    // push parser alone mistakes): every cut, and a byte at a time.
    for (size_t cut = 1; cut < page.size(); ++cut) {
        qv::PageTextExtractor extractor;
        const auto* bytes = reinterpret_cast<const uint8_t*>(page.data());
        extractor.Feed(bytes, cut);
        extractor.Feed(bytes + cut, page.size() - cut);
        extractor.Finish();
        ASSERT_EQ(extractor.Text().body, text.body) << "cut after byte " << cut;
        ASSERT_EQ(extractor.Text().title, text.title) << "cut after byte " << cut;
    }
    EXPECT_EQ(Extracted(page, 1).body, text.body);
}

TEST(PageText, ReadsThePagesOwnEncodingAndBrokenMarkup)
{
    EXPECT_EQ(Extracted("<html><head><meta charset=\"iso-8859-1\"></head><body>caf\xe9</body></html>").body,
              "caf\u00e9");
    EXPECT_EQ(Extracted("<p>one<p>two</div></span><td>three").body, "one two three");
    EXPECT_EQ(Extracted("").body, "");
    EXPECT_TRUE(qv::IsIndexedPage("sub\\Page.HTM"));
    EXPECT_TRUE(qv::IsIndexedPage("a/b.php"));
    EXPECT_FALSE(qv::IsIndexedPage("style.css"));
    EXPECT_FALSE(qv::IsIndexedPage("html"));
}

TEST(SearchQuery, EveryTermIsQuotedSoNothingTypedActsAsSyntax)
{
    auto match = [](const char* typed) { return qv::MatchExpression(qv::ParseSearchQuery(typed)); };
    EXPECT_EQ(match("run"), "\"run\"");
    EXPECT_EQ(match("  run   \"list comprehension\"  comprehen* -draft -\"old page\""),
              "(\"run\" AND \"list comprehension\" AND \"comprehen\"*) NOT \"draft\" NOT \"old page\"");
    EXPECT_EQ(match("NEAR(a b) OR c:d ^e"), "\"NEAR(a\" AND \"b)\" AND \"OR\" AND \"c:d\" AND \"^e\"");
    EXPECT_EQ(match("say\"hi there"), "\"say\" AND \"hi there\"");
    EXPECT_EQ(match("\"a\"\"b\""), "\"a\" AND \"b\"");
    EXPECT_EQ(match("x - * -- y"), "\"x\" AND \"y\"");
    EXPECT_EQ(qvtest::FailureOf([&] { match("   "); }), "Type the words to search for");
    EXPECT_EQ(qvtest::FailureOf([&] { match("-draft -old"); }),
              "Type at least one word to search for that is not excluded with \"-\"");
}

// An output composed by hand whose index the sqlite3 program made.
class SiteSearchTest : public ::testing::Test {
protected:
    qvtest::TempDir dir;

    std::vector<uint8_t> IndexBySqlite(const std::string& extra = "", int version = 1)
    {
        const auto db = dir / "index.db";
        std::filesystem::remove(db);
        const std::string sql =
            "PRAGMA page_size=4096;"
            "CREATE TABLE page(id INTEGER PRIMARY KEY, address TEXT NOT NULL, title TEXT NOT NULL);"
            "CREATE VIRTUAL TABLE pagetext USING fts5(title, headings, body, content='',"
            " tokenize='porter unicode61 remove_diacritics 2');"
            "INSERT INTO page VALUES(1, 'index.html', 'Harbour guide'), (2, 'sub/boats.html', 'Boats');"
            "INSERT INTO pagetext(rowid, title, headings, body) VALUES"
            " (1, 'Harbour guide', '', 'Boats leave at noon'),"
            " (2, 'Boats', 'Moorings', 'Moorings Running boats in the harbour is run by the caf\u00e9');" +
            extra + "PRAGMA user_version=" + std::to_string(version) + ";";
        int status = 0;
        qvtest::Capture("sqlite3 " + Quoted(db) + " " + Quoted(sql), &status);
        EXPECT_EQ(status, 0);
        return qvtest::ReadFile(db);
    }

    std::string Output(const std::vector<uint8_t>& index, int indexLevel = 0)
    {
        auto text = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
        qvtest::ArchiveComposer archive;
        archive.Add("index.html", text("<title>Harbour guide</title><p>Boats leave at noon</p>"));
        archive.Add("sub\\boats.html", text("<title>Boats</title><h1>Moorings</h1><p>Running boats in the "
                                            "harbour is run by the caf\u00e9</p>"));
        if (!index.empty())
            archive.Add("-search-", index, indexLevel);
        const auto path = dir / "site.qpf";
        qvtest::WriteFile(path, archive.Build());
        return path.string();
    }
};

TEST_F(SiteSearchTest, FindsRanksAndMarksInAnIndexSqliteWrote)
{
    const auto site = qv::OpenSiteFile(Output(IndexBySqlite()));
    const qv::SiteSearch search(*site);
    EXPECT_EQ(search.PageCount(), 2u);

    // A title word outranks the same word in a body.
    auto hits = search.Find("harbour", 10);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].address, "index.html");
    EXPECT_EQ(hits[0].title, "Harbour guide");
    EXPECT_LT(hits[0].score, hits[1].score);
    EXPECT_EQ(qv::MarkedText(hits[1].snippet, "[", "]"),
              "Moorings Running boats in the [harbour] is run by the caf\u00e9");

    // Stems and folded letters, marked in the page's own spelling.
    hits = search.Find("runs cafe", 10);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].address, "sub/boats.html");
    EXPECT_EQ(qv::MarkedText(hits[0].snippet, "[", "]"),
              "Moorings [Running] boats in the harbour is [run] by the [caf\u00e9]");

    EXPECT_EQ(search.Find("boats -moorings", 10).size(), 1u);
    EXPECT_EQ(search.Find("\"boats leave\"", 10).size(), 1u);
    EXPECT_EQ(search.Find("\"leave boats\"", 10).size(), 0u);
    EXPECT_EQ(search.Find("moor*", 10).size(), 1u);
    EXPECT_EQ(search.Find("boats", 1).size(), 1u);
    EXPECT_EQ(qvtest::FailureOf([&] { search.Find("&& -boats", 10); }),
              "Type at least one word to search for that is not excluded with \"-\"");
}

TEST_F(SiteSearchTest, CountsAndPagesThroughResultsForTheResultsPage)
{
    const auto site = qv::OpenSiteFile(Output(IndexBySqlite()));
    const qv::SiteSearch search(*site);
    EXPECT_EQ(search.Count("harbour"), 2u);
    EXPECT_EQ(search.Count("moorings"), 1u);
    EXPECT_EQ(search.Count("gulls"), 0u);
    const auto second = search.Find("harbour", 10, 1);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].address, "sub/boats.html");
    EXPECT_TRUE(search.Find("harbour", 10, 2).empty());

    const std::string page = qv::AnswerSearch(&search, {"moorings", 1});
    EXPECT_NE(page.find("<p class=\"count\">1 page found</p>"), std::string::npos) << page;
    EXPECT_NE(page.find("<a href=\"sub/boats.html?qv-find=Moorings\">Boats</a>"), std::string::npos) << page;
    EXPECT_NE(page.find("<mark>Moorings</mark>"), std::string::npos) << page;
    EXPECT_NE(qv::AnswerSearch(&search, {"&& -boats", 1})
                  .find("Type at least one word to search for that is not excluded with &quot;-&quot;"),
              std::string::npos);
    EXPECT_NE(qv::AnswerSearch(&search, {"&&", 1}).find(">Type the words to search for<"), std::string::npos);
    EXPECT_EQ(qv::AnswerSearch(&search, {" ", 1}), qv::SearchMessagePage({" ", 1}, {}));
    EXPECT_NE(qv::AnswerSearch(&search, {"harbour", 5}).find("Page 5 of 1"), std::string::npos);
}

TEST_F(SiteSearchTest, RefusesWhatItCannotReadInPlace)
{
    const auto without = qv::OpenSiteFile(Output({}));
    EXPECT_THROW(qv::SiteSearch{*without}, qv::NoSearchIndex);

    // Deflated, the index could only be read by inflating it first.
    const auto deflated = qv::OpenSiteFile(Output(IndexBySqlite(), 9));
    ASSERT_EQ(deflated->Reader().Entry(2).Storage, 0);
    EXPECT_EQ(qvtest::FailureOf([&] { qv::SiteSearch{*deflated}; }),
              Output(IndexBySqlite(), 9) +
                  ": the search index is damaged (it is not stored unchanged, so it cannot be read in place)");

    const auto newer = qv::OpenSiteFile(Output(IndexBySqlite("", 7)));
    EXPECT_EQ(qvtest::FailureOf([&] { qv::SiteSearch{*newer}; }),
              dir.path().string() + "/site.qpf: the search index is of another version (7); build the output "
                                    "again with this program");

    // Not a database at all, and one whose pages were overwritten: refused
    // with a message, never a crash.
    std::vector<uint8_t> noise = qvtest::NoiseBytes(8192);
    const auto garbage = qv::OpenSiteFile(Output(noise));
    EXPECT_THROW(qv::SiteSearch{*garbage}, qv::Error);
    std::vector<uint8_t> torn = IndexBySqlite();
    for (size_t i = 4096; i < torn.size(); i += 7)
        torn[i] ^= 0x5A;
    const auto damaged = qv::OpenSiteFile(Output(torn));
    try {
        const qv::SiteSearch search(*damaged);
        search.Find("harbour boats", 10);
        ADD_FAILURE() << "a damaged index answered";
    } catch (const qv::Error& e) {
        EXPECT_NE(std::string(e.what()).find("search index"), std::string::npos) << e.what();
    }
}

} // namespace
