#include "TestSupport.h"
#include "quorvane/base/Error.h"
#include "quorvane/project/ProjectFile.h"

#include <gtest/gtest.h>

#include <pugixml.hpp>

using namespace qv;
using qvtest::TempDir;
using qvtest::WriteFile;

namespace {

std::string ReadText(const std::filesystem::path& p)
{
    const auto b = qvtest::ReadFile(p);
    return std::string(b.begin(), b.end());
}

ProjectSettingsRecord Everything(const std::string& site)
{
    ProjectSettingsRecord s;
    s.HomePage = site + "index.htm";
    s.OutputIsExe = false;
    s.OutputPath = site + "out/site.qpf";
    s.BorderType = 3;
    s.ViewWidth = 800;
    s.ViewHeight = -5;
    s.LogoPath = site + "art/app.ico";
    s.Shadow = s.HideScrollbars = s.Centered = s.CursorOption = true;
    s.ShowToolbar = false;
    s.ShowCaptions = true;
    s.ShowStatusbar = false;
    s.EnableCopy = false;
    s.EnableSearch = true;
    s.EnablePrint = false;
    s.EnableFont = true;
    s.Password = "s\xC3\xA9same";
    s.ExpiryEnabled = true;
    s.ExpiryDate = 46022.75; // 31 December 2025, 18:00
    s.IncludeMask = "*.htm;*.css;";
    s.DirectMask = "*.exe;*.pdf;";
    s.UserAgent = "Agent/1.0 \"quoted\" <x>";
    s.CompressionLevel = 2;
    s.ContextMenu = false;
    return s;
}

const char* kComplete = R"(<?xml version="1.0"?>
<QVProject Version="2">
  <homepage path="index.htm" />
  <output path="site.exe" type="1" />
  <border type="2" />
  <view width="640" height="480" centered="1" />
  <logo path="" />
  <toolbar enabled="1" captions="1" />
  <copy enabled="1" />
  <search enabled="1" />
  <print enabled="1" />
  <font enabled="1" />
  <statusbar enabled="1" />
  <pass word="" />
  <expiried enabled="0" date="12/30/1899" />
  <include mask="*.*;" />
  <direct mask="*.exe" />
  <browser useragent="" />
  <compression level="0" />
</QVProject>
)";

} // namespace

TEST(ProjectFile, RoundTripOfEveryField)
{
    TempDir dir;
    const std::string site = dir.path().string() + "/site/";
    const ProjectSettingsRecord in = Everything(site);
    const std::string file = site + "site.qp";
    std::filesystem::create_directories(site);
    ASSERT_TRUE(SaveProject(file, in, nullptr));

    ProjectSettingsRecord out;
    LoadProject(file, out);
    EXPECT_EQ(out.HomePage, in.HomePage);
    EXPECT_EQ(out.OutputIsExe, in.OutputIsExe);
    EXPECT_EQ(out.OutputPath, in.OutputPath);
    EXPECT_EQ(out.BorderType, 3);
    EXPECT_EQ(out.ViewWidth, 800);
    EXPECT_EQ(out.ViewHeight, -5);
    EXPECT_EQ(out.LogoPath, in.LogoPath);
    EXPECT_TRUE(out.Shadow && out.HideScrollbars && out.Centered && out.CursorOption);
    EXPECT_FALSE(out.ShowToolbar);
    EXPECT_TRUE(out.ShowCaptions);
    EXPECT_FALSE(out.ShowStatusbar);
    EXPECT_FALSE(out.EnableCopy);
    EXPECT_TRUE(out.EnableSearch);
    EXPECT_FALSE(out.EnablePrint);
    EXPECT_TRUE(out.EnableFont);
    EXPECT_EQ(out.Password, in.Password);
    EXPECT_TRUE(out.ExpiryEnabled);
    EXPECT_EQ(out.ExpiryDate, 46022.0); // the time of day is not kept
    EXPECT_EQ(out.IncludeMask, in.IncludeMask);
    EXPECT_EQ(out.DirectMask, in.DirectMask);
    EXPECT_EQ(out.UserAgent, in.UserAgent);
    EXPECT_EQ(out.CompressionLevel, 2);
    EXPECT_FALSE(out.ContextMenu);
}

