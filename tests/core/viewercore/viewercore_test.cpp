#include "AllocationWatch.h"
#include "ArchiveComposer.h"
#include "HostileArchives.h"
#include "TestSupport.h"

#include "quorvane/base/Error.h"
#include "quorvane/platform/CodePage.h"
#include "quorvane/project/ProjectSettings.h"
#include "quorvane/viewercore/HandOver.h"
#include "quorvane/viewercore/MimeTypes.h"
#include "quorvane/viewercore/PageAddress.h"
#include "quorvane/viewercore/SiteArchive.h"
#include "quorvane/viewercore/SiteFile.h"
#include "quorvane/viewercore/StartRules.h"
#include "quorvane/viewercore/TextCharset.h"

#include <gtest/gtest.h>

#include <deque>
#include <tuple>

using namespace qv;
using qvtest::ArchiveComposer;
using qvtest::ComposedRecord;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::optional<std::string> Entry(std::string_view address)
{
    return EntryNameOf(address, SystemAnsiCodec());
}

Bytes ConfigImage(const ProjectSettingsRecord& s)
{
    const auto image = WriteSettingsImage(s);
    return Bytes(image.begin(), image.end());
}

std::unique_ptr<SiteArchive> Open(const Bytes& file)
{
    return std::make_unique<SiteArchive>([file] { return std::make_unique<MemoryStream>(file); }, SystemAnsiCodec(),
                                         "site.qpf");
}

// What a reading call passed on, or its failure.
struct ReadResult {
    Bytes bytes;
    std::string error;
};

ReadResult ReadRange(const SiteArchive& site, size_t index, int64_t offset, int64_t count)
{
    ReadResult r;
    try {
        site.Read(index, offset, count, [&](const uint8_t* d, size_t n) { r.bytes.insert(r.bytes.end(), d, d + n); });
    } catch (const Error& e) {
        r.error = e.what();
    }
    return r;
}

// A site as the build job lays it out: pages, "-config-", "-logo-", "-search-".
ArchiveComposer SampleSite(const ProjectSettingsRecord& settings)
{
    ArchiveComposer c;
    c.Add("index.html", Text("<html>home</html>"));
    c.Add("Sub\\Page.HTML", Text("<html>sub</html>"));
    c.Add("\xC9t\xE9.html", Text("summer"));   // "Été" in Windows-1252
    c.Add("media\\clip.bin", qvtest::NoiseBytes(5000, 2));
    c.Add("-config-", ConfigImage(settings));
    c.Add("-logo-", Text("ICON"));
    c.Add("-search-", Text("SQLite format 3"), 0);
    return c;
}

ProjectSettingsRecord SampleSettings()
{
    ProjectSettingsRecord s;
    s.HomePage = "index.html";
    s.DirectMask = "*.exe;*.pdf;notes*.txt";
    return s;
}

} // namespace

TEST(PageAddress, DecodesAndNeverLeavesTheRoot)
{
    EXPECT_EQ(PercentDecode("a%20b%2Fc%zz%4"), "a b/c%zz%4");
    EXPECT_EQ(Entry("/sub/page.html"), "sub\\page.html");
    EXPECT_EQ(Entry("/my%20page.html?x=1#top"), "my page.html");
    EXPECT_EQ(Entry("/./a//b/./c.html"), "a\\b\\c.html");
    EXPECT_EQ(Entry("/sub/../x.html"), "x.html");
    EXPECT_EQ(Entry("/../../../etc/passwd"), "etc\\passwd");
    EXPECT_EQ(Entry("/a/%2e%2e/%2E%2E/%2e%2e/b.css"), "b.css");
    EXPECT_EQ(Entry("/a%2f..%2f..%2fb.css"), "b.css");
    EXPECT_EQ(Entry("/a%5c..%5c..%5cb.css"), "b.css");
    EXPECT_EQ(Entry("/"), "");
    EXPECT_EQ(Entry("/x%00.html"), std::nullopt);
    // Where the mapping stops at the root, LeavesRoot says that it did.
    for (const char* out : {"/../../../etc/passwd", "/a/%2e%2e/%2E%2E/%2e%2e/b.css", "/a%5c..%5c..%5cb.css", "/.."})
        EXPECT_TRUE(LeavesRoot(out)) << out;
    for (const char* in : {"/sub/../x.html", "/a/b/../../c", "/..x/y", "/a?../../..", "/a#/../.."})
        EXPECT_FALSE(LeavesRoot(in)) << in;
}

