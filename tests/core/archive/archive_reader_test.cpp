#include "AllocationWatch.h"
#include "ArchiveComposer.h"
#include "HostileArchives.h"
#include "TestSupport.h"

#include "quorvane/archive/ArchiveFile.h"
#include "quorvane/archive/ArchivePaths.h"
#include "quorvane/archive/ArchiveReader.h"
#include "quorvane/base/PathParts.h"
#include "quorvane/base/Stream.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <limits>

using namespace qvtest;
using qv::ArchiveReader;
using qv::MemoryStream;
namespace trailer_offset = qv::trailer_offset;

namespace {

// Noise followed by zeros, lengthened until zlib packs it to exactly
// `target` bytes, so a test can lay entries at chosen offsets.
std::vector<uint8_t> BytesCompressingTo(size_t size, size_t target, const std::vector<uint8_t>& head = {})
{
    for (uint32_t seed = 1; seed < 50; ++seed) {
        for (size_t noise = 0; head.size() + noise <= size; ++noise) {
            std::vector<uint8_t> data = head;
            const auto n = NoiseBytes(noise, seed);
            data.insert(data.end(), n.begin(), n.end());
            data.resize(size, 0);
            const size_t packed = Deflate(data).size();
            if (packed == target)
                return data;
            if (packed > target)
                break;
        }
    }
    throw std::runtime_error("no data packs to the target size");
}

std::vector<uint8_t> SettingsImageWithHomePage(const std::string& page, size_t packedSize)
{
    std::vector<uint8_t> head(1 + page.size());
    head[0] = static_cast<uint8_t>(page.size());
    std::copy(page.begin(), page.end(), head.begin() + 1);
    return BytesCompressingTo(3896, packedSize, head);
}

struct Opened {
    MemoryStream stream;
    std::unique_ptr<ArchiveReader> reader;
    explicit Opened(std::vector<uint8_t> bytes, ArchiveReader::Options options = {})
        : stream(std::move(bytes)), reader(std::make_unique<ArchiveReader>(stream, std::move(options)))
    {
    }
    ArchiveReader* operator->() { return reader.get(); }
};

std::string OpenFailure(const std::vector<uint8_t>& bytes)
{
    return FailureOf([&] { Opened opened(bytes); });
}

std::string ExtractFailure(const std::vector<uint8_t>& bytes, size_t index = 0)
{
    Opened opened(bytes);
    return FailureOf([&] { opened->Extract(index); });
}

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

ArchiveComposer TwoEntries()
{
    ArchiveComposer c;
    c.Add("index.html", TextBytes(5000, 3));
    c.Add("img\\logo.png", NoiseBytes(700, 4));
    return c;
}

} // namespace

TEST(ArchiveReaderLayout, WorkedLayoutStandAloneAndAppendedToAViewerCopy)
{
    ArchiveComposer c;
    const auto page = BytesCompressingTo(1000, 400);
    const auto config = SettingsImageWithHomePage("index.html", 300);
    c.Add("index.html", page);
    c.Add("-config-", config);
    ASSERT_EQ(c.Records[0].CompressedSize, 400);
    ASSERT_EQ(c.Records[1].Offset, 400);
    const auto archive = c.Build();

    std::vector<uint8_t> exe = NoiseBytes(500000, 9);
    exe.insert(exe.end(), archive.begin(), archive.end());

    for (const std::vector<uint8_t>* bytes : {&archive, static_cast<const std::vector<uint8_t>*>(&exe)}) {
        Opened a(*bytes);
        EXPECT_EQ(a->ArchiveStart(), bytes == &exe ? 500000 : 0);
        EXPECT_EQ(a->Trailer().RegistryOffset, 700);
        EXPECT_EQ(a->Trailer().RegistrySize, int64_t(archive.size()) - 700 - 36);
        EXPECT_EQ(a->Trailer().RegistryCompressed, 1);
        ASSERT_EQ(a->Count(), 2u);
        EXPECT_EQ(a->Entry(0).Offset, 0);
        EXPECT_EQ(a->Entry(0).StoredSize(), 400);
        EXPECT_EQ(a->Entry(1).Offset, 400);
        EXPECT_EQ(a->Entry(1).StoredSize(), 300);
        EXPECT_EQ(a->Entry(1).ArchiveName(), "-config-");
        EXPECT_EQ(a->Extract(0), page);
        EXPECT_EQ(a->Extract(1), config);
    }
}

