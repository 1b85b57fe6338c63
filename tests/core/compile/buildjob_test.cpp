#include "TestSupport.h"
#include "quorvane/archive/ArchiveFile.h"
#include "quorvane/compile/BuildJob.h"
#include "quorvane/base/Error.h"
#include "quorvane/project/ProjectSettings.h"
#include "quorvane/base/SizeText.h"
#include "quorvane/platform/FileFaults.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <new>
#include <sys/stat.h>

using namespace qv;
using qvtest::TempDir;
using qvtest::WriteFile;
namespace stdfs = std::filesystem;

namespace {

struct Update {
    std::string size, status;
    int32_t file, overall;
};

// The user-interface side of a test build: records every hand-over and can
// cancel at a chosen one, as a user pressing Cancel would.
class RecordingView final : public BuildView {
public:
    std::vector<Update> updates;
    std::vector<std::string> errors;
    std::function<void(size_t)> onUpdate;

    void UpdateProgressView(const std::string& size, const std::string& status, int32_t file, int32_t overall) override
    {
        updates.push_back({size, status, file, overall});
        if (onUpdate)
            onUpdate(updates.size());
    }
    void ShowErrorBox(const std::string& text) override { errors.push_back(text); }
};

struct Result {
    int32_t returnValue;
    RecordingView view;
    ProjectSettingsRecord jobSettings;
};

class Build : public ::testing::Test {
protected:
    TempDir dir;
    BuildState state;

    std::string Site() const { return dir.path().string() + "/site/"; }
    std::string Out() const { return dir.path().string() + "/out/"; }

    void SetUp() override
    {
        stdfs::create_directories(Out());
        stdfs::create_directories(dir / "program");
        state.ProgramFolder = (dir / "program").string() + "/";
    }

    void Page(const std::string& rel, size_t size = 3000, uint32_t seed = 1)
    {
        WriteFile(Site() + rel, qvtest::TextBytes(size, seed));
    }

    ProjectSettingsRecord Project(bool exe = false)
    {
        ProjectSettingsRecord s;
        s.HomePage = Site() + "index.htm";
        s.OutputIsExe = exe;
        s.OutputPath = Out() + (exe ? "site.exe" : "site.qpf");
        return s;
    }

    // Runs a whole build with this thread as the user-interface thread.
    Result Run(const ProjectSettingsRecord& s, std::function<void(size_t, BuildJob&)> onUpdate = nullptr)
    {
        Result r{0, {}, {}};
        QueueDispatcher dispatcher;
        BuildJob job(s, state, dispatcher, r.view);
        if (onUpdate)
            r.view.onUpdate = [&](size_t n) { onUpdate(n, job); };
        bool ended = false;
        job.OnTerminate = [&](BuildJob&) { ended = true; };
        job.Start();
        dispatcher.Serve([&] { return ended; });
        job.WaitFor();
        r.returnValue = job.ReturnValue;
        r.jobSettings = job.Settings();
        return r;
    }

