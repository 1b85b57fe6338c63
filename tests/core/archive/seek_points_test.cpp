#include "ArchiveComposer.h"
#include "TestSupport.h"

#include "quorvane/archive/InflateIndex.h"
#include "quorvane/base/Error.h"
#include "quorvane/base/Stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>

using namespace qv;
using qvtest::ArchiveComposer;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int64_t kSpacing = 64 * 1024;

// Text with stretches of noise, so the stream holds compressed and stored
// blocks, and blocks that end inside a byte.
Bytes MixedBytes(size_t size, uint32_t seed)
{
    Bytes out;
    std::mt19937 rng(seed);
    while (out.size() < size) {
        const size_t n = std::min<size_t>(size - out.size(), 20000 + rng() % 200000);
        const Bytes part = rng() % 4 == 0 ? qvtest::NoiseBytes(n, rng()) : qvtest::TextBytes(n, rng());
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

// Counts the passes that begin at the start of an entry's data, which the
// reads of these tests, all past the first seek point, never do.
class PassCounter final : public Stream {
public:
    PassCounter(const Bytes& bytes, std::vector<int64_t> starts, std::atomic<int>& passes)
        : inner_(bytes), starts_(std::move(starts)), passes_(passes)
    {
    }
    int64_t Size() const override { return inner_.Size(); }
    int64_t Position() const override { return inner_.Position(); }
    void Seek(int64_t position) override
    {
        if (std::find(starts_.begin(), starts_.end(), position) != starts_.end())
            ++passes_;
        inner_.Seek(position);
    }
    size_t Read(void* buffer, size_t count) override { return inner_.Read(buffer, count); }
    void Write(const void* buffer, size_t count) override { inner_.Write(buffer, count); }
    void SetSize(int64_t size) override { inner_.SetSize(size); }

private:
    MemoryStream inner_;
    std::vector<int64_t> starts_;
    std::atomic<int>& passes_;
};

struct Sample {
    std::vector<Bytes> sources;
    Bytes file;
};

Sample SampleArchive(size_t entries, size_t size, int level = -1)
{
    Sample s;
    ArchiveComposer c;
    c.Add("small.txt", qvtest::TextBytes(1000, 1));
    for (size_t i = 0; i < entries; ++i) {
        s.sources.push_back(MixedBytes(size, static_cast<uint32_t>(i + 5)));
        c.Add("media\\clip" + std::to_string(i) + ".wav", s.sources.back(), level);
    }
    for (const auto& record : c.Records)
        EXPECT_EQ(record.Storage, 0);
    s.file = c.Build();
    return s;
}

Bytes Slice(const Bytes& bytes, int64_t offset, int64_t count)
{
    return Bytes(bytes.begin() + offset, bytes.begin() + offset + count);
}

template <typename Reading>
Bytes Collect(const Reading& read)
{
    Bytes got;
    read([&got](const uint8_t* data, size_t size) { got.insert(got.end(), data, data + size); });
    return got;
}

} // namespace

TEST(InflateIndex, RangesFromAnyOffsetAreTheSourcesBytes)
{
    for (const int level : {1, 9}) {
        const Sample s = SampleArchive(1, 3 * 1024 * 1024 + 777, level);
        const Bytes& source = s.sources[0];
        const int64_t size = static_cast<int64_t>(source.size());
        MemoryStream stream(s.file);
        const ArchiveReader reader(stream);
        const auto index = InflateIndex::Build(reader, stream, 1, kSpacing);
        const auto& points = index->Points();
        ASSERT_GE(points.size(), 20u) << level;
        EXPECT_LE(points.size(), static_cast<size_t>(size / kSpacing));
        EXPECT_GE(points.front().Output, kSpacing);
        for (size_t i = 1; i < points.size(); ++i)
            EXPECT_GE(points[i].Output - points[i - 1].Output, kSpacing);
        // Blocks that end inside a byte leave bits to be fed in again.
        EXPECT_TRUE(std::any_of(points.begin(), points.end(), [](const InflatePoint& p) { return p.Bits != 0; }));

        std::vector<std::pair<int64_t, int64_t>> ranges = {{0, 1}, {0, size}, {size - 1, 1}, {size, 0}, {12345, 70000}};
        for (const InflatePoint& p : points)
            for (const int64_t at : {p.Output - 1, p.Output, p.Output + 1})
                ranges.emplace_back(at, std::min<int64_t>(3000, size - at));
        // Across several points.
        ranges.emplace_back(points[2].Output - 5, points[7].Output - points[2].Output + 10);
        for (const auto& [offset, count] : ranges) {
            const Bytes got = Collect([&](const auto& sink) { index->ExtractRange(reader, stream, offset, count, sink); });
            ASSERT_EQ(got, Slice(source, offset, count)) << "level " << level << ", " << offset << " + " << count;
        }
        EXPECT_EQ(qvtest::FailureOf([&] { index->ExtractRange(reader, stream, size - 1, 2, [](const uint8_t*, size_t) {}); }),
                  "Cannot read bytes " + std::to_string(size - 1) + " to " + std::to_string(size + 1) +
                      " of \"media\\clip0.wav\": it holds " + std::to_string(size) + " bytes");
    }
}

TEST(InflateIndex, LongEntriesSpaceTheirPointsWider)
{
    const Sample s = SampleArchive(1, 2 * 1024 * 1024);
    MemoryStream stream(s.file);
    const ArchiveReader reader(stream);
    // One point per output byte asked for: at most kMaxPoints are kept.
    const auto index = InflateIndex::Build(reader, stream, 1, 1);
    const auto& points = index->Points();
    ASSERT_GT(points.size(), 10u);
    EXPECT_LE(points.size(), InflateIndex::kMaxPoints);
    const int64_t step = static_cast<int64_t>(s.sources[0].size() / InflateIndex::kMaxPoints);
    for (size_t i = 1; i < points.size(); ++i)
        EXPECT_GE(points[i].Output - points[i - 1].Output, step);
    EXPECT_EQ(Collect([&](const auto& sink) { index->ExtractRange(reader, stream, 1500000, 100, sink); }),
              Slice(s.sources[0], 1500000, 100));
}

TEST(SeekPoints, ADamagedEntryIsRefusedBeforeAnyByteAndNothingIsKept)
{
    ArchiveComposer c;
    const Bytes source = MixedBytes(2 * 1024 * 1024, 3);
    c.Add("wrong-crc.wav", source);
    c.Add("broken.wav", source);
    c.Records[0].CRC ^= 1;
    Bytes file = c.Build();
    // A byte near the end of the second stream, past every seek point.
    file[static_cast<size_t>(c.Records[1].Offset + c.Records[1].CompressedSize - 100)] ^= 0x55;

    MemoryStream stream(file);
    const ArchiveReader reader(stream, {{}, "site.qpf", false});
    const SeekPoints points(reader, 1024 * 1024, {kSpacing, 64 * 1024 * 1024});
    for (const size_t entry : {size_t(0), size_t(1)}) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            bool given = false;
            const std::string error = qvtest::FailureOf(
                [&] { points.Read(stream, entry, 10, 100, [&given](const uint8_t*, size_t) { given = true; }); });
            EXPECT_FALSE(given) << entry;
            EXPECT_EQ(error.rfind("site.qpf: Archive entry \"" + reader.Entry(entry).ArchiveName() + "\" is damaged: ", 0),
                      0u)
                << error;
            EXPECT_EQ(points.Kept(entry), nullptr);
        }
    }
    EXPECT_NE(qvtest::FailureOf([&] { points.Read(stream, 0, 0, 1, [](const uint8_t*, size_t) {}); }).find("CRC mismatch"),
              std::string::npos);
    EXPECT_EQ(points.MemoryUse(), 0);
}

