#pragma once
// Icon files and their pictures, composed byte by byte for the tests.
#include "TestSupport.h"
#include "quorvane/base/LittleEndian.h"

#include <zlib.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace qvtest {

// Shorthands with the width as a number, over the one little-endian
// writer and reader.
inline void PutLe(std::vector<uint8_t>& out, size_t at, uint32_t value, int bytes)
{
    if (bytes == 2)
        qv::PutLE(out, at, static_cast<uint16_t>(value));
    else if (bytes == 4)
        qv::PutLE(out, at, value);
    else
        throw std::invalid_argument("PutLe: 2 or 4 bytes");
}

inline void AppendLe(std::vector<uint8_t>& out, uint32_t value, int bytes)
{
    out.resize(out.size() + static_cast<size_t>(bytes));
    PutLe(out, out.size() - static_cast<size_t>(bytes), value, bytes);
}

inline uint32_t GetLe(const std::vector<uint8_t>& in, size_t at, int bytes)
{
    const qv::LeReader reader(in);
    return bytes == 2 ? reader.Get<uint16_t>(at) : reader.Get<uint32_t>(at);
}

// An icon picture as a device-independent bitmap: info header (with a
// non-zero image-size field, which the reader must clear), colour table,
// colour bits with a pattern, and the AND mask.
inline std::vector<uint8_t> BitmapPicture(int width, int height, uint16_t bitCount, uint32_t compression = 0)
{
    const size_t xorStride = (static_cast<size_t>(width) * bitCount + 31) / 32 * 4;
    const size_t andStride = (static_cast<size_t>(width) + 31) / 32 * 4;
    const size_t colours = bitCount <= 8 ? (size_t{1} << bitCount) : 0;
    const size_t masks = compression == 3 ? 3 : 0;
    const size_t imageSize = (xorStride + andStride) * static_cast<size_t>(height);
    std::vector<uint8_t> out(40, 0);
    PutLe(out, 0, 40, 4);
    PutLe(out, 4, static_cast<uint32_t>(width), 4);
    PutLe(out, 8, static_cast<uint32_t>(height * 2), 4);
    PutLe(out, 12, 1, 2);
    PutLe(out, 14, bitCount, 2);
    PutLe(out, 16, compression, 4);
    PutLe(out, 20, static_cast<uint32_t>(imageSize), 4);
    for (size_t i = 0; i < colours; ++i)
        AppendLe(out, static_cast<uint32_t>(i * 0x010203u) & 0xFFFFFF, 4);
    const uint32_t fields[3] = {0xF800, 0x07E0, 0x001F};
    for (size_t i = 0; i < masks; ++i)
        AppendLe(out, fields[i], 4);
    for (size_t i = 0; i < xorStride * static_cast<size_t>(height); ++i)
        out.push_back(static_cast<uint8_t>(i * 7 + bitCount));
    for (size_t i = 0; i < andStride * static_cast<size_t>(height); ++i)
        out.push_back(static_cast<uint8_t>(i % 3 == 0 ? 0xFF : 0x00));
    return out;
}

inline void AppendPngChunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& body)
{
    const uint32_t n = static_cast<uint32_t>(body.size());
    for (int s = 24; s >= 0; s -= 8)
        png.push_back(static_cast<uint8_t>(n >> s));
    std::vector<uint8_t> typed(type, type + 4);
    typed.insert(typed.end(), body.begin(), body.end());
    png.insert(png.end(), typed.begin(), typed.end());
    const uint32_t crc = Crc32(typed);
    for (int s = 24; s >= 0; s -= 8)
        png.push_back(static_cast<uint8_t>(crc >> s));
}

