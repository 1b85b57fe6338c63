#include "ArchiveComposer.h"
#include "ExeTools.h"
#include "HostileArchives.h"
#include "TestSupport.h"

#include "quorvane/project/NewProject.h"
#include "quorvane/project/ProjectFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using qvtest::Quoted;

namespace {

struct RunResult {
    int status;
    std::string out, err;
};

// Runs quorvanec with `args` in `folder`, capturing both streams.
RunResult Quorvanec(const std::string& args, const fs::path& folder)
{
    const fs::path err = folder / ".stderr";
    int status = 0;
    const std::string out = qvtest::Capture("cd " + Quoted(folder) + " && " + Quoted(QV_QUORVANEC) + " " + args +
                                                " 2>" + Quoted(err),
                                            &status);
    const auto e = qvtest::ReadFile(err);
    fs::remove(err);
    return {status, out, std::string(e.begin(), e.end())};
}

class Cli : public ::testing::Test {
protected:
    qvtest::TempDir dir;
    fs::path work;

    void SetUp() override
    {
        // A copy of the bundled sample, so outputs land in the temporary folder.
        work = dir / "examples";
        fs::copy(fs::path(QV_SOURCE_DIR) / "examples", work, fs::copy_options::recursive);
        fs::create_directories(dir / "build/sample");
    }
    fs::path Output(const std::string& ext) const { return dir / "build/sample" / ("northwind." + ext); }
};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Whether a build left its own scratch folder in `folder`.
bool LeftScratch(const fs::path& folder)
{
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().filename().string().rfind(".quorvane-", 0) == 0)
            return true;
    return false;
}

} // namespace

TEST_F(Cli, BuildsTheSampleToAVerifiedQpfAndExe)
{
    for (const char* kind : {"qpf", "exe"}) {
        const RunResult r = Quorvanec(std::string("build sample-") + kind + ".qp", work);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(Contains(r.out, "Output: " + fs::weakly_canonical(Output(kind)).string())) << r.out;
        EXPECT_TRUE(Contains(r.out, "Processing time: ")) << r.out;
        EXPECT_TRUE(fs::exists(Output(kind)));
        EXPECT_FALSE(LeftScratch(dir / "build/sample"));
        const auto size = fs::file_size(Output(kind));
        EXPECT_TRUE(Contains(r.out, " (" + std::to_string(size) + " bytes)\nProcessing")) << r.out;
        const RunResult v = Quorvanec("verify " + Quoted(Output(kind)), work);
        EXPECT_EQ(v.status, 0) << v.err;
    }
    const RunResult list = Quorvanec("list " + Quoted(Output("qpf")), work);
    ASSERT_EQ(list.status, 0);
    for (const char* name : {"index.html", "css\\site.css", "images\\logo.png", "pages\\routes.html", "-config-", "-logo-"})
        EXPECT_TRUE(Contains(list.out, name)) << name << "\n" << list.out;
    EXPECT_FALSE(Contains(list.out, "manual.pdf")); // the direct mask keeps it out
    EXPECT_FALSE(Contains(list.out, ".notes"));

    // Extracting gives back every packed file byte for byte.
    const RunResult x = Quorvanec("extract " + Quoted(Output("exe")) + " " + Quoted(dir / "x"), work);
    ASSERT_EQ(x.status, 0) << x.err;
    for (const char* rel : {"index.html", "css/site.css", "images/banner.png", "pages/gear.html"})
        EXPECT_EQ(qvtest::ReadFile(dir / "x" / rel), qvtest::ReadFile(work / "sample-site" / rel)) << rel;

    const RunResult c = Quorvanec("config " + Quoted(Output("exe")), work);
    ASSERT_EQ(c.status, 0);
    EXPECT_TRUE(Contains(c.out, "HomePage = index.html\n"));
    EXPECT_TRUE(Contains(c.out, "OutputIsExe = 1\n"));
    EXPECT_TRUE(Contains(c.out, "DirectMask = *.exe;*.pdf;\n"));
    EXPECT_TRUE(Contains(c.out, "VersionStamp = 4.30\n"));

    const RunResult res = Quorvanec("resources " + Quoted(Output("exe")), work);
    ASSERT_EQ(res.status, 0);
    EXPECT_TRUE(Contains(res.out, "MAINICON")) << res.out;
}

