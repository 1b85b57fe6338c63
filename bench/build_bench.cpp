// Whole builds by quorvanec against a floor and against zip -r -6.
//
// Each contender runs as a child process and is measured by wait4: wall
// time, CPU time (user + system) and peak memory (ru_maxrss). The floor is
// this program run with --floor: single-threaded, it reads each file whole,
// computes its CRC-32 and deflates it at level 6 with one compressor reused
// through deflateReset, writing the streams to one file. quorvanec builds a
// QPF at the default compression with --jobs 1 and --jobs 2 (and once with
// --jobs 3, to check that 1, 2 and 3 jobs give the same bytes).
//
// Sites: the Python 3.11 HTML documentation (Debian python3.11-doc), the
// GIMP help in English (gimp-help-en), 100,000 generated small pages in 100
// folders, and 4 generated files of 256 MiB, half random and half text. A
// site whose files are missing is skipped. The generated sites are kept in
// the work folder for the next run.
//
// Usage: build_bench [--rounds N] [--work FOLDER] [--only NAME,...]
//        NAME: python, gimp, pages, big. Medians of N rounds (default 3),
//        contenders interleaved within a round, after one warm-up pass.
#include "quorvane/project/ProjectFile.h"
#include "quorvane/project/ProjectSettings.h"

#include "BenchSupport.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace qvbench;

// ------------------------------------------------------------ the floor