TEST(ProjectFile, DocumentOrderAndForms)
{
    TempDir dir;
    const std::string site = dir.path().string() + "/site/";
    std::filesystem::create_directories(site);
    ASSERT_TRUE(SaveProject(site + "site.qp", Everything(site), nullptr));
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file((site + "site.qp").c_str()));
    const pugi::xml_node root = doc.child("QVProject");
    EXPECT_STREQ(root.attribute("Version").value(), "2");
    std::vector<std::string> order;
    for (pugi::xml_node n : root.children())
        order.push_back(n.name());
    EXPECT_EQ(order, (std::vector<std::string>{"homepage", "output", "border", "view", "logo", "toolbar", "copy",
                                                "search", "print", "font", "statusbar", "pass", "expiried", "include",
                                                "direct", "browser", "compression", "contextmenu"}));
    std::vector<std::string> viewAttrs;
    for (pugi::xml_attribute a : root.child("view").attributes())
        viewAttrs.push_back(a.name());
    EXPECT_EQ(viewAttrs, (std::vector<std::string>{"width", "height", "centered", "shadow", "cursor", "scrollbars"}));
    EXPECT_STREQ(root.child("homepage").attribute("path").value(), "index.htm");
    EXPECT_STREQ(root.child("output").attribute("path").value(), "out\\site.qpf");
    EXPECT_STREQ(root.child("logo").attribute("path").value(), "art\\app.ico");
    EXPECT_STREQ(root.child("expiried").attribute("date").value(), "12/31/2025");
    EXPECT_STREQ(root.child("output").attribute("type").value(), "0");
    const std::string text = ReadText(site + "site.qp");
    EXPECT_NE(text.find("\n  <homepage path=\"index.htm\" />"), std::string::npos) << text;
}

TEST(ProjectFile, RelativePathsAsWritten)
{
    EXPECT_EQ(RelativePathForProject("C:\\projects\\", "C:\\site\\index.htm"), "..\\site\\index.htm");
    EXPECT_EQ(RelativePathForProject("C:\\projects\\", "c:\\PROJECTS\\art\\app.ico"), "art\\app.ico");
    EXPECT_EQ(RelativePathForProject("C:\\projects\\", "D:\\out\\site.exe"), "D:\\out\\site.exe");
    EXPECT_EQ(RelativePathForProject("/home/u/projects/", "/home/u/site/index.htm"), "..\\site\\index.htm");
    EXPECT_EQ(RelativePathForProject("/home/u/site/", "/home/u/site/index.htm"), "index.htm");
    EXPECT_EQ(RelativePathForProject("\\\\srv\\share\\p\\", "\\\\SRV\\share\\x\\a.htm"), "..\\x\\a.htm");
    EXPECT_EQ(RelativePathForProject("/p/", ""), "");
    EXPECT_EQ(AbsolutePathFromProject("/web/", "index.htm"), "/web/index.htm");
    EXPECT_EQ(AbsolutePathFromProject("/web/p/", "..\\site\\.\\img\\a.png"), "/web/site/img/a.png");
    EXPECT_EQ(AbsolutePathFromProject("/web/p/", "../site/a.png"), "/web/site/a.png");
    EXPECT_EQ(AbsolutePathFromProject("/web/p/", "/abs/x/../y.htm"), "/abs/y.htm");
    EXPECT_EQ(AbsolutePathFromProject("/web/p/", "D:\\out\\site.exe"), "D:\\out\\site.exe");
    EXPECT_EQ(AbsolutePathFromProject("/web/p/", ""), "");
}

TEST(ProjectFile, FolderPathKeepsItsTrailingSeparatorBothWays)
{
    // Found by fuzzing: a saved project loaded back differently when a path
    // (cut to 255 bytes) ended just after a separator, or named a server
    // without a share or after an empty name.
    EXPECT_EQ(RelativePathForProject("/home/u/p/", "/home/u/site/"), "..\\site\\");
    EXPECT_EQ(RelativePathForProject("C:\\p\\", "C:\\p\\out\\"), "out\\");
    // Found by fuzzing: the project's own folder was written as no path.
    EXPECT_EQ(RelativePathForProject("/home/u/p/", "/home/u/p/"), ".\\");
    EXPECT_EQ(AbsolutePathFromProject("/home/u/p/", ".\\"), "/home/u/p/");
    EXPECT_EQ(AbsolutePathFromProject("/web/p/", "..\\site\\"), "/web/site/");
    EXPECT_EQ(AbsolutePathFromProject("/web/p/", "D:\\out\\"), "D:\\out\\");
    // A server without a share gained a separator at every load.
    EXPECT_EQ(AbsolutePathFromProject("/web/p/", "\\\\srv\\"), "\\\\srv\\");
    EXPECT_EQ(AbsolutePathFromProject("/web/p/", "//srv"), "\\\\srv\\");
    EXPECT_EQ(AbsolutePathFromProject("/web/p/", "\\\\\\srv\\a"), "\\\\srv\\a\\");
}

