// quorvanec's search index end to end: built into an output, read back by
// `quorvanec search`, by the sqlite3 program and by Python's json module.
#include "QuorvanecRun.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using qvtest::Outcome;
using qvtest::Quorvanec;
using qvtest::Quoted;

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class SearchCommand : public ::testing::Test {
protected:
    qvtest::TempDir dir;
    fs::path site = dir / "site";
    fs::path output = dir / "site.qpf";

    void SetUp() override
    {
        Write("index.html", "<title>Visitor guide</title><h1>Welcome</h1><p>Walk along the harbour wall, past "
                            "the boats, the nets and the old customs house to the lighthouse.</p>"
                            "<script>var scriptonlyword = 1;</script><style>.styleonlyword { }</style>");
        Write("harbour.html", "<title>Harbour</title><p>Opening hours.</p>");
        Write("ferry.htm", "<title>Ferry</title><p>The ferry will run at dawn.</p>");
        Write("menu/caf\xC3\xA9.html", "<title>Menu</title><p>Coffee at the caf\xC3\xA9 by the pier.</p>");
        Write("python.html", "<title>Python</title><p>A list comprehension builds a list.</p>");
        Write("reading.html", "<title>Reading</title><p>Comprehension of a list of words.</p>");
        Write("drafts.html", "<p>unpackedword</p>");
    }

    void Write(const std::string& rel, const std::string& text)
    {
        fs::create_directories((site / rel).parent_path());
        qvtest::WriteFile(site / rel, text);
    }

    // A project whose direct mask leaves drafts.html out of the archive.
    std::string Project(const std::string& options = "")
    {
        const fs::path qp = dir / "site.qp";
        const Outcome r = Quorvanec("new --qpf --direct drafts.html --out " + Quoted(output) + " --home " +
                                    Quoted(site / "index.html") + " " + options + " " + Quoted(qp));
        EXPECT_EQ(r.status, 0) << r.out;
        return Quoted(qp);
    }

    void Build(const std::string& project, const std::string& options = "")
    {
        const Outcome r = Quorvanec("build -q " + options + " " + project);
        ASSERT_EQ(r.status, 0) << r.out;
    }

    // The pages found, in rank order, one per line.
    std::string Found(const std::string& query)
    {
        const Outcome r = Quorvanec("search " + Quoted(output) + " " + Quoted(query) + " --json", true);
        EXPECT_LE(r.status, 1) << query;
        int status = 0;
        const fs::path json = dir / "found.json";
        qvtest::WriteFile(json, r.out);
        const std::string pages = qvtest::Capture(
            "python3 -c 'import json,sys; [print(h[\"address\"]) for h in json.load(open(sys.argv[1]))[\"results\"]]' " +
                Quoted(json),
            &status);
        EXPECT_EQ(status, 0) << r.out;
        return pages;
    }
};

} // namespace

TEST_F(SearchCommand, FindsPagesAsAReaderMeansTheWords)
{
    Build(Project("--search"), "-j 2");
    EXPECT_EQ(Found("running"), "ferry.htm\n");                 // stem of "run"
    EXPECT_EQ(Found("cafe"), "menu/caf\xC3\xA9.html\n");         // diacritics folded
    EXPECT_EQ(Found("\"list comprehension\""), "python.html\n"); // a phrase, not two words anywhere
    EXPECT_EQ(Found("compreh*"), "python.html\nreading.html\n");
    EXPECT_EQ(Found("list -builds"), "reading.html\n");
    EXPECT_EQ(Found("harbour"), "harbour.html\nindex.html\n");   // the title outranks the body
    for (const char* hidden : {"scriptonlyword", "styleonlyword", "unpackedword"})
        EXPECT_EQ(Found(hidden), "") << hidden;

    const Outcome plain = Quorvanec("search " + Quoted(output) + " run dawn");
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out, "1. ferry.htm - Ferry\n   The ferry will «run» at «dawn»\n");
    // A phrase's words are marked where they stand together only.
    EXPECT_EQ(Quorvanec("search " + Quoted(output) + " '\"list comprehension\"'").out,
              "1. python.html - Python\n   A «list» «comprehension» builds a list\n");
    const Outcome none = Quorvanec("search " + Quoted(output) + " scriptonlyword");
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "No page matches.\n");
    // An excluded word may come first; it is no option.
    EXPECT_EQ(Quorvanec("search " + Quoted(output) + " -builds list --limit 1").out,
              "1. reading.html - Reading\n   Comprehension of a «list» of words\n");
}

