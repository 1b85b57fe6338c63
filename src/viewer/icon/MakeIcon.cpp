// Draws the viewer's application icon and writes it as an .ico file: 16, 32
// and 48 pixel 32-bit bitmaps and a 256 pixel PNG. The glyph is a white page
// with a folded corner and three lines of text on a rounded blue tile.
//
// usage: qv_make_icon OUTPUT.ico
#include "quorvane/base/LittleEndian.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Rgba {
    double r = 0, g = 0, b = 0, a = 0;
};

bool InRoundedRect(double x, double y, double x0, double y0, double x1, double y1, double radius)
{
    if (x < x0 || x > x1 || y < y0 || y > y1)
        return false;
    const double cx = std::clamp(x, x0 + radius, x1 - radius);
    const double cy = std::clamp(y, y0 + radius, y1 - radius);
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
}

// Colour of the glyph at one point of the unit square (y downwards).
Rgba Sample(double x, double y)
{
    Rgba c;
    if (!InRoundedRect(x, y, 0.04, 0.04, 0.96, 0.96, 0.2))
        return c;
    // Tile: teal at the top left to deep blue at the bottom right.
    const double t = std::clamp((x + y) / 2.0, 0.0, 1.0);
    c = {0.05 + (0.09 - 0.05) * t, 0.55 + (0.28 - 0.55) * t, 0.62 + (0.66 - 0.62) * t, 1.0};

    const double left = 0.27, right = 0.73, top = 0.16, bottom = 0.84, fold = 0.15;
    const bool inPage = x >= left && x <= right && y >= top && y <= bottom && (x - (right - fold)) <= (y - top);
    if (!inPage)
        return c;
    const bool inFold = x >= right - fold && y <= top + fold;
    if (inFold)
        return {0.72, 0.84, 0.93, 1.0};
    // Three lines of text, the last one shorter; they stay clear of the fold.
    const double lineHeight = 0.055;
    for (int i = 0; i < 3; ++i) {
        const double ly = 0.42 + 0.12 * i;
        const double lr = i == 2 ? 0.55 : 0.65;
        if (x >= 0.35 && x <= lr && y >= ly && y <= ly + lineHeight)
            return {0.10, 0.40, 0.65, 1.0};
    }
    return {1.0, 1.0, 1.0, 1.0};
}

// Straight (not premultiplied) RGBA rows, top row first.
std::vector<uint8_t> Render(int size)
{
    const int grid = size <= 48 ? 8 : 4;
    std::vector<uint8_t> pixels(static_cast<size_t>(size) * size * 4);
    for (int py = 0; py < size; ++py) {
        for (int px = 0; px < size; ++px) {
            Rgba sum;
            for (int sy = 0; sy < grid; ++sy) {
                for (int sx = 0; sx < grid; ++sx) {
                    const Rgba s = Sample((px + (sx + 0.5) / grid) / size, (py + (sy + 0.5) / grid) / size);
                    sum.r += s.r * s.a;
                    sum.g += s.g * s.a;
                    sum.b += s.b * s.a;
                    sum.a += s.a;
                }
            }
            uint8_t* out = &pixels[(static_cast<size_t>(py) * size + px) * 4];
            const double a = sum.a / (grid * grid);
            const auto channel = [&](double premultiplied) {
                return static_cast<uint8_t>(sum.a > 0 ? std::lround(std::clamp(premultiplied / sum.a, 0.0, 1.0) * 255) : 0);
            };
            out[0] = channel(sum.r);
            out[1] = channel(sum.g);
            out[2] = channel(sum.b);
            out[3] = static_cast<uint8_t>(std::lround(a * 255));
        }
    }
    return pixels;
}

void Put32Be(std::vector<uint8_t>& v, uint32_t x)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        v.push_back(static_cast<uint8_t>(x >> shift));
}

