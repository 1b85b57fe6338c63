#include "TestSupport.h"
#include "quorvane/project/AppSettings.h"
#include "quorvane/base/Error.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace qv;
using qvtest::TempDir;
using qvtest::WriteFile;
using List = std::vector<std::string>;

TEST(RecentProjects, AddRule)
{
    RecentProjects r;
    EXPECT_TRUE(r.Add("/p/a.qp"));
    EXPECT_FALSE(r.Add("/P/A.QP"));  // ASCII case does not count
    EXPECT_TRUE(r.Add("/p/\xC3\xA9.qp"));
    EXPECT_TRUE(r.Add("/p/\xC3\x89.qp")); // É differs from é: another project
    for (const char* p : {"/p/b.qp", "/p/c.qp"})
        r.Add(p);
    EXPECT_EQ(r.Count(), 5u);
    EXPECT_FALSE(r.Add("/p/b.qp")); // already there: keeps its place
    EXPECT_TRUE(r.Add("/p/f.qp"));
    EXPECT_EQ(r.Items(), (List{"/p/\xC3\xA9.qp", "/p/\xC3\x89.qp", "/p/b.qp", "/p/c.qp", "/p/f.qp"}));
}

TEST(AppSettings, FileRoundTripAndLayout)
{
    TempDir dir;
    const std::string file = (dir / "quorvane.xml").string();
    RecentProjects r;
    r.Add("/a/one.qp");
    r.Add("/b/two & \"three\".qp");
    SaveAppSettings(r, file);
    const auto bytes = qvtest::ReadFile(file);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text, "<Config>\n  <mru number=\"2\" />\n  <mru0 name=\"/a/one.qp\" />\n"
                    "  <mru1 name=\"/b/two &amp; &quot;three&quot;.qp\" />\n</Config>\n");
    RecentProjects back;
    LoadAppSettings(back, file);
    EXPECT_EQ(back.Items(), r.Items());
}

TEST(AppSettings, ReadingRules)
{
    TempDir dir;
    const std::string file = (dir / "quorvane.xml").string();
    auto load = [&](const std::string& xml) {
        WriteFile(file, xml);
        RecentProjects r;
        LoadAppSettings(r, file);
        return r.Items();
    };
    EXPECT_EQ(load("<Config><mru number=\"3\"/><mru0 name=\"a\"/><mru2 name=\"c\"/></Config>"), (List{"a", "c"}));
    EXPECT_EQ(load("<Config><mru0 name=\"a\"/><mru1 name=\"b\"/></Config>"), List{});
    EXPECT_EQ(load("<Config><mru number=\"2\"/><mru0 name=\"a\"/><mru1 name=\"a\"/></Config>"), (List{"a", "a"}));
    EXPECT_EQ(load("<Config><mru number=\"0\"/><mru0 name=\"a\"/></Config>"), List{});
    EXPECT_EQ(load("<Config><mru number=\"-2\"/></Config>"), List{});
    EXPECT_EQ(load("<Config><mru number=\"1\"/><mru0/></Config>"), List{""});
    EXPECT_EQ(load("<Other><mru number=\"1\"/><mru0 name=\"a\"/></Other>"), List{});
    EXPECT_EQ(load("<Config><mru number=\"7\"/><mru0 name=\"0\"/><mru1 name=\"1\"/><mru2 name=\"2\"/>"
                   "<mru3 name=\"3\"/><mru4 name=\"4\"/><mru5 name=\"5\"/><mru6 name=\"6\"/></Config>"),
              (List{"0", "1", "2", "3", "4"}));
    WriteFile(file, std::string("<Config><mru number=\"x\"/></Config>"));
    RecentProjects r;
    EXPECT_THROW(LoadAppSettings(r, file), Error);
    WriteFile(file, std::string("<Config><mru"));
    EXPECT_THROW(LoadAppSettings(r, file), Error);
    RecentProjects none;
    LoadAppSettings(none, (dir / "missing.xml").string());
    EXPECT_TRUE(none.Empty());
}

TEST(AppSettings, FolderFromEnvironment)
{
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("XDG_CONFIG_HOME", "  /tmp/qv-config/ \n", 1);
    EXPECT_EQ(GetSettingsFolder(), "/tmp/qv-config");
    EXPECT_EQ(SettingsFilePath(), "/tmp/qv-config/quorvane.xml");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(GetSettingsFolder(), "/home/someone/.config");
    setenv("HOME", home.c_str(), 1);
    if (old)
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
}

TEST(AppSettings, FailedWriteThrowsAndKeepsOldFile)
{
    TempDir dir;
    WriteFile(dir / "blocker", std::string("x"));
    RecentProjects r;
    EXPECT_THROW(SaveAppSettings(r, (dir / "blocker" / "quorvane.xml").string()), Error);
}

TEST(AppSettings, HugeEntryNumberReadsOnlyTheEntriesPresent)
{
    // Found by fuzzing: the number was once walked one index at a time, for
    // minutes. Only elements named as the writer names them count, the first
    // of each name, in index order.
    TempDir dir;
    const std::string file = (dir / "quorvane.xml").string();
    WriteFile(file, std::string("<Config><mru number=\"2000000000\"/><mru7 name=\"h\"/><mru01 name=\"x\"/>"
                                "<mru1 name=\"b\"/><mru1 name=\"y\"/><mru0 name=\"a\"/><mrux name=\"z\"/></Config>"));
    RecentProjects r;
    LoadAppSettings(r, file);
    EXPECT_EQ(r.Items(), (List{"a", "b", "h"}));
}
