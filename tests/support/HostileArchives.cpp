#include "HostileArchives.h"

#include "ArchiveComposer.h"
#include "TestSupport.h"

#include <stdexcept>
#include <zlib.h>

namespace qvtest {
namespace {

constexpr size_t kMiB = size_t(1) << 20;

uint32_t RepeatedCrc(const std::vector<uint8_t>& piece, size_t times)
{
    const uLong one = crc32(0, piece.data(), static_cast<uInt>(piece.size()));
    uLong crc = 0;
    for (size_t i = 0; i < times; ++i)
        crc = crc32_combine(crc, one, static_cast<z_off_t>(piece.size()));
    return static_cast<uint32_t>(crc);
}

// One deflated entry of `times` copies of `piece`, as the writer records it.
ComposedRecord& AddRepeated(ArchiveComposer& c, const std::string& name, const std::vector<uint8_t>& piece,
                           size_t times)
{
    const std::vector<uint8_t> packed = DeflateRepeated(piece, times);
    ComposedRecord r;
    r.Name = name;
    r.FileSize = static_cast<int64_t>(piece.size() * times);
    r.CompressedSize = static_cast<int64_t>(packed.size());
    r.CRC = RepeatedCrc(piece, times);
    r.Level = 3; // "maximum"
    return c.AddRaw(r, packed);
}

} // namespace

std::vector<uint8_t> DeflateRepeated(const std::vector<uint8_t>& piece, size_t times)
{
    // The piece alone, as raw deflate blocks ending on a byte boundary that
    // refer to nothing before them: valid wherever they stand, so copies of
    // them, a final empty block and the Adler-32 of the whole are the zlib
    // stream of the whole, with the best ratio zlib reaches.
    z_stream zs{};
    if (deflateInit2(&zs, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    std::vector<uint8_t> blocks(deflateBound(&zs, static_cast<uLong>(piece.size())) + 16);
    zs.next_in = const_cast<Bytef*>(piece.data());
    zs.avail_in = static_cast<uInt>(piece.size());
    zs.next_out = blocks.data();
    zs.avail_out = static_cast<uInt>(blocks.size());
    const int rc = deflate(&zs, Z_FULL_FLUSH);
    blocks.resize(blocks.size() - zs.avail_out);
    deflateEnd(&zs);
    if (rc != Z_OK || zs.avail_in != 0)
        throw std::runtime_error("deflate failed");

    std::vector<uint8_t> out = {0x78, 0xDA};
    out.reserve(2 + blocks.size() * times + 6);
    const uLong one = adler32(adler32(0, nullptr, 0), piece.data(), static_cast<uInt>(piece.size()));
    uLong adler = adler32(0, nullptr, 0);
    for (size_t i = 0; i < times; ++i) {
        out.insert(out.end(), blocks.begin(), blocks.end());
        adler = adler32_combine(adler, one, static_cast<z_off_t>(piece.size()));
    }
    out.insert(out.end(), {0x03, 0x00}); // a final, empty block of fixed codes
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(adler >> shift));
    return out;
}

std::vector<uint8_t> ConfigBomb()
{
    ArchiveComposer c;
    c.Add("index.html", TextBytes(2000));
    AddRepeated(c, "-config-", std::vector<uint8_t>(kMiB, 0), 1024);
    return c.Build();
}

std::vector<uint8_t> DirectoryBomb()
{
    ArchiveComposer c;
    c.Add("index.html", TextBytes(2000));
    const auto record = c.Records[0].Bytes();
    std::vector<uint8_t> records;
    for (int i = 0; i < 1000; ++i)
        records.insert(records.end(), record.begin(), record.end());
    c.DirectoryOverride = DeflateRepeated(records, 112);
    std::vector<uint8_t> bytes = c.Build();
    // The count is in the trailer, after what its checksum covers.
    Poke32(bytes, bytes.size() - 36 + 4, static_cast<uint32_t>(c.DirectoryOverride->size() * 1000 / 550));
    return bytes;
}

std::vector<uint8_t> SharedRunBomb()
{
    ArchiveComposer c;
    const ComposedRecord run = AddRepeated(c, "a.bin", std::vector<uint8_t>(kMiB, 0), 64);
    for (const char* name : {"b.bin", "c.bin", "d.bin"}) {
        ComposedRecord copy = run;
        copy.Name = name;
        c.Records.push_back(copy);
    }
    return c.Build();
}

} // namespace qvtest
