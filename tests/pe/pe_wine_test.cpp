// Our PE layer against the Windows resource functions as wine implements
// them: the probe program lists (and writes) resources through the platform
// API, and we must see exactly what it sees. wine runs a handful of times for
// the whole binary: the prefix and server are set up once.
#include "PeTestSupport.h"
#include "TestSupport.h"

#include "quorvane/platform/PeResources.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

using namespace qvtest::pe;
using qv::pe::ReadResources;
using qv::pe::ResourceEntry;
namespace fs = std::filesystem;

namespace {

const fs::path kWineDlls = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";

// Diverse programs and libraries of wine's own: big and small resource
// sections, string tables, dialogs, icons, manifests, many languages.
const char* const kOriginals[] = {
    "shell32.dll", "comctl32.dll", "user32.dll",  "kernel32.dll", "mshtml.dll",
    "msxml3.dll",  "oleaut32.dll", "comdlg32.dll", "wininet.dll", "notepad.exe",
    "regedit.exe", "winecfg.exe",  "wordpad.exe",  "cmd.exe",     "hostname.exe",
};

std::string WinePath(const fs::path& path)
{
    std::string out = "Z:" + fs::absolute(path).string();
    for (char& c : out)
        if (c == '/')
            c = '\\';
    return out;
}

std::string Quote(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

class Wine {
public:
    static bool Available() { return *QV_WINE && *QV_PE_PROBE && fs::exists(QV_PE_PROBE); }

    // Runs `program` with `args` under wine; returns its standard output.
    static std::string Run(const fs::path& program, const std::vector<std::string>& args, int* status = nullptr)
    {
        const fs::path out = Work() / "wine.out";
        std::string command = Environment() + " " + Quote(QV_WINE) + " " + Quote(program.string());
        for (const std::string& a : args)
            command += " " + Quote(a);
        command += " >" + Quote(out.string()) + " 2>" + Quote((Work() / "wine.err").string()) + " </dev/null";
        const int rc = std::system(command.c_str());
        if (status)
            *status = rc;
        const auto bytes = qvtest::ReadFile(out);
        return {bytes.begin(), bytes.end()};
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
            fs::path d = fs::path(QV_WINE_PREFIX).parent_path() / "wine-work";
            fs::remove_all(d);
            fs::create_directories(d);
            return d;
        }();
        return dir;
    }

    static void Start()
    {
        // The first start creates the prefix; a persistent server keeps the
        // later runs quick.
        std::system((Environment() + " wineserver -p >/dev/null 2>&1").c_str());
        Run(QV_PE_PROBE, {"self"});
    }

    static void Stop() { std::system((Environment() + " wineserver -k >/dev/null 2>&1").c_str()); }

private:
    static std::string Environment()
    {
        return "env -u DISPLAY WINEPREFIX=" + Quote(QV_WINE_PREFIX) +
               " WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' WINEARCH=win64";
    }
};

// The probe's listing of each file, keyed by its Windows path.
std::map<std::string, std::string> ProbeListings(const std::vector<fs::path>& files)
{
    std::vector<std::string> commands;
    for (const fs::path& f : files)
        commands.push_back("list\t" + WinePath(f));
    std::istringstream out(Wine::Probe(commands));
    std::map<std::string, std::string> listings;
    std::string line, current;
    while (std::getline(out, line)) {
        if (line.rfind("FILE ", 0) == 0)
            current = line.substr(5);
        else if (line.rfind("END ", 0) != 0)
            listings[current] += line + "\n";
    }
    return listings;
}

class PeWine : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (Wine::Available())
            Wine::Start();
    }
    static void TearDownTestSuite()
    {
        if (Wine::Available())
            Wine::Stop();
    }
    void SetUp() override
    {
        if (!Wine::Available())
            GTEST_SKIP() << "wine or the mingw-w64 cross compiler is not installed";
    }

    static std::vector<fs::path> Originals()
    {
        std::vector<fs::path> files;
        for (const char* name : kOriginals)
            if (fs::exists(kWineDlls / name))
                files.push_back(kWineDlls / name);
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
    const auto listings = ProbeListings(files);
    size_t resources = 0;
    for (const fs::path& f : files) {
        const auto entries = ReadResources(f.string());
        resources += entries.size();
        ASSERT_TRUE(listings.count(WinePath(f))) << f;
        EXPECT_EQ(Describe(entries), listings.at(WinePath(f))) << f;
    }
    std::printf("compared %zu files, %zu resources with the loader\n", files.size(), resources);
    EXPECT_GT(resources, 1000u);
}