TEST(ArchiveReaderLayout, ListsEveryFieldOfTheRecords)
{
    ArchiveComposer c;
    c.Add("sub\\deeper\\page.html", TextBytes(3000, 5), 9);
    c.Add("noise.bin", NoiseBytes(2000, 6));
    c.Add("empty.txt", {});
    c.Add("-config-", std::vector<uint8_t>(3896, 0), 1);
    Opened a(c.Build());
    ASSERT_EQ(a->Count(), 4u);

    const auto& page = a->Entry(0);
    EXPECT_EQ(page.Name, "page.html");
    EXPECT_EQ(page.Path, "sub\\deeper\\");
    EXPECT_EQ(page.ArchiveName(), "sub\\deeper\\page.html");
    EXPECT_EQ(page.FileSize, 3000);
    EXPECT_EQ(page.CompressedSize, c.Records[0].CompressedSize);
    EXPECT_EQ(page.Kind(), qv::EntryStorage::Deflated);
    EXPECT_EQ(page.Level, 3);
    EXPECT_EQ(page.CRC, Crc32(TextBytes(3000, 5)));

    const auto& noise = a->Entry(1);
    EXPECT_EQ(noise.Kind(), qv::EntryStorage::Stored);
    EXPECT_EQ(noise.CompressedSize, 0);
    EXPECT_EQ(noise.StoredSize(), 2000);
    EXPECT_EQ(noise.Offset, c.Records[0].CompressedSize);
    EXPECT_EQ(a->Extract(1), NoiseBytes(2000, 6));

    const auto& empty = a->Entry(2);
    EXPECT_EQ(empty.FileSize, 0);
    EXPECT_EQ(empty.CRC, 0u);
    EXPECT_EQ(empty.Offset, a->Entry(3).Offset);
    EXPECT_TRUE(a->Extract(2).empty());

    EXPECT_EQ(a->Entry(3).Path, "");
    EXPECT_EQ(a->Entry(3).Level, 1);
    EXPECT_EQ(a->Extract(3), std::vector<uint8_t>(3896, 0));
    EXPECT_EQ(FailureOf([&] { a->Entry(4); }), "Index out of bounds");
}

TEST(ArchiveReaderLayout, EmptyArchiveHasACompressedEmptyDirectory)
{
    ArchiveComposer c;
    const auto bytes = c.Build();
    ASSERT_EQ(bytes.size(), Deflate({}).size() + 36);
    Opened a(bytes);
    EXPECT_EQ(a->Count(), 0u);
    EXPECT_EQ(a->Trailer().RegistryOffset, 0);
    EXPECT_EQ(a->ArchiveStart(), 0);
    EXPECT_EQ(a->IndexOf("-config-"), -1);
}

TEST(ArchiveReaderLayout, RawDirectoryEndsWhereTheTrailerBegins)
{
    ArchiveComposer c = TwoEntries();
    c.RawDirectory = true;
    const auto archive = c.Build();
    EXPECT_EQ(c.LastTrailer().RegistrySize, 0);
    std::vector<uint8_t> exe = TextBytes(12345, 2);
    exe.insert(exe.end(), archive.begin(), archive.end());
    for (const std::vector<uint8_t>* bytes : {&archive, static_cast<const std::vector<uint8_t>*>(&exe)}) {
        Opened a(*bytes);
        EXPECT_EQ(a->ArchiveStart(), bytes == &exe ? 12345 : 0);
        ASSERT_EQ(a->Count(), 2u);
        EXPECT_EQ(a->Entry(1).ArchiveName(), "img\\logo.png");
        EXPECT_EQ(a->Extract(0), TextBytes(5000, 3));
        EXPECT_EQ(a->Extract(1), NoiseBytes(700, 4));
    }
}

