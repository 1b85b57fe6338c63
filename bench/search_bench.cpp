// The search index's cost and speed. quorvanec builds a QPF with and
// without the index (--jobs 2, children measured by wait4, contenders
// interleaved, medians of N rounds after a warm-up); then the index's size
// against the output without it, and, in a fresh child process of this
// program, the time SiteSearch takes to open the index and to answer a few
// queries with their snippets (10 results; the first run and the median of
// 20), and that process's resident memory after opening the output, after
// opening the index and after the queries (/proc/self/status).
//
// Sites: the Python 3.11 HTML documentation (Debian python3.11-doc), and
// 100,000 generated small pages in 100 folders (build_bench's), 10 of which
// carry the rare word "quorvanite"; the generated site is kept in the work
// folder for the next run.
//
// Usage: search_bench [--rounds N] [--work FOLDER] [--only python,pages]
#include "quorvane/project/ProjectFile.h"
#include "quorvane/project/ProjectSettings.h"
#include "quorvane/viewercore/SearchSchema.h"
#include "quorvane/viewercore/SiteFile.h"
#include "quorvane/viewercore/SiteSearch.h"

#include "BenchSupport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace qvbench;

std::string Project(const stdfs::path& work, const std::string& name, const stdfs::path& home, bool index)
{
    qv::ProjectSettingsRecord s;
    s.HomePage = home.string();
    s.OutputIsExe = false;
    s.OutputPath = (work / (name + ".qpf")).string();
    s.IncludeMask = "*.*;";
    s.SearchIndex = index;
    const std::string path = (work / (name + ".qp")).string();
    if (!qv::SaveProject(path, s, nullptr))
        std::exit(1);
    return path;
}