TEST(PageAddress, ViewerEntriesAreNeverNamed)
{
    EXPECT_EQ(Entry("/-config-"), std::nullopt);
    EXPECT_EQ(Entry("/-LOGO-"), std::nullopt);
    EXPECT_EQ(Entry("/sub/../-config-"), std::nullopt);
    EXPECT_EQ(Entry("/%2Dconfig%2D"), std::nullopt);
    EXPECT_EQ(Entry("/sub/-config-"), "sub\\-config-"); // an ordinary page of a folder
}

TEST(PageAddress, ConvertsToTheWritersCodePageBothWays)
{
    EXPECT_EQ(Entry("/caf%C3%A9.html"), "caf\xE9.html");
    // What the code page lacks became "?" when written, and is looked up so.
    EXPECT_EQ(Entry("/%E6%97%A5.html"), "?.html");
    EXPECT_EQ(AddressPathOf("sub\\caf\xE9 1.html", SystemAnsiCodec()), "/sub/caf%C3%A9%201.html");
    EXPECT_EQ(Entry(AddressPathOf("a&b\\%x.html", SystemAnsiCodec())), "a&b\\%x.html");

    codepage::SetAnsiCodePage(1251);
    const auto cyrillic = Entry("/%D0%96.html"); // "Ж"
    codepage::SetAnsiCodePage(1252);
    EXPECT_EQ(cyrillic, "\xC6.html");
}

TEST(MimeTypes, ByExtensionIgnoringCase)
{
    EXPECT_EQ(MimeTypeOf("SUB\\PAGE.HTM"), "text/html");
    EXPECT_EQ(MimeTypeOf("a/app.mjs"), "text/javascript");
    EXPECT_EQ(MimeTypeOf("font.woff2"), "font/woff2");
    EXPECT_EQ(MimeTypeOf("archive.tar.gz"), "application/octet-stream");
    EXPECT_EQ(MimeTypeOf("dir.html\\README"), "application/octet-stream");
    // Pages of server scripts, saved as they were served.
    for (const char* page : {"a.shtml", "forum/view.PHP", "x.asp", "Default.aspx", "b.jsp", "cgi-bin/go.cgi"})
        EXPECT_EQ(MimeTypeOf(page), "text/html") << page;
    const std::pair<const char*, const char*> more[] = {
        {"subs/en.vtt", "text/vtt"}, {"p.AVIF", "image/avif"}, {"s.m4a", "audio/mp4"}, {"s.aac", "audio/aac"},
        {"s.flac", "audio/flac"}, {"s.opus", "audio/ogg"}, {"t.csv", "text/csv"}, {"t.xsl", "text/xsl"},
        {"f.eot", "application/vnd.ms-fontobject"}};
    for (const auto& [name, type] : more)
        EXPECT_EQ(MimeTypeOf(name), type) << name;
}

TEST(MimeTypes, AnUnknownNameReadingLikeAPageIsAPage)
{
    for (const char* head : {"<!DOCTYPE html><html>", "\xEF\xBB\xBF \r\n\t<HTML lang=en>", "<head>", "<Body>",
                             "<!-- saved -->", "<p>text", "<br/>", "<title>T</title>", "<A href=x>"})
        EXPECT_TRUE(LooksLikeHtml(head)) << head;
    for (const char* head : {"", "plain text <html>", "<bold>", "<alpha", "<?xml version='1.0'?>", "%PDF-1.4",
                             "<!DOCTYPE svg>", "<html"})
        EXPECT_FALSE(LooksLikeHtml(head)) << head;
    EXPECT_EQ(EntryTypeOf("sub\\README", "<html><body>x"), "text/html");
    EXPECT_EQ(EntryTypeOf("page.xyz", "  <!doctype html>"), "text/html");
    EXPECT_EQ(EntryTypeOf("data.bin", "PK\x03\x04"), "application/octet-stream");
    // A known type is what the name says, whatever the bytes.
    EXPECT_EQ(EntryTypeOf("notes.txt", "<html>"), "text/plain");
    EXPECT_EQ(EntryTypeOf("app.js", "<!-- old trick"), "text/javascript");
    EXPECT_TRUE(IsPageType("text/html; charset=utf-8"));
    EXPECT_TRUE(IsPageType("application/XHTML+xml"));
    EXPECT_FALSE(IsPageType("text/plain"));
    EXPECT_FALSE(IsPageType("image/svg+xml"));
}

