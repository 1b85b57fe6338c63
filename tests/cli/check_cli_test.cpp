// quorvanec check as a tool runs it: exit status, one line per finding,
// and --json read back by Python's own parser.
#include "ExeTools.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using qvtest::Quoted;

namespace {

struct Outcome {
    int status;
    std::string out;
};

Outcome Quorvanec(const std::string& args)
{
    int status = 0;
    std::string out = qvtest::Capture(Quoted(QV_QUORVANEC) + " " + args + " 2>&1", &status);
    return {status, out};
}

class CheckCommand : public ::testing::Test {
protected:
    qvtest::TempDir dir;
    fs::path site = dir / "site";

    void Write(const std::string& rel, const std::string& text)
    {
        fs::create_directories((site / rel).parent_path());
        qvtest::WriteFile(site / rel, text);
    }
    std::string Project()
    {
        const fs::path qp = dir / "site.qp";
        const Outcome r = Quorvanec("new --qpf --out " + Quoted(dir / "site.qpf") + " --home " +
                                Quoted(site / "index.html") + " " + Quoted(qp));
        EXPECT_EQ(r.status, 0) << r.out;
        return Quoted(qp);
    }
};

} // namespace

TEST_F(CheckCommand, CleanSitePassesAndUsageErrorsGiveTwo)
{
    Write("index.html", "<link rel=stylesheet href=css/s.css>\n<a href=\"p/caf%C3%A9.html#t\">x</a>\n"
                        "<a href=\"https://example.org/\">w</a>\n");
    Write("css/s.css", "body { background: url(../i.png) }");
    Write("i.png", "x");
    Write("p/caf\xC3\xA9.html", "<h1 id=t>t</h1><a href=\"../index.html\">home</a>");
    const Outcome r = Quorvanec("check " + Project());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "2 pages, 1 stylesheets, 5 references (1 external), 0 findings\n");

    EXPECT_EQ(Quorvanec("check").status, 2);
    EXPECT_EQ(Quorvanec("check --bogus " + Project()).status, 2);
    const Outcome missing = Quorvanec("check " + Quoted(dir / "none.qp"));
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.out, "quorvanec: Could not load project: none.qp (no such file)\n");
}

TEST_F(CheckCommand, FindingsArePrintedByPageAndAsJson)
{
    // Names and references that a careless JSON writer would break.
    Write("index.html", "<a href=\"say &quot;hi&quot;.html\">q</a>\n<a href=\"gone\\x&#9;y&#1;.html\">g</a>\n"
                        "<a href=\"gone\\x&#9;y&#1;.html\">again</a>\n");
    Write("say \"hi\".html", "<a href=\"caf\xE9.html#n\">latin-1 page</a>\n<a href=\"/abs.html\">a</a>\n");
    Write("caf\xC3\xA9.html", "<p>no anchors</p>");
    Write("z\xFF.html", "<img src=\"nope.png\">"); // a name that is not UTF-8
    const std::string qp = Project();

    const Outcome plain = Quorvanec("check " + qp);
    EXPECT_EQ(plain.status, 1);
    EXPECT_EQ(plain.out, "index.html:2: \"gone\\x\ty\x01.html\": the target does not exist (also line 3)\n"
                         "say \"hi\".html:1: \"caf\xC3\xA9.html#n\": the target page has no id or name \"n\"\n"
                         "say \"hi\".html:2: \"/abs.html\": an absolute local reference\n"
                         "z\xFF.html:1: \"nope.png\": the target does not exist\n"
                         "4 pages, 0 stylesheets, 6 references (0 external), 4 findings\n");

    const fs::path json = dir / "report.json";
    int status = 0;
    qvtest::Capture(Quoted(QV_QUORVANEC) + " check --json " + qp + " >" + Quoted(json), &status);
    EXPECT_EQ(status, 1);
    const std::string read = qvtest::Capture(
        "python3 -c 'import json,sys\n"
        "d = json.load(open(sys.argv[1], encoding=\"utf-8\"))\n"
        "print(d[\"pages\"], d[\"stylesheets\"], d[\"references\"], d[\"external\"], d[\"root\"].endswith(\"/site/\"))\n"
        "for f in d[\"findings\"]: print(f[\"kind\"], f[\"page\"], f[\"lines\"], ascii(f[\"reference\"]))' " +
        Quoted(json) + " 2>&1");
    EXPECT_EQ(read, "4 0 6 0 True\n"
                    "missing index.html [2, 3] 'gone\\\\x\\ty\\x01.html'\n"
                    "fragment say \"hi\".html [1] 'caf\\xe9.html#n'\n"
                    "absolute say \"hi\".html [2] '/abs.html'\n"
                    "missing z\xEF\xBF\xBD.html [1] 'nope.png'\n"); // U+FFFD for the byte
}