TEST(ArchiveReaderLayout, EntriesLargerThanOneBlockStreamThrough)
{
    ArchiveComposer c;
    c.Add("big.html", TextBytes(300000, 7));
    c.Add("big.bin", NoiseBytes(200000, 8));
    Opened a(c.Build());
    for (size_t i = 0; i < 2; ++i) {
        MemoryStream out;
        size_t pieces = 0;
        a->Extract(i, [&](const uint8_t* data, size_t size) {
            out.Write(data, size);
            ++pieces;
        });
        EXPECT_GT(pieces, 2u);
        EXPECT_EQ(out.Bytes(), i == 0 ? TextBytes(300000, 7) : NoiseBytes(200000, 8));
    }
    MemoryStream out;
    a->ExtractTo(0, out);
    EXPECT_EQ(out.Size(), 300000);
}

TEST(ArchiveReaderLayout, IndexOfFoldsAsciiLettersOnly)
{
    ArchiveComposer c;
    c.Add("Sub\\Page.HTML", TextBytes(10));
    c.Add("\xC9t\xE9.htm", TextBytes(10)); // "Été.htm" in code page 1252
    Opened a(c.Build());
    EXPECT_EQ(a->IndexOf("sub\\page.html"), 0);
    EXPECT_EQ(a->IndexOf("SUB\\PAGE.HTML"), 0);
    EXPECT_EQ(a->IndexOf("Page.HTML"), -1);
    EXPECT_EQ(a->IndexOf("\xC9T\xE9.HTM"), 1);
    EXPECT_EQ(a->IndexOf("\xE9t\xE9.htm"), -1);
}

TEST(ArchiveReaderFile, DecodesNamesAndNamesTheFileInMessages)
{
    TempDir dir;
    ArchiveComposer c;
    c.Add("caf\xE9\\men\xFC.html", TextBytes(100));
    WriteFile(dir / "site.qpf", c.Build());
    qv::ArchiveFile file((dir / "site.qpf").string());
    EXPECT_EQ(file.Name(0), "caf\u00e9\\men\u00fc.html");
    EXPECT_EQ(file.Reader().Entry(0).Path, "caf\xE9\\");
    EXPECT_EQ(file.Reader().Extract(0), TextBytes(100));

    const uint32_t recorded = c.Records[0].CRC ^ 1;
    c.Records[0].CRC = recorded;
    WriteFile(dir / "bad.qpf", c.Build());
    qv::ArchiveFile bad((dir / "bad.qpf").string());
    EXPECT_EQ(FailureOf([&] { bad.Reader().Extract(0); }),
              (dir / "bad.qpf").string() + ": Archive entry \"caf\u00e9\\men\u00fc.html\" is damaged: CRC mismatch (recorded " +
                  Hex(recorded) + ", data gives " + Hex(recorded ^ 1) + ")");

    WriteFile(dir / "short.qpf", std::string("tiny"));
    EXPECT_THROW(qv::ArchiveFile((dir / "short.qpf").string()), qv::ArchiveNotFound);
    EXPECT_THROW(qv::ArchiveFile((dir / "missing.qpf").string()), qv::OsError);
}

TEST(ArchiveReaderDamage, NoTrailerMeansNoArchive)
{
    for (size_t size : {0, 1, 35}) {
        const std::vector<uint8_t> bytes(size, 0);
        EXPECT_THROW(Opened{bytes}, qv::ArchiveNotFound);
        EXPECT_EQ(OpenFailure(bytes),
                  "No archive found: the file is " + std::to_string(size) + " bytes long, too short for an archive trailer");
    }
    auto bytes = TwoEntries().Build();
    for (int32_t version : {0, 1, 3, -2}) {
        auto v = bytes;
        Poke32(v, v.size() - 36 + trailer_offset::Version, static_cast<uint32_t>(version));
        EXPECT_THROW(Opened{v}, qv::ArchiveNotFound);
        EXPECT_CONTAINS(OpenFailure(v), "trailer holds version " + std::to_string(version) + ", not 2");
    }
    // A 36-byte file can hold just the trailer of an empty raw archive.
    ArchiveComposer empty;
    empty.RawDirectory = true;
    EXPECT_EQ(Opened(empty.Build())->Count(), 0u);
}