TEST(TextCharset, DeclaredOrElseJudgedFromTheBytes)
{
    const std::string cafe = "<p>caf\xC3\xA9</p>";
    EXPECT_EQ(ContentTypeWithCharset("text/html", cafe), "text/html; charset=utf-8");
    EXPECT_EQ(ContentTypeWithCharset("text/html", "<p>caf\xE9</p>"), "text/html; charset=windows-1252");
    EXPECT_EQ(ContentTypeWithCharset("text/plain", "plain ASCII"), "text/plain; charset=utf-8");
    EXPECT_EQ(ContentTypeWithCharset("text/css", "a::after { content: '\xA7' }"), "text/css; charset=windows-1252");
    EXPECT_EQ(ContentTypeWithCharset("text/javascript", "let s = '\xE2\x82\xAC';"), "text/javascript; charset=utf-8");
    // Overlong forms and surrogates are no UTF-8.
    EXPECT_EQ(ContentTypeWithCharset("text/html", "\xC0\xAF"), "text/html; charset=windows-1252");
    EXPECT_EQ(ContentTypeWithCharset("text/html", "\xED\xA0\x80"), "text/html; charset=windows-1252");
    // The head of a longer text may end inside a character, but not the whole text.
    EXPECT_TRUE(IsUtf8("caf\xE2\x82", true));
    EXPECT_FALSE(IsUtf8("caf\xE2\x82", false));
    EXPECT_FALSE(IsUtf8("caf\xE2(", true));

    // What the bytes declare, the browser reads: nothing is added.
    const std::pair<const char*, const char*> declared[] = {
        {"\xEF\xBB\xBF<p>x</p>", "utf-8"},
        {"\xFF\xFE<\0p\0", "utf-16le"},
        {"<html><head><META CHARSET=\"ISO-8859-1\">", "iso-8859-1"},
        {"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">", "windows-1251"},
        {"<meta charset='koi8-r'/>", "koi8-r"}};
    for (const auto& [bytes, charset] : declared) {
        EXPECT_EQ(DeclaredCharset("text/html", bytes), charset) << bytes;
        EXPECT_EQ(ContentTypeWithCharset("text/html", bytes), "text/html") << bytes;
    }
    EXPECT_EQ(DeclaredCharset("text/css", "@charset \"UTF-8\"; a {}"), "utf-8");
    // Commented out, beyond the first 1024 bytes, or in a page's text: no declaration.
    EXPECT_EQ(DeclaredCharset("text/html", "<!-- <meta charset=big5> --><p>x"), "");
    EXPECT_EQ(DeclaredCharset("text/html", std::string(1100, ' ') + "<meta charset=big5>"), "");
    EXPECT_EQ(DeclaredCharset("text/plain", "<meta charset=big5>"), "");
    EXPECT_EQ(DeclaredCharset("text/html", "<metadata charset=big5>"), "");
    // Other types, and types with their parameters, stay as they are.
    EXPECT_EQ(ContentTypeWithCharset("image/png", "\x89PNG"), "image/png");
    EXPECT_EQ(ContentTypeWithCharset("text/vtt", "WEBVTT"), "text/vtt");
}

TEST(HandOver, ProgramsAndLaunchersNeverLeaveTheArchive)
{
    for (const char* name : {"payload.desktop", "sub\\SETUP.EXE", "a/run.sh", "x.Js", "tool.jar", "y.AppImage",
                             "z.ps1", "trailing.exe.", "blank.bat "})
        EXPECT_TRUE(qv::IsProgramFile(name)) << name;
    for (const char* name : {"report.pdf", "song.mp3", "desktop", "exe", "notes.desktop.txt", "page.json"})
        EXPECT_FALSE(qv::IsProgramFile(name)) << name;
    const std::string question = qv::HandOverQuestion("report.pdf", "Document Viewer", false);
    EXPECT_NE(question.find("\"report.pdf\""), std::string::npos);
    EXPECT_NE(question.find("Document Viewer"), std::string::npos);
    EXPECT_NE(qv::ProgramRefusedPage("a&b.exe").find("a&amp;b.exe"), std::string::npos);
}

TEST(ViewerSettingsImage, ReadsWhatTheBuildWrites)
{
    ProjectSettingsRecord s;
    s.HomePage = "start.htm";
    s.BorderType = 3;
    s.ViewWidth = 1024;
    s.ViewHeight = 700;
    s.HideScrollbars = true;
    s.EnableCopy = false;
    s.EnablePrint = false;
    s.ContextMenu = false;
    s.Password = "s\xC3\xA9same"; // "sésame"
    s.ExpiryEnabled = true;
    s.ExpiryDate = 45658.75;
    s.UserAgent = "Agent/1";
    s.DirectMask = "*.exe;";
    const ViewerSettings v = ReadViewerSettings(ConfigImage(s));
    EXPECT_EQ(v.HomePage, "start.htm");
    EXPECT_EQ(v.BorderKind(), ViewerSettings::FullScreen);
    EXPECT_EQ(v.ClientWidth(), 1024);
    EXPECT_EQ(v.ClientHeight(), 700);
    EXPECT_TRUE(v.HideScrollbars);
    EXPECT_FALSE(v.EnableCopy);
    EXPECT_TRUE(v.EnableSearch);
    EXPECT_FALSE(v.EnablePrint);
    EXPECT_FALSE(v.ContextMenu);
    EXPECT_EQ(v.Password, "s\xE9same");
    EXPECT_TRUE(v.ExpiryEnabled);
    EXPECT_DOUBLE_EQ(v.ExpiryDate, 45658.75);
    EXPECT_EQ(v.UserAgent, "Agent/1");
    EXPECT_EQ(v.DirectMask, "*.exe;");

    Bytes image = ConfigImage(ProjectSettingsRecord{});
    image[settings_offset::BorderType] = 9;
    const ViewerSettings defaults = ReadViewerSettings(image);
    EXPECT_EQ(defaults.BorderKind(), ViewerSettings::Sizable);
    EXPECT_EQ(defaults.ClientWidth(), 800);
    EXPECT_EQ(defaults.ClientHeight(), 600);
    EXPECT_THROW(ReadViewerSettings(Bytes(3895)), Error);
}

// An output without "-config-": no texts, so no file is kept beside it,
// while the window looks as a new project's would.
TEST(ViewerSettingsImage, WithoutConfigNoTextsAndANewProjectsWindow)
{
    const ViewerSettings none;
    const ViewerSettings fresh = ReadViewerSettings(ConfigImage(ProjectSettingsRecord{}));
    EXPECT_EQ(fresh.DirectMask, "*.exe");
    EXPECT_EQ(none.DirectMask, "");
    EXPECT_EQ(none.HomePage, "");
    EXPECT_EQ(none.BorderKind(), fresh.BorderKind());
    EXPECT_EQ(std::tuple(none.ShowToolbar, none.ShowCaptions, none.ShowStatusbar, none.ContextMenu, none.Shadow),
              std::tuple(true, true, true, true, false));
    EXPECT_EQ(std::tuple(fresh.ShowToolbar, fresh.ShowCaptions, fresh.ShowStatusbar, fresh.ContextMenu, fresh.Shadow),
              std::tuple(true, true, true, true, false));
}

TEST(SiteArchive, FindsPagesAsTheArchiveComparesNames)
{
    ArchiveComposer c = SampleSite(SampleSettings());
    Bytes file = c.Build();
    file[file.size() - 36] ^= 0xFF; // the whole archive's CRC is not checked on opening
    const auto site = Open(file);
    EXPECT_EQ(site->HomeAddress(), "/index.html");

    auto find = [&](std::string_view address) { return site->Find(address); };
    using Kind = SiteArchive::Target::Kind;
    EXPECT_EQ(find("/sub/page.html").kind, Kind::Entry);
    EXPECT_EQ(find("/sub/page.html").index, 1u);
    EXPECT_EQ(find("/SUB/PAGE.html").index, 1u);
    EXPECT_EQ(find("/%C3%89t%C3%A9.html").index, 2u);
    EXPECT_EQ(find("/%C3%A9t%C3%A9.html").kind, Kind::Missing); // only A-Z is folded
    EXPECT_EQ(find("/").index, 0u);
    EXPECT_EQ(find("/-config-").kind, Kind::Missing);
    EXPECT_EQ(find("/-logo-").kind, Kind::Missing);
    EXPECT_EQ(find("/-Search-").kind, Kind::Missing);
    EXPECT_EQ(find("/nothing.html").kind, Kind::Missing);
    EXPECT_EQ(find("/nothing.html").sitePath, "nothing.html");

    const auto direct = find("/downloads/Setup.EXE");
    EXPECT_EQ(direct.kind, Kind::Direct);
    EXPECT_EQ(direct.sitePath, "downloads/Setup.EXE");
    EXPECT_EQ(find("/notes1.txt").kind, Kind::Missing); // text after the last ";" is no mask
    EXPECT_EQ(site->Logo(), Text("ICON"));
}

TEST(SiteArchive, AFolderShowsItsFirstFolderPage)
{
    ArchiveComposer c;
    c.Add("index.html", Text("home"));
    c.Add("both\\index.htm", Text("second"));
    c.Add("both\\INDEX.HTML", Text("first"));
    c.Add("old\\default.htm", Text("third"));
    c.Add("old\\deep\\page.html", Text("no folder page"));
    const auto site = Open(c.Build());
    using Kind = SiteArchive::Target::Kind;
    const auto both = site->Find("/both/");
    EXPECT_EQ(both.kind, Kind::Entry);
    EXPECT_EQ(both.index, 2u);
    EXPECT_EQ(both.sitePath, "both/index.html");
    EXPECT_FALSE(both.slashMissing);
    EXPECT_EQ(site->Find("/Old/?page=2").index, 3u);
    EXPECT_FALSE(site->Find("/Old/?page=2").slashMissing);
    // Without the final "/" the page is found, and told to want it.
    const auto bare = site->Find("/old?page=2");
    EXPECT_EQ(bare.index, 3u);
    EXPECT_TRUE(bare.slashMissing);
    EXPECT_EQ(site->Find("/old/deep/").kind, Kind::Missing);
    EXPECT_EQ(site->Find("/old/deep/").sitePath, "old/deep");
    EXPECT_FALSE(site->Find("/index.html").slashMissing);
}

TEST(SiteArchive, ContentTypeFromTheNameAndWhereNeededTheBytes)
{
    ArchiveComposer c;
    c.Add("page.php", Text("<p>caf\xC3\xA9</p>"));
    c.Add("old.htm", Text("<p>caf\xE9</p>"));
    c.Add("saved-page", Text("\n<!DOCTYPE html><p>x</p>"));
    c.Add("data.bin", qvtest::NoiseBytes(3000, 4));
    c.Add("pic.png", Text("not read"));
    const auto site = Open(c.Build());
    std::vector<uint8_t> whole;
    EXPECT_EQ(site->ContentTypeOf(0, &whole), "text/html; charset=utf-8");
    EXPECT_EQ(whole, Text("<p>caf\xC3\xA9</p>"));
    EXPECT_EQ(site->ContentTypeOf(1), "text/html; charset=windows-1252");
    EXPECT_EQ(site->ContentTypeOf(2), "text/html; charset=utf-8");
    EXPECT_EQ(site->ContentTypeOf(3), "application/octet-stream");
    whole.clear();
    EXPECT_EQ(site->ContentTypeOf(4, &whole), "image/png");
    EXPECT_TRUE(whole.empty());

    // A text too large to hold is judged by its beginning.
    Bytes big = qvtest::TextBytes(SiteArchive::kCheckedInMemory + 1000, 3);
    big.insert(big.begin() + 10, {0xC3, 0xA9});
    big.back() = 0xE9; // beyond the part judged
    ArchiveComposer large;
    large.Add("big.txt", big);
    whole.clear();
    EXPECT_EQ(Open(large.Build())->ContentTypeOf(0, &whole), "text/plain; charset=utf-8");
    EXPECT_TRUE(whole.empty());
}

TEST(SiteArchive, AnExeOutputWithoutSettingsStillShowsItsIndex)
{
    ArchiveComposer c;
    c.Add("a.html", Text("a"));
    c.Add("index.htm", Text("home"));
    Bytes exe = qvtest::NoiseBytes(70000, 5);
    const Bytes archive = c.Build();
    exe.insert(exe.end(), archive.begin(), archive.end());
    const auto site = Open(exe);
    EXPECT_FALSE(site->HasSettings());
    EXPECT_EQ(site->HomeAddress(), "/index.htm");
    EXPECT_EQ(ReadRange(*site, 1, 0, 4).bytes, Text("home"));
    EXPECT_TRUE(site->Logo().empty());
    EXPECT_THROW(Open(qvtest::NoiseBytes(100, 1)), ArchiveNotFound);
}

TEST(SiteArchive, ReadsRangesAndNeverPassesOnADamagedEntry)
{
    const Bytes small = qvtest::TextBytes(100000, 7);
    const Bytes big = qvtest::TextBytes(SiteArchive::kCheckedInMemory + 300000, 8);
    ArchiveComposer c;
    c.Add("small.txt", small);
    c.Add("big.mp4", big);
    c.Add("stored.bin", qvtest::NoiseBytes(70000, 3));
    ASSERT_EQ(c.Records[0].Storage, 0);
    ASSERT_EQ(c.Records[2].Storage, 1);
    const Bytes good = c.Build();
    const auto site = Open(good);

    const auto part = ReadRange(*site, 1, 17000000, 5000);
    EXPECT_EQ(part.error, "");
    EXPECT_EQ(part.bytes, Bytes(big.begin() + 17000000, big.begin() + 17005000));
    EXPECT_EQ(ReadRange(*site, 0, 99990, 10).bytes, Bytes(small.end() - 10, small.end()));
    const Bytes stored = qvtest::NoiseBytes(70000, 3);
    EXPECT_EQ(ReadRange(*site, 2, 65000, 5000).bytes, Bytes(stored.begin() + 65000, stored.end()));
    EXPECT_NE(ReadRange(*site, 0, 99990, 11).error.find("it holds 100000 bytes"), std::string::npos);

    // The same archive with each entry's recorded CRC wrong.
    for (auto& record : c.Records)
        record.CRC ^= 1;
    const auto damaged = Open(c.Build());
    for (size_t i = 0; i < 3; ++i) {
        const auto r = ReadRange(*damaged, i, i == 1 ? 17000000 : 10, 100);
        EXPECT_TRUE(r.bytes.empty()) << i;
        EXPECT_NE(r.error.find("CRC mismatch"), std::string::npos) << r.error;
    }
    // A damaged large entry stays refused; a sound one is checked once.
    EXPECT_NE(ReadRange(*damaged, 1, 0, 1).error.find("CRC mismatch"), std::string::npos);
    EXPECT_EQ(ReadRange(*site, 1, 0, 3).bytes, Bytes(big.begin(), big.begin() + 3));
}

TEST(SiteArchive, SettingsMustBeExactlyASettingsImage)
{
    // ~1 MB whose "-config-" truly inflates to 1 GiB: refused unread.
    const Bytes bomb = qvtest::ConfigBomb();
    ASSERT_LT(bomb.size(), 1100000u);
    qvtest::ResetLargestAllocation();
    EXPECT_EQ(qvtest::FailureOf([&] { Open(bomb); }),
              "site.qpf: Archive entry \"-config-\" holds 1073741824 bytes, not the 3896 of a settings image");
    EXPECT_LE(qvtest::LargestAllocation(), bomb.size()); // the copy of the file that the stream holds

    for (const size_t size : {size_t(0), size_t(3895), size_t(3897)}) {
        ArchiveComposer c;
        c.Add("index.html", Text("home"));
        c.Add("-CONFIG-", Bytes(size, 0));
        EXPECT_EQ(qvtest::FailureOf([&] { Open(c.Build()); }),
                  "site.qpf: Archive entry \"-CONFIG-\" holds " + std::to_string(size) +
                      " bytes, not the 3896 of a settings image");
    }
}

TEST(SiteArchive, WholeReadsReserveOnlyWhatTheDataProves)
{
    // 100 KB of deflate data claiming 100 MB, once as a page, once as the logo.
    ArchiveComposer c;
    c.Add("index.html", Text("home"));
    for (const char* name : {"liar.bin", "-logo-"}) {
        ComposedRecord& r = c.AddRaw({}, qvtest::Deflate(qvtest::NoiseBytes(100000)));
        r.Name = name;
        r.CompressedSize = static_cast<int64_t>(qvtest::Deflate(qvtest::NoiseBytes(100000)).size());
        r.FileSize = 100 * 1000 * 1000;
    }
    const auto site = Open(c.Build());
    qvtest::ResetLargestAllocation();
    EXPECT_EQ(qvtest::FailureOf([&] { site->ReadAll(1); }),
              "site.qpf: Archive entry \"liar.bin\" is damaged: it inflates to 100000 bytes instead of 100000000");
    // A logo that large is no icon: not read at all.
    EXPECT_TRUE(site->Logo().empty());
    EXPECT_LT(qvtest::LargestAllocation(), 1u << 20);
}

// The fuzz target's seeds are outputs our own build made; each must stay
// one that opens, with its home page, for the fuzzing to start from.
TEST(SiteArchive, SeedCorpusHoldsWholeOutputs)
{
    const std::filesystem::path dir = std::filesystem::path(QV_SOURCE_DIR) / "fuzz/corpus/viewer_core";
    size_t seeds = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const auto site = OpenSiteFile(e.path().string());
        ++seeds;
        EXPECT_TRUE(site->HasSettings()) << e.path();
        const SiteArchive::Target home = site->Find("/");
        ASSERT_EQ(home.kind, SiteArchive::Target::Kind::Entry) << e.path();
        EXPECT_EQ(site->ReadAll(home.index).size(), size_t(site->Reader().Entry(home.index).FileSize));
        if (e.path().filename() == "password-icon.qpf") {
            EXPECT_EQ(site->Settings().Password, "secret");
            EXPECT_FALSE(site->Logo().empty());
        }
    }
    EXPECT_EQ(seeds, 3u);
}

