#include "quorvane/project/SettingsImage.h"

#include "quorvane/base/Error.h"

#include <algorithm>
#include <bit>
#include <string>

namespace qv::settings_image {
namespace {

uint64_t Little(std::span<const uint8_t> image, size_t offset, int width)
{
    uint64_t value = 0;
    for (int i = 0; i < width; ++i)
        value |= static_cast<uint64_t>(image[offset + i]) << (8 * i);
    return value;
}

void PutLittle(std::span<uint8_t> image, size_t offset, uint64_t value, int width)
{
    for (int i = 0; i < width; ++i)
        image[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

} // namespace

void CheckSize(std::span<const uint8_t> image)
{
    if (image.size() != kSettingsImageSize)
        throw Error("Settings image has " + std::to_string(image.size()) + " bytes instead of 3896");
}

std::string_view ShortString(std::span<const uint8_t> image, size_t offset)
{
    return {reinterpret_cast<const char*>(image.data() + offset + 1), image[offset]};
}

bool Flag(std::span<const uint8_t> image, size_t offset) { return image[offset] != 0; }

int32_t Int32(std::span<const uint8_t> image, size_t offset)
{
    return static_cast<int32_t>(static_cast<uint32_t>(Little(image, offset, 4)));
}

double Date(std::span<const uint8_t> image, size_t offset) { return std::bit_cast<double>(Little(image, offset, 8)); }

void PutShortString(std::span<uint8_t> image, size_t offset, std::string_view bytes)
{
    const size_t length = std::min<size_t>(bytes.size(), 255);
    image[offset] = static_cast<uint8_t>(length);
    std::copy_n(bytes.begin(), length, image.begin() + static_cast<std::ptrdiff_t>(offset + 1));
    std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(offset + 1 + length), 255 - length, uint8_t{0});
}

void PutInt32(std::span<uint8_t> image, size_t offset, int32_t value)
{
    PutLittle(image, offset, static_cast<uint32_t>(value), 4);
}

void PutDate(std::span<uint8_t> image, size_t offset, double value)
{
    PutLittle(image, offset, std::bit_cast<uint64_t>(value), 8);
}

} // namespace qv::settings_image
