#include "quorvane/resources/IconFile.h"

#include "ResourceSupport.h"
#include "quorvane/base/Error.h"
#include "quorvane/platform/PngDecoder.h"

namespace qv {
namespace {

constexpr size_t kHeaderSize = 6;
constexpr size_t kEntrySize = 16;
constexpr size_t kBitmapHeaderSize = 40;

struct DirEntry {
    int width;
    int height;
    uint16_t bitCount;
    uint32_t byteCount;
    uint32_t offset;
};

DirEntry ReadEntry(Stream& stream)
{
    uint8_t bytes[kEntrySize];
    stream.ReadExact(bytes, sizeof bytes);
    LeReader e(bytes);
    const int width = e.Read<uint8_t>();
    const int height = e.Read<uint8_t>();
    e.Seek(6, "the icon entry");  // past the colour count and the planes
    const uint16_t bitCount = e.Read<uint16_t>();
    const uint32_t byteCount = e.Read<uint32_t>();
    return DirEntry{width == 0 ? 256 : width, height == 0 ? 256 : height, bitCount, byteCount, e.Read<uint32_t>()};
}

[[noreturn]] void Invalid(const std::string& why)
{
    throw Error("Invalid Icon or Cursor" + why);
}

PixelFormat PngPixelFormat(uint16_t bitCount)
{
    if (bitCount > 255)
        throw Error("Range check error");
    switch (bitCount) {
    case 1: return PixelFormat::pf1bit;
    case 4: return PixelFormat::pf4bit;
    case 8: return PixelFormat::pf8bit;
    case 15:
    case 16: return PixelFormat::pf16bit;
    case 24: return PixelFormat::pf24bit;
    case 32: return PixelFormat::pf32bit;
    default: return PixelFormat::pfDevice;
    }
}

// Counts what an icon expands to, image bytes and decoded pictures, and
// refuses it as soon as that passes the bound.
class ExpansionBudget {
public:
    explicit ExpansionBudget(const std::string& fileName) : fileName_(fileName) {}

    void Images(size_t count) const
    {
        if (count > kMaxIconImages)
            TooLarge("it holds " + std::to_string(count) + " images, at most " + std::to_string(kMaxIconImages) +
                     " can be used");
    }
    void Spend(uint64_t bytes)
    {
        spent_ += bytes;
        if (spent_ > kMaxIconBytes)
            TooLarge("its images expand to more than " + std::to_string(kMaxIconBytes >> 20) + " MB");
    }

private:
    [[noreturn]] void TooLarge(const std::string& why) const
    {
        const std::string which = fileName_.empty() ? "The icon file" : "The icon file \"" + fileName_ + "\"";
        throw Error(which + " is too large: " + why + ". Choose an icon with fewer or smaller images");
    }

    const std::string& fileName_;
    uint64_t spent_ = 0;
};

IconFileImage ReadImage(Stream& stream, int64_t base, const DirEntry& entry, size_t number, ExpansionBudget& budget)
{
    const std::string which = ": image " + std::to_string(number);
    if (entry.byteCount == 0)
        Invalid(which + " has no bytes");
    const int64_t start = base + static_cast<int64_t>(entry.offset);
    if (start + static_cast<int64_t>(entry.byteCount) > stream.Size())
        throw Error("Stream read error");
    // Entries may all point at one picture, so the file's own size bounds
    // nothing: each image is counted before its bytes are copied.
    budget.Spend(entry.byteCount);

    IconFileImage image;
    image.Width = entry.width;
    image.Height = entry.height;
    image.Bytes.resize(entry.byteCount);
    stream.Seek(start);
    stream.ReadExact(image.Bytes.data(), image.Bytes.size());

    if (png::HasSignature(image.Bytes)) {
        const png::PngInfo header = png::ReadHeader(image.Bytes);
        budget.Spend(uint64_t{header.width} * header.height * 4);
        const png::PngInfo info = png::Decode(image.Bytes);
        image.IsPng = true;
        image.PngWidth = info.width;
        image.PngHeight = info.height;
        image.Width = static_cast<int>(info.width);
        image.Height = static_cast<int>(info.height);
        image.PixelFormat = PngPixelFormat(entry.bitCount);
        return image;
    }

    if (image.Bytes.size() < kBitmapHeaderSize)
        Invalid(which + " is shorter than its 40-byte bitmap header");
    PutLE<uint32_t>(image.Bytes, 20, 0);
    const LeReader header(image.Bytes);
    const auto format = BitmapPixelFormat(header.Get<uint16_t>(14), header.Get<uint32_t>(16));
    if (!format)
        throw Error("Pixel Format Not Valid for Icons or Cursors");
    image.PixelFormat = *format;
    return image;
}

} // namespace

uint8_t ColourCountOf(PixelFormat format)
{
    switch (format) {
    case PixelFormat::pf1bit: return 2;
    case PixelFormat::pf4bit: return 16;
    default: return 0;
    }
}

uint16_t BitCountOf(PixelFormat format)
{
    switch (format) {
    case PixelFormat::pf1bit: return 1;
    case PixelFormat::pf4bit: return 4;
    case PixelFormat::pf8bit: return 8;
    case PixelFormat::pf15bit:
    case PixelFormat::pf16bit: return 16;
    case PixelFormat::pf24bit: return 24;
    case PixelFormat::pf32bit: return 32;
    case PixelFormat::pfDevice: break;
    }
    return 0;
}

std::optional<PixelFormat> BitmapPixelFormat(uint16_t bitCount, uint32_t compression)
{
    switch (bitCount) {
    case 1: return PixelFormat::pf1bit;
    case 4: return PixelFormat::pf4bit;
    case 8: return PixelFormat::pf8bit;
    case 16:
        if (compression == 0)
            return PixelFormat::pf15bit;
        if (compression == 3)
            return PixelFormat::pf16bit;
        return std::nullopt;
    case 24: return PixelFormat::pf24bit;
    case 32: return PixelFormat::pf32bit;
    default: return std::nullopt;
    }
}

void IconCursorFileReader::LoadFromStream(Stream& stream)
{
    Load(stream, std::string());
}

void IconCursorFileReader::Load(Stream& stream, const std::string& fileName)
{
    const int64_t base = stream.Position();
    uint8_t header[kHeaderSize];
    if (stream.Read(header, sizeof header) != sizeof header || LeReader(header).Get<uint16_t>(2) != FileType())
        Invalid("");
    const size_t count = LeReader(header).Get<uint16_t>(4);

    // The directory is read entry by entry, so a count larger than the file
    // fails on the first missing entry instead of reserving room for it.
    std::vector<DirEntry> entries;
    for (size_t i = 0; i < count; ++i)
        entries.push_back(ReadEntry(stream));

    ExpansionBudget budget(fileName);
    budget.Images(count);

    std::vector<IconFileImage> images;
    images.reserve(count);
    for (size_t i = 0; i < count; ++i)
        images.push_back(ReadImage(stream, base, entries[i], i + 1, budget));

    images_ = std::move(images);
    current_ = images_.empty() ? -1 : 0;
}

void IconCursorFileReader::LoadFromFile(const std::string& fileName)
{
    FileStream file(fileName, FileStream::Mode::OpenRead);
    Load(file, fileName);
}

void IconCursorFileReader::LoadFromBytes(std::span<const uint8_t> bytes)
{
    MemoryStream stream(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    LoadFromStream(stream);
}

const IconFileImage& IconCursorFileReader::GetImage(int index) const
{
    if (index < 0 || index >= ImageCount())
        ListIndexError(index);
    return images_[static_cast<size_t>(index)];
}

} // namespace qv