double Milliseconds(Clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

// The child's part: opens `output`, its index, and answers `queries`,
// printing times and this process's memory at each step.
int SearchInPlace(const std::string& output, const std::vector<std::string>& queries)
{
    const double before = StatusMiB("VmRSS");
    const auto site = qv::OpenSiteFile(output);
    const double opened = StatusMiB("VmRSS"), openedPeak = StatusMiB("VmHWM");
    auto t0 = Clock::now();
    const qv::SiteSearch search(*site);
    const double openMs = Milliseconds(t0);
    const double indexed = StatusMiB("VmRSS");
    std::printf("  opening the index %.2f ms (%zu pages in it)\n", openMs, search.PageCount());
    for (const std::string& query : queries) {
        std::vector<double> times;
        size_t hits = 0;
        for (int i = 0; i < 21; ++i) {
            t0 = Clock::now();
            hits = search.Find(query, 10).size();
            times.push_back(Milliseconds(t0));
        }
        const double first = times.front();
        times.erase(times.begin());
        std::printf("  query %-26s %2zu of %6zu pages with snippets  first %7.2f ms  median %7.2f ms\n", query.c_str(),
                    hits, search.Count(query), first, Median(times));
    }
    const double after = StatusMiB("VmRSS"), peak = StatusMiB("VmHWM");
    std::printf("  resident memory: %.1f MiB at start, %.1f MiB with the output open (peak %.1f), %.1f MiB with "
                "the index open, %.1f MiB after the queries (peak %.1f)\n",
                before, opened, openedPeak, indexed, after, peak);
    std::printf("  growth by searching: %.1f MiB now, %.1f MiB at the peak\n", after - opened,
                std::max(0.0, peak - opened));
    return 0;
}

struct Builds {
    Measure plain, indexed;
};

// Builds both projects `rounds` times, interleaved, after a warm-up pass.
Builds BuildBoth(const std::string& plain, const std::string& indexed, int rounds)
{
    std::vector<Measure> plains, indexeds;
    for (int r = -1; r < rounds; ++r) {
        const Measure a = Spawn({QV_QUORVANEC, "build", "-q", "-j", "2", plain});
        const Measure b = Spawn({QV_QUORVANEC, "build", "-q", "-j", "2", indexed});
        if (r < 0)
            continue;
        plains.push_back(a);
        indexeds.push_back(b);
    }
    return {Median(plains), Median(indexeds)};
}

// Build figures, the index's size, then the queries in a fresh process.
// The build's goals (time, size) are set for real documentation only: the
// generated pages use a dozen words, which compress to nothing.
void MeasureSite(const std::string& title, const stdfs::path& work, const stdfs::path& home, int rounds,
             const std::vector<std::string>& queries, double queryGoalMs, bool buildGoals)
{
    const std::string plain = Project(work, "plain", home, false), indexed = Project(work, "indexed", home, true);
    std::printf("\n%s, --jobs 2, median of %d\n", title.c_str(), rounds);
    std::fflush(stdout);
    const Builds b = BuildBoth(plain, indexed, rounds);
    std::printf("  without index  %7.2f s wall  %7.2f s cpu  peak %6.1f MiB\n", b.plain.wall, b.plain.cpu, b.plain.mib);
    std::printf("  with index     %7.2f s wall  %7.2f s cpu  peak %6.1f MiB\n", b.indexed.wall, b.indexed.cpu,
                b.indexed.mib);
    std::printf("  wall ratio     %7.2f%s\n", b.indexed.wall / b.plain.wall, buildGoals ? " (goal <= 2.0)" : "");

    const std::string output = (work / "indexed.qpf").string();
    {
        const auto site = qv::OpenSiteFile(output);
        const int64_t entry = site->IndexOf(qv::search_schema::kEntryName);
        const int64_t indexSize = site->Reader().Entry(static_cast<size_t>(entry)).FileSize;
        const auto plainSize = static_cast<int64_t>(stdfs::file_size(work / "plain.qpf"));
        std::printf("  index %lld bytes, output without it %lld bytes: %.1f %%%s\n",
                    static_cast<long long>(indexSize), static_cast<long long>(plainSize),
                    100.0 * static_cast<double>(indexSize) / static_cast<double>(plainSize),
                    buildGoals ? " (goal <= 40 %)" : "");
    }
    std::printf("  queries in a fresh process (goal < %.0f ms each, memory growth <= 64 MiB):\n", queryGoalMs);
    std::vector<std::string> args = {stdfs::canonical("/proc/self/exe").string(), "--search-in-place", output};
    args.insert(args.end(), queries.begin(), queries.end());
    Spawn(args);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::string(argv[1]) == "--search-in-place")
        return SearchInPlace(argv[2], std::vector<std::string>(argv + 3, argv + argc));

    int rounds = 3;
    stdfs::path work = stdfs::temp_directory_path() / "quorvane-search-bench";
    std::string only;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--rounds")
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (a == "--work")
            work = argv[i + 1];
        else if (a == "--only")
            only = argv[i + 1];
    }
    auto wanted = [&](const std::string& key) {
        return only.empty() || ("," + only + ",").find("," + key + ",") != std::string::npos;
    };
    if (wanted("python")) {
        const stdfs::path home = "/usr/share/doc/python3.11/html/index.html";
        if (stdfs::exists(home)) {
            stdfs::create_directories(work / "python");
            MeasureSite("Python docs", work / "python", home, rounds,
                    {"list comprehension", "asyncio*", "\"context manager\"", "dictionary -deprecated",
                     "socket timeout", "unicode normalization"},
                    50, true);
        } else {
            std::printf("\nPython docs: skipped, %s is missing (install python3.11-doc)\n", home.c_str());
        }
    }
    if (wanted("pages")) {
        const stdfs::path site = Generated(work / "pages", [](const stdfs::path& p) {
            MakePages(p, [](int i, std::string& page) {
                if (i % 10000 == 4321)
                    page.insert(0, "<p>quorvanite</p>");
            });
        });
        stdfs::create_directories(work / "pages-out");
        MeasureSite("100,000 small pages", work / "pages-out", site / "index.htm", rounds,
                {"harbour", "quorvanite", "\"pine stage\"", "harb*", "cliff -water"}, 300, false);
    }
    return 0;
}