// A device-independent bitmap as icons hold it: header with doubled height,
// BGRA rows bottom-up, then the 1-bit AND mask (set where transparent).
std::vector<uint8_t> IconBitmap(int size, const std::vector<uint8_t>& rgba)
{
    const uint32_t maskRow = static_cast<uint32_t>((size + 31) / 32 * 4);
    std::vector<uint8_t> v;
    qv::AppendLE<uint32_t>(v, 40);
    qv::AppendLE<uint32_t>(v, static_cast<uint32_t>(size));
    qv::AppendLE<uint32_t>(v, static_cast<uint32_t>(size * 2));
    qv::AppendLE<uint16_t>(v, 1);
    qv::AppendLE<uint16_t>(v, 32);
    qv::AppendLE<uint32_t>(v, 0);
    qv::AppendLE<uint32_t>(v, static_cast<uint32_t>(size * size * 4) + maskRow * static_cast<uint32_t>(size));
    for (int i = 0; i < 4; ++i)
        qv::AppendLE<uint32_t>(v, 0);
    for (int y = size - 1; y >= 0; --y) {
        for (int x = 0; x < size; ++x) {
            const uint8_t* p = &rgba[(static_cast<size_t>(y) * size + x) * 4];
            v.insert(v.end(), {p[2], p[1], p[0], p[3]});
        }
    }
    for (int y = size - 1; y >= 0; --y) {
        std::vector<uint8_t> row(maskRow, 0);
        for (int x = 0; x < size; ++x)
            if (rgba[(static_cast<size_t>(y) * size + x) * 4 + 3] == 0)
                row[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
        v.insert(v.end(), row.begin(), row.end());
    }
    return v;
}

void PngChunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data)
{
    Put32Be(png, static_cast<uint32_t>(data.size()));
    const size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    Put32Be(png, static_cast<uint32_t>(crc32(0, png.data() + start, static_cast<uInt>(png.size() - start))));
}

std::vector<uint8_t> Png(int size, const std::vector<uint8_t>& rgba)
{
    std::vector<uint8_t> raw;
    for (int y = 0; y < size; ++y) {
        raw.push_back(0); // filter: none
        raw.insert(raw.end(), rgba.begin() + static_cast<long>(y) * size * 4,
                   rgba.begin() + static_cast<long>(y + 1) * size * 4);
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK)
        throw std::runtime_error("compress2 failed");
    packed.resize(packedSize);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<uint8_t> header;
    Put32Be(header, static_cast<uint32_t>(size));
    Put32Be(header, static_cast<uint32_t>(size));
    header.insert(header.end(), {8, 6, 0, 0, 0}); // 8-bit RGBA, no interlace
    PngChunk(png, "IHDR", header);
    PngChunk(png, "IDAT", packed);
    PngChunk(png, "IEND", {});
    return png;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.ico\n", argv[0]);
        return 2;
    }
    const std::array<int, 4> sizes = {16, 32, 48, 256};
    std::vector<std::vector<uint8_t>> images;
    for (const int size : sizes) {
        const auto rgba = Render(size);
        images.push_back(size == 256 ? Png(size, rgba) : IconBitmap(size, rgba));
    }
    std::vector<uint8_t> ico;
    qv::AppendLE<uint16_t>(ico, 0);
    qv::AppendLE<uint16_t>(ico, 1);
    qv::AppendLE<uint16_t>(ico, static_cast<uint32_t>(images.size()));
    uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        ico.push_back(static_cast<uint8_t>(sizes[i] % 256)); // 0 stands for 256
        ico.push_back(static_cast<uint8_t>(sizes[i] % 256));
        ico.push_back(0);
        ico.push_back(0);
        qv::AppendLE<uint16_t>(ico, 1);
        qv::AppendLE<uint16_t>(ico, 32);
        qv::AppendLE<uint32_t>(ico, static_cast<uint32_t>(images[i].size()));
        qv::AppendLE<uint32_t>(ico, offset);
        offset += static_cast<uint32_t>(images[i].size());
    }
    for (const auto& image : images)
        ico.insert(ico.end(), image.begin(), image.end());

    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(ico.data()), static_cast<std::streamsize>(ico.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