int Floor(const std::string& site, const std::string& out)
{
    std::vector<std::string> files;
    for (const auto& e : stdfs::recursive_directory_iterator(site, stdfs::directory_options::follow_directory_symlink))
        if (e.is_regular_file())
            files.push_back(e.path().string());
    std::FILE* sink = std::fopen(out.c_str(), "wb");
    if (!sink)
        return 1;
    z_stream zs{};
    deflateInit2(&zs, 6, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> in, buf(65536);
    uLong sum = 0;
    for (const std::string& f : files) {
        std::FILE* src = std::fopen(f.c_str(), "rb");
        if (!src)
            return 1;
        std::fseek(src, 0, SEEK_END);
        in.resize(static_cast<size_t>(std::ftell(src)));
        std::fseek(src, 0, SEEK_SET);
        if (!in.empty() && std::fread(in.data(), 1, in.size(), src) != in.size())
            return 1;
        std::fclose(src);
        sum ^= crc32(0, in.data(), static_cast<uInt>(in.size()));
        deflateReset(&zs);
        zs.next_in = in.data();
        zs.avail_in = static_cast<uInt>(in.size());
        int rc;
        do {
            zs.next_out = buf.data();
            zs.avail_out = static_cast<uInt>(buf.size());
            rc = deflate(&zs, Z_FINISH);
            std::fwrite(buf.data(), 1, buf.size() - zs.avail_out, sink);
        } while (rc != Z_STREAM_END);
    }
    deflateEnd(&zs);
    std::fwrite(&sum, sizeof sum, 1, sink);
    return std::fclose(sink) == 0 ? 0 : 1;
}

bool SameFile(const std::string& a, const std::string& b)
{
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    std::vector<char> ba(1 << 20), bb(1 << 20);
    for (;;) {
        fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
        fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
        if (fa.gcount() != fb.gcount() || !std::equal(ba.begin(), ba.begin() + fa.gcount(), bb.begin()))
            return false;
        if (fa.gcount() == 0)
            return fa.eof() && fb.eof();
    }
}

// ------------------------------------------------------------ generated sites

void MakeBigFiles(const stdfs::path& site)
{
    stdfs::create_directories(site);
    constexpr size_t kHalf = size_t{128} << 20;
    std::string chunk;
    for (int f = 0; f < 4; ++f) {
        std::ofstream out(site / ("media" + std::to_string(f) + ".dat"), std::ios::binary);
        std::mt19937_64 rng(100 + static_cast<uint64_t>(f));
        chunk.resize(size_t{1} << 20);
        for (size_t done = 0; done < kHalf; done += chunk.size()) {
            for (size_t i = 0; i < chunk.size(); i += 8) {
                const uint64_t r = rng();
                std::memcpy(chunk.data() + i, &r, 8);
            }
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        }
        Words words(200 + static_cast<uint32_t>(f));
        for (size_t done = 0; done < kHalf; done += chunk.size()) {
            words.Fill(chunk, size_t{1} << 20);
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        }
    }
    Put(site / "index.htm", "<html><body>media</body></html>\n");
}

struct Site {
    std::string key, title;
    stdfs::path root;
    std::string home;
};

std::string Describe(const stdfs::path& root)
{
    size_t files = 0;
    uintmax_t bytes = 0;
    for (const auto& e : stdfs::recursive_directory_iterator(root, stdfs::directory_options::follow_directory_symlink))
        if (e.is_regular_file()) {
            ++files;
            bytes += e.file_size();
        }
    char text[64];
    std::snprintf(text, sizeof text, "%zu files, %.1f MB", files, static_cast<double>(bytes) / 1e6);
    return text;
}

void Report(const char* who, const Measure& m, const Measure& floor, const Measure& zip)
{
    std::printf("  %-20s wall %7.2f s  %5.2f x floor  %5.2f x zip | CPU %7.2f s  %5.2f x floor  %5.2f x zip | "
                "peak %6.1f MiB  %5.2f x floor  %5.2f x zip\n",
                who, m.wall, m.wall / floor.wall, m.wall / zip.wall, m.cpu, m.cpu / floor.cpu, m.cpu / zip.cpu, m.mib,
                m.mib / floor.mib, m.mib / zip.mib);
}

double Load()
{
    double avg[1] = {0};
    return getloadavg(avg, 1) == 1 ? avg[0] : -1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--floor")
        return Floor(argv[2], argv[3]);

    int rounds = 3;
    stdfs::path work = stdfs::temp_directory_path() / "qv-build-bench";
    std::string only;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt == "--rounds")
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (opt == "--work")
            work = argv[i + 1];
        else if (opt == "--only")
            only = argv[i + 1];
    }
    auto wanted = [&](const std::string& key) { return only.empty() || ("," + only + ",").find("," + key + ",") != std::string::npos; };
    const std::string self = stdfs::canonical("/proc/self/exe").string();
    stdfs::create_directories(work);

    std::vector<Site> sites;
    if (wanted("python"))
        sites.push_back({"python", "python3.11-doc HTML", "/usr/share/doc/python3.11/html", "index.html"});
    if (wanted("gimp"))
        sites.push_back({"gimp", "gimp-help-en", "/usr/share/gimp/2.0/help/en", "index.html"});
    if (wanted("pages"))
        sites.push_back({"pages", "100,000 small pages in 100 folders", Generated(work / "pages", [](const stdfs::path& p) { MakePages(p); }), "index.htm"});
    if (wanted("big"))
        sites.push_back({"big", "4 x 256 MiB, half random, half text", Generated(work / "big", MakeBigFiles), "index.htm"});

    std::printf("quorvanec: %s\nrounds: %d (medians), load average at start: %.2f, cores: %u\n", QV_QUORVANEC, rounds,
                Load(), std::thread::hardware_concurrency());
    for (const Site& site : sites) {
        if (!stdfs::exists(site.root / site.home)) {
            std::printf("\n%s: skipped, %s is missing\n", site.title.c_str(), (site.root / site.home).c_str());
            continue;
        }
        const stdfs::path out = work / ("out-" + site.key);
        stdfs::create_directories(out);
        const std::string project = (out / "site.qp").string(), qpf = (out / "site.qpf").string();
        qv::ProjectSettingsRecord s;
        s.HomePage = (site.root / site.home).string();
        s.OutputIsExe = false;
        s.OutputPath = qpf;
        if (!qv::SaveProject(project, s, [](const std::string& m) { std::fprintf(stderr, "%s\n", m.c_str()); }))
            return 1;

        auto floorRun = [&] { return Spawn({self, "--floor", site.root.string(), (out / "floor.bin").string()}, ""); };
        auto zipRun = [&] {
            stdfs::remove(out / "site.zip");
            return Spawn({"zip", "-r", "-6", "-q", (out / "site.zip").string(), "."}, site.root.string());
        };
        auto qvRun = [&](int jobs) {
            return Spawn({QV_QUORVANEC, "build", "-q", "--jobs", std::to_string(jobs), project}, "");
        };

        std::printf("\n%s (%s)\n", site.title.c_str(), Describe(site.root).c_str());
        std::fflush(stdout);
        floorRun(); // warms the page cache
        const std::string reference = (out / "jobs1.qpf").string();
        qvRun(1);
        stdfs::rename(qpf, reference);
        bool same = true;
        std::vector<Measure> floors, zips, ones, twos;
        for (int r = 0; r < rounds; ++r) {
            floors.push_back(floorRun());
            zips.push_back(zipRun());
            ones.push_back(qvRun(1));
            same = SameFile(qpf, reference) && same;
            twos.push_back(qvRun(2));
            same = SameFile(qpf, reference) && same;
        }
        qvRun(3);
        same = SameFile(qpf, reference) && same;

        const Measure floor = Median(floors), zip = Median(zips);
        std::printf("  %-20s wall %7.2f s | CPU %7.2f s | peak %6.1f MiB\n", "floor", floor.wall, floor.cpu, floor.mib);
        Report("zip -r -6", zip, floor, zip);
        Report("quorvanec --jobs 1", Median(ones), floor, zip);
        Report("quorvanec --jobs 2", Median(twos), floor, zip);
        std::printf("  same bytes for 1, 2 and 3 jobs: %s\n", same ? "yes" : "NO");
        std::fflush(stdout);
        stdfs::remove(reference);
        stdfs::remove(out / "floor.bin");
        stdfs::remove(out / "site.zip");
        stdfs::remove(qpf);
        if (!same)
            return 1;
    }
    std::printf("\nload average at the end: %.2f\n", Load());
    return 0;
}
