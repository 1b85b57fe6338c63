#pragma once
#include "quorvane/project/SettingsFields.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The layout of the 3896-byte settings image ("-config-") and its field
// readers and writers. Portable: the viewers read the image with these and
// nothing else, so the offsets live in this one place. Text stays in the
// writer's code-page bytes here; converting it is the caller's business.
namespace qv {

constexpr size_t kSettingsImageSize = 3896;

// Byte offsets of the image, shared by the writer, the readers and the tests.
namespace settings_offset {
#define QV_SETTINGS_OFFSET(type, name, offset, initial) constexpr size_t name = offset;
QV_SETTINGS_FIELDS(QV_SETTINGS_OFFSET, QV_SETTINGS_OFFSET)
#undef QV_SETTINGS_OFFSET
constexpr size_t VersionStamp = 1842, Reserved = 1850;
} // namespace settings_offset

// Field access at an offset of the table above. The readers expect a whole
// image (see CheckSize); offsets are never taken from the bytes.
namespace settings_image {

// Throws qv::Error unless `image` is exactly kSettingsImageSize bytes.
void CheckSize(std::span<const uint8_t> image);

// A short string's text: the bytes after its length byte, as stored.
std::string_view ShortString(std::span<const uint8_t> image, size_t offset);
// A record's field, by its type: texts as stored, any non-zero byte as on.
void Read(std::span<const uint8_t> image, size_t offset, std::string& text);
void Read(std::span<const uint8_t> image, size_t offset, bool& flag);
void Read(std::span<const uint8_t> image, size_t offset, int32_t& number);
void Read(std::span<const uint8_t> image, size_t offset, double& date);

// The length byte, the text cut to 255 bytes, then zeros.
void PutShortString(std::span<uint8_t> image, size_t offset, std::string_view bytes);
void PutInt32(std::span<uint8_t> image, size_t offset, int32_t value);
void PutDate(std::span<uint8_t> image, size_t offset, double value);

} // namespace settings_image

} // namespace qv