TEST(ArchiveReaderDamage, TrailerFieldsAreCheckedBeforeUse)
{
    const auto good = TwoEntries().Build();
    const size_t t = good.size() - 36;
    struct Case {
        size_t field;
        int width;
        int64_t value;
        const char* message;
    };
    const Case cases[] = {
        {trailer_offset::EntryCount, 4, -1, "the entry count is negative (-1)"},
        {trailer_offset::EntryCount, 4, std::numeric_limits<int32_t>::min(), "the entry count is negative"},
        {trailer_offset::EntryCount, 4, std::numeric_limits<int32_t>::max(), "entries cannot come from a directory of"},
        {trailer_offset::RegistrySize, 4, -5, "the directory size is negative (-5)"},
        {trailer_offset::RegistrySize, 4, std::numeric_limits<int32_t>::max(), "the directory lies outside the file"},
        {trailer_offset::RegistryOffset, 8, -1, "the directory offset is negative"},
        {trailer_offset::RegistryOffset, 8, int64_t(good.size()), "the directory lies outside the file"},
        {trailer_offset::RegistryOffset, 8, std::numeric_limits<int64_t>::max(), "the directory lies outside the file"},
        {trailer_offset::RegistryCompressed, 1, 2, "unknown directory format 2"},
        {trailer_offset::ArchiveCRC, 4, 0x12345678, "Archive checksum mismatch: the trailer records 0x12345678"},
    };
    for (const Case& k : cases) {
        auto bytes = good;
        if (k.width == 1)
            bytes[t + k.field] = static_cast<uint8_t>(k.value);
        else if (k.width == 4)
            Poke32(bytes, t + k.field, static_cast<uint32_t>(k.value));
        else
            Poke64(bytes, t + k.field, static_cast<uint64_t>(k.value));
        const std::string message = OpenFailure(bytes);
        EXPECT_CONTAINS(message, k.message);
    }
    // Raw directories: the count alone places them, so it is bounded by the file.
    ArchiveComposer raw = TwoEntries();
    raw.RawDirectory = true;
    auto bytes = raw.Build();
    Poke32(bytes, bytes.size() - 36 + trailer_offset::EntryCount, 1000000);
    EXPECT_CONTAINS(OpenFailure(bytes), "1000000 entries do not fit into the file");
    bytes = raw.Build();
    Poke32(bytes, bytes.size() - 36 + trailer_offset::EntryCount, 3);
    EXPECT_CONTAINS(OpenFailure(bytes), "the directory lies outside the file");
}

TEST(ArchiveReaderDamage, ChecksumCoversEveryByteBeforeTheTrailer)
{
    const auto good = TwoEntries().Build();
    for (size_t at : {size_t(0), good.size() / 2, good.size() - 37}) {
        auto bytes = good;
        bytes[at] ^= 0x40;
        EXPECT_CONTAINS(OpenFailure(bytes), "Archive checksum mismatch");
    }
    // Switched off, the same damage in entry data surfaces at extraction.
    auto bytes = good;
    bytes[10] ^= 0x40;
    ArchiveReader::Options lax;
    lax.VerifyArchiveCRC = false;
    Opened a(bytes, lax);
    EXPECT_NE(FailureOf([&] { a->Extract(0); }), "<no error>");
    EXPECT_EQ(a->Extract(1), NoiseBytes(700, 4));
}

