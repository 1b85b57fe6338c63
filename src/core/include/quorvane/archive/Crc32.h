#pragma once
#include "quorvane/base/Stream.h"

#include <array>
#include <cstddef>
#include <cstdint>

// The archive's checksum: the standard reflected CRC-32 (polynomial
// 0xEDB88320), the same function as zlib's crc32.
namespace qv {

// The 256-entry lookup table, filled once before any code runs.
extern const std::array<uint32_t, 256> CRC32Table;

// Runs `size` bytes through the CRC register. The register starts at
// 0xFFFFFFFF and is XORed with 0xFFFFFFFF after the last block.
uint32_t UpdateCRC32(uint32_t crc, const void* data, size_t size);

// CRC-32 of the bytes from `Start` to `Tail` bytes before the end, read in
// 10,240-byte blocks. The stream's position is restored; a range of zero or
// fewer bytes gives 0. A stream shorter than its size claims throws.
uint32_t StreamCRC32(Stream& stream, int64_t Start, int64_t Tail);

} // namespace qv
