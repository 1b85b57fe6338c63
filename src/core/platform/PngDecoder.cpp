#include "quorvane/platform/PngDecoder.h"

#include "quorvane/base/Error.h"

#include <spng.h>

#include <memory>
#include <string>
#include <vector>

namespace qv::png {
namespace {

constexpr uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

// Text chunks and the like are decompressed into the decoder's cache; a
// picture in an icon has no business needing more.
constexpr size_t kChunkCacheLimit = 8u << 20;

struct ContextDeleter {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};

void Check(int result)
{
    if (result != 0)
        throw Error(std::string("Invalid PNG image: ") + spng_strerror(result));
}

using Context = std::unique_ptr<spng_ctx, ContextDeleter>;

Context Open(std::span<const uint8_t> bytes, spng_ihdr& ihdr)
{
    Context ctx(spng_ctx_new(0));
    if (!ctx)
        throw Error("Invalid PNG image: out of memory");
    Check(spng_set_crc_action(ctx.get(), SPNG_CRC_ERROR, SPNG_CRC_ERROR));
    Check(spng_set_image_limits(ctx.get(), kMaxSide, kMaxSide));
    Check(spng_set_chunk_limits(ctx.get(), static_cast<size_t>(bytes.size()), kChunkCacheLimit));
    Check(spng_set_png_buffer(ctx.get(), bytes.data(), bytes.size()));
    Check(spng_get_ihdr(ctx.get(), &ihdr));
    return ctx;
}

} // namespace

bool HasSignature(std::span<const uint8_t> bytes)
{
    if (bytes.size() < sizeof kSignature)
        return false;
    for (size_t i = 0; i < sizeof kSignature; ++i)
        if (bytes[i] != kSignature[i])
            return false;
    return true;
}

PngInfo ReadHeader(std::span<const uint8_t> bytes)
{
    spng_ihdr ihdr{};
    Open(bytes, ihdr);
    return PngInfo{ihdr.width, ihdr.height, ihdr.bit_depth, ihdr.color_type};
}

PngInfo Decode(std::span<const uint8_t> bytes)
{
    spng_ihdr ihdr{};
    const Context ctx = Open(bytes, ihdr);

    Check(spng_decode_image(ctx.get(), nullptr, 0, SPNG_FMT_RGBA8, SPNG_DECODE_PROGRESSIVE));
    std::vector<uint8_t> row(static_cast<size_t>(ihdr.width) * 4);
    int result;
    do {
        result = spng_decode_row(ctx.get(), row.data(), row.size());
    } while (result == 0);
    if (result != SPNG_EOI)
        Check(result);
    // The chunks after the picture, up to IEND, must be whole as well.
    Check(spng_decode_chunks(ctx.get()));

    return PngInfo{ihdr.width, ihdr.height, ihdr.bit_depth, ihdr.color_type};
}

} // namespace qv::png