TEST(ArchiveReaderDamage, DirectoryMustInflateToExactlyItsRecords)
{
    ArchiveComposer c = TwoEntries();
    auto bytes = c.Build();
    const size_t t = bytes.size() - 36;
    Poke32(bytes, t + trailer_offset::EntryCount, 3);
    EXPECT_CONTAINS(OpenFailure(bytes), "Archive directory is damaged: it inflates to 1100 bytes instead of 1650");
    Poke32(bytes, t + trailer_offset::EntryCount, 1);
    EXPECT_CONTAINS(OpenFailure(bytes), "Archive directory is damaged: it inflates to more than 550 bytes");

    std::vector<uint8_t> records;
    for (const auto& r : c.Records) {
        const auto b = r.Bytes();
        records.insert(records.end(), b.begin(), b.end());
    }
    auto packed = Deflate(records);

    c.DirectoryOverride = std::vector<uint8_t>(packed.begin(), packed.end() - 3);
    EXPECT_CONTAINS(OpenFailure(c.Build()), "Archive directory is damaged: its zlib stream is cut short");

    auto trailing = packed;
    trailing.push_back(0);
    c.DirectoryOverride = trailing;
    EXPECT_CONTAINS(OpenFailure(c.Build()), "Archive directory is damaged: bytes follow the end of its zlib stream");

    c.DirectoryOverride = NoiseBytes(200, 3);
    EXPECT_CONTAINS(OpenFailure(c.Build()), "Archive directory is damaged: its zlib stream is invalid");

    auto badAdler = packed;
    badAdler.back() ^= 1;
    c.DirectoryOverride = badAdler;
    EXPECT_CONTAINS(OpenFailure(c.Build()), "Archive directory is damaged: its zlib stream is invalid (incorrect data check)");
}

TEST(ArchiveReaderDamage, RecordsMustDescribeDataInsideTheArchive)
{
    struct Case {
        std::function<void(ComposedRecord&)> damage;
        const char* message;
    };
    const Case cases[] = {
        {[](ComposedRecord& r) { r.Storage = 4; }, "has an unknown storage kind (4)"},
        {[](ComposedRecord& r) { r.Storage = 255; }, "has an unknown storage kind (255)"},
        {[](ComposedRecord& r) { r.FileSize = -1; }, "has a negative size or offset"},
        {[](ComposedRecord& r) { r.CompressedSize = -7; }, "has a negative size or offset"},
        {[](ComposedRecord& r) { r.Offset = std::numeric_limits<int64_t>::min(); }, "has a negative size or offset"},
        {[](ComposedRecord& r) { r.Offset = 5000; }, "lies outside the archive (offset 5000"},
        {[](ComposedRecord& r) { r.Offset = std::numeric_limits<int64_t>::max(); }, "lies outside the archive"},
        {[](ComposedRecord& r) { r.CompressedSize = std::numeric_limits<int64_t>::max(); }, "lies outside the archive"},
        {[](ComposedRecord& r) { r.Storage = 1; }, "lies outside the archive"}, // FileSize 5000 of stored data
        {[](ComposedRecord& r) { r.Storage = 2; r.EncryptedSize = 1u << 20; }, "lies outside the archive"},
        {[](ComposedRecord& r) { r.FileSize = std::numeric_limits<int64_t>::max(); }, "claims 9223372036854775807 bytes from"},
    };
    for (const Case& k : cases) {
        ArchiveComposer c = TwoEntries();
        k.damage(c.Records[0]);
        const std::string message = OpenFailure(c.Build());
        EXPECT_CONTAINS(message, std::string("Archive entry \"index.html\" ") + k.message);
    }
    // The bound is the directory, not the file: data may not reach into it.
    ArchiveComposer c = TwoEntries();
    c.Records[1].Offset += 1;
    EXPECT_CONTAINS(OpenFailure(c.Build()), "Archive entry \"img\\logo.png\" lies outside the archive");
    // Names are shown printable whatever bytes they hold.
    c = TwoEntries();
    c.Records[0].Name = std::string("a\x01\xFF", 3);
    c.Records[0].Storage = 9;
    EXPECT_CONTAINS(OpenFailure(c.Build()), "Archive entry \"a\\x01\\xFF\" has an unknown storage kind (9)");
}

