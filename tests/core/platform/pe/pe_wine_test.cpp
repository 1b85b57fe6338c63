// Our PE layer against the Windows resource functions as wine implements
// them: the probe program lists (and writes) resources through the platform
// API, and we must see exactly what it sees. wine runs a handful of times for
// the whole binary: the prefix and server are set up once.
#include "PeTestSupport.h"
#include "TestSupport.h"
#include "Wine.h"

#include "quorvane/platform/CodePage.h"
#include "quorvane/platform/pe/PeResources.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

using namespace qvtest::pe;
using qv::pe::CanonicalResources;
using qv::pe::ReadResources;
using qv::pe::ResourceEntry;
namespace fs = std::filesystem;

namespace {

// Diverse programs and libraries of wine's own: big and small resource
// sections, string tables, dialogs, icons, manifests, many languages.
const char* const kOriginals[] = {
    "shell32.dll", "comctl32.dll", "user32.dll",  "kernel32.dll", "mshtml.dll",
    "msxml3.dll",  "oleaut32.dll", "comdlg32.dll", "wininet.dll", "notepad.exe",
    "regedit.exe", "winecfg.exe",  "wordpad.exe",  "cmd.exe",     "hostname.exe",
};

const auto WinePath = qvtest::Wine::WinPath;

// The probe and wine's own programs under the suite's wine.
class Loader {
public:
    static bool Available() { return qvtest::TestWine().Available() && *QV_PE_PROBE && fs::exists(QV_PE_PROBE); }

    // Runs `program` with `args` under wine; returns its standard output.
    static std::string Run(const fs::path& program, const std::vector<std::string>& args, int* status = nullptr)
    {
        const qvtest::WineRun run = qvtest::TestWine().Run(program, args);
        if (status)
            *status = run.status;
        return run.out;
    }

    // Runs a probe script; returns its output split per "FILE" block and
    // the other lines keyed by their order.
    static std::string Probe(const std::vector<std::string>& commands)
    {
        std::string script;
        for (const std::string& c : commands)
            script += c + "\n";
        const fs::path path = Work() / "script.txt";
        qvtest::WriteFile(path, script);
        return Run(QV_PE_PROBE, {WinePath(path)});
    }

    static fs::path Work()
    {
        static const fs::path dir = [] {
            fs::path d = qvtest::TestWine().Prefix().parent_path() / "wine-work";
            fs::remove_all(d);
            fs::create_directories(d);
            return d;
        }();
        return dir;
    }

    // A server that stays up keeps the many runs quick.
    static void Start()
    {
        qvtest::TestWine().KeepServer(30);
        Run(QV_PE_PROBE, {"self"});
    }

    static void Stop() { qvtest::TestWine().StopServer(); }
};

// What the probe printed for each command, keyed by the command's first
// two fields ("list<TAB>Z:\\...").
std::map<std::string, std::string> ProbeOutputs(const std::vector<std::string>& commands)
{
    std::istringstream out(Loader::Probe(commands));
    std::map<std::string, std::string> outputs;
    std::string line;
    size_t index = 0;
    while (std::getline(out, line)) {
        // Every command's output ends with a line of its own kind.
        const bool last = line.rfind("END ", 0) == 0 || line.rfind("UPDATED", 0) == 0 ||
                          line.rfind("CHECKSUM ", 0) == 0 || line.rfind("ERROR ", 0) == 0;
        if (line.rfind("FILE ", 0) == 0)
            continue;
        if (index >= commands.size()) {
            ADD_FAILURE() << "unexpected probe output: " << line;
            break;
        }
        const std::string& c = commands[index];
        const std::string key = c.substr(0, c.find('\t', c.find('\t') + 1));
        if (line.rfind("END ", 0) != 0)
            outputs[key] += line + "\n";
        if (last)
            ++index;
    }
    EXPECT_EQ(index, commands.size()) << "the probe stopped early";
    return outputs;
}

// The update functions refuse a resource without bytes (no data is their
// way of asking for a deletion), so those stay out of what they are given.
std::vector<ResourceEntry> WithoutEmpty(std::vector<ResourceEntry> entries)
{
    std::erase_if(entries, [](const ResourceEntry& e) { return e.data.empty(); });
    return entries;
}

std::string ListCommand(const fs::path& file)
{
    return "list\t" + WinePath(file);
}

// The probe's update input: the resource list, identifiers as UTF-16.
std::vector<uint8_t> UpdateRequest(const std::vector<ResourceEntry>& entries)
{
    std::vector<uint8_t> out;
    auto put = [&out](uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    };
    put(entries.size(), 4);
    for (const ResourceEntry& e : entries) {
        for (const std::string* id : {&e.type, &e.name}) {
            const std::u16string text = qv::codepage::ToUtf16(*id);
            put(text.size(), 2);
            for (char16_t c : text)
                put(c, 2);
        }
        put(e.language, 2);
        put(e.data.size(), 4);
        out.insert(out.end(), e.data.begin(), e.data.end());
    }
    return out;
}

class PeWine : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (Loader::Available())
            Loader::Start();
    }
    static void TearDownTestSuite()
    {
        if (Loader::Available())
            Loader::Stop();
    }
    void SetUp() override
    {
        if (!Loader::Available())
            GTEST_SKIP() << "wine or the mingw-w64 cross compiler is not installed";
    }

    static std::vector<fs::path> Originals()
    {
        std::vector<fs::path> files;
        for (const char* name : kOriginals)
            if (const fs::path p = qvtest::WineProgram(name); !p.empty())
                files.push_back(p);
        for (const char* sample : {QV_PE_SAMPLE64, QV_PE_SAMPLE32, QV_PE_SAMPLE64_UNSTRIPPED})
            if (*sample)
                files.push_back(sample);
        return files;
    }
};

} // namespace

