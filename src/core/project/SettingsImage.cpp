#include "quorvane/project/SettingsImage.h"

#include "quorvane/base/Error.h"
#include "quorvane/base/LittleEndian.h"

#include <algorithm>
#include <string>

namespace qv::settings_image {

void CheckSize(std::span<const uint8_t> image)
{
    if (image.size() != kSettingsImageSize)
        throw Error("Settings image has " + std::to_string(image.size()) + " bytes instead of 3896");
}

std::string_view ShortString(std::span<const uint8_t> image, size_t offset)
{
    return {reinterpret_cast<const char*>(image.data() + offset + 1), image[offset]};
}

void Read(std::span<const uint8_t> image, size_t offset, std::string& text) { text = ShortString(image, offset); }

void Read(std::span<const uint8_t> image, size_t offset, bool& flag) { flag = image[offset] != 0; }

void Read(std::span<const uint8_t> image, size_t offset, int32_t& number)
{
    number = LeReader(image, 0, "the settings image").Get<int32_t>(offset);
}

void Read(std::span<const uint8_t> image, size_t offset, double& date)
{
    date = LeReader(image, 0, "the settings image").Get<double>(offset);
}

void PutShortString(std::span<uint8_t> image, size_t offset, std::string_view bytes)
{
    const size_t length = std::min<size_t>(bytes.size(), 255);
    image[offset] = static_cast<uint8_t>(length);
    std::copy_n(bytes.begin(), length, image.begin() + static_cast<std::ptrdiff_t>(offset + 1));
    std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(offset + 1 + length), 255 - length, uint8_t{0});
}

void PutInt32(std::span<uint8_t> image, size_t offset, int32_t value)
{
    PutLE(image, offset, value);
}

void PutDate(std::span<uint8_t> image, size_t offset, double value)
{
    PutLE(image, offset, value);
}

} // namespace qv::settings_image