TEST(ProjectFile, APathWhoseRelativeFormIsTooLongIsWrittenAsItIs)
{
    // Found by fuzzing: a full-length path outside the project's folder was
    // written with "..\" in front and read back cut.
    TempDir dir;
    const std::string deep = dir.path().string() + "/p/q/";
    std::filesystem::create_directories(deep);
    ProjectSettingsRecord s;
    s.HomePage = "/site/" + std::string(ShortString::kCapacity - 6, 'x');
    ASSERT_EQ(s.HomePage.str().size(), ShortString::kCapacity);
    ASSERT_TRUE(SaveProject(deep + "s.qp", s, nullptr));
    ProjectSettingsRecord back;
    LoadProject(deep + "s.qp", back);
    EXPECT_EQ(back.HomePage.str(), s.HomePage.str());
}

TEST(ProjectFile, MovedFolderFollowsTheProject)
{
    TempDir dir;
    const std::string a = dir.path().string() + "/site/";
    const std::string b = dir.path().string() + "/web/";
    std::filesystem::create_directories(a);
    ProjectSettingsRecord s;
    s.HomePage = a + "index.htm";
    ASSERT_TRUE(SaveProject(a + "site.qp", s, nullptr));
    std::filesystem::rename(a, b);
    ProjectSettingsRecord loaded;
    LoadProject(b + "site.qp", loaded);
    EXPECT_EQ(loaded.HomePage.str(), b + "index.htm");
}

TEST(ProjectFile, LenientAndOptionalValues)
{
    TempDir dir;
    std::string text = kComplete;
    text.replace(text.find("centered=\"1\""), 12, "centered=\"TRUE\"");
    text.replace(text.find("<copy enabled=\"1\""), 17, "<copy enabled=\"-1\"");
    WriteFile(dir / "p.qp", text);
    ProjectSettingsRecord s;
    s.Shadow = true;        // no shadow attribute: kept
    s.CursorOption = true;  // no cursor attribute: kept
    s.ContextMenu = false;  // no contextmenu element: 1
    LoadProject((dir / "p.qp").string(), s);
    EXPECT_TRUE(s.Centered);
    EXPECT_TRUE(s.EnableCopy);
    EXPECT_TRUE(s.Shadow);
    EXPECT_TRUE(s.CursorOption);
    EXPECT_TRUE(s.ContextMenu);
    EXPECT_EQ(s.ExpiryDate, 0.0);
    EXPECT_EQ(s.HomePage.str(), dir.path().string() + "/index.htm");
}

TEST(ProjectFile, VersionIsNotChecked)
{
    TempDir dir;
    std::string text = kComplete;
    text.replace(text.find(" Version=\"2\""), 12, "");
    WriteFile(dir / "p.qp", text);
    ProjectSettingsRecord s;
    EXPECT_NO_THROW(LoadProject((dir / "p.qp").string(), s));
}

TEST(ProjectFile, FailuresLeaveSettingsAsTheyWere)
{
    TempDir dir;
    struct Case { const char* what; std::string text; };
    std::vector<Case> cases = {
        {"not XML", "<QVProject"},
        {"other root", std::string(kComplete).replace(std::string(kComplete).find("QVProject"), 9, "Project")},
        {"no width", std::string(kComplete).replace(std::string(kComplete).find("width=\"640\" "), 12, "")},
        {"bad integer", std::string(kComplete).replace(std::string(kComplete).find("640"), 3, "6x0")},
        {"bad flag", std::string(kComplete).replace(std::string(kComplete).find("type=\"1\""), 8, "type=\"yes\"")},
        {"bad date", std::string(kComplete).replace(std::string(kComplete).find("12/30/1899"), 10, "13/40/1899")},
        {"no compression", std::string(kComplete).replace(std::string(kComplete).find("<compression"), 28, "")},
    };
    for (const Case& c : cases) {
        WriteFile(dir / "site.qp", c.text);
        ProjectSettingsRecord s;
        s.HomePage = "/before/index.htm";
        s.BorderType = 1;
        try {
            LoadProject((dir / "site.qp").string(), s);
            ADD_FAILURE() << c.what << ": loaded";
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()), "Could not load project: site.qp\r\nIncompatible project version.") << c.what;
        }
        EXPECT_EQ(s.HomePage.str(), "/before/index.htm") << c.what;
        EXPECT_EQ(s.BorderType, 1) << c.what;
    }
}

