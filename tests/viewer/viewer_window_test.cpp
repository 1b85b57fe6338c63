// viewer.exe's window, dialogs and message boxes as a user meets them: run
// by wine on an X server of the test's own, and looked at from another
// process through the window API (window_probe.c). Wine has no engine to
// draw pages here, so everything up to the drawing is what is checked.
#include "ArchiveComposer.h"
#include "TestSupport.h"
#include "ViewerOutputs.h"
#include "Wine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <sstream>

using namespace qvtest;
namespace fs = std::filesystem;

namespace {

const fs::path kProbe = QV_WINDOW_PROBE;

constexpr uint32_t kPopup = 0x80000000, kCaption = 0x00C00000, kThickFrame = 0x00040000, kMaximizeBox = 0x00010000,
                   kDropShadow = 0x00020000;

std::vector<std::string> Lines(const std::string& text, const std::string& prefix)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') // the probe writes text-mode lines
            line.pop_back();
        if (line.rfind(prefix, 0) == 0)
            lines.push_back(line);
    }
    return lines;
}

// The value after " key=", up to the next " name=" ("text=" comes last and
// runs to the line's end; class names may hold blanks).
std::string Field(const std::string& line, const std::string& key)
{
    const size_t at = line.find(" " + key + "=");
    if (at == std::string::npos)
        return {};
    const size_t start = at + key.size() + 2;
    if (key == "text")
        return line.substr(start);
    size_t end = start;
    while ((end = line.find(' ', end)) != std::string::npos) {
        const size_t name = end + 1;
        size_t after = name;
        while (after < line.size() && std::islower(static_cast<unsigned char>(line[after])))
            ++after;
        if (after > name && after < line.size() && line[after] == '=')
            break;
        end = name;
    }
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

struct Rect {
    long left = 0, top = 0, right = 0, bottom = 0;
    long Width() const { return right - left; }
    long Height() const { return bottom - top; }
};

Rect ParseRect(const std::string& text)
{
    Rect r;
    std::sscanf(text.c_str(), "%ld,%ld,%ld,%ld", &r.left, &r.top, &r.right, &r.bottom);
    return r;
}

struct Button {
    int id = 0;
    bool enabled = false;
    std::string text;
};

// What the probe saw of the main window.
struct Shown {
    int status = -1; // the viewer's, after the probe closed its window
    std::string className;
    uint32_t style = 0;
    uint32_t classStyle = 0;
    Rect rect;
    Rect client; // right and bottom: its size
    Rect work;
    std::vector<std::string> children;
    std::vector<Button> buttons;

    bool HasChild(const std::string& name) const
    {
        return std::find(children.begin(), children.end(), name) != children.end();
    }
    std::vector<std::string> ButtonTexts() const
    {
        std::vector<std::string> texts;
        for (const Button& b : buttons)
            texts.push_back(b.text);
        return texts;
    }
};

// `searchIndex`: with a "-search-" entry, which is all the toolbar looks for.
std::vector<uint8_t> Site(const OutputSettings& settings, bool searchIndex = false)
{
    ArchiveComposer c;
    const std::string page = "<html><head><title>Welcome</title></head><body>Hello</body></html>";
    c.Add("index.html", std::vector<uint8_t>(page.begin(), page.end()));
    c.Add("-config-", settings.Image());
    if (searchIndex)
        c.Add("-search-", NoiseBytes(4096, 3));
    return c.Build();
}

class ViewerWindow : public testing::Test {
protected:
    static void SetUpTestSuite() { TestWine().StartDisplay(); }
    static void TearDownTestSuite() { TestWine().StopDisplay(); }

    void SetUp() override
    {
        if (!TestWine().Available())
            GTEST_SKIP() << "wine is not installed";
        if (!fs::exists(QV_VIEWER_EXE) || kProbe.empty() || !fs::exists(kProbe))
            GTEST_SKIP() << "viewer.exe or the probe was not built (no mingw-w64 cross compiler)";
        if (!TestWine().HasDisplay())
            GTEST_SKIP() << "Xvfb is not installed";
        ASSERT_TRUE(TestWine().Prepare()) << "wine could not prepare its prefix " << QV_WINEPREFIX;
    }

    fs::path Output(const std::string& name, const OutputSettings& settings, bool searchIndex = false)
    {
        WriteFile(dir_ / name, ViewerWith(Site(settings, searchIndex)));
        return dir_ / name;
    }

    struct Session {
        WineRun viewer;
        WineRun probe;
    };
    // Starts the viewer, runs the probe's steps, and waits for the viewer.
    Session Drive(const fs::path& exe, const std::vector<std::string>& viewerArgs,
                  const std::vector<std::string>& steps)
    {
        WineProcess viewer = TestWine().Start(exe, viewerArgs);
        Session s;
        s.probe = TestWine().Run(kProbe, steps);
        if (s.probe.status != 0)
            viewer.Kill();
        s.viewer = viewer.Wait();
        EXPECT_EQ(s.probe.status, 0) << s.probe.out;
        return s;
    }

    // The main window captioned `caption`, looked at and closed.
    Shown Look(const fs::path& exe, const std::vector<std::string>& args, const std::string& caption)
    {
        const Session s = Drive(exe, args, {"window", caption, "info", "children", "toolbar", "close", "gone"});
        Shown shown;
        shown.status = s.viewer.status;
        const auto window = Lines(s.probe.out, "window ");
        if (window.empty())
            return shown;
        shown.className = Field(window[0], "class");
        shown.style = static_cast<uint32_t>(std::stoul(Field(window[0], "style"), nullptr, 16));
        shown.classStyle = static_cast<uint32_t>(std::stoul(Field(window[0], "classstyle"), nullptr, 16));
        shown.rect = ParseRect(Field(window[0], "rect"));
        shown.client = ParseRect("0,0," + Field(window[0], "client"));
        shown.work = ParseRect(Field(window[0], "workarea"));
        for (const std::string& line : Lines(s.probe.out, "child "))
            shown.children.push_back(Field(line, "class"));
        for (const std::string& line : Lines(s.probe.out, "button ")) {
            shown.buttons.push_back({std::stoi(Field(line, "id")), Field(line, "enabled") == "1", Field(line, "text")});
        }
        return shown;
    }

    // A line another process writes to `file`, once it is whole: a bounded
    // poll on that condition. Empty when it does not come.
    static std::string LineWrittenTo(const fs::path& file, int seconds)
    {
        const timespec step = {0, 20 * 1000 * 1000};
        for (int i = 0; i < seconds * 50; ++i) {
            if (fs::exists(file)) {
                const auto bytes = ReadFile(file);
                if (!bytes.empty() && bytes.back() == '\n')
                    return std::string(bytes.begin(), bytes.end());
            }
            nanosleep(&step, nullptr);
        }
        return {};
    }

    TempDir dir_;
};

TEST_F(ViewerWindow, OpensAsTheSettingsDescribe)
{
    OutputSettings fixed;
    fixed.border = 1;
    fixed.width = 700;
    fixed.height = 500;
    fixed.centered = true;
    fixed.shadow = true;
    fixed.print = false;
    fixed.copy = false;
    fixed.statusbar = false;
    Shown w = Look(Output("Kiosk Guide.exe", fixed), {}, "Kiosk Guide.exe");
    EXPECT_EQ(w.status, 0);
    EXPECT_EQ(w.className, "QuorvaneViewer");
    EXPECT_EQ(w.style & kCaption, kCaption);
    EXPECT_EQ(w.style & (kThickFrame | kMaximizeBox | kPopup), 0u);
    EXPECT_EQ(w.classStyle & kDropShadow, kDropShadow);
    EXPECT_EQ(w.client.Width(), 700);
    EXPECT_EQ(w.client.Height(), 500);
    EXPECT_EQ(w.rect.left, w.work.left + (w.work.Width() - w.rect.Width()) / 2);
    EXPECT_EQ(w.rect.top, w.work.top + (w.work.Height() - w.rect.Height()) / 2);
    EXPECT_TRUE(w.HasChild("ToolbarWindow32"));
    EXPECT_TRUE(w.HasChild("Shell Embedding")); // the WebBrowser control
    EXPECT_FALSE(w.HasChild("msctls_statusbar32"));
    EXPECT_EQ(w.ButtonTexts(), (std::vector<std::string>{"Back", "Forward", "Home", "Find", "Text size"}));
    ASSERT_EQ(w.buttons.size(), 5u);
    EXPECT_FALSE(w.buttons[0].enabled); // no history yet
    EXPECT_TRUE(w.buttons[2].enabled);

    // A stand-alone archive on the command line; no captions, a status bar.
    OutputSettings sizable;
    sizable.captions = false;
    WriteFile(dir_ / "site.qpf", Site(sizable));
    fs::copy_file(QV_VIEWER_EXE, dir_ / "viewer.exe");
    w = Look(dir_ / "viewer.exe", {Wine::WinPath(dir_ / "site.qpf")}, "site.qpf");
    EXPECT_EQ(w.status, 0);
    EXPECT_EQ(w.style & (kThickFrame | kMaximizeBox), kThickFrame | kMaximizeBox);
    EXPECT_EQ(w.classStyle & kDropShadow, 0u);
    EXPECT_EQ(w.client.Width(), 640);
    EXPECT_EQ(w.client.Height(), 480);
    EXPECT_TRUE(w.HasChild("msctls_statusbar32"));
    EXPECT_EQ(w.ButtonTexts(), std::vector<std::string>(7, ""));

    OutputSettings bare;
    bare.border = 0;
    bare.toolbar = false;
    bare.statusbar = false;
    bare.shadow = true;
    w = Look(Output("bare.exe", bare), {}, "bare.exe");
    EXPECT_EQ(w.style & (kPopup | kCaption | kThickFrame), kPopup);
    EXPECT_EQ(w.classStyle & kDropShadow, kDropShadow);
    EXPECT_EQ(w.children, std::vector<std::string>{"Shell Embedding"});
    EXPECT_EQ(w.rect.Width(), 640);

    OutputSettings wall;
    wall.border = 3;
    wall.shadow = true;
    w = Look(Output("wall.exe", wall), {}, "wall.exe");
    EXPECT_EQ(w.style & (kPopup | kCaption), kPopup);
    EXPECT_EQ(w.classStyle & kDropShadow, 0u);
    EXPECT_EQ(w.rect.left, 0);
    EXPECT_EQ(w.rect.top, 0);
    EXPECT_EQ(w.rect.Width(), 1280); // the X server's screen
    EXPECT_EQ(w.rect.Height(), 1024);

    // Escape leaves full screen for a sizable window of the settings' size.
    const Session s = Drive(Output("wall.exe", wall), {},
                            {"window", "wall.exe", "key", "27", "style", "80c40000", "00c40000", "info", "close",
                             "gone"});
    EXPECT_EQ(s.viewer.status, 0);
    const auto lines = Lines(s.probe.out, "window ");
    ASSERT_EQ(lines.size(), 1u);
    const Rect restored = ParseRect("0,0," + Field(lines[0], "client"));
    EXPECT_EQ(restored.Width(), 640);
    EXPECT_EQ(restored.Height(), 480);
}

TEST_F(ViewerWindow, FitsTheDisplay)
{
    // Larger than wine's virtual screen: within the work area, centred or not.
    OutputSettings huge;
    huge.border = 1;
    huge.width = 4000;
    huge.height = 3000;
    Shown w = Look(Output("huge.exe", huge), {}, "huge.exe");
    EXPECT_GE(w.rect.left, w.work.left);
    EXPECT_GE(w.rect.top, w.work.top);
    EXPECT_LE(w.rect.right, w.work.right);
    EXPECT_LE(w.rect.bottom, w.work.bottom);
    EXPECT_GT(w.rect.Width(), w.work.Width() / 2);
    huge.border = 0;
    huge.centered = true;
    w = Look(Output("huge.exe", huge), {}, "huge.exe");
    EXPECT_EQ(w.rect.left, w.work.left);
    EXPECT_EQ(w.rect.top, w.work.top);
    EXPECT_EQ(w.rect.Width(), w.work.Width());
    EXPECT_EQ(w.rect.Height(), w.work.Height());

    // At 144 dots per inch (150 %) the settings' 640 x 480 are 960 x 720.
    const std::string desktop = "HKCU\\Control Panel\\Desktop";
    ASSERT_EQ(TestWine().Run("reg", {"add", desktop, "/v", "LogPixels", "/t", "REG_DWORD", "/d", "144", "/f"}).status,
              0);
    OutputSettings sizable;
    w = Look(Output("large print.exe", sizable), {}, "large print.exe");
    TestWine().Run("reg", {"delete", desktop, "/v", "LogPixels", "/f"});
    EXPECT_EQ(w.status, 0);
    EXPECT_EQ(w.client.Width(), 960);
    EXPECT_EQ(w.client.Height(), 720);
}

TEST_F(ViewerWindow, TheDocumentModeValueLastsOnlyWhileTheViewerRuns)
{
    const std::string key =
        "HKCU\\Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION";
    const auto value = [&key](const std::string& name) { return TestWine().Run("reg", {"query", key, "/v", name}); };
    // Asked for under the program's own name, and gone after a normal end.
    WineProcess viewer = TestWine().Start(Output("Kiosk Guide.exe", {}), {});
    EXPECT_EQ(TestWine().Run(kProbe, {"window", "Kiosk Guide.exe"}).status, 0);
    EXPECT_CONTAINS(value("Kiosk Guide.exe").out, "Kiosk Guide.exe    REG_DWORD    0x2af9");
    EXPECT_EQ(TestWine().Run(kProbe, {"window", "Kiosk Guide.exe", "close", "gone"}).status, 0);
    EXPECT_EQ(viewer.Wait().status, 0);
    EXPECT_NE(value("Kiosk Guide.exe").status, 0) << "the value stays after the viewer";

    // Another program of the same name set its own: it stays as it was.
    ASSERT_EQ(TestWine().Run("reg", {"add", key, "/v", "setup.exe", "/t", "REG_DWORD", "/d", "8000", "/f"}).status, 0);
    EXPECT_EQ(Look(Output("setup.exe", {}), {}, "setup.exe").status, 0);
    EXPECT_CONTAINS(value("setup.exe").out, "setup.exe    REG_DWORD    0x1f40");
    TestWine().Run("reg", {"delete", key, "/v", "setup.exe", "/f"});
}

TEST_F(ViewerWindow, SearchIsOfferedWhereTheOutputHasAnIndexThatMayBeSearched)
{
    Shown w = Look(Output("indexed.exe", {}, true), {}, "indexed.exe");
    EXPECT_EQ(w.status, 0);
    EXPECT_EQ(w.ButtonTexts(), (std::vector<std::string>{"Back", "Forward", "Home", "Print", "Find", "Search",
                                                         "Text size", "Copy"}));
    OutputSettings noFind;
    noFind.find = false;
    w = Look(Output("locked.exe", noFind, true), {}, "locked.exe");
    EXPECT_EQ(w.ButtonTexts(), (std::vector<std::string>{"Back", "Forward", "Home", "Print", "Text size", "Copy"}));
}

TEST_F(ViewerWindow, CtrlWAndCtrlQCloseEveryWindow)
{
    // No frame to close: the keys are the way out.
    OutputSettings bare;
    bare.border = 0;
    bare.toolbar = false;
    bare.statusbar = false;
    Session s = Drive(Output("bare.exe", bare), {}, {"window", "bare.exe", "chord", "17", "87", "gone"});
    EXPECT_EQ(s.viewer.status, 0);
    OutputSettings wall;
    wall.border = 3;
    s = Drive(Output("wall.exe", wall), {}, {"window", "wall.exe", "chord", "17", "81", "gone"});
    EXPECT_EQ(s.viewer.status, 0);
}

TEST_F(ViewerWindow, ThreeWrongPasswordsEndTheViewer)
{
    OutputSettings protectedSite;
    protectedSite.password = "open sesame";
    std::vector<std::string> steps;
    for (const char* guess : {"open", "sesame", "Open Sesame"}) {
        for (const char* step : {"window", "Password required", "children", "type", guess, "press", "1", "gone",
                                 "window", "Password required", "children", "press", "1", "gone"})
            steps.push_back(step);
    }
    const Session s = Drive(Output("guarded.exe", protectedSite), {}, steps);
    EXPECT_EQ(s.viewer.status, 1);
    EXPECT_EQ(Lines(s.probe.out, "child class=Static id=65535 text=This file is protected. Please enter the password:")
                  .size(),
              3u);
    EXPECT_EQ(Lines(s.probe.out, "child class=Edit").size(), 3u);
    EXPECT_EQ(Lines(s.probe.out, "child class=Static id=65535 text=Wrong password.").size(), 3u);
}

TEST_F(ViewerWindow, TheRightPasswordOpensTheSite)
{
    OutputSettings protectedSite;
    protectedSite.password = "open sesame";
    const Session s = Drive(Output("guarded.exe", protectedSite), {},
                            {"window", "Password required", "type", "nope", "press", "1", "gone", "window",
                             "Password required", "press", "1", "gone", "window", "Password required", "type",
                             "open sesame", "press", "1", "gone", "window", "guarded.exe", "close", "gone"});
    EXPECT_EQ(s.viewer.status, 0);
}

TEST_F(ViewerWindow, ExtractAsksForThePasswordFirst)
{
    OutputSettings protectedSite;
    protectedSite.password = "open sesame";
    const fs::path exe = Output("guarded.exe", protectedSite);
    const fs::path target = dir_ / "out";
    Session s = Drive(exe, {"--extract", Wine::WinPath(target)},
                      {"window", "Password required", "press", "2", "gone"});
    EXPECT_EQ(s.viewer.status, 1);
    EXPECT_EQ(s.viewer.err, "Nothing extracted.\n");
    EXPECT_FALSE(fs::exists(target));

    s = Drive(exe, {"--extract", Wine::WinPath(target)},
              {"window", "Password required", "type", "open sesame", "press", "1", "gone"});
    EXPECT_EQ(s.viewer.status, 0) << s.viewer.err;
    const auto page = ReadFile(target / "index.html");
    EXPECT_EQ(std::string(page.begin(), page.end()).find("<title>Welcome</title>"), 12u);
}

TEST_F(ViewerWindow, AnExpiredOutputSaysSoAndEnds)
{
    OutputSettings expired;
    expired.expiry = true;
    expired.expiryDate = 36526.0; // 1 January 2000
    const Session s = Drive(Output("old.exe", expired), {}, {"window", "Expired", "children", "press", "1", "gone"});
    EXPECT_EQ(s.viewer.status, 1);
    EXPECT_CONTAINS(s.probe.out, "text=This file has expired and can no longer be opened.");
}

TEST_F(ViewerWindow, FilesLeaveTheViewOnlyAfterAClickAndAYes)
{
    // The home page is a script DirectMask kept beside the output. Opening
    // the output is no click of the reader: it stays closed, and says so.
    const fs::path marker = dir_ / "ran.txt";
    const std::string script = "@echo off\r\necho %~dp0>> " + Wine::WinPath(marker) + "\r\n";
    WriteFile(dir_ / "run.bat", script);
    OutputSettings direct;
    direct.homePage = "run.bat";
    direct.directMask = "*.bat;";
    WineProcess directViewer = TestWine().Start(Output("direct.exe", direct), {});
    // A click on Home asks first; "No" leaves it closed, "Yes" runs it.
    const WineRun asked = TestWine().Run(
        kProbe, {"window", "direct.exe", "status", "1", "Not opened without a click: run.bat", "press", "103",
                 "window", "Quorvane Viewer", "children", "press", "7", "gone", "window", "direct.exe", "press",
                 "103", "window", "Quorvane Viewer", "press", "6", "gone"});
    EXPECT_EQ(asked.status, 0) << asked.out;
    EXPECT_CONTAINS(asked.out, "text=Open \"run.bat\" with ");
    EXPECT_CONTAINS(asked.out, "The file lies in the folder of the file you are viewing.");
    EXPECT_EQ(LineWrittenTo(marker, 60), Wine::WinPath(dir_.path()) + "\\\r\n");
    EXPECT_EQ(TestWine().Run(kProbe, {"noprocess", "cmd.exe", "window", "direct.exe", "close", "gone"}).status, 0);
    EXPECT_EQ(directViewer.Wait().status, 0);
    EXPECT_EQ(ReadFile(marker).size(), Wine::WinPath(dir_.path()).size() + 3) << "it ran more than once";

    // A packed document goes to its program as a temporary copy, after the
    // same question, and the copy goes when the viewer ends.
    const WineRun temp = TestWine().Run("cmd", {"/c", "echo", "%TEMP%"});
    const fs::path tempFolder = TestWine().UnixPath(temp.out.substr(0, temp.out.find_first_of("\r\n")));
    // Copies an earlier run left behind are no concern of this one.
    const auto copies = [&tempFolder](const std::vector<fs::path>& known = {}) {
        std::vector<fs::path> found;
        std::error_code error; // other programs' files may come and go meanwhile
        for (fs::recursive_directory_iterator it(tempFolder, fs::directory_options::skip_permission_denied, error), end;
             !error && it != end; it.increment(error))
            if (it->path().filename() == "notes.ini" && std::find(known.begin(), known.end(), it->path()) == known.end())
                found.push_back(it->path());
        return found;
    };
    const std::vector<fs::path> earlier = copies();
    ArchiveComposer c;
    const std::string notes = "[notes]\r\nread=me\r\n";
    c.Add("docs\\notes.ini", std::vector<uint8_t>(notes.begin(), notes.end()));
    OutputSettings packed;
    packed.homePage = "docs\\notes.ini";
    c.Add("-config-", packed.Image());
    WriteFile(dir_ / "packed.exe", ViewerWith(c.Build()));
    WineProcess packedViewer = TestWine().Start(dir_ / "packed.exe", {});
    const WineRun opened = TestWine().Run(
        kProbe, {"window", "packed.exe", "status", "1", "Not opened without a click: docs/notes.ini", "press", "103",
                 "window", "Quorvane Viewer", "children", "press", "6", "gone", "window", "notes.ini - Notepad"});
    EXPECT_EQ(opened.status, 0) << opened.out;
    EXPECT_CONTAINS(opened.out, "text=Open \"notes.ini\" with ");
    EXPECT_CONTAINS(opened.out, "The file is packed in the file you are viewing.");
    const auto copy = copies(earlier);
    ASSERT_EQ(copy.size(), 1u);
    EXPECT_EQ(ReadFile(copy[0]), std::vector<uint8_t>(notes.begin(), notes.end()));
    EXPECT_EQ(TestWine().Run(kProbe, {"window", "notes.ini - Notepad", "close", "gone", "noprocess", "notepad.exe",
                                      "window", "packed.exe", "close", "gone"})
                  .status,
              0);
    EXPECT_EQ(packedViewer.Wait().status, 0);
    EXPECT_FALSE(fs::exists(copy[0].parent_path().parent_path())) << "the viewer's temporary folder stays";

    // A packed script never leaves, click or not: the view says why.
    ArchiveComposer p;
    p.Add("tools\\pack.bat", std::vector<uint8_t>(script.begin(), script.end()));
    OutputSettings program;
    program.homePage = "tools\\pack.bat";
    p.Add("-config-", program.Image());
    WriteFile(dir_ / "program.exe", ViewerWith(p.Build()));
    const Session s = Drive(dir_ / "program.exe", {},
                            {"window", "program.exe", "status", "1",
                             "\"tools/pack.bat\" is a program or a script: it stays closed.", "close", "gone"});
    EXPECT_EQ(s.viewer.status, 0);
}

} // namespace
