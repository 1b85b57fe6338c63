// The search index's cost and speed on the Python 3.11 HTML documentation
// (Debian python3.11-doc): quorvanec builds a QPF of it with and without the
// index (--jobs 2, children measured by wait4, contenders interleaved, medians
// of N rounds after a warm-up); then the index's size against the output
// without it, and the time SiteSearch takes to open the index and to answer a
// few queries with their snippets (median of 20 runs each, 10 results).
//
// Usage: search_bench [--rounds N] [--work FOLDER]
#include "quorvane/project/ProjectFile.h"
#include "quorvane/project/ProjectSettings.h"
#include "quorvane/viewercore/SearchSchema.h"
#include "quorvane/viewercore/SiteFile.h"
#include "quorvane/viewercore/SiteSearch.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace stdfs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

struct Measure {
    double wall = 0, cpu = 0;
};

Measure Spawn(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto t0 = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage ru{};
    if (pid < 0 || wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "search_bench: %s failed (status %d)\n", args[0].c_str(), status);
        std::exit(1);
    }
    return {std::chrono::duration<double>(Clock::now() - t0).count(), Seconds(ru.ru_utime) + Seconds(ru.ru_stime)};
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

std::string Project(const stdfs::path& work, const std::string& name, bool index)
{
    qv::ProjectSettingsRecord s;
    s.HomePage = "/usr/share/doc/python3.11/html/index.html";
    s.OutputIsExe = false;
    s.OutputPath = (work / (name + ".qpf")).string();
    s.IncludeMask = "*.*;";
    s.SearchIndex = index;
    const std::string path = (work / (name + ".qp")).string();
    if (!qv::SaveProject(path, s, nullptr))
        std::exit(1);
    return path;
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = 3;
    stdfs::path work = stdfs::temp_directory_path() / "quorvane-search-bench";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--rounds")
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (a == "--work")
            work = argv[i + 1];
    }
    if (!stdfs::exists("/usr/share/doc/python3.11/html/index.html")) {
        std::fprintf(stderr, "search_bench: /usr/share/doc/python3.11/html is missing (install python3.11-doc)\n");
        return 1;
    }
    stdfs::create_directories(work);
    const std::string plain = Project(work, "plain", false), indexed = Project(work, "indexed", true);
    std::vector<double> plainWall, plainCpu, indexWall, indexCpu;
    for (int r = -1; r < rounds; ++r) {
        const Measure a = Spawn({QV_QUORVANEC, "build", "-q", "-j", "2", plain});
        const Measure b = Spawn({QV_QUORVANEC, "build", "-q", "-j", "2", indexed});
        if (r < 0)
            continue;
        plainWall.push_back(a.wall);
        plainCpu.push_back(a.cpu);
        indexWall.push_back(b.wall);
        indexCpu.push_back(b.cpu);
    }
    const double pw = Median(plainWall), iw = Median(indexWall);
    std::printf("Python docs, --jobs 2, median of %d\n", rounds);
    std::printf("  without index  %6.2f s wall  %6.2f s cpu\n", pw, Median(plainCpu));
    std::printf("  with index     %6.2f s wall  %6.2f s cpu\n", iw, Median(indexCpu));
    std::printf("  wall ratio     %6.2f (goal <= 2.0)\n", iw / pw);

    const auto site = qv::OpenSiteFile((work / "indexed.qpf").string());
    const int64_t entry = site->IndexOf(qv::search_schema::kEntryName);
    const int64_t indexSize = site->Reader().Entry(static_cast<size_t>(entry)).FileSize;
    const auto plainSize = static_cast<int64_t>(stdfs::file_size(work / "plain.qpf"));
    std::printf("  index %lld bytes, output without it %lld bytes: %.1f %% (goal <= 40 %%)\n",
                static_cast<long long>(indexSize), static_cast<long long>(plainSize),
                100.0 * static_cast<double>(indexSize) / static_cast<double>(plainSize));

    std::vector<double> opens;
    for (int i = 0; i < 20; ++i) {
        const auto t0 = Clock::now();
        const qv::SiteSearch search(*site);
        opens.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::printf("  opening the index %.2f ms\n", Median(opens));
    const qv::SiteSearch search(*site);
    for (const char* query : {"list comprehension", "asyncio*", "\"context manager\"", "dictionary -deprecated",
                              "socket timeout", "unicode normalization"}) {
        std::vector<double> times;
        size_t hits = 0;
        for (int i = 0; i < 20; ++i) {
            const auto t0 = Clock::now();
            hits = search.Find(query, 10).size();
            times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        std::printf("  query %-26s %2zu results with snippets  %6.2f ms (goal < 50 ms)\n", query, hits,
                    Median(times));
    }
    return 0;
}
