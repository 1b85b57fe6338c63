// viewer.exe as a user meets it: run by the Windows loader (wine), with an
// archive appended that was composed here straight from the format, and its
// resources read back by icoutils.
#include "ArchiveComposer.h"
#include "ExeTools.h"
#include "TestSupport.h"
#include "ViewerOutputs.h"
#include "Wine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace qvtest;
namespace fs = std::filesystem;

namespace {

const std::string kViewer = QV_VIEWER_EXE;
const std::string kWrestool = QV_WRESTOOL;

bool Found(const std::string& tool) { return tool.find("NOTFOUND") == std::string::npos && fs::exists(tool); }

const auto WinPath = Wine::WinPath;

std::vector<uint8_t> SettingsImage(const std::string& homePage)
{
    OutputSettings settings;
    settings.homePage = homePage;
    return settings.Image();
}

// Two folders of 120 characters: longer than a plain Windows path may be.
std::string LongName()
{
    return std::string(120, 'd') + "\\" + std::string(120, 'e') + "\\long.txt";
}

ArchiveComposer Site()
{
    ArchiveComposer c;
    c.Add("index.html", TextBytes(20000, 11));
    c.Add("img\\logo.png", NoiseBytes(3000, 12));
    c.Add("sub\\caf\xE9.htm", TextBytes(500, 13)); // "café" in code page 1252
    c.Add("empty.txt", {});
    c.Add("-config-", SettingsImage("index.html"));
    c.Add(LongName(), TextBytes(50, 14));
    return c;
}

std::string Utf8Name(const ComposedRecord& r)
{
    std::string name;
    for (const char c : r.Path + r.Name) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            name += c;
        } else { // 1252 agrees with Latin-1 above 0x9F, which is all the tests use
            name += static_cast<char>(0xC0 | b >> 6);
            name += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return name;
}

std::string ExpectedListing(const ArchiveComposer& c)
{
    std::ostringstream s;
    for (const ComposedRecord& r : c.Records) {
        const int64_t stored = r.Storage == 0 ? r.CompressedSize : r.FileSize;
        s << Utf8Name(r) << '\t' << r.FileSize << '\t' << stored << '\t' << (r.Storage == 0 ? "deflated" : "stored")
          << '\n';
    }
    return s.str();
}

class ViewerUnderWine : public testing::Test {
protected:
    // A server left by an earlier test program may know another display.
    static void SetUpTestSuite() { TestWine().StopServer(); }

    void SetUp() override
    {
        QV_SKIP_UNLESS_WINE_RUNS(kViewer);
    }

    // Nothing here may open a window: wine has no display.
    static WineRun Wine(const fs::path& exe, const std::vector<std::string>& args) { return TestWine().Run(exe, args); }

    fs::path WriteExe(const std::string& name, const std::vector<uint8_t>& archive)
    {
        WriteFile(dir_ / name, ViewerWith(archive));
        return dir_ / name;
    }

