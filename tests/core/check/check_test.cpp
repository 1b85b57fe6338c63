#include "TestSupport.h"

#include "quorvane/check/PageReferences.h"
#include "quorvane/check/SiteCheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

namespace fs = std::filesystem;
using Kind = qv::CheckFinding::Kind;

namespace {

// A site with one planted instance of every kind of problem, among
// references of every sort that must pass.
const char* const kIndex = R"HTML(<!DOCTYPE html>
<html><head><title>Planted</title>
<link rel="stylesheet" href="css/site.css">
<link rel="Canonical" href="file:///home/someone/site/index.html">
<style>body { background: url("img/bg.png") }</style>
<meta http-equiv="Refresh" content="5; URL='gone-refresh.html'">
<link rel="icon" href="gone.ico"><link rel="manifest" href="gone.webmanifest"><link rel="preload" href="gone.woff2" as="font">
</head><body id="intro" background="img/bg.png">
<a href="pages/a.html#part">an id</a> <a href="pages/a.html#old">a name</a> <a href="pages/a.html#caf%C3%A9">escaped</a>
<img src="img/logo.png" srcset="img/logo.png 1x, img/logo2.png 2x">
<video poster="img/bg.png" src="media/clip.mp4"></video>
<object data="media/doc.pdf"></object>
<form action="pages/a.html"></form>
<a href="https://example.org/">w</a> <a href="mailto:a@b.c">m</a> <a href="javascript:void(0)">j</a> <img src="data:image/png;base64,AAAA"> <script src="//cdn.example.org/x.js"></script>
<a href="../outside.html">up</a>
<a href="file:///etc/hosts">file</a>
<a href="C:\site\x.html">drive</a>
<a href="/pages/a.html#part">rooted</a> <a href="/gone-rooted.html">rooted, missing</a> <a href="/\host/x.html">rooted, odd</a>
<a href="pages/a.html#nowhere">no such id</a>
<a href="PAGES/A.HTML">case</a> <a href="pages/my%20page.html?x=1">escape</a> <a href="  pages/a.html  ">blanks</a>
<a href=".hidden/x.html">dot folder</a>
<a href="notes.txt">no mask</a>
<a href="site.qpf">output</a>
<a href="old.qp">project</a>
<a href="pages/">folder</a> <a href="guide/">folder page</a> <a href="guide">folder page, no slash</a>
<a href="missing.html">missing</a>
<a href="missing.html">missing again</a>
<p style="background-image: url('img/gone.png')">styled</p>
<a href="Recycled/x.html">recycled</a>
<a href="#top">top</a> <a href="#">hash</a> <a href="#intro">self</a> <a href="">empty</a> <a href="?q">query</a> <a href="./">root</a>
<a href="#absent">self, absent</a>
<table background="img/gone-table.png"><tr><td background="img/bg.png">t</td></tr></table>
<svg><image href="img/gone-svg.png"/><image xlink:href="img/logo.png"/><use xlink:href="img/gone-sprite.svg#i"/><a xlink:href="gone-svg.html">s</a><use href="#intro"/></svg>
<div style="background-image: image-set('img/gone-set.png' 1x, url(img/gone-set2.png) 2x type('image/avif'), &quot;img/bg.png&quot; 3x)"></div>
<object data="media/gone.swf"></object> <embed src="media/gone-embed.swf"> <input type="image" src="img/gone-button.png">
<video poster="img/gone-poster.png"><track src="media/gone.vtt"></video>
<template><p id="in-template">t</p></template> <a href="#in-template">templated</a>
</body></html>
)HTML";

const char* const kCss = R"CSS(@import "base.css";
@import url(gone.css);
body { background: url(../img/bg.png) }
.x { background: url("../../up.png") }
/* url(commented.png) */ .y { content: "url(in-a-string.png)" }
.z { background: url(/img/bg.png) }
)CSS";

struct Expected {
    Kind kind;
    std::string page, reference;
};

int LineOf(const std::string& text, const std::string& needle)
{
    const size_t at = text.find(needle);
    return at == std::string::npos ? -1 : static_cast<int>(std::count(text.begin(), text.begin() + at, '\n')) + 1;
}

class SiteCheck : public ::testing::Test {
protected:
    qvtest::TempDir dir;
    fs::path root = dir / "site";
    qv::ProjectSettingsRecord settings;