// A rebuild renamed over an open output leaves what it serves alone; a
// caller that may meet a file still being written asks for the whole CRC.
TEST(SiteFile, ReadsTheFileItOpenedAndChecksAWholeOneOnRequest)
{
    qvtest::TempDir dir;
    const std::string path = (dir / "site.qpf").string();
    const auto archive = [](const std::string& page) {
        ArchiveComposer c;
        c.Add("index.html", Text(page), 0);
        return c.Build();
    };
    qvtest::WriteFile(path, archive("first build"));
    FileState opened;
    const auto site = OpenSiteFile(path, &opened);
    EXPECT_EQ(FileStream::StateOf(path), opened);

    Bytes second = archive("second build");
    qvtest::WriteFile(path + ".new", second);
    std::filesystem::rename(path + ".new", path);
    EXPECT_NE(FileStream::StateOf(path), opened);
    EXPECT_EQ(site->ReadAll(0), Text("first build"));
    EXPECT_EQ(OpenSiteFile(path, nullptr, true)->ReadAll(0), Text("second build"));

    // A changed byte of a page opens (pages are checked as they are read)
    // but fails the whole CRC.
    const Bytes word = Text("second");
    const auto at = std::search(second.begin(), second.end(), word.begin(), word.end());
    ASSERT_NE(at, second.end());
    *at = 'S';
    qvtest::WriteFile(path, second);
    EXPECT_NO_THROW(OpenSiteFile(path));
    const std::string refused = qvtest::FailureOf([&] { OpenSiteFile(path, nullptr, true); });
    EXPECT_TRUE(refused.starts_with(path + ": Archive checksum mismatch")) << refused;
    EXPECT_FALSE(FileStream::StateOf((dir / "nothing.qpf").string()));
}