TEST(ArchiveReaderDamage, ExtractionChecksSizeAndCrc)
{
    {
        ArchiveComposer c = TwoEntries();
        c.Records[0].CRC ^= 0x80000000u;
        c.Records[1].CRC += 1;
        const auto bytes = c.Build();
        EXPECT_CONTAINS(ExtractFailure(bytes, 0), "Archive entry \"index.html\" is damaged: CRC mismatch");
        EXPECT_CONTAINS(ExtractFailure(bytes, 1), "Archive entry \"img\\logo.png\" is damaged: CRC mismatch");
    }
    {
        ArchiveComposer c = TwoEntries();
        c.Records[0].FileSize = 5001;
        EXPECT_CONTAINS(ExtractFailure(c.Build()), "is damaged: it inflates to 5000 bytes instead of 5001");
        c.Records[0].FileSize = 4999;
        EXPECT_CONTAINS(ExtractFailure(c.Build()), "is damaged: it inflates to more than 4999 bytes");
    }
    {
        // Deflate data that is cut short, followed by bytes, or not zlib.
        ArchiveComposer c;
        auto packed = Deflate(TextBytes(4000));
        ComposedRecord r;
        r.Name = "a.htm";
        r.FileSize = 4000;
        r.CRC = Crc32(TextBytes(4000));
        r.CompressedSize = static_cast<int64_t>(packed.size()) - 2;
        c.AddRaw(r, std::vector<uint8_t>(packed.begin(), packed.end() - 2));
        r.Name = "b.htm";
        r.CompressedSize = static_cast<int64_t>(packed.size()) + 1;
        packed.push_back(7);
        c.AddRaw(r, packed);
        r.Name = "c.htm";
        r.CompressedSize = 100;
        c.AddRaw(r, NoiseBytes(100));
        const auto bytes = c.Build();
        EXPECT_CONTAINS(ExtractFailure(bytes, 0), "is damaged: its zlib stream is cut short");
        EXPECT_CONTAINS(ExtractFailure(bytes, 1), "is damaged: bytes follow the end of its zlib stream");
        EXPECT_CONTAINS(ExtractFailure(bytes, 2), "is damaged: its zlib stream is invalid");
    }
}

TEST(ArchiveReaderDamage, EncryptedEntriesAreListedButRefused)
{
    ArchiveComposer c;
    ComposedRecord r;
    r.Name = "secret.htm";
    r.FileSize = 10;
    r.CompressedSize = 12;
    r.EncryptedSize = 16;
    r.Storage = 2;
    c.AddRaw(r, NoiseBytes(16));
    r.Name = "secret.txt";
    r.CompressedSize = 0;
    r.Storage = 3;
    c.AddRaw(r, NoiseBytes(16));
    Opened a(c.Build());
    ASSERT_EQ(a->Count(), 2u);
    EXPECT_TRUE(a->Entry(0).Encrypted());
    EXPECT_EQ(a->Entry(1).StoredSize(), 16);
    EXPECT_EQ(FailureOf([&] { a->Extract(0); }), "Cannot extract \"secret.htm\": encrypted entry");
    EXPECT_EQ(FailureOf([&] { a->Extract(1); }), "Cannot extract \"secret.txt\": encrypted entry");
}

TEST(ArchiveReaderDamage, AStreamThatShrinksAfterOpeningFailsCleanly)
{
    ArchiveComposer c = TwoEntries();
    MemoryStream stream(c.Build());
    ArchiveReader reader(stream);
    stream.SetSize(100);
    EXPECT_EQ(FailureOf([&] { reader.Extract(1); }), "Stream read error");
}

// A stream that counts the bytes read through it.
class CountingStream final : public qv::Stream {
public:
    explicit CountingStream(std::vector<uint8_t> bytes) : inner_(std::move(bytes)) {}
    int64_t Size() const override { return inner_.Size(); }
    int64_t Position() const override { return inner_.Position(); }
    void Seek(int64_t position) override { inner_.Seek(position); }
    size_t Read(void* buffer, size_t count) override
    {
        const size_t n = inner_.Read(buffer, count);
        read += n;
        return n;
    }
    void Write(const void* buffer, size_t count) override { inner_.Write(buffer, count); }
    void SetSize(int64_t size) override { inner_.SetSize(size); }
    size_t read = 0;

private:
    MemoryStream inner_;
};

