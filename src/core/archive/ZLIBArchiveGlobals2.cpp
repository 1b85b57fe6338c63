#include "quorvane/archive/ZLIBArchiveGlobals2.h"

#include <algorithm>

namespace qv {
namespace {

constexpr std::array<uint32_t, 256> MakeCRC32Table()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

// Seven more tables derived from the first let the register take eight
// bytes a step; the whole archive is checksummed at close.
using SliceTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr SliceTables MakeSliceTables(const std::array<uint32_t, 256>& first)
{
    SliceTables t{};
    t[0] = first;
    for (size_t k = 1; k < 8; ++k)
        for (size_t n = 0; n < 256; ++n)
            t[k][n] = (t[k - 1][n] >> 8) ^ first[t[k - 1][n] & 0xFF];
    return t;
}

constexpr size_t kCRCBlockSize = 10240;

uint32_t Load32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

} // namespace

// Constant-initialised, so they are ready before any other unit's start-up code.
constinit const std::array<uint32_t, 256> CRC32Table = MakeCRC32Table();
constinit const SliceTables kSlices = MakeSliceTables(MakeCRC32Table());

uint32_t UpdateCRC32(uint32_t crc, const void* data, size_t size)
{
    const auto* p = static_cast<const uint8_t*>(data);
    for (; size >= 8; p += 8, size -= 8) {
        const uint32_t lo = crc ^ Load32(p);
        const uint32_t hi = Load32(p + 4);
        crc = kSlices[7][lo & 0xFF] ^ kSlices[6][(lo >> 8) & 0xFF] ^ kSlices[5][(lo >> 16) & 0xFF] ^
              kSlices[4][lo >> 24] ^ kSlices[3][hi & 0xFF] ^ kSlices[2][(hi >> 8) & 0xFF] ^
              kSlices[1][(hi >> 16) & 0xFF] ^ kSlices[0][hi >> 24];
    }
    for (; size > 0; ++p, --size)
        crc = CRC32Table[(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return crc;
}

uint32_t StreamCRC32(Stream& stream, int64_t Start, int64_t Tail)
{
    // Counted in 64 bits: a 32-bit count goes wrong for anything past 2 GiB.
    int64_t remaining = stream.Size() - Start - Tail;
    if (remaining <= 0)
        return 0;

    const int64_t saved = stream.Position();
    uint32_t crc = 0xFFFFFFFFu;
    try {
        stream.Seek(Start);
        uint8_t block[kCRCBlockSize];
        while (remaining > 0) {
            const size_t n = static_cast<size_t>(std::min<int64_t>(remaining, kCRCBlockSize));
            stream.ReadExact(block, n);
            crc = UpdateCRC32(crc, block, n);
            remaining -= static_cast<int64_t>(n);
        }
    } catch (...) {
        stream.Seek(saved);
        throw;
    }
    stream.Seek(saved);
    return crc ^ 0xFFFFFFFFu;
}

} // namespace qv