    void SetUp() override
    {
        auto write = [&](const std::string& rel, const std::string& text) {
            fs::create_directories((root / rel).parent_path());
            qvtest::WriteFile(root / rel, text);
        };
        write("index.html", kIndex);
        write("css/site.css", kCss);
        write("css/base.css", "p { color: black }\n");
        write("guide/index.html", "<p>guide</p>\n");
        write("pages/a.html", "<h1 id=\"part\">A</h1><a name=\"old\"></a><p id=\"caf\xC3\xA9\"><img src=\"../img/logo.png\">\n");
        write("pages/my page.html", "<p>spaced</p>");
        write("pages/b.html", "<head><base href=\"../\"></head>\n<a href=\"img/logo.png\">ok</a>\n<a href=\"img/nope.png\">x</a>\n");
        write("pages/c.html", "<head><base href=\"/img/\"></head>\n<img src=\"logo.png\">\n<img src=\"nope-c.png\">\n");
        for (const char* f : {"img/bg.png", "img/logo.png", "media/clip.mp4", "media/doc.pdf", ".hidden/x.html",
                              "notes.txt", "site.qpf", "old.qp", "Recycled/x.html"})
            write(f, "x");
        settings.HomePage = (root / "index.html").string();
        settings.OutputIsExe = false;
        settings.OutputPath = (root / "site.qpf").string();
        settings.IncludeMask = "*.html;*.css;*.png;*.mp4;*.pdf;*.qp;*.qpf;";
        settings.DirectMask = "*.pdf";
    }
};

} // namespace