TEST(ProjectFile, MissingFileChangesNothing)
{
    TempDir dir;
    ProjectSettingsRecord s;
    s.ViewWidth = 123;
    LoadProject((dir / "none.qp").string(), s);
    EXPECT_EQ(s.ViewWidth, 123);
}

TEST(ProjectFile, FailedSaveKeepsOldFileAndReports)
{
    TempDir dir;
    const std::string file = (dir / "p.qp").string();
    WriteFile(file, std::string("old contents"));
    std::string message;
    // The folder of the path is a file: nothing can be written there.
    EXPECT_FALSE(SaveProject(file + "/x.qp", ProjectSettingsRecord{}, [&](const std::string& m) { message = m; }));
    EXPECT_EQ(message, "Could not save project file:\r\n" + file + "/x.qp");
    EXPECT_EQ(ReadText(file), "old contents");
    // A save that works replaces the file and leaves no temporary beside it.
    EXPECT_TRUE(SaveProject(file, ProjectSettingsRecord{}, nullptr));
    EXPECT_NE(ReadText(file).find("<QVProject"), std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(ProjectFile, SaveThroughALinkWritesItsTarget)
{
    namespace fs = std::filesystem;
    TempDir dir;
    const fs::path real = dir / "real/p.qp";
    WriteFile(real, std::string("old contents"));
    fs::permissions(real, fs::perms(0640));
    fs::create_symlink("real/p.qp", dir / "link.qp");

    EXPECT_TRUE(SaveProject((dir / "link.qp").string(), ProjectSettingsRecord{}, nullptr));
    EXPECT_TRUE(fs::is_symlink(dir / "link.qp"));
    EXPECT_EQ(fs::read_symlink(dir / "link.qp"), "real/p.qp");
    EXPECT_NE(ReadText(real).find("<QVProject"), std::string::npos);
    EXPECT_EQ(fs::status(real).permissions(), fs::perms(0640));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "real"), {}), 1);

    // A link to a file not made yet gets it; a link into a missing folder
    // fails and stays as it was.
    fs::create_symlink("real/new.qp", dir / "fresh.qp");
    EXPECT_TRUE(SaveProject((dir / "fresh.qp").string(), ProjectSettingsRecord{}, nullptr));
    EXPECT_TRUE(fs::is_symlink(dir / "fresh.qp"));
    EXPECT_NE(ReadText(dir / "real/new.qp").find("<QVProject"), std::string::npos);
    fs::create_symlink("none/p.qp", dir / "dangling.qp");
    std::string message;
    EXPECT_FALSE(SaveProject((dir / "dangling.qp").string(), ProjectSettingsRecord{}, [&](const std::string& m) { message = m; }));
    EXPECT_EQ(message, "Could not save project file:\r\n" + (dir / "dangling.qp").string());
    EXPECT_TRUE(fs::is_symlink(dir / "dangling.qp"));
}

TEST(ProjectFile, Dates)
{
    EXPECT_EQ(FormatProjectDate(0.0), "12/30/1899");
    EXPECT_EQ(FormatProjectDate(45658.0), "1/1/2025");
    EXPECT_EQ(FormatProjectDate(46022.99), "12/31/2025");
    double d = -1;
    ASSERT_TRUE(ParseProjectDate("1/1/2025", d));
    EXPECT_EQ(d, 45658.0);
    ASSERT_TRUE(ParseProjectDate("2/29/2024", d));
    EXPECT_FALSE(ParseProjectDate("2/29/2025", d));
    EXPECT_FALSE(ParseProjectDate("1/2", d));
    EXPECT_FALSE(ParseProjectDate("", d));
    ASSERT_TRUE(ParseProjectDate("12/31/25", d)); // two-digit years are accepted
    EXPECT_EQ(d, 46022.0);
}

TEST(ProjectFile, LongAndForeignTextComesBackAsTheShortStringHeldIt)
{
    TempDir dir;
    ProjectSettingsRecord s;
    s.UserAgent = std::string(300, 'u');
    s.Password = "\xD0\x96"; // not in Windows-1252
    ASSERT_TRUE(SaveProject((dir / "p.qp").string(), s, nullptr));
    ProjectSettingsRecord back;
    LoadProject((dir / "p.qp").string(), back);
    EXPECT_EQ(back.UserAgent.str(), std::string(255, 'u'));
    EXPECT_EQ(back.Password.str(), "?");
}
