// viewer.exe's search under wine: outputs built by quorvanec with the
// index, the results page read back through the page protocol with
// `--get`, so the libxml2 and SQLite cross-built into viewer.exe answer
// what the compiler's own wrote.
#include "ExeTools.h"
#include "TestSupport.h"
#include "Wine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace qvtest;
namespace fs = std::filesystem;

namespace {

class ViewerSearch : public testing::Test {
protected:
    static void SetUpTestSuite() { TestWine().StopServer(); }

    void SetUp() override
    {
        QV_SKIP_UNLESS_WINE_RUNS(QV_RUNTIME_DIR "/viewer.exe");
        Write("index.html", "<html><head><title>Mornings</title></head><body><h1>Out early</h1><p>We run every "
                            "morning; running keeps us fit.</p><script>var scriptonlyword = 1;</script></body></html>");
        Write("menu/caf\xC3\xA9.html", "<title>Menu</title><p>Coffee at the caf\xC3\xA9 by the pier.</p>");
        Write("old.htm", "<html><head><meta charset=\"windows-1252\"><title>Letters</title></head>"
                         "<body><p>She said \x93hello\x94 at the caf\xE9 \x96 twice.</p></body></html>");
        // "Привет, мир" in windows-1251: a code page only Windows converts there.
        Write("ru.html", "<html><head><meta charset=\"windows-1251\"><title>Greeting</title></head>"
                         "<body><p>\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0 of letters.</p></body></html>");
    }

    void Write(const std::string& rel, const std::string& text)
    {
        fs::create_directories((dir_ / "site" / rel).parent_path());
        WriteFile(dir_ / "site" / rel, text);
    }

    // The site built as an EXE output, with the index or without it.
    fs::path Build(const std::string& name, bool search)
    {
        const fs::path exe = dir_ / (name + ".exe");
        const fs::path qp = dir_ / (name + ".qp");
        const std::string quorvanec = Quoted(QV_QUORVANEC);
        int status = 0;
        const std::string made = Capture(quorvanec + " new --out " + Quoted(exe) + " --home " +
                                             Quoted(dir_ / "site" / "index.html") + " " + Quoted(qp) + " 2>&1",
                                         &status);
        EXPECT_EQ(status, 0) << made;
        const std::string built =
            Capture(quorvanec + " build -q " + (search ? "--search " : "--no-search ") + Quoted(qp) + " 2>&1", &status);
        EXPECT_EQ(status, 0) << built;
        return exe;
    }

    static WineRun Get(const fs::path& exe, const std::string& address)
    {
        WineRun r = TestWine().Run(exe, {"--get", address});
        EXPECT_EQ(r.status, 0) << address << ": " << r.err;
        EXPECT_EQ(r.err, "") << address;
        return r;
    }

    TempDir dir_;
};

TEST_F(ViewerSearch, TheResultsPageFindsWordsAsTheCompilerIndexedThem)
{
    const fs::path exe = Build("site", true);

    const std::string running = Get(exe, "-search-?q=running").out;
    EXPECT_CONTAINS(running, "<a href=\"index.html?qv-find=");
    EXPECT_CONTAINS(running, "We <mark>run</mark> every morning; <mark>running</mark> keeps us fit");
    EXPECT_CONTAINS(running, "1 page found");

    // Accents folded: "cafe" finds "café", in a page named with one, and
    // in a windows-1252 page, which libxml2 without iconv reads through
    // our own table: its quotes and dash stay what they are.
    const std::string cafe = Get(exe, "-search-?q=cafe").out;
    EXPECT_CONTAINS(cafe, "2 pages found");
    EXPECT_CONTAINS(cafe, "href=\"menu/caf%C3%A9.html?qv-find=");
    EXPECT_CONTAINS(cafe, "Coffee at the <mark>caf\xC3\xA9</mark> by the pier");
    EXPECT_CONTAINS(Get(exe, "-search-?q=hello").out,
                    "She said \xE2\x80\x9C<mark>hello</mark>\xE2\x80\x9D at the caf\xC3\xA9 \xE2\x80\x93 twice");

    EXPECT_CONTAINS(Get(exe, "-search-?q=%D0%BC%D0%B8%D1%80").out,
                    "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, <mark>\xD0\xBC\xD0\xB8\xD1\x80</mark> of "
                    "letters");

    // A script's text is never a page's words.
    const std::string scripted = Get(exe, "-SEARCH-?q=scriptonlyword").out;
    EXPECT_CONTAINS(scripted, "No page contains");
    EXPECT_LACKS(scripted, "<li>");

    // Page 2 of one result: the count, no hits.
    EXPECT_LACKS(Get(exe, "-search-?q=running&page=2").out, "<mark>");
}

TEST_F(ViewerSearch, TheIndexEntryIsNeverServed)
{
    const fs::path exe = Build("site", true);
    for (const std::string address : {"-search-", "%2Dsearch-", "/-Search-#top"}) {
        const std::string page = Get(exe, address).out;
        EXPECT_LACKS(page, "SQLite format 3");
        EXPECT_CONTAINS(page, "<input type=\"search\" name=\"q\" value=\"\"");
        EXPECT_LACKS(page, "class=\"count\"");
    }
}

TEST_F(ViewerSearch, AnOutputWithoutASoundIndexSaysSo)
{
    const std::string page = Get(Build("plain", false), "-search-?q=running").out;
    EXPECT_CONTAINS(page, "This file has no search index");
    EXPECT_LACKS(page, "<mark>");

    // One byte of the index changed: its CRC tells, and the reason is given
    // (--get binds as a picture does, so no page comes with it).
    std::vector<uint8_t> bytes = ReadFile(Build("site", true));
    const std::string header = "SQLite format 3";
    const auto index = std::find_end(bytes.begin(), bytes.end(), header.begin(), header.end());
    ASSERT_NE(index, bytes.end());
    index[200] ^= 0x40;
    WriteFile(dir_ / "damaged.exe", bytes);
    const WineRun r = TestWine().Run(dir_ / "damaged.exe", {"--get", "-search-?q=running"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_CONTAINS(r.err, "Archive entry \"-search-\" is damaged: CRC mismatch");
}

} // namespace