TEST_F(SiteCheck, FindsEachPlantedProblemOnceAndNothingElse)
{
    const qv::CheckReport report = qv::CheckSite(settings, 2);
    const std::vector<Expected> expected = {
        {Kind::Missing, "index.html", "img/logo2.png"},
        {Kind::NotPacked, "index.html", "media/doc.pdf"},
        {Kind::LeavesRoot, "index.html", "../outside.html"},
        {Kind::Absolute, "index.html", "file:///etc/hosts"},
        {Kind::Absolute, "index.html", "C:\\site\\x.html"},
        {Kind::Missing, "index.html", "/gone-rooted.html"},
        {Kind::Absolute, "index.html", "/\\host/x.html"},
        {Kind::Fragment, "index.html", "pages/a.html#nowhere"},
        {Kind::NotPacked, "index.html", ".hidden/x.html"},
        {Kind::NotPacked, "index.html", "notes.txt"},
        {Kind::NotPacked, "index.html", "site.qpf"},
        {Kind::NotPacked, "index.html", "old.qp"},
        {Kind::Missing, "index.html", "pages/"},
        {Kind::Missing, "index.html", "missing.html"},
        {Kind::Missing, "index.html", "img/gone.png"},
        {Kind::NotPacked, "index.html", "Recycled/x.html"},
        {Kind::Fragment, "index.html", "#absent"},
        {Kind::Missing, "index.html", "gone-refresh.html"},
        {Kind::Missing, "index.html", "gone.ico"},
        {Kind::Missing, "index.html", "gone.webmanifest"},
        {Kind::Missing, "index.html", "gone.woff2"},
        {Kind::Missing, "index.html", "img/gone-table.png"},
        {Kind::Missing, "index.html", "img/gone-svg.png"},
        {Kind::Missing, "index.html", "img/gone-sprite.svg#i"},
        {Kind::Missing, "index.html", "gone-svg.html"},
        {Kind::Missing, "index.html", "img/gone-set.png"},
        {Kind::Missing, "index.html", "img/gone-set2.png"},
        {Kind::Missing, "index.html", "media/gone.swf"},
        {Kind::Missing, "index.html", "media/gone-embed.swf"},
        {Kind::Missing, "index.html", "img/gone-button.png"},
        {Kind::Missing, "index.html", "img/gone-poster.png"},
        {Kind::Missing, "index.html", "media/gone.vtt"},
        {Kind::Fragment, "index.html", "#in-template"},
        {Kind::Missing, "css/site.css", "gone.css"},
        {Kind::LeavesRoot, "css/site.css", "../../up.png"},
        {Kind::Missing, "pages/b.html", "img/nope.png"},
        {Kind::Missing, "pages/c.html", "nope-c.png"},
    };
    std::vector<std::tuple<Kind, std::string, std::string>> found;
    for (const qv::CheckFinding& f : report.findings)
        found.emplace_back(f.kind, f.page, f.reference);
    std::vector<std::tuple<Kind, std::string, std::string>> want;
    for (const Expected& e : expected)
        want.emplace_back(e.kind, e.page, e.reference);
    std::sort(found.begin(), found.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(found, want);

    // Lines as in the source, a repeat folded into its first finding, and
    // the rule that left each target out.
    auto finding = [&](const std::string& reference) -> const qv::CheckFinding& {
        const auto it = std::find_if(report.findings.begin(), report.findings.end(),
                                     [&](const qv::CheckFinding& f) { return f.reference == reference; });
        EXPECT_NE(it, report.findings.end()) << reference;
        return *it;
    };
    const std::string index = kIndex, css = kCss;
    for (const char* ref : {"img/logo2.png", "../outside.html", "#absent", "img/gone.png", "media/doc.pdf",
                            "gone-refresh.html", "img/gone-svg.png", "img/gone-set.png"})
        EXPECT_EQ(finding(ref).line, LineOf(index, ref)) << ref;
    EXPECT_EQ(finding("gone.css").line, 2);
    EXPECT_EQ(finding("../../up.png").line, 4);
    EXPECT_EQ(finding("img/nope.png").line, 3);
    EXPECT_EQ(finding("missing.html").more, std::vector<int>{LineOf(index, "missing again")});
    EXPECT_EQ(finding("media/doc.pdf").message,
              "the target is not packed: direct mask *.pdf (the viewer looks for it beside the output)");
    EXPECT_EQ(finding("notes.txt").message, "the target is not packed: no include mask matches");
    EXPECT_EQ(finding("site.qpf").message, "the target is not packed: it is the output itself");
    EXPECT_EQ(finding("old.qp").message, "the target is not packed: fixed exclusion *.qp");
    EXPECT_EQ(finding(".hidden/x.html").message,
              "the target is not packed: folder name begins with \".\" (.hidden/)");
    EXPECT_EQ(finding("pages/").message,
              "the target is a folder without a page of its own (index.html, index.htm or default.htm)");
    EXPECT_EQ(finding("#absent").message, "the target page has no id or name \"absent\"");

    // Findings come grouped by page, in the order the build packs them.
    std::vector<std::string> pages;
    for (const qv::CheckFinding& f : report.findings)
        if (pages.empty() || pages.back() != f.page)
            pages.push_back(f.page);
    EXPECT_EQ(pages, (std::vector<std::string>{"index.html", "css/site.css", "pages/b.html", "pages/c.html"}));
    EXPECT_EQ(report.pages, 6u);
    EXPECT_EQ(report.stylesheets, 2u);
    EXPECT_EQ(report.external, 5u);

    // A refresh address is read as browsers read it, in every spelling.
    for (const char* content : {"'0;url=a.html'", "'0, URL = \"a.html\"'", "'3 a.html'", "\"0; url='a.html\""})
        EXPECT_EQ(qv::ScanHtml(std::string("<meta http-equiv=refresh content=") + content + ">").references.at(0).text,
                  "a.html")
            << content;
    for (const char* content : {"5", "x; url=a.html", ""})
        EXPECT_TRUE(qv::ScanHtml(std::string("<meta http-equiv=refresh content='") + content + "'>").references.empty())
            << content;
}

TEST_F(SiteCheck, NamesAHomePageThatIsMissingNotPackedOrNoPage)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"none.html", "the home page does not exist"},
        {"notes.txt", "the home page is not packed: no include mask matches"},
        {"site.qpf", "the home page is not packed: it is the output itself"},
        {"css.css", "the home page is not a page (text/css)"},
    };
    qvtest::WriteFile(root / "css.css", "p {}");
    for (const auto& [home, message] : cases) {
        settings.HomePage = (root / home).string();
        const qv::CheckReport report = qv::CheckSite(settings, 1);
        ASSERT_FALSE(report.findings.empty()) << home;
        EXPECT_EQ(report.findings.front().kind, Kind::HomePage);
        EXPECT_EQ(report.findings.front().message, message);
        EXPECT_EQ(std::count_if(report.findings.begin(), report.findings.end(),
                                [](const qv::CheckFinding& f) { return f.kind == Kind::HomePage; }),
                  1);
    }
    // A home page named through ".." is still the root folder's own page.
    settings.HomePage = (root / "pages/../index.html").string();
    for (const qv::CheckFinding& f : qv::CheckSite(settings, 1).findings)
        EXPECT_NE(f.kind, Kind::HomePage) << f.message;
}