TEST_F(Cli, TheExeOutputListsItsOwnArchiveUnderWine)
{
    if (!qvtest::TestWine().Available() || !fs::exists(fs::path(QV_QUORVANEC).parent_path() / "viewer.exe"))
        GTEST_SKIP() << "wine or viewer.exe is missing";
    ASSERT_EQ(Quorvanec("build sample-exe.qp", work).status, 0);
    const qvtest::WineRun run = qvtest::TestWine().Run(Output("exe"), {"--list"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    for (const char* name : {"index.html", "css\\site.css", "pages\\about.html", "-config-", "-logo-"})
        EXPECT_TRUE(Contains(run.out, name)) << name << "\n" << run.out << run.err;
}

TEST_F(Cli, ExitStatuses)
{
    EXPECT_EQ(Quorvanec("", work).status, 2);
    EXPECT_EQ(Quorvanec("build", work).status, 2);
    EXPECT_EQ(Quorvanec("frobnicate x", work).status, 2);
    const RunResult missing = Quorvanec("build missing.qp", work);
    EXPECT_EQ(missing.status, 2);
    EXPECT_TRUE(Contains(missing.err, "missing.qp")) << missing.err;

    qvtest::WriteFile(work / "broken.qp", std::string("<QVProject><homepage path=\"x\"/></QVProject>"));
    const RunResult broken = Quorvanec("/COMPILE broken.qp", work);
    EXPECT_EQ(broken.status, 2);
    EXPECT_TRUE(Contains(broken.err, "Could not load project: broken.qp\nIncompatible project version.")) << broken.err;

    // A build that fails: the output folder does not exist.
    fs::remove_all(dir / "build/sample");
    const RunResult failed = Quorvanec("build sample-qpf.qp", work);
    EXPECT_EQ(failed.status, 1);
    EXPECT_TRUE(Contains(failed.err, "The output folder \"")) << failed.err;
    EXPECT_TRUE(Contains(failed.err, "/build/sample/\" does not exist.")) << failed.err;

    const RunResult version = Quorvanec("--version", work);
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(Contains(version.out, "4.5.0.0"));
    EXPECT_EQ(Quorvanec("verify " + Quoted(work / "sample-exe.qp"), work).status, 1);
}

TEST_F(Cli, VerifyCatchesADamagedOutput)
{
    ASSERT_EQ(Quorvanec("build sample-qpf.qp", work).status, 0);
    auto bytes = qvtest::ReadFile(Output("qpf"));
    bytes[100] ^= 0x55;
    qvtest::WriteFile(Output("qpf"), bytes);
    const RunResult v = Quorvanec("verify " + Quoted(Output("qpf")), work);
    EXPECT_EQ(v.status, 1);
    EXPECT_FALSE(v.err.empty());
}

TEST_F(Cli, FilesExplainsWhatIsPackedAndWhy)
{
    const RunResult r = Quorvanec("files sample-exe.qp", work);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "index.html")) << r.out;
    EXPECT_TRUE(Contains(r.out, "[*.*]"));
    EXPECT_TRUE(Contains(r.out, "downloads/manual.pdf")) << r.out;
    EXPECT_TRUE(Contains(r.out, "direct mask *.pdf"));
    EXPECT_TRUE(Contains(r.out, "name begins with \".\""));
    // The dry run lists the files in the order the build packs them.
    const size_t index = r.out.find("index.html"), css = r.out.find("css/site.css");
    EXPECT_LT(index, css);
}

