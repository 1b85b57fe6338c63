// quorvanec check as a tool runs it: exit status, one line per finding,
// and --json read back by Python's own parser.
#include "QuorvanecRun.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace fs = std::filesystem;
using qvtest::Outcome;
using qvtest::Quorvanec;
using qvtest::Quoted;

namespace {

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
        if (fs::exists(qp))
            return Quoted(qp);
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
    Write("p/caf\xC3\xA9.html", "<h1 id=t>t</h1><a href=\"/index.html\">home, from the root</a>");
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
    Write("say \"hi\".html", "<a href=\"caf\xE9.html#n\">latin-1 page</a>\n<a href=\"C:\\abs.html\">a</a>\n");
    Write("caf\xC3\xA9.html", "<p>no anchors</p>");
    Write("z\xFF.html", "<img src=\"nope.png\">"); // a name that is not UTF-8
    const std::string qp = Project();

    const Outcome plain = Quorvanec("check " + qp);
    EXPECT_EQ(plain.status, 1);
    // Every byte a terminal could obey is shown escaped.
    EXPECT_EQ(plain.out, "z\\xff.html: the name is not UTF-8\n"
                         "index.html:2: \"gone\\x\\x09y\\x01.html\": the target does not exist (also line 3)\n"
                         "say \"hi\".html:1: \"caf\xC3\xA9.html#n\": the target page has no id or name \"n\"\n"
                         "say \"hi\".html:2: \"C:\\abs.html\": an absolute local reference\n"
                         "z\\xff.html:1: \"nope.png\": the target does not exist\n"
                         "code-page: 1 finding on 1 page\n"
                         "missing: 2 findings on 2 pages\n"
                         "absolute: 1 finding on 1 page\n"
                         "fragment: 1 finding on 1 page\n"
                         "4 pages, 0 stylesheets, 6 references (0 external), 5 findings\n");

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
                    "code-page z\xEF\xBF\xBD.html [0] 'z\\ufffd.html'\n"
                    "missing index.html [2, 3] 'gone\\\\x\\ty\\x01.html'\n"
                    "fragment say \"hi\".html [1] 'caf\\xe9.html#n'\n"
                    "absolute say \"hi\".html [2] 'C:\\\\abs.html'\n"
                    "missing z\xEF\xBF\xBD.html [1] 'nope.png'\n"); // U+FFFD for the byte
}

// "čeština" and "日本語": no name of them fits Windows-1252, and the second
// fits no single-byte code page at all.
TEST_F(CheckCommand, NamesOutsideTheCodePageAreRefusedBeforeAnythingIsWritten)
{
    const std::string czech = "\xC4\x8D" "e\xC5\xA1tina.html", japanese = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.html";
    Write("index.html", "<a href=\"" + czech + "\">cz</a> <a href=\"" + japanese + "\">ja</a>\n");
    Write(czech, "<p>cz</p>");
    Write(japanese, "<p>ja</p>");
    const std::string qp = Project();
    const std::string czechReason = "'\xC4\x8D' is not in code page 1252; code page 1250 holds it (QUORVANE_ANSI_CODEPAGE=1250)";
    const std::string japaneseReason = "'\xE6\x97\xA5', '\xE6\x9C\xAC' and '\xE8\xAA\x9E' are not in code page 1252";

    // Columns line up by what a terminal shows: the three wide characters
    // take two columns each.
    const Outcome files = Quorvanec("files " + qp);
    EXPECT_EQ(files.status, 1);
    const std::string heading = "Packed, in order (1):\n  index.html" + std::string(40, ' ') + "  [*.*]\n"
                                "Names code page 1252 cannot hold (2):\n"
                                "  " + czech + std::string(38, ' ') + "  " + czechReason + "\n"
                                "  " + japanese + std::string(39, ' ') + "  " + japaneseReason + "\n";
    EXPECT_NE(files.out.find(heading), std::string::npos) << files.out;

    const Outcome check = Quorvanec("check " + qp);
    EXPECT_EQ(check.status, 1);
    EXPECT_EQ(check.out, czech + ": " + czechReason + "\n" + japanese + ": " + japaneseReason + "\n" +
                             "code-page: 2 findings on 2 pages\n"
                             "3 pages, 0 stylesheets, 2 references (0 external), 2 findings\n");
    // In code page 1250, as the hint says, only the Japanese name is left.
    int status = 0;
    const std::string central =
        qvtest::Capture("QUORVANE_ANSI_CODEPAGE=1250 " + Quoted(QV_QUORVANEC) + " check " + qp + " 2>&1", &status);
    EXPECT_EQ(central, japanese + ": '\xE6\x97\xA5', '\xE6\x9C\xAC' and '\xE8\xAA\x9E' are not in code page 1250\n"
                       "code-page: 1 finding on 1 page\n"
                       "3 pages, 0 stylesheets, 2 references (0 external), 1 findings\n");

    const Outcome build = Quorvanec("build " + qp);
    EXPECT_EQ(build.status, 1);
    EXPECT_EQ(build.out, "quorvanec: An archive in code page 1252 cannot hold the names of these files; rename them or "
                         "leave them out:\n" + czech + " (" + czechReason + ")\n" + japanese + " (" + japaneseReason +
                         ")\n");
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(dir.path()))
        left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"site", "site.qp"}));
}

// One break on a hundred pages: one line, a summary, and every place on
// request or in JSON.
TEST_F(CheckCommand, ARepeatedBreakIsGroupedAndSummarised)
{
    std::string index = "<a href=\"lonely.png\">l</a>\n";
    for (int i = 0; i < 100; ++i) {
        const std::string page = "p" + std::to_string(i) + ".html";
        index += "<a href=\"" + page + "\">" + page + "</a>\n";
        Write(page, "<p>page</p>\n<a href=\"gone.html\">gone</a>\n");
    }
    Write("index.html", index);
    const std::string qp = Project();
    const std::string summary = "missing: 101 findings on 101 pages\n"
                                "101 pages, 0 stylesheets, 201 references (0 external), 101 findings\n";

    const Outcome plain = Quorvanec("check " + qp);
    EXPECT_EQ(plain.status, 1);
    EXPECT_EQ(plain.out, "index.html:1: \"lonely.png\": the target does not exist\n"
                         "\"gone.html\": the target does not exist, on 100 pages, first at p0.html:2\n" + summary);

    const Outcome all = Quorvanec("check --all " + qp + " | grep -c ': \"gone.html\": the target does not exist$'");
    EXPECT_EQ(all.out, "100\n");
    EXPECT_EQ(Quorvanec("check --only missing " + qp).out, plain.out);
    const Outcome none = Quorvanec("check --only fragment,absolute " + qp);
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "101 pages, 0 stylesheets, 201 references (0 external), 0 findings\n");
    EXPECT_EQ(Quorvanec("check --only broken " + qp).status, 2);

    const std::string read = qvtest::Capture(
        Quoted(QV_QUORVANEC) + " check --json " + qp + " | python3 -c 'import json,sys\n"
        "d = json.load(sys.stdin)\n"
        "print(len(d[\"findings\"]), len({f[\"page\"] for f in d[\"findings\"] if f[\"reference\"] == \"gone.html\"}))\n"
        "print(d[\"summary\"])' 2>&1");
    EXPECT_EQ(read, "101 100\n[{'kind': 'missing', 'findings': 101, 'pages': 101}]\n");
}