    // What the output folder holds, sorted: a build leaves nothing of its own
    // there but the output.
    std::vector<std::string> OutFolder() const
    {
        std::vector<std::string> names;
        for (const auto& e : stdfs::directory_iterator(Out()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::vector<std::string> Names(const std::string& file)
    {
        ArchiveFile archive(file);
        std::vector<std::string> names;
        for (size_t i = 0; i < archive.Reader().Count(); ++i)
            names.push_back(archive.Name(i));
        return names;
    }
};

using NameList = std::vector<std::string>;

} // namespace

TEST_F(Build, QpfHoldsEveryFileByteForByte)
{
    Page("index.htm", 5000, 1);
    Page("b.css", 800, 2);
    Page("img/a.png", 70000, 3);
    WriteFile(Site() + "img/noise.bin", qvtest::NoiseBytes(90000, 4));
    Page("sub/deep/page.html", 1200, 5);
    WriteFile(Site() + "empty.txt", std::string());
    const ProjectSettingsRecord project = Project();
    const Result r = Run(project);
    ASSERT_EQ(r.returnValue, 1) << (r.view.errors.empty() ? "" : r.view.errors[0]);
    EXPECT_TRUE(r.view.errors.empty());
    EXPECT_EQ(OutFolder(), NameList{"site.qpf"});

    ArchiveFile archive(Out() + "site.qpf");
    EXPECT_EQ(archive.Reader().ArchiveStart(), 0);
    EXPECT_EQ(Names(Out() + "site.qpf"), (NameList{"b.css", "empty.txt", "index.htm", "img\\a.png", "img\\noise.bin",
                                                 "sub\\deep\\page.html", "-config-"}));
    for (size_t i = 0; i + 1 < archive.Reader().Count(); ++i) {
        std::string rel = archive.Name(i);
        std::replace(rel.begin(), rel.end(), '\\', '/');
        EXPECT_EQ(archive.Reader().Extract(i), qvtest::ReadFile(Site() + rel)) << rel;
    }
    // The settings image is the job's copy: bare home page, normalised masks, stamp.
    ProjectSettingsRecord expected = project;
    expected.HomePage = "index.htm";
    expected.IncludeMask = "*.*;";
    expected.DirectMask = "*.exe;";
    expected.StampVersion();
    const auto image = WriteSettingsImage(expected);
    EXPECT_EQ(archive.Reader().Extract(archive.Reader().Count() - 1),
              std::vector<uint8_t>(image.begin(), image.end()));
    EXPECT_EQ(archive.Reader().Entry(4).Storage, 1); // noise stays stored
    EXPECT_EQ(r.view.updates.back().size, SizeText(static_cast<int64_t>(stdfs::file_size(Out() + "site.qpf"))));
}

TEST_F(Build, TwoBuildsGiveIdenticalBytes)
{
    for (int i = 0; i < 30; ++i)
        Page("f" + std::to_string(i % 7) + "/p" + std::to_string(i) + ".htm", 500 + 37 * static_cast<size_t>(i), static_cast<uint32_t>(i));
    Page("index.htm");
    ASSERT_EQ(Run(Project()).returnValue, 1);
    const auto first = qvtest::ReadFile(Out() + "site.qpf");
    ASSERT_EQ(Run(Project()).returnValue, 1);
    EXPECT_EQ(qvtest::ReadFile(Out() + "site.qpf"), first);
}

TEST_F(Build, OverallProgressAfterEachOfEightFiles)
{
    for (int i = 0; i < 7; ++i)
        Page("p" + std::to_string(i) + ".htm", 100);
    Page("index.htm", 100);
    const Result r = Run(Project());
    ASSERT_EQ(r.returnValue, 1);
    // Each small file reports once after it was added; the value shown is
    // the one computed after the previous file.
    std::vector<int32_t> overall;
    for (const Update& u : r.view.updates)
        overall.push_back(u.overall);
    std::vector<int32_t> afterFiles;
    for (size_t i = 0; i + 1 < overall.size(); ++i)
        afterFiles.push_back(overall[i]);
    const std::vector<int32_t> want = {12, 25, 38, 50, 62, 75, 88, 100};
    std::vector<int32_t> seen;
    for (int32_t v : overall)
        if (std::find(want.begin(), want.end(), v) != want.end() && std::find(seen.begin(), seen.end(), v) == seen.end())
            seen.push_back(v);
    EXPECT_EQ(seen, want);
    EXPECT_EQ(r.view.updates.front().status, ""); // the archive's reset event
    EXPECT_EQ(r.view.updates.front().size, "0 Byte(s)");
}

TEST_F(Build, EmptyIncludeMaskPacksOnlyTheSettings)
{
    Page("index.htm");
    ProjectSettingsRecord s = Project();
    s.IncludeMask = "";
    const Result r = Run(s);
    ASSERT_EQ(r.returnValue, 1);
    EXPECT_EQ(Names(Out() + "site.qpf"), NameList{"-config-"});
}

TEST_F(Build, MissingLogoGivesNoLogoEntryAndEmptyPath)
{
    Page("index.htm");
    ProjectSettingsRecord s = Project();
    s.LogoPath = Site() + "missing.ico";
    const Result r = Run(s);
    ASSERT_EQ(r.returnValue, 1);
    EXPECT_EQ(Names(Out() + "site.qpf"), (NameList{"index.htm", "-config-"}));
    ArchiveFile archive(Out() + "site.qpf");
    const auto image = archive.Reader().Extract(1);
    EXPECT_EQ(image[528], 0);
}

TEST_F(Build, LogoIsPackedUnchanged)
{
    Page("index.htm");
    WriteFile(dir / "art/app.ico", qvtest::NoiseBytes(777, 9));
    ProjectSettingsRecord s = Project();
    s.LogoPath = (dir / "art/app.ico").string();
    ASSERT_EQ(Run(s).returnValue, 1);
    ArchiveFile archive(Out() + "site.qpf");
    EXPECT_EQ(Names(Out() + "site.qpf"), (NameList{"index.htm", "-config-", "-logo-"}));
    EXPECT_EQ(archive.Reader().Extract(2), qvtest::ReadFile(dir / "art/app.ico"));
}

TEST_F(Build, NoneCompressionShowsZeroWhilePacking)
{
    for (int i = 0; i < 5; ++i)
        Page("p" + std::to_string(i) + ".htm", 4000);
    Page("index.htm");
    ProjectSettingsRecord s = Project();
    s.CompressionLevel = 3;
    const Result r = Run(s);
    ASSERT_EQ(r.returnValue, 1);
    for (size_t i = 0; i + 1 < r.view.updates.size(); ++i)
        EXPECT_EQ(r.view.updates[i].size, "0 Byte(s)");
    EXPECT_NE(r.view.updates.back().size, "0 Byte(s)");
    ArchiveFile archive(Out() + "site.qpf");
    for (const auto& e : archive.Reader().Entries())
        EXPECT_EQ(e.Storage, 1);
}

TEST_F(Build, CancelAtEveryHandOverLeavesNothing)
{
    for (int i = 0; i < 6; ++i)
        Page("p" + std::to_string(i) + ".htm", 2000);
    Page("index.htm");
    WriteFile(Site() + "big.bin", qvtest::TextBytes(600000, 3)); // several 64 KiB blocks
    WriteFile(state.ProgramFolder + "viewer.exe", std::string("not a real viewer"));
    // Count the hand-overs of an uncancelled QPF build, then cancel at each.
    const size_t total = Run(Project()).view.updates.size();
    ASSERT_GT(total, 8u);
    for (size_t at = 1; at <= total; ++at) {
        stdfs::remove(Out() + "site.qpf");
        const Result r = Run(Project(), [&](size_t n, BuildJob& job) {
            if (n == at) {
                state.CancelRequested = true;
                job.Cancel();
            }
        });
        EXPECT_EQ(r.returnValue, -1) << "cancelled at " << at;
        EXPECT_TRUE(r.view.errors.empty()) << "cancelled at " << at;
        EXPECT_EQ(OutFolder(), NameList{}) << "cancelled at " << at;
        EXPECT_TRUE(state.CancelRequested);
    }
}

// A file the user keeps in the output folder, even under the name the
// archive was once written to, is never opened or removed, however the
// build ends; only the old output is replaced.
TEST_F(Build, FilesBesideTheOutputSurviveEveryBuild)
{
    Page("index.htm");
    WriteFile(Site() + "big.bin", qvtest::TextBytes(600000, 3));
    WriteFile(state.ProgramFolder + "viewer.exe", qvtest::NoiseBytes(5000, 2));
    const std::vector<uint8_t> kept = qvtest::NoiseBytes(3000, 11);
    for (const char* name : {"website.qpf", "notes.txt", "site.qpf"}) // the last an old output
        WriteFile(Out() + name, kept);

    EXPECT_EQ(Run(Project()).returnValue, 1);
    EXPECT_NE(qvtest::ReadFile(Out() + "site.qpf"), kept);
    EXPECT_EQ(Run(Project(true)).returnValue, 1);
    EXPECT_EQ(OutFolder(), (NameList{"notes.txt", "site.exe", "site.qpf", "website.qpf"}));
    stdfs::create_symlink(Site() + "gone", Site() + "dangling.htm");
    EXPECT_EQ(Run(Project(true)).returnValue, -1); // fails, and takes the old EXE with it
    stdfs::remove(Site() + "dangling.htm");
    const Result cancelled = Run(Project(), [&](size_t n, BuildJob& job) {
        if (n == 3) {
            state.CancelRequested = true;
            job.Cancel();
        }
    });
    EXPECT_EQ(cancelled.returnValue, -1);
    EXPECT_EQ(OutFolder(), (NameList{"notes.txt", "website.qpf"}));
    EXPECT_EQ(qvtest::ReadFile(Out() + "website.qpf"), kept);
    EXPECT_EQ(qvtest::ReadFile(Out() + "notes.txt"), kept);
}

TEST_F(Build, FailureMessages)
{
    Page("index.htm");
    struct Case {
        const char* what;
        std::function<void(ProjectSettingsRecord&)> arrange;
        std::string expected; // the error box text, or its start
    };
    const std::vector<Case> cases = {
        {"output in use", [&](ProjectSettingsRecord& s) { stdfs::create_directories(s.OutputPath.str()); },
         "File already in use!"},
        {"no root", [&](ProjectSettingsRecord& s) { s.HomePage = dir.path().string() + "/nope/index.htm"; },
         "Cannot open folder \"" + dir.path().string() + "/nope/\"."},
        {"no output folder", [&](ProjectSettingsRecord& s) { s.OutputPath = dir.path().string() + "/none/site.qpf"; },
         "The output folder \"" + dir.path().string() + "/none/\" does not exist."},
        {"-config- in root", [&](ProjectSettingsRecord&) { WriteFile(Site() + "-config-", std::string("x")); },
         "-config- already exists in the archive."},
        {"unreadable file", [&](ProjectSettingsRecord&) { stdfs::create_symlink(Site() + "gone", Site() + "dangling.htm"); },
         "Cannot open file \"" + Site() + "dangling.htm\"."},
        {"no viewer", [&](ProjectSettingsRecord& s) { s.OutputIsExe = true; s.OutputPath = Out() + "site.exe"; },
         "Cannot open file \"" + state.ProgramFolder + "viewer.exe\"."},
    };
    for (const Case& c : cases) {
        stdfs::remove_all(Site());
        Page("index.htm");
        ProjectSettingsRecord s = Project();
        c.arrange(s);
        const Result r = Run(s);
        EXPECT_EQ(r.returnValue, -1) << c.what;
        ASSERT_EQ(r.view.errors.size(), 1u) << c.what;
        EXPECT_EQ(r.view.errors[0].substr(0, c.expected.size()), c.expected) << c.what << ": " << r.view.errors[0];
        EXPECT_TRUE(state.CancelRequested) << c.what;
        stdfs::remove_all(s.OutputPath.str());
        EXPECT_EQ(OutFolder(), NameList{}) << c.what;
    }
    // After a failed build the next one goes through.
    stdfs::remove_all(Site());
    Page("index.htm");
    EXPECT_EQ(Run(Project()).returnValue, 1);
}

TEST_F(Build, BackslashInAFileNameFailsNamingIt)
{
    Page("index.htm");
    Page("odd\\name.htm");
    const Result r = Run(Project());
    EXPECT_EQ(r.returnValue, -1);
    ASSERT_EQ(r.view.errors.size(), 1u);
    EXPECT_NE(r.view.errors[0].find("odd\\name.htm"), std::string::npos) << r.view.errors[0];
}

TEST_F(Build, RelativeOutputPathIsTakenFromTheRoot)
{
    Page("index.htm");
    ProjectSettingsRecord s = Project();
    s.OutputPath = "../out/rel.qpf";
    ASSERT_EQ(Run(s).returnValue, 1);
    EXPECT_TRUE(stdfs::exists(Out() + "rel.qpf"));
}

// Installed, viewer.exe sits in the data folder rather than beside the
// programs; one beside them (the build tree) still comes first.
TEST_F(Build, ViewerBesideTheProgramElseInTheDataFolder)
{
    Page("index.htm");
    WriteFile(state.ProgramFolder + QV_DATA_FOLDER_FROM_PROGRAMS "/viewer.exe", qvtest::NoiseBytes(7000, 1));
    ASSERT_EQ(Run(Project(true)).returnValue, 1);
    EXPECT_EQ(ArchiveFile(Out() + "site.exe").Reader().ArchiveStart(), 7000);

    WriteFile(state.ProgramFolder + "viewer.exe", qvtest::NoiseBytes(5000, 2));
    ASSERT_EQ(Run(Project(true)).returnValue, 1);
    EXPECT_EQ(ArchiveFile(Out() + "site.exe").Reader().ArchiveStart(), 5000);
}

TEST_F(Build, ExeIsTheViewerFollowedByTheArchive)
{
    Page("index.htm", 4000);
    const std::vector<uint8_t> viewer = qvtest::NoiseBytes(500000, 7);
    WriteFile(state.ProgramFolder + "viewer.exe", viewer);
    const Result r = Run(Project(true));
    ASSERT_EQ(r.returnValue, 1) << (r.view.errors.empty() ? "" : r.view.errors[0]);
    const auto out = qvtest::ReadFile(Out() + "site.exe");
    ASSERT_GT(out.size(), viewer.size());
    EXPECT_TRUE(std::equal(viewer.begin(), viewer.end(), out.begin()));
    ArchiveFile archive(Out() + "site.exe");
    EXPECT_EQ(archive.Reader().ArchiveStart(), 500000);
    EXPECT_EQ(Names(Out() + "site.exe"), (NameList{"index.htm", "-config-"}));
    EXPECT_EQ(OutFolder(), NameList{"site.exe"});
    std::vector<std::string> statuses;
    for (const Update& u : r.view.updates)
        statuses.push_back(u.status);
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Building EXE file"), statuses.end());
    EXPECT_EQ(std::find(statuses.begin(), statuses.end(), "Updating application icon..."), statuses.end());
    EXPECT_EQ(r.view.updates.back().size, SizeText(static_cast<int64_t>(out.size())));
}

TEST_F(Build, NamedPipeAmongThePagesIsLeftOutInsteadOfHangingTheBuild)
{
    // Were the pipe opened, the build would wait for a writer until the
    // test's timeout ends it.
    Page("index.htm");
    ASSERT_EQ(mkfifo((Site() + "feed.htm").c_str(), 0644), 0);
    const Result r = Run(Project());
    ASSERT_EQ(r.returnValue, 1) << (r.view.errors.empty() ? "" : r.view.errors[0]);
    EXPECT_EQ(Names(Out() + "site.qpf"), (NameList{"index.htm", "-config-"}));

    // Named as the icon file, it fails the build naming it.
    ProjectSettingsRecord s = Project();
    s.LogoPath = Site() + "feed.htm";
    const Result icon = Run(s);
    EXPECT_EQ(icon.returnValue, -1);
    ASSERT_EQ(icon.view.errors.size(), 1u);
    EXPECT_EQ(icon.view.errors[0], "Cannot open file \"" + Site() +
                                       "feed.htm\". It is a named pipe, socket or device, not a regular file.");
}

namespace {

// One fault met on the way through a build: what the file layer does, and
// the error box the user must see. Files and paths are the fixture's.
struct Fault {
    const char* name;
    bool exe;
    std::function<int(const fs::FileAccess&)> (*hook)(Build& build);
    std::function<std::string(Build& build)> message;
};

void PrintTo(const Fault& fault, std::ostream* os)
{
    *os << fault.name;
}

} // namespace

class BuildFault : public Build, public ::testing::WithParamInterface<Fault> {
public:
    using Build::Out;
    using Build::Site;
    std::string Big() const { return Site() + "big.bin"; }
    // The archive while it is written, in a folder of the build's own.
    bool IsTemp(const std::string& path) const { return InOwnFolder(path, "/website.qpf"); }
    // The EXE while it is made, in that same folder under the output's name.
    bool IsExeBeingMade(const std::string& path) const { return InOwnFolder(path, "/site.exe"); }
    bool InOwnFolder(const std::string& path, std::string_view name) const
    {
        return path.rfind(Out() + ".quorvane-", 0) == 0 && path.ends_with(name);
    }
    std::string temp; // as the file layer saw it created
    std::string exeBeingMade; // likewise
    std::string Output(bool exe) const { return Out() + (exe ? "site.exe" : "site.qpf"); }
    static constexpr size_t kViewerSize = 50000;
    int64_t directoryStart = -1;

    void SetUp() override
    {
        Build::SetUp();
        Page("index.htm");
        WriteFile(Big(), qvtest::NoiseBytes(600000, 5)); // read in several blocks
        WriteFile(state.ProgramFolder + "viewer.exe", qvtest::NoiseBytes(kViewerSize, 9));
        // The builds are reproducible, so a clean one shows where the
        // directory will start.
        ASSERT_EQ(Run(Project()).returnValue, 1);
        directoryStart = ArchiveFile(Output(false)).Reader().Trailer().RegistryOffset;
        stdfs::remove(Output(false));
    }
};

TEST_P(BuildFault, FailsNamingTheFileAndTheCauseAndLeavesNothing)
{
    const Fault& fault = GetParam();
    Result r{0, {}, {}};
    {
        fs::ScopedFaultHook hook([this, inner = fault.hook(*this)](const fs::FileAccess& a) {
            if (a.op == fs::FileOp::Create && IsTemp(a.path))
                temp = a.path;
            if (a.op == fs::FileOp::Create && IsExeBeingMade(a.path))
                exeBeingMade = a.path;
            return inner(a);
        });
        r = Run(Project(fault.exe));
    }
    EXPECT_EQ(r.returnValue, -1);
    ASSERT_EQ(r.view.errors.size(), 1u);
    EXPECT_EQ(r.view.errors[0], fault.message(*this) + ".");
    EXPECT_TRUE(state.CancelRequested);
    // No output, no temporary archive, nothing else either.
    if (stdfs::exists(Out())) {
        EXPECT_TRUE(stdfs::is_empty(Out())) << stdfs::directory_iterator(Out())->path();
    }
}

namespace {

std::string NoSpace(const std::string& file)
{
    return "Cannot write file \"" + file + "\". No space left on device";
}

// A full disk: every write to the file `is` takes from byte `from` on fails.
std::function<int(const fs::FileAccess&)> FullFrom(std::function<bool(const std::string&)> is, int64_t from)
{
    return [=](const fs::FileAccess& a) {
        return a.op == fs::FileOp::Write && is(a.path) && a.position + static_cast<int64_t>(a.count) > from ? ENOSPC
                                                                                                            : 0;
    };
}

std::function<bool(const std::string&)> Named(const std::string& file)
{
    return [file](const std::string& path) { return path == file; };
}

// Runs `change` once, at the first read of the big source file past its start.
std::function<int(const fs::FileAccess&)> MidRead(Build& b, std::function<int()> change)
{
    auto& f = static_cast<BuildFault&>(b);
    return [big = f.Big(), change, done = false](const fs::FileAccess& a) mutable {
        if (done || a.op != fs::FileOp::Read || a.path != big || a.position == 0)
            return 0;
        done = true;
        return change();
    };
}

BuildFault& F(Build& b) { return static_cast<BuildFault&>(b); }

std::function<bool(const std::string&)> TheTemp(Build& b)
{
    return [&b](const std::string& path) { return F(b).IsTemp(path); };
}

std::function<bool(const std::string&)> TheExeBeingMade(Build& b)
{
    return [&b](const std::string& path) { return F(b).IsExeBeingMade(path); };
}

// Runs `change` once, at the first read of the one-block home page: its end
// is confirmed by that same read.
std::function<int(const fs::FileAccess&)> HomeRead(Build& b, std::function<void(const std::string&)> change)
{
    return [home = F(b).Site() + "index.htm", change, done = false](const fs::FileAccess& a) mutable {
        if (done || a.op != fs::FileOp::Read || a.path != home)
            return 0;
        done = true;
        change(home);
        return 0;
    };
}

const Fault kFaults[] = {
    {"ReadErrorInTheMiddleOfASourceFile", false,
     [](Build& b) { return MidRead(b, [] { return EIO; }); },
     [](Build& b) { return "Cannot read file \"" + F(b).Big() + "\". Input/output error"; }},
    {"SourceFileShrinksWhileRead", false,
     [](Build& b) { return MidRead(b, [&b] { stdfs::resize_file(F(b).Big(), 300000); return 0; }); },
     [](Build& b) { return "Cannot read file \"" + F(b).Big() + "\". It became shorter while it was being read"; }},
    {"SourceFileGrowsWhileRead", false,
     [](Build& b) {
         return MidRead(b, [&b] { stdfs::resize_file(F(b).Big(), 700000); return 0; });
     },
     [](Build& b) { return "Cannot read file \"" + F(b).Big() + "\". It became longer while it was being read"; }},
    {"SmallFileShrinksWhileRead", false,
     [](Build& b) { return HomeRead(b, [](const std::string& f) { stdfs::resize_file(f, 3); }); },
     [](Build& b) { return "Cannot read file \"" + F(b).Site() + "index.htm\". It became shorter while it was being read"; }},
    {"SmallFileGrowsWhileRead", false,
     [](Build& b) {
         return HomeRead(b, [](const std::string& f) { stdfs::resize_file(f, stdfs::file_size(f) + 1); });
     },
     [](Build& b) { return "Cannot read file \"" + F(b).Site() + "index.htm\". It became longer while it was being read"; }},
    {"OutputFolderRemovedDuringTheBuild", false,
     [](Build& b) { return MidRead(b, [&b] { stdfs::remove_all(F(b).Out()); return 0; }); },
     [](Build& b) { return "Cannot move file \"" + F(b).temp + "\". No such file or directory"; }},
    {"DiskFullWritingEntryData", false, [](Build& b) { return FullFrom(TheTemp(b), 0); },
     [](Build& b) { return NoSpace(F(b).temp); }},
    {"DiskFullWritingTheDirectory", false, [](Build& b) { return FullFrom(TheTemp(b), F(b).directoryStart); },
     [](Build& b) { return NoSpace(F(b).temp); }},
    {"DiskFullCopyingTheViewer", true, [](Build& b) { return FullFrom(TheExeBeingMade(b), 0); },
     [](Build& b) { return NoSpace(F(b).exeBeingMade); }},
    {"DiskFullAppendingTheArchiveToTheExe", true,
     [](Build& b) { return FullFrom(TheExeBeingMade(b), BuildFault::kViewerSize); },
     [](Build& b) { return NoSpace(F(b).exeBeingMade); }},
    {"DiskFullMovingTheQpfToAnotherVolume", false,
     [](Build& b) {
         auto full = FullFrom(Named(F(b).Output(false)), 0);
         return std::function<int(const fs::FileAccess&)>(
             [full](const fs::FileAccess& a) { return a.op == fs::FileOp::Rename ? EXDEV : full(a); });
     },
     [](Build& b) { return NoSpace(F(b).Output(false)); }},
    {"OutOfMemoryWhileWritingAnEntry", false,
     [](Build& b) {
         return std::function<int(const fs::FileAccess&)>([is = TheTemp(b)](const fs::FileAccess& a) -> int {
             if (a.op == fs::FileOp::Write && is(a.path))
                 throw std::bad_alloc();
             return 0;
         });
     },
     [](Build& b) {
         return "Not enough memory to process \"" + F(b).Big() + "\"; close other programs, or leave the file out of the build";
     }},
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Faults, BuildFault, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& p) { return std::string(p.param.name); });

namespace {

bool operator==(const Update& a, const Update& b)
{
    return a.size == b.size && a.status == b.status && a.file == b.file && a.overall == b.overall;
}

} // namespace

// The same site built with 1, 2 and 3 jobs: the same bytes and the same
// hand-overs. A small memory budget sends the big files through temporary
// files or straight into the archive, and the big noise file turns out
// stored after more than a MiB of its stream was written.
TEST_F(Build, EveryNumberOfJobsGivesTheSameBytesAndProgress)
{
    Page("index.htm", 4000, 1);
    for (int i = 0; i < 40; ++i)
        Page("pages/p" + std::to_string(i) + ".htm", 300 + 97 * static_cast<size_t>(i), static_cast<uint32_t>(i));
    Page("media/big.htm", 3 << 20, 7);
    WriteFile(Site() + "media/big.bin", qvtest::NoiseBytes(2 << 20, 8));
    WriteFile(Site() + "media/noise.bin", qvtest::NoiseBytes(70000, 9));
    Page("media/text.htm", 900000, 10);
    WriteFile(Site() + "media/empty.txt", std::string());
    WriteFile(Site() + "pages/zero.htm", std::string());
    state.MemoryBudget = 256 << 10;

    std::vector<uint8_t> first;
    std::vector<Update> firstUpdates;
    for (unsigned jobs : {1u, 2u, 3u}) {
        SCOPED_TRACE(jobs);
        state.Jobs = jobs;
        const Result r = Run(Project());
        ASSERT_EQ(r.returnValue, 1) << (r.view.errors.empty() ? "" : r.view.errors[0]);
        const auto bytes = qvtest::ReadFile(Out() + "site.qpf");
        if (jobs == 1) {
            first = bytes;
            firstUpdates = r.view.updates;
            continue;
        }
        EXPECT_EQ(bytes, first);
        EXPECT_TRUE(r.view.updates == firstUpdates);
    }

    // Every entry read back with zlib, both storage kinds present.
    ArchiveFile archive(Out() + "site.qpf");
    std::map<int, int> kinds;
    for (size_t i = 0; i + 1 < archive.Reader().Count(); ++i) {
        const ArchiveEntry& e = archive.Reader().Entry(i);
        std::string rel = archive.Name(i);
        std::replace(rel.begin(), rel.end(), '\\', '/');
        const auto source = qvtest::ReadFile(Site() + rel);
        const uint8_t* stored = first.data() + e.Offset;
        const auto data = e.Storage == 0 ? qvtest::Inflate(stored, static_cast<size_t>(e.CompressedSize), source.size())
                                         : std::vector<uint8_t>(stored, stored + e.FileSize);
        EXPECT_EQ(data, source) << rel;
        EXPECT_EQ(e.CRC, source.empty() ? 0u : qvtest::Crc32(source)) << rel;
        ++kinds[e.Storage];
    }
    EXPECT_EQ(kinds[1], 4); // the two noise files and the two empty ones
    EXPECT_GT(kinds[0], 40);
}

TEST_F(Build, CancelInTheMiddleOfABigFileWithTwoJobs)
{
    Page("index.htm");
    Page("a.htm", 2000, 2);
    WriteFile(Site() + "big.htm", qvtest::TextBytes(12 << 20, 3));
    Page("z.htm", 2000, 4);
    state.Jobs = 2;
    // Hand-overs: the archive's start, a.htm, then big.htm's blocks.
    const size_t cancelledAt = 6;
    const Result r = Run(Project(), [&](size_t n, BuildJob& job) {
        if (n == cancelledAt) {
            state.CancelRequested = true;
            job.Cancel();
        }
    });
    ASSERT_GE(r.view.updates.size(), cancelledAt);
    EXPECT_EQ(r.view.updates[cancelledAt - 1].status, "Adding: big.htm");
    EXPECT_LT(r.view.updates[cancelledAt - 1].file, 50);
    EXPECT_EQ(r.returnValue, -1);
    EXPECT_TRUE(r.view.errors.empty());
    EXPECT_EQ(OutFolder(), NameList{});
    // Nothing after the cancel speaks of a later file.
    for (size_t i = cancelledAt; i < r.view.updates.size(); ++i)
        EXPECT_NE(r.view.updates[i].status, "Adding: z.htm");
}

TEST_F(Build, AFailingEntryWithTwoJobsFailsWithItsOwnMessage)
{
    for (int i = 0; i < 30; ++i)
        Page("p" + std::to_string(i) + ".htm", 1500, static_cast<uint32_t>(i));
    Page("index.htm");
    stdfs::create_symlink(Site() + "gone", Site() + "p15x.htm");
    WriteFile(Site() + "p29x.htm", qvtest::TextBytes(4 << 20, 5)); // in flight when the failure comes

    state.Jobs = 1;
    const Result one = Run(Project());
    state.Jobs = 2;
    const Result two = Run(Project());
    for (const Result* r : {&one, &two}) {
        EXPECT_EQ(r->returnValue, -1);
        ASSERT_EQ(r->view.errors.size(), 1u);
        EXPECT_EQ(r->view.errors[0].rfind("Cannot open file \"" + Site() + "p15x.htm\".", 0), 0u) << r->view.errors[0];
        EXPECT_EQ(OutFolder(), NameList{});
    }
    EXPECT_TRUE(two.view.updates == one.view.updates);

    // A name the archive already holds, found by the writer in list order.
    stdfs::remove(Site() + "p15x.htm");
    Page("P3.HTM", 700, 6);
    std::vector<Result> dups;
    for (unsigned jobs : {1u, 2u}) {
        state.Jobs = jobs;
        dups.push_back(Run(Project()));
        ASSERT_EQ(dups.back().view.errors.size(), 1u);
        const std::string& text = dups.back().view.errors[0];
        EXPECT_EQ(text.substr(6), " already exists in the archive.") << text;
        EXPECT_EQ(OutFolder(), NameList{});
    }
    EXPECT_EQ(dups[0].view.errors, dups[1].view.errors);
    EXPECT_TRUE(dups[0].view.updates == dups[1].view.updates);
}

// The index is a step of its own: "Indexing pages" shows after the last
// file, the entry lands stored between the pages and "-config-", and a
// cancel there ends the build like any other.
TEST_F(Build, SearchIndexIsAStepThatShowsAndCancels)
{
    Page("index.htm", 70000, 1);
    Page("sub/page.html", 3000, 2);
    Page("b.css", 800, 3);
    ProjectSettingsRecord project = Project();
    project.SearchIndex = true;
    project.CompressionLevel = 2; // maximum: the index is still stored
    const Result r = Run(project);
    ASSERT_EQ(r.returnValue, 1) << (r.view.errors.empty() ? "" : r.view.errors[0]);
    EXPECT_EQ(Names(Out() + "site.qpf"), (NameList{"b.css", "index.htm", "sub\\page.html", "-search-", "-config-"}));
    ArchiveFile archive(Out() + "site.qpf");
    EXPECT_EQ(archive.Reader().Entry(3).Storage, 1);
    EXPECT_EQ(archive.Reader().Entry(3).Level, 0);
    EXPECT_EQ(archive.Reader().Entry(2).Level, 3);
    const auto indexing = std::find_if(r.view.updates.begin(), r.view.updates.end(),
                                       [](const Update& u) { return u.status == "Indexing pages"; });
    ASSERT_NE(indexing, r.view.updates.end());
    EXPECT_EQ(indexing->overall, 100);

    const size_t at = static_cast<size_t>(indexing - r.view.updates.begin()) + 1;
    const Result cancelled = Run(project, [&](size_t n, BuildJob& job) {
        if (n == at) {
            state.CancelRequested = true;
            job.Cancel();
        }
    });
    EXPECT_EQ(cancelled.returnValue, -1);
    EXPECT_TRUE(cancelled.view.errors.empty());
    EXPECT_EQ(OutFolder(), NameList{});
}