TEST_F(Cli, NewWritesAProjectThatBuilds)
{
    qvtest::WriteFile(dir / "site/home.htm", std::string("<p>hi</p>"));
    qvtest::WriteFile(dir / "site/a.css", std::string("p{}"));
    const RunResult n = Quorvanec("new --home " + Quoted(dir / "site/home.htm") + " --qpf --width 1024 --disable toolbar,copy " +
                                Quoted(dir / "p.qp"),
                            work);
    ASSERT_EQ(n.status, 0) << n.err;
    const auto text = qvtest::ReadFile(dir / "p.qp");
    const std::string xml(text.begin(), text.end());
    EXPECT_TRUE(Contains(xml, "<output path=\"site\\home.qpf\" type=\"0\" />")) << xml;
    EXPECT_TRUE(Contains(xml, "width=\"1024\" height=\"480\""));
    EXPECT_TRUE(Contains(xml, "<toolbar enabled=\"0\""));
    EXPECT_TRUE(Contains(xml, "<copy enabled=\"0\""));
    const RunResult b = Quorvanec("build " + Quoted(dir / "p.qp"), work);
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_TRUE(fs::exists(dir / "site/home.qpf"));
    // Under a kilobyte the size is told once, in bytes.
    const auto size = fs::file_size(dir / "site/home.qpf");
    ASSERT_LT(size, 1024u);
    EXPECT_TRUE(Contains(b.out, "\nSize: " + std::to_string(size) + " Byte(s)\n")) << b.out;
    EXPECT_EQ(Quorvanec("new --home " + Quoted(dir / "site/none.htm") + " x.qp", work).status, 2);
}

TEST_F(Cli, NewThroughALinkWritesItsTarget)
{
    qvtest::WriteFile(dir / "site/index.html", std::string("<p>hi</p>"));
    qvtest::WriteFile(dir / "real/p.qp", std::string("old"));
    fs::create_symlink("real/p.qp", dir / "link.qp");
    const RunResult n = Quorvanec("new --home site/index.html --qpf link.qp", dir.path());
    ASSERT_EQ(n.status, 0) << n.err;
    EXPECT_TRUE(fs::is_symlink(dir / "link.qp"));
    const auto text = qvtest::ReadFile(dir / "real/p.qp");
    EXPECT_TRUE(Contains(std::string(text.begin(), text.end()), "<homepage path=\"site\\index.html\" />"));
}

TEST_F(Cli, NewWithoutOptionsWritesTheWizardsProposals)
{
    const fs::path home = dir / "site/home.htm";
    qvtest::WriteFile(home, std::string("<p>hi</p>"));
    ASSERT_EQ(Quorvanec("new --home " + Quoted(home) + " " + Quoted(dir / "new.qp"), work).status, 0);
    std::string failure;
    ASSERT_TRUE(qv::SaveProject((dir / "wizard.qp").string(), qv::WizardProposals({}, home.string(), qv::Today()),
                                [&](const std::string& m) { failure = m; }))
        << failure;
    qv::ProjectSettingsRecord written, proposed;
    qv::LoadProject((dir / "new.qp").string(), written);
    qv::LoadProject((dir / "wizard.qp").string(), proposed);
    EXPECT_EQ(qv::WriteSettingsImage(written), qv::WriteSettingsImage(proposed));
}

