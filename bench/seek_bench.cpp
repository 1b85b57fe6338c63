// Seeks into a 1 GiB deflated entry as the viewers make them: 64 KiB read
// at 10 %, 50 % and 99 % through SiteArchive::Read, the first read (which
// checks the entry and finds its seek points in one pass) and later ones,
// against inflating from the entry's start as every range once did.
// Usage: seek_bench [folder] [MiB], a folder with room for the archive.
#include "quorvane/archive/ArchiveWriter.h"
#include "quorvane/archive/InflateIndex.h"
#include "quorvane/base/Stream.h"
#include "quorvane/platform/TempFiles.h"
#include "quorvane/viewercore/SiteFile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr size_t kChunk = 64 * 1024;

uint64_t Mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Any 64 KiB chunk of the entry from its number alone: mostly text-like
// words, every fourth chunk noise, so the stream holds both kinds of block.
void MakeChunk(uint64_t number, uint8_t* out)
{
    static const char* words[] = {"lecture ", "frame ",  "the ",   "audio ", "slide ",  "of ",    "and ",
                                  "video ",   "track ",  "mdat ",  "moov ",  "sample ", "a ",     "chapter ",
                                  "quorvane ", "notes ", "time ",  "scale ", "key ",    "stream "};
    uint64_t state = Mix(number);
    if (number % 4 == 3) {
        for (size_t i = 0; i < kChunk; i += 8) {
            state = Mix(state);
            std::memcpy(out + i, &state, 8);
        }
        return;
    }
    for (size_t i = 0; i < kChunk;) {
        state = Mix(state);
        const char* w = words[state % (sizeof words / sizeof *words)];
        for (const char* p = w; *p && i < kChunk; ++p)
            out[i++] = static_cast<uint8_t>(*p);
    }
}

// The entry's bytes made as they are read, so 1 GiB never sits in memory.
class MadeSource final : public qv::Stream {
public:
    explicit MadeSource(int64_t size) : size_(size), chunk_(kChunk) {}
    int64_t Size() const override { return size_; }
    int64_t Position() const override { return position_; }
    void Seek(int64_t position) override { position_ = position; }
    size_t Read(void* buffer, size_t count) override
    {
        auto* out = static_cast<uint8_t*>(buffer);
        size_t done = 0;
        while (done < count && position_ < size_) {
            const uint64_t number = static_cast<uint64_t>(position_) / kChunk;
            if (number != made_) {
                MakeChunk(number, chunk_.data());
                made_ = number;
            }
            const size_t at = static_cast<size_t>(position_ % static_cast<int64_t>(kChunk));
            const size_t n = std::min({count - done, kChunk - at, static_cast<size_t>(size_ - position_)});
            std::memcpy(out + done, chunk_.data() + at, n);
            done += n;
            position_ += static_cast<int64_t>(n);
        }
        return done;
    }
    void Write(const void*, size_t) override { std::abort(); }
    void SetSize(int64_t) override { std::abort(); }

private:
    int64_t size_;
    int64_t position_ = 0;
    std::vector<uint8_t> chunk_;
    uint64_t made_ = ~uint64_t(0);
};

double Since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Milliseconds for one 64 KiB read through `read`, which must give the
// source's bytes.
template <typename Reading>
double TimedRead(MadeSource& source, int64_t offset, const Reading& read)
{
    std::vector<uint8_t> got;
    const auto start = std::chrono::steady_clock::now();
    read(offset, [&got](const uint8_t* data, size_t size) { got.insert(got.end(), data, data + size); });
    const double ms = Since(start) * 1000;
    std::vector<uint8_t> expected(kChunk);
    source.Seek(offset);
    expected.resize(source.Read(expected.data(), expected.size()));
    if (got != expected) {
        std::fprintf(stderr, "wrong bytes at %lld\n", static_cast<long long>(offset));
        std::exit(1);
    }
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    const std::string parent = argc > 1 ? argv[1] : qv::tempfiles::SystemTempFolder();
    const int64_t size = (argc > 2 ? std::atoll(argv[2]) : 1024) * 1024 * 1024;
    const std::string folder = qv::tempfiles::CreateUniqueFolder(parent, "qvseek-");
    const std::string file = folder + "/lecture.qpf";
    MadeSource source(size);

    auto start = std::chrono::steady_clock::now();
    {
        qv::ArchiveWriter writer;
        writer.SetLevel(qv::CompressionLevel::Fastest);
        writer.Create(file);
        writer.Add("lecture.mp4", source);
        writer.Close();
    }
    std::printf("archive: %.0f MiB entry deflated at level 1 to %.0f MiB in %.1f s\n", size / 1048576.0,
                static_cast<double>(fs::file_size(file)) / 1048576.0, Since(start));

    const auto site = qv::OpenSiteFile(file);
    const auto read = [&](int64_t offset, const qv::ArchiveReader::ByteSink& sink) {
        site->Read(0, offset, std::min<int64_t>(kChunk, size - offset), sink);
    };
    const auto at = [size](int percent) { return size / 100 * percent; };
    std::printf("%-34s %10s\n", "64 KiB read through SiteArchive", "ms");
    std::printf("%-34s %10.1f\n", "first, at 10 % (check + points)", TimedRead(source, at(10), read));
    for (const int percent : {10, 50, 99}) {
        double worst = 0, sum = 0;
        constexpr int kRepeats = 20;
        // Different offsets each time, so no read finds the last one's
        // blocks in a cache of ours.
        for (int k = 0; k < kRepeats; ++k) {
            const double ms = TimedRead(source, std::min(at(percent) + k * 104729, size - int64_t(kChunk)), read);
            worst = std::max(worst, ms);
            sum += ms;
        }
        std::printf("later, at %2d %% (mean / worst of %d) %6.2f / %.2f\n", percent, kRepeats, sum / kRepeats, worst);
    }

    qv::FileStream stream(file, qv::FileStream::Mode::OpenRead);
    const qv::ArchiveReader reader(stream);
    const double fromStart = TimedRead(source, at(50), [&](int64_t offset, const qv::ArchiveReader::ByteSink& sink) {
        reader.ExtractRange(stream, 0, offset, kChunk, sink);
    });
    std::printf("%-34s %10.1f\n", "inflated from the start, at 50 %", fromStart);

    start = std::chrono::steady_clock::now();
    reader.Extract(stream, 0, [](const uint8_t*, size_t) {});
    const double checkOnly = Since(start);
    start = std::chrono::steady_clock::now();
    const auto index = qv::InflateIndex::Build(reader, stream, 0);
    std::printf("full pass: %.2f s checking alone, %.2f s checking and finding %zu points (%.1f MiB)\n", checkOnly,
                Since(start), index->Points().size(), static_cast<double>(index->MemoryUse()) / 1048576.0);
    fs::remove_all(folder);
    return 0;
}
