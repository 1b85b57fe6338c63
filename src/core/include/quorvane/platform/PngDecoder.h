#pragma once
#include <cstdint>
#include <span>

// PNG decoding for pictures inside icon files. Decodes every row (checksums
// and the compressed stream included), so a damaged picture is refused, while
// holding only one row in memory at a time.
namespace qv::png {

struct PngInfo {
    uint32_t width = 0;
    uint32_t height = 0;
    uint8_t bitDepth = 0;
    uint8_t colourType = 0; // as in IHDR: 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA
};

// Pictures larger than this on either side are refused.
constexpr uint32_t kMaxSide = 16384;

// True when the bytes begin with the 8-byte PNG signature.
bool HasSignature(std::span<const uint8_t> bytes);

// Throws qv::Error "Invalid PNG image: <the decoder's reason>".
PngInfo Decode(std::span<const uint8_t> bytes);
// The picture's size and kind from its header alone, checked as Decode
// checks it, so a caller can refuse a picture before paying for decoding it.
PngInfo ReadHeader(std::span<const uint8_t> bytes);

} // namespace qv::png
