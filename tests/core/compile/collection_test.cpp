#include "TestSupport.h"
#include "quorvane/base/Error.h"
#include "quorvane/compile/FileCollection.h"
#include "quorvane/platform/Wildcard.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace qv;
using qvtest::TempDir;
using qvtest::WriteFile;

namespace {

class Site : public ::testing::Test {
protected:
    TempDir dir;
    std::string root() const { return dir.path().string() + "/"; }
    void File(const std::string& rel) { WriteFile(dir / rel, "x" + rel); }

    std::vector<std::string> Relative(const std::vector<std::string>& list) const
    {
        std::vector<std::string> out;
        for (const std::string& p : list)
            out.push_back(p.substr(root().size()));
        return out;
    }

    std::vector<std::string> Collect(ProjectSettingsRecord& s)
    {
        std::vector<std::string> list;
        CollectFiles(list, s, root());
        return Relative(list);
    }
};

using Names = std::vector<std::string>;

} // namespace

TEST(Wildcard, ShellRule)
{
    EXPECT_TRUE(PathMatchSpec("README", "*.*"));
    EXPECT_TRUE(PathMatchSpec("a.b.c", "*.*"));
    EXPECT_TRUE(PathMatchSpec("INDEX.HTM", "*.htm"));
    EXPECT_FALSE(PathMatchSpec("page.html", "*.htm"));
    EXPECT_TRUE(PathMatchSpec("page.html", "*.htm*"));
    EXPECT_TRUE(PathMatchSpec("a1.gif", "a?.gif"));
    EXPECT_FALSE(PathMatchSpec("a12.gif", "a?.gif"));
    EXPECT_FALSE(PathMatchSpec("x.htm", ""));
    EXPECT_FALSE(PathMatchSpec("x.htm", "sub\\*.htm"));
    EXPECT_TRUE(PathMatchSpec("x.css", "  *.css"));
    EXPECT_TRUE(PathMatchSpec("\xC3\x89t\xC3\xA9.htm", "\xC3\xA9T\xC3\x89.HTM")); // Été / éTÉ
    EXPECT_TRUE(PathMatchSpec("abcabcabcabd", "*abc*abd"));
    EXPECT_FALSE(PathMatchSpec(std::string(2000, 'a'), std::string(30, '*') + "b"));
}

TEST(MaskList, Cutting)
{
    EXPECT_EQ(CutMaskList("*.html;;*.css;"), (Names{"*.html", "", "*.css"}));
    EXPECT_EQ(CutMaskList("*.htm"), Names{});
    EXPECT_EQ(CutMaskList("*.htm;*.css"), Names{"*.htm"});
    EXPECT_EQ(CutMaskList(""), Names{});
}

TEST_F(Site, AllFilesOrderAndFixedExclusions)
{
    File("index.htm");
    File("B.css");
    File("a.png");
    File("project.qp");
    File("old.QPF");
    File("setup.exe");
    File(".htaccess");
    File("img/z.gif");
    File("img/deep/y.jpg");
    File("Docs/readme.txt");
    File(".git/config");
    File("Recycled/gone.htm");
    File("old-recycled-files/gone.htm");
    ProjectSettingsRecord s;
    EXPECT_EQ(Collect(s), (Names{"a.png", "B.css", "index.htm", "Docs/readme.txt", "img/z.gif", "img/deep/y.jpg"}));
    EXPECT_EQ(s.IncludeMask.str(), "*.*;");
    EXPECT_EQ(s.DirectMask.str(), "*.exe;");
}

TEST_F(Site, PiecesGroupFilesAndDuplicatesListedOnce)
{
    File("b.htm");
    File("a.css");
    File("c.htm");
    File("page.html");
    ProjectSettingsRecord s;
    s.IncludeMask = "*.htm;*.*";
    // The missing final ";" is added first, so both pieces are used; the
    // .htm files stay at their first match.
    EXPECT_EQ(Collect(s), (Names{"b.htm", "c.htm", "a.css", "page.html"}));
    EXPECT_EQ(s.IncludeMask.str(), "*.htm;*.*;");
    s.IncludeMask = "*.css;*.htm;";
    EXPECT_EQ(Collect(s), (Names{"a.css", "b.htm", "c.htm"}));
}