TEST_F(Cli, InterruptCancelsCleanly)
{
    // Big enough that the build is still packing when the signal comes.
    for (int i = 0; i < 60; ++i)
        qvtest::WriteFile(dir / "big" / ("f" + std::to_string(i) + ".bin"), qvtest::NoiseBytes(1 << 20, static_cast<uint32_t>(i)));
    qvtest::WriteFile(dir / "big/index.htm", std::string("<p>big</p>"));
    ASSERT_EQ(Quorvanec("new --home " + Quoted(dir / "big/index.htm") + " --qpf --compression maximum " +
                            Quoted(dir / "big.qp"),
                        work)
                  .status,
              0);
    int errPipe[2];
    ASSERT_EQ(pipe(errPipe), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(errPipe[1], 2);
        close(errPipe[0]);
        execl(QV_QUORVANEC, QV_QUORVANEC, "build", (dir / "big.qp").c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(errPipe[1]);
    // Wait for the first progress line of the packing, then interrupt.
    std::string seen;
    char c;
    while (read(errPipe[0], &c, 1) == 1) {
        seen += c;
        if (Contains(seen, "Adding: "))
            break;
    }
    kill(pid, SIGINT);
    while (read(errPipe[0], &c, 1) == 1)
        seen += c;
    close(errPipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << seen;
    EXPECT_EQ(WEXITSTATUS(status), 1) << seen;
    EXPECT_TRUE(Contains(seen, "Build cancelled")) << seen;
    EXPECT_FALSE(fs::exists(dir / "big/index.qpf"));
    EXPECT_FALSE(LeftScratch(dir / "big"));
}

TEST_F(Cli, RealSitesNobodyHereWroteComeBackByteForByte)
{
    // HTML documentation that Debian packages install.
    const std::vector<fs::path> homes = {"/usr/share/doc/pugixml-doc/manual.html"};
    int built = 0;
    for (const fs::path& home : homes) {
        if (!fs::exists(home))
            continue;
        ++built;
        const fs::path project = dir / (home.parent_path().filename().string() + ".qp");
        const fs::path out = dir / (home.parent_path().filename().string() + ".qpf");
        ASSERT_EQ(Quorvanec("new --home " + Quoted(home) + " --qpf --out " + Quoted(out) + " " + Quoted(project), work).status, 0);
        const RunResult b = Quorvanec("build --quiet " + Quoted(project), work);
        ASSERT_EQ(b.status, 0) << b.err;
        const fs::path x = dir / (home.parent_path().filename().string() + "-x");
        ASSERT_EQ(Quorvanec("extract " + Quoted(out) + " " + Quoted(x), work).status, 0);
        size_t sources = 0;
        const fs::path root = home.parent_path();
        for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::follow_directory_symlink);
             it != fs::recursive_directory_iterator(); ++it) {
            const std::string name = it->path().filename().string();
            if (name.front() == '.') {
                if (it->is_directory())
                    it.disable_recursion_pending();
                continue;
            }
            if (!it->is_regular_file() || name.ends_with(".exe") || name.ends_with(".qp") || name.ends_with(".qpf"))
                continue;
            ++sources;
            const fs::path copy = x / fs::relative(it->path(), root);
            ASSERT_TRUE(fs::exists(copy)) << copy;
            EXPECT_EQ(qvtest::ReadFile(copy), qvtest::ReadFile(it->path())) << copy;
        }
        size_t extracted = 0;
        for (const auto& e : fs::recursive_directory_iterator(x))
            extracted += e.is_regular_file();
        EXPECT_EQ(extracted, sources + 1) << home; // and "-config-"
    }
    if (built == 0)
        GTEST_SKIP() << "no packaged HTML documentation installed";
}

TEST_F(Cli, NamesThatDifferOnlyInCaseCannotShareAnArchive)
{
    // valgrind's manual holds both FAQ.html and faq.html; the archive, read
    // on a system whose names ignore case, can hold only one of them.
    const fs::path home = "/usr/share/doc/valgrind/html/index.html";
    if (!fs::exists(home.parent_path() / "FAQ.html") || !fs::exists(home.parent_path() / "faq.html"))
        GTEST_SKIP() << "valgrind's HTML manual is not installed";
    ASSERT_EQ(Quorvanec("new --home " + Quoted(home) + " --qpf --out " + Quoted(dir / "v.qpf") + " " + Quoted(dir / "v.qp"), work).status, 0);
    const RunResult b = Quorvanec("build --quiet " + Quoted(dir / "v.qp"), work);
    EXPECT_EQ(b.status, 1);
    EXPECT_TRUE(Contains(b.err, "faq.html already exists in the archive.")) << b.err;
    EXPECT_FALSE(fs::exists(dir / "v.qpf"));
    EXPECT_FALSE(LeftScratch(dir.path()));
}

TEST_F(Cli, FullDiskNamesTheFileAndTheCauseAndLeavesNothing)
{
    const fs::path small = dir / "small";
    fs::create_directories(small);
    int status = 0;
    const std::string refused = qvtest::Capture("mount -t tmpfs -o size=1m tmpfs " + Quoted(small) + " 2>&1", &status);
    if (status != 0)
        GTEST_SKIP() << "no 1 MiB tmpfs to fill (mounting needs root and a kernel that allows it): " << refused;
    struct Unmount {
        fs::path at;
        ~Unmount() { qvtest::Capture("umount " + Quoted(at) + " 2>&1"); }
    } unmount{small};

    qvtest::WriteFile(dir / "site/index.htm", std::string("<p>noise</p>"));
    const struct {
        std::string options;
        size_t noise;
        std::string failing;
    } cases[] = {
        // The entries do not fit: the QPF build stops while writing entry data.
        {"--qpf --out " + Quoted(small / "site.qpf"), 1536 * 1024, "/website.qpf"},
        // The archive fits, the viewer copy beside it does not.
        {"--out " + Quoted(small / "site.exe"), 700 * 1024, "site.exe"},
    };
    for (const auto& c : cases) {
        qvtest::WriteFile(dir / "site/noise.bin", qvtest::NoiseBytes(c.noise, 3));
        ASSERT_EQ(Quorvanec("new --home " + Quoted(dir / "site/index.htm") + " " + c.options + " p.qp", dir.path()).status,
                  0);
        const RunResult r = Quorvanec("build --quiet p.qp", dir.path());
        EXPECT_EQ(r.status, 1) << c.failing;
        // The archive is written in the build's own folder beside the output.
        const std::string start = "quorvanec: Cannot write file \"" + small.string() + "/";
        const std::string end = c.failing + "\". No space left on device.\n";
        EXPECT_EQ(r.err.substr(0, start.size()), start) << r.err;
        EXPECT_TRUE(r.err.ends_with(end)) << r.err;
        EXPECT_TRUE(fs::is_empty(small)) << c.failing;
    }
}

TEST_F(Cli, FilesListsLoopsAndSpecialFilesAsLeftOut)
{
    const fs::path site = work / "sample-site";
    fs::create_directory_symlink("..", site / "pages/up");
    fs::create_directory_symlink("pages", site / "latest");
    ASSERT_EQ(mkfifo((site / "feed.html").c_str(), 0644), 0);
    const RunResult r = Quorvanec("files sample-exe.qp", work);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "latest/routes.html ")) << r.out; // a second path to a folder is packed too
    EXPECT_TRUE(Contains(r.out, "pages/routes.html "));
    EXPECT_TRUE(Contains(r.out, "latest/up/ ")) << r.out;
    EXPECT_TRUE(Contains(r.out, "pages/up/ "));
    EXPECT_TRUE(Contains(r.out, "loop: a link back to a folder above it"));
    EXPECT_TRUE(Contains(r.out, "feed.html "));
    EXPECT_TRUE(Contains(r.out, "not a regular file (named pipe)"));
}

