// The link check of a whole site: collection, every page parsed, every
// reference resolved. Target: the python3.11-doc site in under 2 seconds.
// Usage: check_bench [home page] [threads]
//   home page: default /usr/share/doc/python3.11/html/index.html
//   threads: default 0, one per core
#include "quorvane/check/SiteCheck.h"
#include "quorvane/platform/FileSystem.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    const std::string home = argc > 1 ? argv[1] : "/usr/share/doc/python3.11/html/index.html";
    const unsigned threads = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 0;
    if (!qv::fs::FileExists(home)) {
        std::fprintf(stderr, "no such page: %s (install python3.11-doc)\n", home.c_str());
        return 1;
    }
    qv::ProjectSettingsRecord settings;
    settings.HomePage = home;
    settings.OutputIsExe = false;
    settings.OutputPath = "/tmp/check_bench.qpf";
    double best = 1e9;
    qv::CheckReport report;
    for (int run = 0; run < 3; ++run) {
        const auto t0 = std::chrono::steady_clock::now();
        report = qv::CheckSite(settings, threads);
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    std::printf("%s\n  %zu pages, %zu stylesheets, %zu references (%zu external), %zu findings\n"
                "  check: %.3f s (best of 3, %s threads)\n",
                report.root.c_str(), report.pages, report.stylesheets, report.references, report.external,
                report.findings.size(), best, threads ? std::to_string(threads).c_str() : "all");
    return 0;
}