TEST_F(Site, EmptyIncludeCollectsNothingAndEntersNoFolder)
{
    File("index.htm");
    File("sub/a.htm");
    ProjectSettingsRecord s;
    s.IncludeMask = "";
    s.DirectMask = "*.exe";
    EXPECT_TRUE(Collect(s).empty());
    EXPECT_EQ(s.DirectMask.str(), "*.exe"); // no file looked at
    s.IncludeMask = "*.html;;*.css;";
    File("a.css");
    File("b.html");
    EXPECT_EQ(Collect(s), (Names{"b.html", "a.css"}));
}

TEST_F(Site, FullIncludeMaskWithoutSemicolonCollectsNothing)
{
    File("a.htm");
    ProjectSettingsRecord s;
    s.IncludeMask = std::string(250, 'x') + "*.htm";
    ASSERT_EQ(s.IncludeMask.AnsiLength(), 255u);
    EXPECT_TRUE(Collect(s).empty());
    EXPECT_EQ(s.IncludeMask.AnsiLength(), 255u);
}

TEST_F(Site, DirectMaskAndOutputPath)
{
    File("setup.exe");
    File("manual.pdf");
    File("index.htm");
    File("out.exe");
    ProjectSettingsRecord s;
    s.DirectMask = "*.exe;*.pdf;";
    EXPECT_EQ(Collect(s), Names{"index.htm"});

    ProjectSettingsRecord empty;
    empty.DirectMask = "";
    EXPECT_EQ(Collect(empty), (Names{"index.htm", "manual.pdf", "out.exe", "setup.exe"}));
    EXPECT_EQ(empty.DirectMask.str(), ";");

    // A full output path never matches a bare name; a bare one does.
    ProjectSettingsRecord full;
    full.DirectMask = "";
    full.OutputPath = root() + "out.exe";
    EXPECT_EQ(Collect(full).size(), 4u);
    ProjectSettingsRecord bare;
    bare.DirectMask = "";
    bare.OutputPath = "out.exe";
    EXPECT_EQ(Collect(bare), (Names{"index.htm", "manual.pdf", "setup.exe"}));
}

TEST_F(Site, HiddenFileWithoutDotIsCollected)
{
    File("visible.htm");
    File(".hidden.htm");
    ProjectSettingsRecord s;
    s.IncludeMask = "*.htm;";
    EXPECT_EQ(Collect(s), Names{"visible.htm"});
}

TEST_F(Site, SymbolicLinkLoopEnteredOnce)
{
    File("a/page.htm");
    std::filesystem::create_directory_symlink(dir.path(), dir / "a/loop");
    ProjectSettingsRecord s;
    EXPECT_EQ(Collect(s), Names{"a/page.htm"});
}

TEST_F(Site, NameWithBackslashOrColonFailsNamingTheFile)
{
    File("ok.htm");
    File("bad\\name.htm");
    ProjectSettingsRecord s;
    try {
        Collect(s);
        FAIL() << "expected a failure";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("bad\\name.htm"), std::string::npos) << e.what();
    }
}

TEST_F(Site, UnreadableSubfolderIsSkipped)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every folder";
    File("a.htm");
    File("locked/b.htm");
    std::filesystem::permissions(dir / "locked", std::filesystem::perms::none);
    ProjectSettingsRecord s;
    EXPECT_EQ(Collect(s), Names{"a.htm"});
}

TEST_F(Site, MissingRootFails)
{
    ProjectSettingsRecord s;
    std::vector<std::string> list;
    EXPECT_THROW(CollectFiles(list, s, root() + "nope/"), Error);
}

namespace {
struct Recorder : CollectListener {
    std::vector<std::pair<std::string, std::string>> in, out;
    void Included(const std::string& p, const std::string& piece) override { in.emplace_back(p, piece); }
    void Excluded(const std::string& p, const std::string& rule) override { out.emplace_back(p, rule); }
};
} // namespace