TEST_F(PeWine, ReaderSeesWhatTheLoaderSees)
{
    const auto files = Originals();
    ASSERT_GE(files.size(), 10u);
    std::vector<std::string> commands;
    for (const fs::path& f : files)
        commands.push_back(ListCommand(f));
    auto listings = ProbeOutputs(commands);
    size_t resources = 0;
    for (const fs::path& f : files) {
        const auto entries = ReadResources(f.string());
        resources += entries.size();
        EXPECT_EQ(Describe(entries), listings[ListCommand(f)]) << f;
    }
    std::printf("compared %zu files, %zu resources with the loader\n", files.size(), resources);
    EXPECT_GT(resources, 1000u);
}

TEST_F(PeWine, RewrittenFilesLoadAsOurReaderSaysAndMatchTheUpdateFunctions)
{
    const fs::path dir = Loader::Work() / "rewritten";
    fs::create_directories(dir);
    struct Sample {
        fs::path original, same, grown, theirs;
        std::vector<ResourceEntry> entries;
    };
    std::vector<Sample> samples;
    std::vector<std::string> commands;
    for (const fs::path& f : Originals()) {
        Sample s{f, dir / ("same-" + f.filename().string()), dir / ("grown-" + f.filename().string()),
                 dir / ("theirs-" + f.filename().string()), ReadResources(f.string())};
        fs::copy_file(f, s.same);
        fs::copy_file(f, s.grown);
        fs::copy_file(f, s.theirs);
        qv::pe::ReplaceResources(s.same.string(), s.entries);
        qv::pe::ReplaceResources(s.grown.string(), Join(s.entries, Extra()));
        const fs::path request = dir / ("update-" + f.filename().string());
        qvtest::WriteFile(request, UpdateRequest(WithoutEmpty(Join(s.entries, Extra()))));
        for (const fs::path& p : {s.original, s.same, s.grown})
            commands.push_back(ListCommand(p));
        for (const fs::path& p : {s.same, s.grown})
            commands.push_back("checksum\t" + WinePath(p));
        commands.push_back("update\t" + WinePath(s.theirs) + "\t" + WinePath(request));
        commands.push_back(ListCommand(s.theirs));
        samples.push_back(std::move(s));
    }
    auto out = ProbeOutputs(commands);
    for (const Sample& s : samples) {
        SCOPED_TRACE(s.original.string());
        const std::string grown = Describe(CanonicalResources(Join(s.entries, Extra())));
        ASSERT_NE(grown.find("MYTYPE\tFIRST\t1033\t"), std::string::npos);
        ASSERT_NE(grown.find("DONN\xc3\x89" "ES\t\xc7\x84" "EMAL-\xd0\x96-\xc3\x9f-\xc5\xb8\t1036\t"), std::string::npos);
        EXPECT_EQ(out[ListCommand(s.same)], out[ListCommand(s.original)]);
        EXPECT_EQ(out[ListCommand(s.grown)], grown);
        for (const fs::path& p : {s.same, s.grown}) {
            const std::string line = out["checksum\t" + WinePath(p)];
            ASSERT_EQ(line.size(), 27u) << line;
            EXPECT_EQ(line.substr(9, 8), line.substr(18, 8)) << "header and imagehlp's checksum differ: " << line;
        }
        // The platform's own update functions, given the same list, make a
        // file that reads the same through the loader and through us.
        const auto theirs = CanonicalResources(WithoutEmpty(Join(s.entries, Extra())));
        EXPECT_EQ(out["update\t" + WinePath(s.theirs)], "UPDATED\n");
        EXPECT_EQ(out[ListCommand(s.theirs)], Describe(theirs));
        EXPECT_EQ(ReadResources(s.theirs.string()), theirs);
    }
    std::printf("rewrote %zu files, listed them and wine's own rewrite under the loader\n", samples.size());
}