namespace {

class ScriptedPrompts final : public StartPrompts {
public:
    std::deque<std::optional<std::string>> typed;
    std::vector<std::string> shown; // "caption|text" of every box and dialog

    void Message(std::string_view caption, std::string_view text) override
    {
        shown.push_back(std::string(caption) + "|" + std::string(text));
    }
    std::optional<std::string> AskPassword(std::string_view caption, std::string_view text) override
    {
        shown.push_back(std::string(caption) + "|" + std::string(text));
        auto answer = typed.front();
        typed.pop_front();
        return answer;
    }
};

const std::string kAsk = "Password required|This file is protected. Please enter the password:";
const std::string kWrong = "Password required|Wrong password.";
const std::string kExpired = "Expired|This file has expired and can no longer be opened.";

ViewerSettings Protected(const std::string& utf8Password)
{
    ViewerSettings s;
    s.Password = codepage::ToAnsi(utf8Password);
    return s;
}

} // namespace

TEST(StartRules, DatesCountFromTheSettingsEpoch)
{
    EXPECT_EQ(DateSerial(1899, 12, 30), 0);
    EXPECT_EQ(DateSerial(2025, 1, 1), 45658);
    EXPECT_EQ(DateSerial(2024, 2, 29) + 1, DateSerial(2024, 3, 1));
    EXPECT_EQ(DateSerial(2000, 12, 31) - DateSerial(2000, 1, 1), 365);

    ViewerSettings s;
    s.ExpiryDate = 45658.75;
    EXPECT_FALSE(HasExpired(s, 45700)); // not enabled
    s.ExpiryEnabled = true;
    EXPECT_FALSE(HasExpired(s, 45657));
    EXPECT_TRUE(HasExpired(s, 45658)); // the day itself, whatever its time
    EXPECT_TRUE(HasExpired(s, 46000));
}