namespace {

// The files below `folder`, relative, each with its size.
std::map<std::string, uintmax_t> FilesBelow(const fs::path& folder)
{
    std::map<std::string, uintmax_t> files;
    if (fs::exists(folder))
        for (const auto& e : fs::recursive_directory_iterator(folder))
            if (e.is_regular_file())
                files[fs::relative(e.path(), folder).string()] = e.file_size();
    return files;
}

} // namespace

TEST_F(Cli, ExtractWritesOnlyWholeCheckedEntries)
{
    qvtest::ArchiveComposer c;
    c.Add("index.html", qvtest::TextBytes(3000, 1));
    c.Add("sub\\broken.html", qvtest::TextBytes(300000, 2));
    c.Add("last.txt", qvtest::TextBytes(10));
    c.Records[1].CRC ^= 1;
    qvtest::WriteFile(dir / "damaged.qpf", c.Build());
    const RunResult damaged = Quorvanec("extract damaged.qpf out", dir.path());
    EXPECT_EQ(damaged.status, 1);
    EXPECT_TRUE(Contains(damaged.err, "quorvanec: damaged.qpf: Archive entry \"sub\\broken.html\" is damaged: CRC mismatch"))
        << damaged.err;
    // The entry before it is whole; of the damaged one nothing, not even a temporary.
    EXPECT_EQ(FilesBelow(dir / "out"), (std::map<std::string, uintmax_t>{{"index.html", 3000}}));

    // One refused name, anywhere in the directory, and nothing is written.
    c = qvtest::ArchiveComposer();
    c.Add("index.html", qvtest::TextBytes(3000, 1));
    c.Add("..\\evil.html", qvtest::TextBytes(10));
    qvtest::WriteFile(dir / "escaping.qpf", c.Build());
    const RunResult refused = Quorvanec("extract escaping.qpf out2", dir.path());
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(Contains(refused.err,
                         "quorvanec: escaping.qpf: Refusing to extract \"..\\evil.html\": it leads out of the target folder"))
        << refused.err;
    EXPECT_FALSE(fs::exists(dir / "out2"));
    EXPECT_FALSE(fs::exists(dir / "evil.html"));
}