TEST(PageReferences, StylesheetsAndSrcsetAreReadAsBrowsersReadThem)
{
    std::vector<qv::PageReference> refs;
    qv::ScanCss("@IMPORT 'a.css' screen;\n@import url( \"b.css\" );\na { b: URL(c\\29 .png) }\n"
                "/* url(no.png)\n */ d { e: myurl(no.png); f: url(\n  d.png  ) }\ng { h: \"url(no.png)\" }",
                10, refs);
    std::vector<std::pair<std::string, int>> got;
    for (const auto& r : refs)
        got.emplace_back(r.text, r.line);
    EXPECT_EQ(got, (std::vector<std::pair<std::string, int>>{
                       {"a.css", 10}, {"b.css", 11}, {"c).png", 12}, {"d.png", 14}}));
    // A comma inside a URL belongs to it; only trailing ones end a candidate.
    EXPECT_EQ(qv::SrcsetUrls(" a.png 1x,b.png, c,d.png 2x , e(1).png 100w"),
              (std::vector<std::string>{"a.png", "b.png", "c,d.png", "e(1).png"}));
    EXPECT_TRUE(qv::IsUtf8("caf\xC3\xA9"));
    EXPECT_FALSE(qv::IsUtf8("caf\xE9"));
    EXPECT_FALSE(qv::IsUtf8("\xC0\xAF")); // overlong "/"
    EXPECT_FALSE(qv::IsUtf8("\xED\xA0\x80")); // surrogate
}

TEST_F(SiteCheck, DirectFilesAreLookedForBesideTheOutput)
{
    fs::remove_all(root);
    qvtest::WriteFile(dir / "index.html", "<a href=\"setup.exe\">s</a>\n<a href=\"tools/gone.exe\">g</a>\n");
    fs::create_directories(dir / "dist");
    qvtest::WriteFile(dir / "dist/setup.exe", "MZ");
    settings.HomePage = (dir / "index.html").string();
    settings.OutputPath = (dir / "dist/site.qpf").string();
    settings.DirectMask = "*.exe";
    const qv::CheckReport report = qv::CheckSite(settings, 1);
    ASSERT_EQ(report.findings.size(), 1u);
    EXPECT_EQ(report.findings[0].reference, "tools/gone.exe");
    EXPECT_EQ(report.findings[0].message, "the target does not exist, here or beside the output");

    // Whichever rule kept it out, the viewer looks beside the output.
    qvtest::WriteFile(dir / "local.exe", "MZ");
    qvtest::WriteFile(dir / "index.html", "<a href=\"local.exe\">l</a>\n");
    settings.IncludeMask = "*.html";
    const qv::CheckReport local = qv::CheckSite(settings, 1);
    ASSERT_EQ(local.findings.size(), 1u);
    EXPECT_EQ(local.findings[0].message,
              "the target is not packed: no include mask matches (the viewer looks for it beside the output)");
}

TEST_F(SiteCheck, BreaksAreGroupedByTargetWhateverTheSpelling)
{
    fs::remove_all(root);
    qvtest::WriteFile(root / "index.html", "<a href=\"gone.html\">g</a> <a href=\"/abs.html\">a</a>\n");
    qvtest::WriteFile(root / "sub/a.html", "<a href=\"../gone.html#part\">g</a>\n<a href=\"/abs.html\">a</a>\n");
    qvtest::WriteFile(root / "sub/b.html", "<a href=\"../GONE.html\">g</a> <a href=\"gone.html\">elsewhere</a>\n");
    const qv::CheckReport report = qv::CheckSite(settings, 1);
    std::vector<std::vector<std::string>> groups;
    for (const auto& group : qv::GroupFindings(report.findings)) {
        groups.emplace_back();
        for (const size_t i : group)
            groups.back().push_back(report.findings[i].page + " " + report.findings[i].reference);
    }
    EXPECT_EQ(groups, (std::vector<std::vector<std::string>>{
                          {"index.html gone.html", "sub/a.html ../gone.html#part", "sub/b.html ../GONE.html"},
                          {"index.html /abs.html", "sub/a.html /abs.html"},
                          {"sub/b.html gone.html"}}));
}

TEST(ReportJson, ControlCharactersOfNamesAreEscapes)
{
    // A terminal showing the document must not obey a name: C0, DEL and C1
    // become \u escapes, other text stays as it is.
    EXPECT_EQ(qv::JsonString("a\x1b[2J\x7f\xc2\x9b" "b\xc3\xa9"), "\"a\\u001b[2J\\u007f\\u009bb\xc3\xa9\"");
}
