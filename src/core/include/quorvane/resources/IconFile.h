#pragma once
#include "quorvane/base/Stream.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Reading icon (.ico) and cursor (.cur) files: the directory and each
// image's bytes, checked and classified, ready to become icon resources.
namespace qv {

enum class PixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };

// What an icon group entry says about an image of this format.
uint8_t ColourCountOf(PixelFormat format);
uint16_t BitCountOf(PixelFormat format);
// The format of a device-independent bitmap, or none for a combination icons
// cannot hold (16 bits other than plain or bit fields, unknown bit counts).
std::optional<PixelFormat> BitmapPixelFormat(uint16_t bitCount, uint32_t compression);

// What one icon file may expand to. A full set of sizes up to 256 x 256
// takes a few MB; a directory whose entries all point at one big picture
// would take gigabytes.
constexpr size_t kMaxIconImages = 256;
constexpr uint64_t kMaxIconBytes = uint64_t{32} << 20;

struct IconFileImage {
    int Width = 0;  // 1..256 for bitmaps, as the directory says; the decoded size for PNGs
    int Height = 0;
    qv::PixelFormat PixelFormat = qv::PixelFormat::pfDevice; // qualified: the member shares the type's name
    bool IsPng = false;
    uint32_t PngWidth = 0; // the decoded picture, PNG images only
    uint32_t PngHeight = 0;
    // As in the file, except that a bitmap's image-size field is 0.
    std::vector<uint8_t> Bytes;
};

// The images of an icon or cursor file, in file order.
//
// Loading replaces the images held only when the whole file was read; it
// throws qv::Error: "Invalid Icon or Cursor" (no 6-byte header, wrong file
// type, an image with no bytes or too short for its bitmap header), "Stream
// read error" (directory or image beyond the end), "Pixel Format Not Valid
// for Icons or Cursors", "Range check error" (PNG entry bit count above 255),
// "Invalid PNG image: ..." (a PNG that does not decode), "The icon file "x"
// is too large: ..." (more than kMaxIconImages images, or more than
// kMaxIconBytes of image bytes and decoded pictures together), or the
// file-open failure.
class IconCursorFileReader {
public:
    virtual ~IconCursorFileReader() = default;

    void LoadFromStream(Stream& stream);
    void LoadFromFile(const std::string& fileName);
    void LoadFromBytes(std::span<const uint8_t> bytes);

    int ImageCount() const { return static_cast<int>(images_.size()); }
    // Throws "List index out of bounds (i)".
    const IconFileImage& GetImage(int index) const;
    const IconFileImage& Images(int index) const { return GetImage(index); }
    // -1 while no image is held.
    int CurrentImage() const { return current_; }

protected:
    // The file type word of the header: 1 for icons, 2 for cursors.
    virtual uint16_t FileType() const = 0;

private:
    void Load(Stream& stream, const std::string& fileName);

    std::vector<IconFileImage> images_;
    int current_ = -1;
};

class IconFileReader final : public IconCursorFileReader {
protected:
    uint16_t FileType() const override { return 1; }
};

class CursorFileReader final : public IconCursorFileReader {
protected:
    uint16_t FileType() const override { return 2; }
};

} // namespace qv