// An 8-bit RGBA PNG with filter 0 rows, compressed by zlib itself.
inline std::vector<uint8_t> PngPicture(uint32_t width, uint32_t height)
{
    std::vector<uint8_t> png = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<uint8_t> ihdr;
    for (uint32_t v : {width, height})
        for (int s = 24; s >= 0; s -= 8)
            ihdr.push_back(static_cast<uint8_t>(v >> s));
    ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});
    AppendPngChunk(png, "IHDR", ihdr);

    std::vector<uint8_t> raw;
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back(0);
        for (uint32_t x = 0; x < width; ++x)
            raw.insert(raw.end(), {static_cast<uint8_t>(x), static_cast<uint8_t>(y), static_cast<uint8_t>(x ^ y), 0xFF});
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK)
        throw std::runtime_error("zlib compress failed");
    packed.resize(packedSize);
    AppendPngChunk(png, "IDAT", packed);
    AppendPngChunk(png, "IEND", {});
    return png;
}

struct IconPart {
    uint8_t width;  // as in the directory: 0 stands for 256
    uint8_t height;
    uint16_t bitCount;
    std::vector<uint8_t> bytes;
};

// An ICO (type 1) or CUR (type 2) file with the images one after another.
inline std::vector<uint8_t> IconFile(const std::vector<IconPart>& parts, uint16_t type = 1)
{
    std::vector<uint8_t> out;
    AppendLe(out, 0, 2);
    AppendLe(out, type, 2);
    AppendLe(out, static_cast<uint32_t>(parts.size()), 2);
    uint32_t offset = static_cast<uint32_t>(6 + 16 * parts.size());
    for (const IconPart& p : parts) {
        out.insert(out.end(), {p.width, p.height, 0, 0});
        AppendLe(out, 1, 2);
        AppendLe(out, p.bitCount, 2);
        AppendLe(out, static_cast<uint32_t>(p.bytes.size()), 4);
        AppendLe(out, offset, 4);
        offset += static_cast<uint32_t>(p.bytes.size());
    }
    for (const IconPart& p : parts)
        out.insert(out.end(), p.bytes.begin(), p.bytes.end());
    return out;
}

// A bitmap part whose directory entry matches the picture.
inline IconPart BitmapPart(int size, uint16_t bitCount, uint32_t compression = 0)
{
    return IconPart{static_cast<uint8_t>(size % 256), static_cast<uint8_t>(size % 256), bitCount,
                    BitmapPicture(size, size, bitCount, compression)};
}

// The 744-byte blank picture, written down from its description rather than
// from the product's table.
inline std::vector<uint8_t> ExpectedBlankPicture()
{
    std::vector<uint8_t> out(40, 0);
    PutLe(out, 0, 40, 4);
    PutLe(out, 4, 32, 4);
    PutLe(out, 8, 64, 4);
    PutLe(out, 12, 1, 2);
    PutLe(out, 14, 4, 2);
    PutLe(out, 32, 16, 4);
    PutLe(out, 36, 16, 4);
    const uint8_t palette[16][3] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                    {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                    {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                    {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
    for (const auto& rgb : palette)
        out.insert(out.end(), {rgb[2], rgb[1], rgb[0], 0});
    out.insert(out.end(), 512, 0x00);
    out.insert(out.end(), 128, 0xFF);
    return out;
}

// An RT_GROUP_ICON / RT_GROUP_CURSOR entry as stored.
struct GroupEntry {
    uint8_t width, height, colourCount, reserved;
    uint16_t planes, bitCount;
    uint32_t bytesInResource;
    uint16_t identifier;
    bool operator==(const GroupEntry&) const = default;
};

inline std::vector<GroupEntry> GroupEntries(const std::vector<uint8_t>& group)
{
    std::vector<GroupEntry> out;
    const size_t count = GetLe(group, 4, 2);
    if (group.size() != 6 + 14 * count)
        throw std::runtime_error("group data of " + std::to_string(group.size()) + " bytes for " +
                                 std::to_string(count) + " entries");
    for (size_t i = 0; i < count; ++i) {
        const size_t at = 6 + 14 * i;
        out.push_back(GroupEntry{group[at], group[at + 1], group[at + 2], group[at + 3],
                                 static_cast<uint16_t>(GetLe(group, at + 4, 2)),
                                 static_cast<uint16_t>(GetLe(group, at + 6, 2)), GetLe(group, at + 8, 4),
                                 static_cast<uint16_t>(GetLe(group, at + 12, 2))});
    }
    return out;
}

} // namespace qvtest