TEST(ArchiveReaderBounds, HostileDirectoriesAreRefusedBeforeTheyCost)
{
    ArchiveReader::Options lax;
    lax.VerifyArchiveCRC = false;
    {
        // ~214 KB of one record repeated ~400,000 times: the first repeat ends it.
        const std::vector<uint8_t> bomb = DirectoryBomb();
        ASSERT_LT(bomb.size(), 250000u);
        CountingStream stream(bomb);
        ResetLargestAllocation();
        EXPECT_EQ(FailureOf([&] { ArchiveReader reader(stream, lax); }),
                  "Archive entry \"index.html\" is recorded twice in the directory");
        EXPECT_LT(LargestAllocation(), 256u * 1024);
        EXPECT_LT(stream.read, 100000u);
    }
    {
        // ~65 KB: four names of one run that inflates to 64 MiB each.
        const std::vector<uint8_t> bomb = SharedRunBomb();
        ASSERT_LT(bomb.size(), 70000u);
        ResetLargestAllocation();
        EXPECT_EQ(OpenFailure(bomb), "Archive entry \"b.bin\" shares its data with \"a.bin\"");
        EXPECT_LT(LargestAllocation(), 256u * 1024);
    }
    {
        // A trailer's count is a claim: the records that really come decide.
        ArchiveComposer c = TwoEntries();
        auto bytes = c.Build();
        Poke32(bytes, bytes.size() - 36 + trailer_offset::EntryCount,
               static_cast<uint32_t>(c.LastTrailer().RegistrySize * 1000 / 550));
        ResetLargestAllocation();
        EXPECT_CONTAINS(OpenFailure(bytes), "Archive directory is damaged: it inflates to 1100 bytes instead of");
        EXPECT_LT(LargestAllocation(), 256u * 1024);
    }
}

TEST(ArchiveReaderBounds, EntriesNeverShareBytesNorAName)
{
    ArchiveComposer c = TwoEntries();
    c.Records[1].Offset -= 1;
    EXPECT_EQ(OpenFailure(c.Build()), "Archive entry \"img\\logo.png\" shares its data with \"index.html\"");
    // Listed in any order, over other data, split between path and name.
    c = TwoEntries();
    c.Add("a.txt", {});
    c.Add("img\\logo.png", TextBytes(50));
    c.Records.back().Path = "";
    c.Records.back().Name = "img\\logo.png";
    EXPECT_EQ(OpenFailure(c.Build()), "Archive entry \"img\\logo.png\" is recorded twice in the directory");
    // Empty entries take no bytes, so they share none, wherever they lie;
    // names that differ in case alone are two names.
    c = TwoEntries();
    c.Add("a.txt", {});
    c.Add("b.txt", {});
    c.Records[3].Offset = c.Records[2].Offset = 10;
    c.Add("INDEX.html", TextBytes(50));
    Opened a(c.Build());
    ASSERT_EQ(a->Count(), 5u);
    EXPECT_EQ(a->Extract(4), TextBytes(50));
    EXPECT_TRUE(a->Extract(3).empty());
}

TEST(ArchiveReaderBounds, WholeEntriesReserveOnlyWhatTheirDataProves)
{
    // 100 KB of deflate data may claim up to 1032 times as much.
    ArchiveComposer c;
    ComposedRecord& r = c.AddRaw({}, Deflate(NoiseBytes(100000)));
    r.Name = "liar.bin";
    r.CompressedSize = static_cast<int64_t>(c.EntryData.size());
    r.FileSize = 100 * 1000 * 1000;
    Opened a(c.Build());
    ResetLargestAllocation();
    EXPECT_EQ(FailureOf([&] { a->Extract(0); }),
              "Archive entry \"liar.bin\" is damaged: it inflates to 100000 bytes instead of 100000000");
    EXPECT_LE(LargestAllocation(), size_t(qv::archive_format::kMaxReservation));
}