TEST_F(Cli, NamesAndMessagesReachTheTerminalEscaped)
{
    qvtest::ArchiveComposer c;
    c.Add("\x1b[2J\x1b]0;owned\x07.html", qvtest::TextBytes(100));
    c.Records[0].CRC ^= 1;
    qvtest::WriteFile(dir / "loud.qpf", c.Build());
    const std::string shown = "\\x1b[2J\\x1b]0;owned\\x07.html";

    const RunResult list = Quorvanec("list loud.qpf", dir.path());
    EXPECT_EQ(list.status, 0);
    EXPECT_TRUE(Contains(list.out, "  " + shown + "\n")) << list.out;
    const RunResult verify = Quorvanec("verify loud.qpf", dir.path());
    EXPECT_EQ(verify.status, 1);
    EXPECT_TRUE(Contains(verify.err, "Archive entry \"" + shown + "\" is damaged")) << verify.err;
    for (const std::string* text : {&list.out, &verify.err})
        EXPECT_EQ(text->find_first_of("\x1b\x07"), std::string::npos) << *text;

    // viewer.exe lists to a console through the same function.
    const fs::path viewer = fs::path(QV_QUORVANEC).parent_path() / "viewer.exe";
    if (!qvtest::TestWine().Available() || !fs::exists(viewer))
        GTEST_SKIP() << "wine or viewer.exe is missing";
    const qvtest::WineRun run = qvtest::TestWine().Run(viewer, {"--list", qvtest::Wine::WinPath(dir / "loud.qpf")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, shown + "\t100\t")) << run.out;
    EXPECT_EQ(run.out.find_first_of("\x1b\x07"), std::string::npos) << run.out;
}

TEST_F(Cli, HostileOutputsCostLittleAndWriteNothing)
{
    const std::pair<const char*, std::vector<uint8_t>> bombs[] = {
        {"config.qpf", qvtest::ConfigBomb()},
        {"directory.qpf", qvtest::DirectoryBomb()},
        {"shared.qpf", qvtest::SharedRunBomb()},
    };
    const std::string messages[] = {
        "Archive entry \"-config-\" holds 1073741824 bytes, not the 3896 of a settings image",
        "Archive entry \"index.html\" is recorded twice in the directory",
        "Archive entry \"b.bin\" shares its data with \"a.bin\"",
    };
    for (size_t i = 0; i < 3; ++i) {
        qvtest::WriteFile(dir / bombs[i].first, bombs[i].second);
        for (const char* command : {"list", "verify", "extract", "config"}) {
            const std::string args = std::string(command) + " " + bombs[i].first + (command[0] == 'e' ? " out" : "");
            const RunResult r = Quorvanec(args, dir.path());
            // The settings are only an entry like any other to a listing.
            const bool listed = i == 0 && command[0] == 'l';
            EXPECT_EQ(r.status, listed ? 0 : 1) << args;
            EXPECT_EQ(Contains(r.err, bombs[i].first + std::string(": ") + messages[i]), !listed) << args << r.err;
        }
        EXPECT_FALSE(fs::exists(dir / "out")) << bombs[i].first;
    }

    // viewer.exe reads through the same reader and agrees.
    const fs::path viewer = fs::path(QV_QUORVANEC).parent_path() / "viewer.exe";
    if (!qvtest::TestWine().Available() || !fs::exists(viewer))
        GTEST_SKIP() << "wine or viewer.exe is missing";
    for (size_t i = 0; i < 3; ++i) {
        const qvtest::WineRun run = qvtest::TestWine().Run(
            viewer, {"--extract", qvtest::Wine::WinPath(dir / "out"), qvtest::Wine::WinPath(dir / bombs[i].first)});
        EXPECT_EQ(run.status, 1) << bombs[i].first;
        EXPECT_TRUE(Contains(run.err, messages[i])) << run.err;
        EXPECT_FALSE(fs::exists(dir / "out")) << bombs[i].first;
    }
}
