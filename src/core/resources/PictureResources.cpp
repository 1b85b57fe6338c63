#include "quorvane/resources/PictureResources.h"

#include "ResourceSupport.h"
#include "quorvane/platform/PngDecoder.h"

#include <array>
#include <cstdlib>

namespace qv {
namespace {

constexpr size_t kGroupHeaderSize = 6;
constexpr size_t kGroupEntrySize = 14;
constexpr size_t kInfoHeaderSize = 40;
constexpr size_t kHotspotSize = 4;

// The system's 16-colour palette in its own order, as blue, green, red, 0.
constexpr std::array<uint32_t, 16> kSystemPalette = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

struct GroupEntry {
    uint8_t width;
    uint8_t height;
    uint8_t colourCount;
    uint16_t bitCount;
    uint32_t bytesInResource;
    uint16_t identifier;
};

void WriteGroupHeader(MemoryStream& data, uint16_t type, uint16_t count)
{
    uint8_t h[kGroupHeaderSize] = {};
    PutLE(h, 2, type);
    PutLE(h, 4, count);
    data.Clear();
    data.Write(h, sizeof h);
}

void AppendGroupEntry(MemoryStream& data, const GroupEntry& entry)
{
    uint8_t e[kGroupEntrySize] = {};
    e[0] = entry.width;
    e[1] = entry.height;
    e[2] = entry.colourCount;
    PutLE<uint16_t>(e, 4, 1);
    PutLE(e, 6, entry.bitCount);
    PutLE(e, 8, entry.bytesInResource);
    PutLE(e, 12, entry.identifier);
    data.Seek(data.Size());
    data.Write(e, sizeof e);
    data.Seek(0);
}

// A name for the next image of imageType, which must fit an identifier.
std::pair<std::string, uint16_t> NewImageName(const ResourceModule& module, const std::string& imageType)
{
    std::string name = module.NextResourceID(imageType);
    const auto id = NameToID(name);
    if (!id)
        throw Error("No free identifier for a new image of resource type " + imageType);
    return {std::move(name), *id};
}

// Reads the picture header of a bitmap at `offset` in `data`.
struct InfoHeader {
    int32_t width;
    int32_t height;
    uint16_t bitCount;
    uint32_t compression;
};

InfoHeader ReadInfoHeader(const MemoryStream& data, size_t offset, const char* what)
{
    if (static_cast<uint64_t>(data.Size()) < static_cast<uint64_t>(offset) + kInfoHeaderSize)
        throw Error(std::string(what) + " is shorter than its bitmap header");
    const LeReader h(data.Bytes());
    return InfoHeader{h.Get<int32_t>(offset + 4), h.Get<int32_t>(offset + 8), h.Get<uint16_t>(offset + 14),
                      h.Get<uint32_t>(offset + 16)};
}

PixelFormat FormatOf(const InfoHeader& h)
{
    return BitmapPixelFormat(h.bitCount, h.compression).value_or(PixelFormat::pfDevice);
}

PixelFormat FormatOf(const png::PngInfo& info)
{
    const unsigned bits = info.bitDepth;
    switch (info.colourType) {
    case 0:
    case 3:
        if (bits == 1)
            return PixelFormat::pf1bit;
        if (bits == 4)
            return PixelFormat::pf4bit;
        if (bits == 8)
            return PixelFormat::pf8bit;
        break;
    case 2:
        if (bits == 8)
            return PixelFormat::pf24bit;
        break;
    case 6:
        if (bits == 8)
            return PixelFormat::pf32bit;
        break;
    default: break;
    }
    return PixelFormat::pfDevice;
}

int Magnitude(int32_t value)
{
    return value == INT32_MIN ? INT32_MAX : std::abs(value);
}

} // namespace

std::vector<uint8_t> BlankIconImage()
{
    std::vector<uint8_t> image(kInfoHeaderSize + 16 * 4 + 512, 0);
    PutLE<uint32_t>(image, 0, kInfoHeaderSize);
    PutLE<uint32_t>(image, 4, 32);
    PutLE<uint32_t>(image, 8, 64);
    PutLE<uint16_t>(image, 12, 1);
    PutLE<uint16_t>(image, 14, 4);
    PutLE<uint32_t>(image, 32, 16);
    PutLE<uint32_t>(image, 36, 16);
    for (size_t i = 0; i < kSystemPalette.size(); ++i)
        PutLE(image, kInfoHeaderSize + 4 * i, kSystemPalette[i]);
    image.resize(image.size() + 128, 0xFF);
    return image;
}

int IconCursorGroupResourceDetails::EntryCount() const
{
    const MemoryStream& data = Data();
    if (data.Size() < static_cast<int64_t>(kGroupHeaderSize))
        return 0;
    const int64_t present = (data.Size() - static_cast<int64_t>(kGroupHeaderSize)) / kGroupEntrySize;
    return static_cast<int>(std::min<int64_t>(LeReader(data.Bytes()).Get<uint16_t>(4), present));
}

uint16_t IconCursorGroupResourceDetails::EntryIdentifier(int index) const
{
    if (index < 0 || index >= EntryCount())
        ListIndexError(index);
    return LeReader(Data().Bytes()).Get<uint16_t>(kGroupHeaderSize + kGroupEntrySize * static_cast<size_t>(index) + 12);
}

int IconCursorGroupResourceDetails::FindEntry(uint16_t identifier) const
{
    for (int i = 0; i < EntryCount(); ++i)
        if (EntryIdentifier(i) == identifier)
            return i;
    return -1;
}

void IconCursorGroupResourceDetails::RemoveEntry(int index)
{
    const int count = EntryCount();
    if (index < 0 || index >= count)
        ListIndexError(index);
    MemoryStream& data = Data();
    uint8_t* p = data.Data();
    const size_t at = kGroupHeaderSize + kGroupEntrySize * static_cast<size_t>(index);
    const size_t end = static_cast<size_t>(data.Size());
    std::copy(p + at + kGroupEntrySize, p + end, p + at);
    PutLE(std::span(p, end), 4, static_cast<uint16_t>(LeReader(data.Bytes()).Get<uint16_t>(4) - 1));
    data.SetSize(data.Size() - static_cast<int64_t>(kGroupEntrySize));
    data.Seek(0);
}

std::string IconCursorGroupResourceDetails::ImageType() const
{
    return ResType == "12" ? "1" : "3";
}

IconCursorImageResourceDetails* IconCursorGroupResourceDetails::GetResourceDetails(int index) const
{
    const uint16_t identifier = EntryIdentifier(index);
    const auto groupType = NameToID(ResType);
    if (Parent == nullptr || !groupType || *groupType < 11)
        return nullptr;
    const std::string imageType = std::to_string(*groupType - 11);
    for (int i = 0; i < Parent->ResourceCount(); ++i) {
        auto* image = dynamic_cast<IconCursorImageResourceDetails*>(&Parent->GetResourceDetails(i));
        if (image && image->ResType == imageType && NameToID(image->ResName) == identifier)
            return image;
    }
    return nullptr;
}

void IconCursorGroupResourceDetails::InitBlank()
{
    const bool cursors = ImageType() == "1";
    const uint16_t type = cursors ? 2 : 1;
    if (Parent == nullptr) {
        WriteGroupHeader(Data(), type, 0);
        return;
    }
    const auto [name, id] = NewImageName(*Parent, ImageType());
    ResourceDetails& image = cursors ? static_cast<ResourceDetails&>(CreateBlank<CursorImageResourceDetails>(*Parent, name, Language))
                                      : CreateBlank<IconImageResourceDetails>(*Parent, name, Language);
    WriteGroupHeader(Data(), type, 1);
    AppendGroupEntry(Data(), GroupEntry{32, 32, 16, 4, static_cast<uint32_t>(image.Data().Size()), id});
}

void IconCursorGroupResourceDetails::Detach()
{
    struct ClearingScope {
        bool& flag;
        explicit ClearingScope(bool& f) : flag(f) { flag = true; }
        ~ClearingScope() { flag = false; }
    } clearing(Clearing);

    if (Parent == nullptr) {
        if (EntryCount() > 0)
            WriteGroupHeader(Data(), LeReader(Data().Bytes()).Get<uint16_t>(2), 0);
        return;
    }
    // Each round removes one resource from the module, so this ends; the
    // bound only guards modules that keep what they are told to remove.
    int rounds = EntryCount() + Parent->ResourceCount() + 1;
    while (EntryCount() > 0) {
        if (--rounds < 0)
            throw Error("Icon group \"" + ResName + "\" could not be cleared");
        IconCursorImageResourceDetails* image = GetResourceDetails(0);
        Parent->RemoveResource(Parent->IndexOfResource(image));
    }
}

void IconCursorImageResourceDetails::InitBlank()
{
    MemoryStream& data = Data();
    data.Clear();
    if (IsCursor()) {
        uint8_t hotspot[kHotspotSize];
        PutLE<uint16_t>(hotspot, 0, 16);
        PutLE<uint16_t>(hotspot, 2, 16);
        data.Write(hotspot, sizeof hotspot);
    }
    const auto image = BlankIconImage();
    data.Write(image.data(), image.size());
    data.Seek(0);
}

void IconCursorImageResourceDetails::Detach()
{
    const auto type = NameToID(ResType);
    const auto id = NameToID(ResName);
    if (Parent == nullptr || !type || !id)
        return;
    const std::string groupType = std::to_string(*type + 11);
    for (int i = 0; i < Parent->ResourceCount(); ++i) {
        auto* group = dynamic_cast<IconCursorGroupResourceDetails*>(&Parent->GetResourceDetails(i));
        if (!group || group->ResType != groupType)
            continue;
        const int entry = group->FindEntry(*id);
        if (entry < 0)
            continue;
        group->RemoveEntry(entry);
        if (group->EntryCount() == 0 && !group->Clearing)
            Parent->RemoveResource(Parent->IndexOfResource(group));
        return;
    }
}

namespace {

// Where the picture starts in an image resource, and whether it is a PNG.
struct ImageView {
    size_t offset;
    bool png;
};

ImageView ViewOf(const IconCursorImageResourceDetails& image)
{
    const size_t offset = image.IsCursor() ? kHotspotSize : 0;
    const MemoryStream& data = image.Data();
    if (static_cast<size_t>(data.Size()) < offset)
        throw Error("Image resource \"" + image.ResName + "\" is too short");
    return ImageView{offset, png::HasSignature({data.Data() + offset, static_cast<size_t>(data.Size()) - offset})};
}

png::PngInfo PngOf(const IconCursorImageResourceDetails& image, size_t offset)
{
    const MemoryStream& data = image.Data();
    return png::Decode({data.Data() + offset, static_cast<size_t>(data.Size()) - offset});
}

} // namespace

int IconCursorImageResourceDetails::GetHeight() const
{
    const ImageView view = ViewOf(*this);
    if (view.png)
        return static_cast<int>(PngOf(*this, view.offset).height);
    // The header counts the colour bits and the mask: twice the picture.
    return Magnitude(ReadInfoHeader(Data(), view.offset, "Icon image").height) / 2;
}

PixelFormat IconCursorImageResourceDetails::GetPixelFormat() const
{
    const ImageView view = ViewOf(*this);
    if (view.png)
        return FormatOf(PngOf(*this, view.offset));
    return FormatOf(ReadInfoHeader(Data(), view.offset, "Icon image"));
}

int IconCursorImageResourceDetails::GetWidth() const
{
    const ImageView view = ViewOf(*this);
    if (view.png)
        return static_cast<int>(PngOf(*this, view.offset).width);
    return Magnitude(ReadInfoHeader(Data(), view.offset, "Icon image").width);
}

int BitmapResourceDetails::GetHeight() const
{
    return Magnitude(ReadInfoHeader(Data(), InfoHeaderOffset(), "Bitmap").height);
}

PixelFormat BitmapResourceDetails::GetPixelFormat() const
{
    return FormatOf(ReadInfoHeader(Data(), InfoHeaderOffset(), "Bitmap"));
}

int BitmapResourceDetails::GetWidth() const
{
    return Magnitude(ReadInfoHeader(Data(), InfoHeaderOffset(), "Bitmap").width);
}

bool BitmapFileResourceDetails::RecognisesData(size_t size, const uint8_t* data)
{
    if (size < 18 || data == nullptr)
        return false;
    const LeReader file({data, size});
    const uint32_t infoSize = file.Get<uint32_t>(14);
    return data[0] == 'B' && data[1] == 'M' && file.Get<uint16_t>(6) == 0 && file.Get<uint16_t>(8) == 0 &&
           (infoSize == 40 || infoSize == 108 || infoSize == 124);
}

void ReplaceIconGroup(IconGroupResourceDetails& group, const std::string& fileName)
{
    ResourceModule* module = group.Parent;
    if (module == nullptr)
        throw Error("Icon group \"" + group.ResName + "\" belongs to no module");
    group.Detach();

    IconFileReader icon;
    icon.LoadFromFile(fileName);

    const int count = icon.ImageCount();
    WriteGroupHeader(group.Data(), 1, static_cast<uint16_t>(count));
    for (int i = 0; i < count; ++i) {
        const IconFileImage& picture = icon.GetImage(i);
        const auto [name, id] = NewImageName(*module, "3");
        auto image = CreateFromData<IconImageResourceDetails>(module, picture.Bytes.data(), picture.Bytes.size(), "3",
                                                          name, group.Language);
        if (module->AppendResource(std::move(image)) < 0)
            throw Error("Module doesn't keep resources");
        AppendGroupEntry(group.Data(),
                         GroupEntry{static_cast<uint8_t>(picture.Width % 256), static_cast<uint8_t>(picture.Height % 256),
                                    ColourCountOf(picture.PixelFormat), BitCountOf(picture.PixelFormat),
                                    static_cast<uint32_t>(picture.Bytes.size()), id});
    }
}

} // namespace qv