TEST(ArchiveExtractionPaths, RefusesNamesThatLeaveTheTargetFolder)
{
    for (const char* ok : {"index.html", "sub\\page.html", "a\\b\\c\\d.png", "-config-", "-logo-", ".htaccess",
                           "caf\xE9.htm", "icon\\x", "my con.txt", "COM0", "COM10.txt", "LPT"}) {
        EXPECT_EQ(qv::UnsafeExtractionReason(ok), "") << ok;
    }
    const std::pair<const char*, const char*> bad[] = {
        {"", "it has no name"},
        {"..\\evil.txt", "it leads out of the target folder"},
        {"sub\\..\\..\\evil.txt", "it leads out of the target folder"},
        {"sub/../evil.txt", "it leads out of the target folder"},
        {"\\site\\a.htm", "it is an absolute path"},
        {"\\\\host\\share\\a", "it is an absolute path"},
        {"/etc/passwd", "it is an absolute path"},
        {"C:\\windows\\x.dll", "it names a drive or a stream"},
        {"C:x.dll", "it names a drive or a stream"},
        {"a.htm:hidden", "it names a drive or a stream"},
        {"sub\\\\a.htm", "it has an empty folder or file name"},
        {"sub\\", "it has an empty folder or file name"},
        {".. \\evil", "a part of it ends with a dot or a blank"},
        {"...\\evil", "a part of it ends with a dot or a blank"},
        {".\\a", "a part of it ends with a dot or a blank"},
        {"page.htm ", "a part of it ends with a dot or a blank"},
        {"a*b", "it holds a character that file names cannot hold"},
        {"a\x05", "it holds a character that file names cannot hold"},
        {"what?.htm", "it holds a character that file names cannot hold"},
        {"CON", "it names a device (\"CON\")"},
        {"sub\\nul.txt", "it names a device (\"nul.txt\")"},
        {"Aux .htm", "it names a device"},
        {"com1", "it names a device"},
        {"LPT9.log", "it names a device"},
        {"COM\xB9", "it names a device"},
    };
    for (const auto& [name, reason] : bad)
        EXPECT_CONTAINS(qv::UnsafeExtractionReason(name), reason);
    EXPECT_EQ(qv::SplitPath("a\\b/c", qv::separators::kEitherSlash, qv::EmptyParts::Keep),
              (std::vector<std::string>{"a", "b", "c"}));
}

// The fuzz target's seeds are archives of every shape this reader knows;
// QV_UPDATE_CORPUS=1 writes them anew.
TEST(ArchiveReaderCorpus, SeedCorpusIsCurrent)
{
    std::vector<std::pair<std::string, std::vector<uint8_t>>> seeds;
    seeds.emplace_back("empty.qpf", ArchiveComposer().Build());
    {
        ArchiveComposer c;
        c.Add("index.html", TextBytes(300, 1));
        c.Add("img\\a.bin", NoiseBytes(40, 2));
        c.Add("empty.txt", {});
        seeds.emplace_back("three.qpf", c.Build());
    }
    {
        ArchiveComposer c;
        c.Add("sub\\page.htm", TextBytes(200, 3));
        c.RawDirectory = true;
        seeds.emplace_back("raw-directory.qpf", c.Build());
    }
    {
        ArchiveComposer c;
        c.Add("-config-", std::vector<uint8_t>(3896, 0), 9);
        auto exe = TextBytes(64, 4);
        const auto a = c.Build();
        exe.insert(exe.end(), a.begin(), a.end());
        seeds.emplace_back("appended.exe", exe);
    }
    const std::filesystem::path dir = std::filesystem::path(QV_SOURCE_DIR) / "fuzz/corpus/archive_reader";
    const bool update = std::getenv("QV_UPDATE_CORPUS") != nullptr;
    for (const auto& [name, bytes] : seeds) {
        if (update)
            WriteFile(dir / name, bytes);
        EXPECT_EQ(ReadFile(dir / name), bytes) << name;
        Opened a(bytes);
        for (size_t i = 0; i < a->Count(); ++i)
            EXPECT_EQ(Crc32(a->Extract(i)), a->Entry(i).CRC);
    }
}