TEST(SeekPoints, KeepsTheRecentlyReadIndexesWithinItsBudget)
{
    const Sample s = SampleArchive(3, 1536 * 1024);
    MemoryStream stream(s.file);
    const ArchiveReader reader(stream);
    // The small entry is read directly, the others through their points.
    const SeekPoints unlimited(reader, 1024 * 1024, {kSpacing, 64 * 1024 * 1024});
    EXPECT_FALSE(unlimited.Covers(0));
    EXPECT_TRUE(unlimited.Covers(1));
    unlimited.Read(stream, 1, 0, 1, [](const uint8_t*, size_t) {});
    const int64_t one = unlimited.MemoryUse();
    ASSERT_GT(one, 8 * 32 * 1024);

    // Room for two indexes: reading a third lets the least recently read go.
    const SeekPoints points(reader, 1024 * 1024, {kSpacing, 2 * one + one / 2});
    const auto read = [&](size_t entry, int64_t offset) {
        const Bytes got = Collect([&](const auto& sink) { points.Read(stream, entry, offset, 5000, sink); });
        EXPECT_EQ(got, Slice(s.sources[entry - 1], offset, 5000)) << entry;
    };
    read(1, 1000000);
    read(2, 700000);
    read(1, 200000);
    read(3, 1200000);
    EXPECT_NE(points.Kept(1), nullptr);
    EXPECT_EQ(points.Kept(2), nullptr);
    EXPECT_NE(points.Kept(3), nullptr);
    EXPECT_LE(points.MemoryUse(), 2 * one + one / 2);
    read(2, 300000);
    EXPECT_NE(points.Kept(2), nullptr);
    EXPECT_EQ(points.Kept(1), nullptr);
}

TEST(SeekPoints, ThreadsReadingAtOnceShareOnePassPerEntry)
{
    const Sample s = SampleArchive(2, 4 * 1024 * 1024);
    MemoryStream stream(s.file);
    const ArchiveReader reader(stream);
    const SeekPoints points(reader, 1024 * 1024, {kSpacing, 64 * 1024 * 1024});
    const std::vector<int64_t> starts = {reader.Entry(1).Offset, reader.Entry(2).Offset};

    constexpr int kThreads = 6;
    constexpr int kReads = 40;
    constexpr int64_t kFrom = 1024 * 1024;
    std::atomic<int> passes{0};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            PassCounter own(s.file, starts, passes);
            std::mt19937 rng(static_cast<uint32_t>(t));
            for (int i = 0; i < kReads; ++i) {
                const size_t entry = 1 + static_cast<size_t>(t + i) % 2;
                const Bytes& source = s.sources[entry - 1];
                const int64_t count = 1 + rng() % 100000;
                const int64_t offset = kFrom + rng() % (static_cast<int64_t>(source.size()) - kFrom - count);
                try {
                    const Bytes got = Collect([&](const auto& sink) { points.Read(own, entry, offset, count, sink); });
                    if (got != Slice(source, offset, count))
                        ++wrong;
                } catch (const Error&) {
                    ++wrong;
                }
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, 0);
    ASSERT_NE(points.Kept(1), nullptr);
    ASSERT_NE(points.Kept(2), nullptr);
    EXPECT_LT(points.Kept(1)->Points().front().Output, kFrom);
    EXPECT_EQ(passes, 2);
}
