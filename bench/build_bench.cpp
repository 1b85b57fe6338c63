// Whole builds against their floor: the same bytes through plain zlib.
//
// For each generated site the benchmark runs a real QPF build (collection,
// archive with progress hand-overs to a serving thread, settings entry,
// directory, trailer) and then the floor: every file read sequentially,
// CRC-32 and deflate at the same level with one compressor reused through
// deflateReset, the compressed bytes written sequentially to one file.
// Usage: build_bench [folder] [small|large]
//   folder: where the sites are generated (default: the system temporary folder)
#include "SiteBuild.h"

#include "quorvane/platform/FileSystem.h"

#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

namespace {

namespace stdfs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::vector<uint8_t> Text(size_t size, uint32_t seed)
{
    static const char* words[] = {"<p>", "trail ", "harbour ", "the ", "pine ", "stage ", "</p>\n", "<a href=\"x\">",
                                  "north ", "cliff ", "12 km ", "water "};
    std::mt19937 rng(seed);
    std::vector<uint8_t> out;
    out.reserve(size);
    while (out.size() < size)
        for (const char* p = words[rng() % 12]; *p && out.size() < size; ++p)
            out.push_back(static_cast<uint8_t>(*p));
    return out;
}

void Write(const stdfs::path& p, const std::vector<uint8_t>& bytes)
{
    stdfs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                             static_cast<std::streamsize>(bytes.size()));
}

double BuildSeconds(const stdfs::path& site, const stdfs::path& out)
{
    qv::TProjectSettings s;
    s.HomePage = (site / "index.htm").string();
    s.OutputIsExe = false;
    s.OutputPath = out.string();
    stdfs::remove(out);
    const auto t0 = Clock::now();
    const qvtest::SiteBuildResult result = qvtest::BuildSite(s, {});
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    if (!result.ok) {
        std::fprintf(stderr, "build failed: %s\n", result.error.c_str());
        std::exit(1);
    }
    return seconds;
}

double FloorSeconds(const stdfs::path& site, const stdfs::path& out)
{
    const auto t0 = Clock::now();
    std::vector<std::string> files;
    for (const auto& e : stdfs::recursive_directory_iterator(site))
        if (e.is_regular_file())
            files.push_back(e.path().string());
    std::FILE* sink = std::fopen(out.c_str(), "wb");
    z_stream zs{};
    deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> in, buf(65536);
    uLong sum = 0;
    for (const std::string& f : files) {
        std::FILE* src = std::fopen(f.c_str(), "rb");
        std::fseek(src, 0, SEEK_END);
        in.resize(static_cast<size_t>(std::ftell(src)));
        std::fseek(src, 0, SEEK_SET);
        if (!in.empty() && std::fread(in.data(), 1, in.size(), src) != in.size())
            std::exit(1);
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
    std::fclose(sink);
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    if (sum == 42)
        std::puts("");
    return seconds;
}

void Measure(const char* title, const stdfs::path& site, const stdfs::path& work)
{
    // Best of three each, interleaved, so both see the same warm cache.
    double build = 1e9, floor = 1e9;
    for (int round = 0; round < 3; ++round) {
        build = std::min(build, BuildSeconds(site, work / "out.qpf"));
        floor = std::min(floor, FloorSeconds(site, work / "floor.bin"));
    }
    std::printf("%-34s build %8.3f s   floor %8.3f s   ratio %.2f\n", title, build, floor, build / floor);
}

} // namespace

int main(int argc, char** argv)
{
    const stdfs::path base = argc > 1 ? stdfs::path(argv[1]) : stdfs::temp_directory_path();
    const stdfs::path work = base / "qv-build-bench";
    stdfs::remove_all(work);
    const stdfs::path small = work / "small", large = work / "large";
    const std::string only = argc > 2 ? argv[2] : "";

    if (only != "large") {
        Write(small / "index.htm", Text(2000, 0));
        for (int i = 0; i < 10000; ++i)
            Write(small / ("d" + std::to_string(i % 40)) / ("page" + std::to_string(i) + ".htm"),
                  Text(200 + static_cast<size_t>(i % 1800), static_cast<uint32_t>(i)));
        Measure("10,000 small files (~11 MiB)", small, work);
    }
    if (only != "small") {
        Write(large / "index.htm", Text(2000, 0));
        for (int i = 0; i < 5; ++i)
            Write(large / ("media" + std::to_string(i) + ".dat"), Text(size_t{60} << 20, static_cast<uint32_t>(100 + i)));
        Measure("5 large files (300 MiB)", large, work);
    }
    stdfs::remove_all(work);
    return 0;
}