TEST_F(SearchCommand, UsageErrorsAndOutputsWithoutIndexGiveTwo)
{
    Build(Project());
    Outcome r = Quorvanec("search " + Quoted(output) + " harbour");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "quorvanec: " + output.string() +
                         " has no search index; build it with the project's \"Search index\" setting on\n");
    Build(Project(), "--search");
    r = Quorvanec("search " + Quoted(output) + " -harbour");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "quorvanec: Type at least one word to search for that is not excluded with \"-\"\n");
    EXPECT_EQ(Quorvanec("search " + Quoted(output) + " '&&'").status, 2);
    EXPECT_EQ(Quorvanec("search " + Quoted(output)).status, 2);
    EXPECT_EQ(Quorvanec("search " + Quoted(dir / "nothing.qpf") + " x").status, 1);
}

TEST_F(SearchCommand, TheIndexIsAStoredSqliteFileOtherReadersOpen)
{
    const std::string project = Project("--search");
    Build(project, "-j 1");
    const auto oneJob = qvtest::ReadFile(output);
    Build(project, "-j 3");
    EXPECT_EQ(qvtest::ReadFile(output), oneJob) << "the index's bytes follow the number of jobs";

    const Outcome list = Quorvanec("list " + Quoted(output));
    EXPECT_TRUE(Contains(list.out, "stored    -search-\n")) << list.out;
    EXPECT_LT(list.out.find("-search-"), list.out.find("-config-")) << list.out;
    ASSERT_EQ(Quorvanec("extract " + Quoted(output) + " " + Quoted(dir / "x")).status, 0);
    int status = 0;
    const std::string answer = qvtest::Capture(
        "sqlite3 -readonly " + Quoted(dir / "x/-search-") +
            " 'PRAGMA integrity_check; SELECT address || \"|\" || title FROM page ORDER BY id;"
            " SELECT count(*) FROM pagetext WHERE pagetext MATCH '\"'\"'ferry OR harbour'\"'\"';'",
        &status);
    EXPECT_EQ(status, 0) << answer;
    EXPECT_EQ(answer, "ok\nferry.htm|Ferry\nharbour.html|Harbour\nindex.html|Visitor guide\npython.html|Python\n"
                      "reading.html|Reading\nmenu/caf\xC3\xA9.html|Menu\n3\n");
}

TEST_F(SearchCommand, WithoutTheSettingOutputsAndProjectsKeepTheirBytes)
{
    const std::string project = Project();
    const auto saved = qvtest::ReadFile(dir / "site.qp");
    EXPECT_FALSE(Contains(std::string(saved.begin(), saved.end()), "searchindex"));
    Build(project);
    const auto plain = qvtest::ReadFile(output);
    EXPECT_FALSE(Contains(Quorvanec("list " + Quoted(output)).out, "-search-"));
    Build(Project("--search"), "--no-search");
    EXPECT_EQ(qvtest::ReadFile(output), plain);
}

TEST_F(SearchCommand, ASiteFileNamedLikeTheIndexIsRefused)
{
    Write("-SEARCH-", "not an index");
    const std::string project = Project();
    const std::string message = "quorvanec: The file name \"-SEARCH-\" is reserved for the output's search index; "
                                "rename the file or leave it out: " + (site / "-SEARCH-").string();
    for (const char* command : {"files", "check", "build -q"}) {
        const Outcome r = Quorvanec(std::string(command) + " " + project);
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_TRUE(Contains(r.out, message)) << command << ": " << r.out;
    }
    EXPECT_FALSE(fs::exists(output));
    // Below the root the name is an ordinary page's.
    fs::rename(site / "-SEARCH-", site / "menu/-search-");
    EXPECT_EQ(Quorvanec("build -q " + project).status, 0);
}