TEST_F(Site, ListenerExplainsEveryDecision)
{
    File("index.htm");
    File("site.qp");
    File("tool.exe");
    File("notes.txt");
    File(".env");
    File(".cache/x.htm");
    ProjectSettingsRecord s;
    s.IncludeMask = "*.htm;*.qp;*.exe;*.env;";
    Recorder r;
    std::vector<std::string> list;
    CollectFiles(list, s, root(), &r);
    ASSERT_EQ(r.in.size(), 1u);
    EXPECT_EQ(r.in[0].second, "*.htm");
    auto rule = [&](const std::string& rel) {
        for (auto& [p, why] : r.out)
            if (p == root() + rel) return why;
        return std::string("(none)");
    };
    EXPECT_EQ(rule("site.qp"), "fixed exclusion *.qp");
    EXPECT_EQ(rule("tool.exe"), "direct mask *.exe");
    EXPECT_EQ(rule("notes.txt"), "no include mask matches");
    EXPECT_EQ(rule(".env"), "name begins with \".\"");
    EXPECT_EQ(rule(".cache/"), "folder name begins with \".\"");
}

TEST_F(Site, FolderReachedThroughTwoPathsIsPackedUnderBoth)
{
    File("shared/page.htm");
    File("shared/img/a.png");
    std::filesystem::create_directory_symlink("shared", dir / "latest");
    ProjectSettingsRecord s;
    EXPECT_EQ(Collect(s), (Names{"latest/page.htm", "latest/img/a.png", "shared/page.htm", "shared/img/a.png"}));
}

TEST_F(Site, LinkBackToAFolderAboveIsALoopThatTheListenerHears)
{
    File("a/page.htm");
    std::filesystem::create_directory_symlink(dir.path(), dir / "a/up");
    std::filesystem::create_directory_symlink("..", dir / "a/b");
    ProjectSettingsRecord s;
    Recorder r;
    std::vector<std::string> list;
    CollectFiles(list, s, root(), &r);
    EXPECT_EQ(Relative(list), Names{"a/page.htm"});
    const std::vector<std::pair<std::string, std::string>> loops = {
        {root() + "a/b/", "loop: a link back to a folder above it"},
        {root() + "a/up/", "loop: a link back to a folder above it"}};
    EXPECT_EQ(r.out, loops);
}

TEST_F(Site, FolderNameWithColonOrBackslashFailsNamingTheFolder)
{
    File("index.htm");
    File("Category:Docs/list.html");
    File("odd\\dir/deeper/page.htm");
    File("Talk:Old/site.qp"); // nothing of it would be packed: no failure for it
    ProjectSettingsRecord s;
    std::vector<std::string> messages;
    for (const char* folder : {"Category:Docs", "odd\\dir"}) {
        try {
            Collect(s);
            ADD_FAILURE() << "expected a failure for " << folder;
        } catch (const UnstorableName& e) {
            messages.push_back(e.what());
        }
        std::filesystem::remove_all(dir / folder);
    }
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "The folder name cannot be stored in an archive (it holds \"\\\" or \":\"): " + root() +
                               "Category:Docs/");
    EXPECT_EQ(messages[1], "The folder name cannot be stored in an archive (it holds \"\\\" or \":\"): " + root() +
                               "odd\\dir/");
    EXPECT_EQ(Collect(s), Names{"index.htm"});
}

TEST_F(Site, PipeSocketAndDeviceAreLeftOutWithTheReason)
{
    File("index.htm");
    ASSERT_EQ(mkfifo((dir / "feed.htm").c_str(), 0644), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (dir / "chat.htm").string();
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    std::filesystem::create_symlink("/dev/null", dir / "null.htm");
    ProjectSettingsRecord s;
    Recorder r;
    std::vector<std::string> list;
    CollectFiles(list, s, root(), &r);
    close(sock);
    EXPECT_EQ(Relative(list), Names{"index.htm"});
    const std::vector<std::pair<std::string, std::string>> left = {
        {root() + "chat.htm", "not a regular file (socket)"},
        {root() + "feed.htm", "not a regular file (named pipe)"},
        {root() + "null.htm", "not a regular file (device)"}};
    EXPECT_EQ(r.out, left);
}