TEST(StartRules, PasswordDialogsInOrder)
{
    const AnsiCodec codec = SystemAnsiCodec();
    ScriptedPrompts right;
    right.typed = {std::string("wrong"), std::string("s\xC3\xA9same")};
    EXPECT_TRUE(RunStartRules(Protected("s\xC3\xA9same"), codec, 45000, right));
    EXPECT_EQ(right.shown, (std::vector<std::string>{kAsk, kWrong, kAsk}));

    ScriptedPrompts threeWrong;
    threeWrong.typed = {std::string("a"), std::string("S\xC3\xA9same"), std::string("")};
    EXPECT_FALSE(RunStartRules(Protected("s\xC3\xA9same"), codec, 45000, threeWrong));
    EXPECT_EQ(threeWrong.shown, (std::vector<std::string>{kAsk, kWrong, kAsk, kWrong, kAsk, kWrong}));

    ScriptedPrompts cancel;
    cancel.typed = {std::nullopt};
    EXPECT_FALSE(RunStartRules(Protected("x"), codec, 45000, cancel));
    EXPECT_EQ(cancel.shown, std::vector<std::string>{kAsk});

    // Stored as the writer stored it: converted, then cut to 255 bytes.
    const std::string longPassword(300, 'k');
    ViewerSettings cut = Protected(longPassword.substr(0, 255));
    EXPECT_TRUE(PasswordMatches(cut, longPassword, codec));
    EXPECT_TRUE(PasswordMatches(Protected("?"), "\xE6\x97\xA5", codec));

    ScriptedPrompts none;
    EXPECT_TRUE(RunStartRules(ViewerSettings{}, codec, 45000, none));
    EXPECT_TRUE(none.shown.empty());
}

TEST(StartRules, AnExpiredOutputAsksForNoPassword)
{
    ViewerSettings s = Protected("x");
    s.ExpiryEnabled = true;
    s.ExpiryDate = 45000;
    ScriptedPrompts prompts;
    EXPECT_FALSE(RunStartRules(s, SystemAnsiCodec(), 45000, prompts));
    EXPECT_EQ(prompts.shown, std::vector<std::string>{kExpired});

    StartRules rules(s, SystemAnsiCodec(), 44999);
    EXPECT_EQ(rules.Current(), StartRules::Step::AskPassword);
    rules.Acknowledge(); // not a box that is up: ignored
    EXPECT_EQ(rules.Current(), StartRules::Step::AskPassword);
    rules.Enter("x");
    EXPECT_EQ(rules.Current(), StartRules::Step::Open);
}
