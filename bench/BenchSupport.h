#pragma once
// What several benchmarks share: child processes measured by wait4, medians,
// the process's own memory, and the generated site of 100,000 small pages.
// Header-only, since each benchmark is one program.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace qvbench {

namespace stdfs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

struct Measure {
    double wall = 0, cpu = 0, mib = 0; // mib: the child's peak resident memory
};

// Runs `args` in `folder` (unless empty) and waits for it; a failed child
// ends the benchmark, whose figures would mean nothing.
inline Measure Spawn(const std::vector<std::string>& args, const std::string& folder = {})
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const auto t0 = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (!folder.empty() && chdir(folder.c_str()) != 0)
            _exit(126);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage ru{};
    if (pid < 0 || wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed (status %d)\n", args[0].c_str(), status);
        std::exit(1);
    }
    Measure m;
    m.wall = std::chrono::duration<double>(Clock::now() - t0).count();
    m.cpu = Seconds(ru.ru_utime) + Seconds(ru.ru_stime);
    m.mib = static_cast<double>(ru.ru_maxrss) / 1024.0;
    return m;
}

inline double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

inline Measure Median(const std::vector<Measure>& runs)
{
    std::vector<double> wall, cpu, mib;
    for (const Measure& m : runs) {
        wall.push_back(m.wall);
        cpu.push_back(m.cpu);
        mib.push_back(m.mib);
    }
    return {Median(wall), Median(cpu), Median(mib)};
}

// A field of /proc/<pid>/status ("VmRSS", "VmHWM") in MiB; 0 when the
// process is gone.
inline double StatusMiB(const std::string& field, const std::string& pid = "self")
{
    std::ifstream status("/proc/" + pid + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, field.size() + 1, field + ":") == 0)
            return std::strtod(line.c_str() + field.size() + 1, nullptr) / 1024.0;
    return 0;
}

inline void Put(const stdfs::path& p, const std::string& bytes)
{
    std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// HTML-ish text of a few words, the same for the same seed.
class Words {
public:
    explicit Words(uint32_t seed) : rng_(seed) {}
    void Fill(std::string& out, size_t size)
    {
        static const char* words[] = {"<p>",   "trail ", "harbour ",      "the ",   "pine ",  "stage ",
                                      "</p>\n", "<a href=\"x\">", "north ", "cliff ", "12 km ", "water "};
        out.clear();
        while (out.size() < size)
            out += words[rng_() % 12];
        out.resize(size);
    }

private:
    std::mt19937 rng_;
};

// 100,000 pages of 200 to 5,000 bytes in 100 folders, and an index.htm.
// `adjust`, when given, may change page i before it is written.
inline void MakePages(const stdfs::path& site, const std::function<void(int, std::string&)>& adjust = {})
{
    Words words(1);
    std::string page;
    for (int d = 0; d < 100; ++d)
        stdfs::create_directories(site / ("d" + std::to_string(d)));
    for (int i = 0; i < 100000; ++i) {
        words.Fill(page, 200 + static_cast<size_t>(i) * 7919 % 4800);
        if (adjust)
            adjust(i, page);
        char name[32];
        std::snprintf(name, sizeof name, "d%d/p%06d.htm", i % 100, i);
        Put(site / name, page);
    }
    Put(site / "index.htm", "<html><body>pages</body></html>\n");
}

// Made once by `make`; a marker says the folder is whole.
inline stdfs::path Generated(const stdfs::path& site, const std::function<void(const stdfs::path&)>& make)
{
    if (!stdfs::exists(site / ".complete")) {
        std::fprintf(stderr, "generating %s ...\n", site.c_str());
        stdfs::remove_all(site);
        make(site);
        Put(site / ".complete", "");
    }
    return site;
}

} // namespace qvbench
