#include "quorvane/archive/Crc32.h"

#include <algorithm>
#include <zlib.h>

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

constexpr size_t kCRCBlockSize = 10240;

} // namespace

// Constant-initialised, so it is ready before any other unit's start-up code.
constinit const std::array<uint32_t, 256> CRC32Table = MakeCRC32Table();

uint32_t UpdateCRC32(uint32_t crc, const void* data, size_t size)
{
    // zlib's own routine, twice as fast as eight tables here; it takes and
    // gives the register already XORed with 0xFFFFFFFF, and would answer
    // its initial value for a null buffer.
    if (size == 0)
        return crc;
    return static_cast<uint32_t>(crc32_z(crc ^ 0xFFFFFFFFu, static_cast<const Bytef*>(data), size)) ^ 0xFFFFFFFFu;
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