    TempDir dir_;
};

TEST_F(ViewerUnderWine, ListsTheArchiveAttachedToItself)
{
    const ArchiveComposer site = Site();
    const WineRun r = Wine(WriteExe("site.exe", site.Build()), {"--list"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, ExpectedListing(site));
    EXPECT_EQ(r.err, "");
}

TEST_F(ViewerUnderWine, ExtractsByteIdenticalFilesIntoNewFolders)
{
    const ArchiveComposer site = Site();
    const fs::path target = dir_ / "out" / "deeper";
    const WineRun r = Wine(WriteExe("site.exe", site.Build()), {"--extract", WinPath(target)});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Extracted 6 entries to " + WinPath(target) + "\n");
    EXPECT_EQ(ReadFile(target / "index.html"), TextBytes(20000, 11));
    EXPECT_EQ(ReadFile(target / "img" / "logo.png"), NoiseBytes(3000, 12));
    EXPECT_EQ(ReadFile(target / "sub" / "caf\xC3\xA9.htm"), TextBytes(500, 13));
    EXPECT_TRUE(ReadFile(target / "empty.txt").empty());
    EXPECT_EQ(ReadFile(target / "-config-"), SettingsImage("index.html"));
    EXPECT_EQ(ReadFile(target / std::string(120, 'd') / std::string(120, 'e') / "long.txt"), TextBytes(50, 14));
    size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(target))
        files += e.is_regular_file();
    EXPECT_EQ(files, 6u);
}

TEST_F(ViewerUnderWine, DamagedArchivesFailWithAClearMessage)
{
    // A flipped byte in the entry data: the archive's checksum catches it.
    auto bytes = Site().Build();
    bytes[100] ^= 0x01;
    WineRun r = Wine(WriteExe("damaged.exe", bytes), {"--list"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_CONTAINS(r.err, "damaged.exe: Archive checksum mismatch");

    // A record whose CRC is wrong under a valid archive checksum: found when
    // the entry is written, and the half-trusted file is removed.
    ArchiveComposer c = Site();
    c.Records[1].CRC ^= 0x10;
    const fs::path target = dir_ / "out";
    r = Wine(WriteExe("badcrc.exe", c.Build()), {"--extract", WinPath(target)});
    EXPECT_EQ(r.status, 1);
    EXPECT_CONTAINS(r.err, "Archive entry \"img\\logo.png\" is damaged: CRC mismatch");
    EXPECT_TRUE(fs::exists(target / "index.html"));
    EXPECT_FALSE(fs::exists(target / "img" / "logo.png"));
}

TEST_F(ViewerUnderWine, ReadsAStandAloneArchiveNamedOnTheCommandLine)
{
    ArchiveComposer c = Site();
    c.RawDirectory = true;
    WriteFile(dir_ / "site.qpf", c.Build());
    const fs::path viewer = dir_ / "viewer.exe";
    fs::copy_file(kViewer, viewer);
    const WineRun r = Wine(viewer, {"--list", WinPath(dir_ / "site.qpf")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, ExpectedListing(c));
}

TEST_F(ViewerUnderWine, RefusesEntriesThatWouldLeaveTheTargetFolder)
{
    ArchiveComposer c;
    c.Add("fine.txt", TextBytes(100));
    c.Add("..\\..\\escaped.txt", TextBytes(100));
    const fs::path target = dir_ / "a" / "b";
    const WineRun r = Wine(WriteExe("evil.exe", c.Build()), {"--extract", WinPath(target)});
    EXPECT_EQ(r.status, 1);
    EXPECT_CONTAINS(r.err, "Refusing to extract \"..\\..\\escaped.txt\": it leads out of the target folder");
    // Names are judged before anything is written.
    EXPECT_FALSE(fs::exists(target));
    EXPECT_FALSE(fs::exists(dir_ / "escaped.txt"));
}

TEST_F(ViewerUnderWine, ReportsAMissingArchiveAndWrongArguments)
{
    const fs::path viewer = dir_ / "viewer.exe";
    fs::copy_file(kViewer, viewer);
    WineRun r = Wine(viewer, {"--list"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "No archive is attached to this viewer\n");

    r = Wine(viewer, {"--extract"});
    EXPECT_EQ(r.status, 1);
    EXPECT_CONTAINS(r.err, "wrong number of arguments for --extract\nusage: viewer.exe");
}

TEST_F(ViewerUnderWine, GetServesEveryEntryByItsPageAddress)
{
    ArchiveComposer c = Site();
    c.Add("Sous dossier\\Caf\xE9 cr\xE8me.html", TextBytes(700, 21)); // code page 1252
    c.Add("js\\app.js", TextBytes(300, 22)); // a script type, but the pages' own
    const fs::path exe = WriteExe("site.exe", c.Build());
    const struct {
        std::string address;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"index.html", TextBytes(20000, 11)},
        {"/", TextBytes(20000, 11)}, // the root is the home page
        {"IMG/Logo.PNG", NoiseBytes(3000, 12)},
        {"sub/caf%C3%A9.htm", TextBytes(500, 13)},
        {"Sous%20dossier/Caf%C3%A9%20cr%C3%A8me.html", TextBytes(700, 21)},
        {"img/../%69ndex.html?page=2#top", TextBytes(20000, 11)},
        {"empty.txt", {}},
        {"js/app.js", TextBytes(300, 22)},
        {std::string(120, 'd') + "/" + std::string(120, 'e') + "/long.txt", TextBytes(50, 14)},
    };
    for (const auto& expected : cases) {
        const WineRun r = Wine(exe, {"--get", expected.address});
        EXPECT_EQ(r.status, 0) << expected.address << ": " << r.err;
        EXPECT_EQ(std::vector<uint8_t>(r.out.begin(), r.out.end()), expected.bytes) << expected.address;
        EXPECT_EQ(r.err, "");
    }
}

// --get prints whatever the protocol hands over: for a part of a page (it
// binds to storage, as a picture does) a refusal is a failure, no page.
TEST_F(ViewerUnderWine, GetRefusesWhatIsNoPageOfTheSite)
{
    ArchiveComposer c = Site();
    c.Add("-logo-", NoiseBytes(300, 5));
    c.Add("tools\\Setup.MSI", NoiseBytes(400, 6));
    c.Records[1].CRC ^= 0x10; // img\logo.png, under a sound archive checksum
    const fs::path exe = WriteExe("site.exe", c.Build());
    const struct {
        std::string address;
        std::string reason;
    } cases[] = {
        {"missing.html", "No entry \"missing.html\" in site.exe"},
        {"-config-", "\"-config-\" is the viewer's own entry and is never served"},
        {"%2DLOGO-", "\"-LOGO-\" is the viewer's own entry and is never served"},
        {"setup.exe", "\"setup.exe\" is not packed: it runs from the folder beside site.exe"},
        {"img/logo.png", "Archive entry \"img\\logo.png\" is damaged: CRC mismatch"},
        {"tools/setup.msi", "\"tools/setup.msi\" is a program or a script: it is never started from site.exe"},
    };
    for (const auto& refused : cases) {
        const WineRun r = Wine(exe, {"--get", refused.address});
        EXPECT_EQ(r.status, 1) << refused.address;
        EXPECT_EQ(r.out, "") << refused.address;
        EXPECT_CONTAINS(r.err, refused.reason);
    }
}

std::vector<uint8_t> Page(const std::string& start, size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(start.begin(), start.end());
    const std::vector<uint8_t> text = TextBytes(size - start.size(), seed);
    bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
}

// Both viewers judge a name that says nothing by its first bytes; a folder
// named without its final "/" moves there, so its page's links stay in it.
TEST_F(ViewerUnderWine, PagesAreTypedByContentAndFoldersGainTheirSlash)
{
    ArchiveComposer c = Site();
    const std::vector<uint8_t> cart = Page("<?php // saved from the shop ?>\n<p>cart</p>", 900, 51);
    const std::vector<uint8_t> notes = Page("\xEF\xBB\xBF <!DOCTYPE html><title>n</title>", 700, 52);
    const std::vector<uint8_t> big = Page("<html><body>", 6u << 20, 53); // read on a worker
    const std::vector<uint8_t> folderPage = Page("<p>sub</p>", 400, 54);
    c.Add("shop\\cart.php", cart);
    c.Add("notes", notes);
    c.Add("blob", NoiseBytes(600, 55));
    c.Add("big-page", big);
    c.Add("sub\\index.html", folderPage);
    const fs::path exe = WriteExe("site.exe", c.Build());
    const struct {
        std::string address, type;
        std::vector<uint8_t> bytes;
    } typed[] = {
        {"shop/cart.php", "text/html", cart},
        {"notes", "text/html", notes},
        {"blob", "application/octet-stream", NoiseBytes(600, 55)},
        {"big-page", "text/html", big},
        {"img/logo.png", "image/png", NoiseBytes(3000, 12)},
    };
    for (const auto& expected : typed) {
        const WineRun r = Wine(exe, {"--get", "--type", expected.address});
        EXPECT_EQ(r.status, 0) << expected.address << ": " << r.err;
        EXPECT_EQ(r.err, "Type: " + expected.type + "\n") << expected.address;
        EXPECT_TRUE(std::vector<uint8_t>(r.out.begin(), r.out.end()) == expected.bytes)
            << expected.address << ": " << r.out.size() << " bytes";
    }

    for (const auto& [address, told] : {std::pair{"sub", "Redirected to qv://site/sub/\n"},
                                        std::pair{"SUB?page=2", "Redirected to qv://site/SUB/?page=2\n"},
                                        std::pair{"sub/", ""}}) {
        const WineRun r = Wine(exe, {"--get", address});
        EXPECT_EQ(r.status, 0) << address << ": " << r.err;
        EXPECT_EQ(r.err, told) << address;
        EXPECT_EQ(std::vector<uint8_t>(r.out.begin(), r.out.end()), folderPage) << address;
    }
}

// Environment variables for the runs in one scope.
class ScopedEnvironment {
public:
    void Set(const char* name, const std::string& value)
    {
        names_.push_back(name);
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment()
    {
        for (const char* name : names_)
            unsetenv(name);
    }

private:
    std::vector<const char*> names_;
};

TEST_F(ViewerUnderWine, NamesOpenInTheReadersCodePageAndInWindows1252)
{
    if (!fs::exists("/usr/share/i18n/locales/ru_RU"))
        GTEST_SKIP() << "no locale sources to make a Russian locale from (package locales)";
    ArchiveComposer c = Site();
    c.Add("Caf\xE9.html", TextBytes(400, 41));           // "Café" in 1252, the compiler's default
    c.Add("\xEA\xEE\xF4\xE5.html", TextBytes(300, 42)); // "кофе" in 1251, made on a Russian machine
    c.Add("Cafe.html", TextBytes(200, 44));             // what a look-alike conversion would open
    const fs::path exe = WriteExe("site.exe", c.Build());
    // wine takes its code page from the Unix locale: ACP 1251 for Russian.
    const fs::path locales = dir_ / "locales";
    fs::create_directories(locales);
    ASSERT_EQ(std::system(("localedef -i ru_RU -f UTF-8 '" + (locales / "ru_RU.UTF-8").string() + "'").c_str()), 0);
    ScopedEnvironment russian;
    russian.Set("LOCPATH", locales.string());
    russian.Set("LC_ALL", "ru_RU.UTF-8");
    for (const auto& [address, bytes] : {std::pair{"Caf%C3%A9.html", TextBytes(400, 41)},
                                         std::pair{"%D0%BA%D0%BE%D1%84%D0%B5.html", TextBytes(300, 42)},
                                         std::pair{"sub/CAF%C3%A9.htm", TextBytes(500, 13)}}) {
        const WineRun r = Wine(exe, {"--get", address});
        EXPECT_EQ(r.status, 0) << address << ": " << r.err;
        EXPECT_EQ(std::vector<uint8_t>(r.out.begin(), r.out.end()), bytes) << address;
    }
}

TEST_F(ViewerUnderWine, OtherServersAreNeverTheArchive)
{
    ArchiveComposer c = Site();
    c.Add("cdn.example.com\\x.js", TextBytes(100, 43)); // what "//cdn.example.com/x.js" must not reach
    const fs::path exe = WriteExe("site.exe", c.Build());
    WineRun r = Wine(exe, {"--get", "//cdn.example.com/x.js"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Refused: https://cdn.example.com/x.js is on the internet, which pages reach only when the "
                     "reader allows it\n");
    r = Wine(exe, {"--get", "qv://cdn.example.com/x.js"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_CONTAINS(r.err, "Not a page address: qv://cdn.example.com/x.js");

    // Pages are no more secure than the file they came in.
    r = Wine(exe, {"--query", "index.html"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "secure: no\nsafe: no\ncan navigate: yes\n");
}

TEST_F(ViewerUnderWine, LargeEntriesComeWholeOrByRanges)
{
    const std::vector<uint8_t> video = TextBytes(40u << 20, 44);
    ArchiveComposer c = Site();
    c.Add("media\\big.mp4", video);
    c.Add("media\\damaged.bin", TextBytes(5u << 20, 45)).CRC ^= 1;
    const fs::path exe = WriteExe("site.exe", c.Build());
    const WineRun temp = TestWine().Run("cmd", {"/c", "echo", "%TEMP%"});
    const fs::path tempFolder = TestWine().UnixPath(temp.out.substr(0, temp.out.find_first_of("\r\n")));
    auto copies = [&] {
        size_t n = 0;
        for (const auto& e : fs::directory_iterator(tempFolder))
            n += e.path().filename().string().rfind("QVV", 0) == 0;
        return n;
    };
    const size_t copiesBefore = copies();

    WineRun r = Wine(exe, {"--get", "media/big.mp4"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.size() == video.size() && std::equal(video.begin(), video.end(), r.out.begin()))
        << r.out.size() << " bytes";
    EXPECT_EQ(copies(), copiesBefore); // the copy a video gets goes with the viewer

    const struct {
        std::string range;
        size_t first, count;
    } ranges[] = {
        {"12345678-12399999", 12345678, 12399999 - 12345678 + 1},
        {"41900000-", 41900000, video.size() - 41900000},
        {"-1000", video.size() - 1000, 1000},
    };
    for (const auto& range : ranges) {
        r = Wine(exe, {"--get", "--range", range.range, "media/big.mp4"});
        EXPECT_EQ(r.status, 0) << range.range << ": " << r.err;
        EXPECT_TRUE(r.out.size() == range.count &&
                    std::equal(r.out.begin(), r.out.end(), video.begin() + static_cast<ptrdiff_t>(range.first)))
            << range.range << ": " << r.out.size() << " bytes";
    }
    r = Wine(exe, {"--get", "--range", "10-19", "index.html"});
    EXPECT_EQ(r.out, std::string(reinterpret_cast<const char*>(TextBytes(20000, 11).data()) + 10, 10));

    // A large entry is checked whole before its first byte goes out.
    r = Wine(exe, {"--get", "media/damaged.bin"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_CONTAINS(r.err, "Cannot read qv://site/media/damaged.bin");
}

// A listener of the test's own: whether anyone knocked by the time it asks.
class LoopbackListener {
public:
    LoopbackListener()
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&address), size) == 0 && listen(fd_, 8) == 0 &&
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) == 0)
            port_ = ntohs(address.sin_port);
    }
    ~LoopbackListener() { close(fd_); }
    int Port() const { return port_; }
    // A connection waits in the backlog until accepted, so after the
    // program ended this needs no waiting.
    bool Knocked() const
    {
        pollfd p = {fd_, POLLIN, 0};
        return poll(&p, 1, 0) == 1;
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

TEST_F(ViewerUnderWine, PagesReachNoOtherServer)
{
    LoopbackListener listener;
    ASSERT_NE(listener.Port(), 0);
    const fs::path exe = WriteExe("site.exe", Site().Build());
    const std::string port = std::to_string(listener.Port());
    const std::string local = " is on this computer or its network, which pages never reach";
    const std::string internet = " is on the internet, which pages reach only when the reader allows it";
    const struct {
        std::string url;
        std::string reason;
    } cases[] = {
        {"http://127.0.0.1:" + port + "/", local},
        {"http://localhost:" + port + "/x.json", local},
        {"https://0x7f.1:" + port + "/", local},
        {"http://[::ffff:127.0.0.1]:" + port + "/", local},
        {"http://192.168.1.1/admin", local},
        {"https://example.com/tracker.png", internet},
    };
    for (const auto& refused : cases) {
        const WineRun r = Wine(exe, {"--get", refused.url});
        EXPECT_EQ(r.status, 1) << refused.url << ": " << r.err;
        EXPECT_EQ(r.out, "") << refused.url;
        EXPECT_CONTAINS(r.err, "Refused: ");
        EXPECT_CONTAINS(r.err, refused.reason);
    }
    EXPECT_FALSE(listener.Knocked());
}

// sha256sum's digest of `file`, read independently of the viewer.
std::string Sha256Of(const fs::path& file)
{
    std::string digest;
    if (FILE* pipe = popen(("sha256sum '" + file.string() + "'").c_str(), "r")) {
        char line[256] = {};
        if (fgets(line, sizeof line, pipe))
            digest.assign(line, std::min<size_t>(64, std::strlen(line)));
        pclose(pipe);
    }
    return digest;
}

TEST_F(ViewerUnderWine, AlwaysForThisFileOpensTheInternetOnlyToThatFile)
{
    // The reader's list, as the window's "Always for this file" writes it.
    const WineRun appData = TestWine().Run("cmd", {"/c", "echo", "%APPDATA%"});
    const fs::path list =
        TestWine().UnixPath(appData.out.substr(0, appData.out.find_first_of("\r\n")) + "\\Quorvane\\internet-allowed.txt");
    struct Forget {
        fs::path file;
        ~Forget() { fs::remove(file); } // the prefix is shared with other tests
    } forget{list};
    ArchiveComposer allowed = Site();
    allowed.Add("allowed.txt", TextBytes(10, 31));
    const fs::path exe = WriteExe("allowed.exe", allowed.Build());
    const fs::path other = WriteExe("other.exe", Site().Build());
    fs::create_directories(list.parent_path());
    WriteFile(list, "0000000000000000000000000000000000000000000000000000000000000000\r\n" + Sha256Of(exe) + "\r\n");

    // Past the guard, the request meets the network (here: no such name).
    WineRun r = Wine(exe, {"--get", "https://allowed.invalid/a.png"});
    EXPECT_EQ(r.status, 1);
    EXPECT_CONTAINS(r.err, "Cannot read https://allowed.invalid/a.png");
    EXPECT_EQ(r.err.find("Refused"), std::string::npos) << r.err;
    LoopbackListener listener;
    r = Wine(exe, {"--get", "http://127.0.0.1:" + std::to_string(listener.Port()) + "/"});
    EXPECT_CONTAINS(r.err, "is on this computer or its network, which pages never reach");
    EXPECT_FALSE(listener.Knocked());
    r = Wine(other, {"--get", "https://allowed.invalid/a.png"});
    EXPECT_CONTAINS(r.err, "is on the internet, which pages reach only when the reader allows it");
}

// Resources as icoutils reads them from the file.
class ViewerResources : public testing::Test {
protected:
    void SetUp() override
    {
        if (!Found(kWrestool))
            GTEST_SKIP() << "wrestool (icoutils) is not installed";
        if (!fs::exists(kViewer))
            GTEST_SKIP() << "viewer.exe was not built (no mingw-w64 cross compiler)";
    }

    std::string Tool(const std::string& args)
    {
        int status = -1;
        std::string out = Capture(Quoted(kWrestool) + " " + args + " " + Quoted(kViewer), &status);
        EXPECT_EQ(status, 0) << args;
        return out;
    }
    std::vector<uint8_t> Raw(const std::string& type, const std::string& name)
    {
        const std::string out = Tool("-x --raw --type=" + type + " --name=" + name);
        return {out.begin(), out.end()};
    }
};

uint32_t Le(const std::vector<uint8_t>& b, size_t at, int width)
{
    uint32_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = v << 8 | b.at(at + static_cast<size_t>(i));
    return v;
}

std::string Utf16(const std::string& ascii)
{
    std::string s;
    for (const char c : ascii) {
        s += c;
        s += '\0';
    }
    return s;
}

// In a version resource a key is UTF-16 text with a terminator; its value
// follows at the next 4-byte boundary.
size_t ValueAfterKey(const std::string& resource, const std::string& key)
{
    const std::string k = Utf16(key) + std::string(2, '\0');
    const size_t at = resource.find(k);
    if (at == std::string::npos)
        return resource.size();
    return (at + k.size() + 3) & ~size_t(3);
}

std::string StringValue(const std::string& resource, const std::string& key)
{
    std::string value;
    for (size_t i = ValueAfterKey(resource, key); i + 1 < resource.size() && resource[i] != '\0'; i += 2)
        value += resource[i];
    return value;
}

TEST_F(ViewerResources, IconGroupHoldsThreeBitmapsAndAPng)
{
    const std::string list = Tool("-l");
    EXPECT_CONTAINS(list, "--type=14 --name='MAINICON' --language=0");
    const auto group = Raw("14", "MAINICON");
    ASSERT_GE(group.size(), 6u + 4 * 14);
    EXPECT_EQ(Le(group, 2, 2), 1u); // icons
    ASSERT_EQ(Le(group, 4, 2), 4u);
    const int sizes[] = {16, 32, 48, 256};
    for (size_t i = 0; i < 4; ++i) {
        const size_t e = 6 + 14 * i;
        EXPECT_EQ(group[e], sizes[i] % 256);
        EXPECT_EQ(group[e + 1], sizes[i] % 256);
        EXPECT_EQ(Le(group, e + 4, 2), 1u);
        EXPECT_EQ(Le(group, e + 6, 2), 32u);
        const auto image = Raw("3", std::to_string(Le(group, e + 12, 2)));
        EXPECT_EQ(image.size(), Le(group, e + 8, 4));
        if (sizes[i] == 256) {
            const std::vector<uint8_t> signature = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
            ASSERT_GE(image.size(), 24u);
            EXPECT_TRUE(std::equal(signature.begin(), signature.end(), image.begin()));
            EXPECT_EQ(std::string(image.begin() + 12, image.begin() + 16), "IHDR");
            EXPECT_EQ(image[18] << 8 | image[19], 256); // width, big-endian
            EXPECT_EQ(image[22] << 8 | image[23], 256);
        } else {
            EXPECT_EQ(Le(image, 0, 4), 40u);
            EXPECT_EQ(Le(image, 4, 4), uint32_t(sizes[i]));
            EXPECT_EQ(Le(image, 8, 4), uint32_t(sizes[i] * 2));
            EXPECT_EQ(Le(image, 14, 2), 32u);
        }
    }
}

TEST_F(ViewerResources, VersionAndManifest)
{
    const std::string list = Tool("-l");
    EXPECT_CONTAINS(list, "--type=16 --name=1");
    EXPECT_CONTAINS(list, "--type=24 --name=1");

    const auto version = Raw("16", "1");
    const std::string v(version.begin(), version.end());
    const size_t fixed = v.find(std::string("\xBD\x04\xEF\xFE", 4));
    ASSERT_NE(fixed, std::string::npos);
    EXPECT_EQ(Le(version, fixed + 8, 4), (4u << 16) | 5u); // file version 4.5
    EXPECT_EQ(Le(version, fixed + 12, 4), 0u);             // .0.0
    EXPECT_EQ(Le(version, fixed + 16, 4), (4u << 16) | 5u); // product version 4.5
    EXPECT_EQ(Le(version, fixed + 20, 4), 0u);
    EXPECT_CONTAINS(v, Utf16("040904E4") + std::string(2, '\0'));
    EXPECT_EQ(StringValue(v, "FileDescription"), "Quorvane Viewer");
    EXPECT_EQ(StringValue(v, "FileVersion"), "4.5.0.0");
    EXPECT_EQ(StringValue(v, "ProductVersion"), "4.5.0.0");
    EXPECT_NE(StringValue(v, "CompanyName"), "");
    const size_t translation = ValueAfterKey(v, "Translation");
    EXPECT_EQ(Le(version, translation, 2), 0x0409u);
    EXPECT_EQ(Le(version, translation + 2, 2), 1252u);

    const auto manifest = Raw("24", "1");
    const std::string m(manifest.begin(), manifest.end());
    EXPECT_CONTAINS(m, "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"");
    EXPECT_CONTAINS(m, "<requestedExecutionLevel level=\"asInvoker\"");
}

} // namespace