TEST_F(PeWine, RewrittenProgramsStillRun)
{
    const fs::path dir = Loader::Work() / "run";
    fs::create_directories(dir);
    auto prepare = [&](const fs::path& from, const std::string& name, const std::function<void(std::vector<uint8_t>&)>& edit,
                       const std::vector<ResourceEntry>& entries) {
        auto bytes = qvtest::ReadFile(from);
        if (edit)
            edit(bytes);
        const fs::path to = dir / name;
        qvtest::WriteFile(to, bytes);
        qv::pe::ReplaceResources(to.string(), entries);
        return to;
    };
    auto self = [](const fs::path& exe) {
        const auto entries = ReadResources(exe.string());
        return Describe(entries) + "END " + std::to_string(entries.size()) + "\n";
    };
    const auto probeEntries = ReadResources(std::string(QV_PE_PROBE));
    ASSERT_EQ(probeEntries.size(), 1u);

    // The probe lists its own resources through the loader's image mapping.
    const fs::path grown = prepare(QV_PE_PROBE, "probe-grown.exe", nullptr, Join(probeEntries, Extra()));
    const fs::path appended = prepare(QV_PE_PROBE, "probe-appended.exe", PinRelocations, Join(probeEntries, Extra()));
    const fs::path emptied = prepare(QV_PE_PROBE, "probe-emptied.exe", nullptr, {});
    ASSERT_EQ(qv::pe::detail::ParseImage(qvtest::ReadFile(appended)).sections.back().name, ".rsrc");
    for (const fs::path& exe : {grown, appended, emptied}) {
        int status = -1;
        EXPECT_EQ(Loader::Run(exe, {"self"}, &status), self(exe)) << exe;
        EXPECT_EQ(status, 0) << exe;
    }

    // Programs that print something of their own, before and after.
    std::vector<std::pair<fs::path, fs::path>> programs;
    if (*QV_PE_SAMPLE64_UNSTRIPPED)
        programs.emplace_back(QV_PE_SAMPLE64_UNSTRIPPED,
                              prepare(QV_PE_SAMPLE64_UNSTRIPPED, "unstripped.exe", nullptr,
                                      Join(ReadResources(std::string(QV_PE_SAMPLE64_UNSTRIPPED)), Extra())));
    if (*QV_PE_SAMPLE64_PLAIN)
        programs.emplace_back(QV_PE_SAMPLE64_PLAIN, prepare(QV_PE_SAMPLE64_PLAIN, "plain.exe", nullptr, Extra()));
    for (const char* name : {"hostname.exe", "whoami.exe"})
        if (const fs::path p = qvtest::WineProgram(name); !p.empty())
            programs.emplace_back(p, prepare(p, name, nullptr, Join(ReadResources(p.string()), Extra())));
    for (const auto& [original, rewritten] : programs) {
        int before = -1, after = -1;
        const std::string expected = Loader::Run(original, {}, &before);
        EXPECT_FALSE(expected.empty()) << original;
        EXPECT_EQ(Loader::Run(rewritten, {}, &after), expected) << rewritten;
        EXPECT_EQ(after, before) << rewritten;
    }
    std::printf("ran %zu rewritten programs under wine\n", programs.size() + 3);
}
