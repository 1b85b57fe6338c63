#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// The layout of the 3896-byte settings image ("-config-") and its field
// readers and writers. Portable: the viewers read the image with these and
// nothing else, so the offsets live in this one place. Text stays in the
// writer's code-page bytes here; converting it is the caller's business.
namespace qv {

constexpr size_t kSettingsImageSize = 3896;

// Byte offsets of the image, shared by the writer, the readers and the tests.
namespace settings_offset {
constexpr size_t HomePage = 0, OutputIsExe = 256, OutputPath = 257, BorderType = 516,
                 ViewWidth = 520, ViewHeight = 524, LogoPath = 528, ViewerFlag = 784,
                 Shadow = 785, HideScrollbars = 786, Centered = 787, ShowToolbar = 788,
                 ShowCaptions = 789, ShowStatusbar = 790, EnableCopy = 791, EnableSearch = 792,
                 EnablePrint = 793, EnableFont = 794, Password = 795, ExpiryEnabled = 1051,
                 ExpiryDate = 1056, IncludeMask = 1064, DirectMask = 1320, CursorOption = 1576,
                 CompressionLevel = 1580, UserAgent = 1584, ContextMenu = 1840,
                 VersionStamp = 1842, Reserved = 1850;
} // namespace settings_offset

// Field access at an offset of the table above. The readers expect a whole
// image (see CheckSettingsImage); offsets are never taken from the bytes.
namespace settings_image {

// Throws qv::Error unless `image` is exactly kSettingsImageSize bytes.
void CheckSize(std::span<const uint8_t> image);

// A short string's text: the bytes after its length byte, as stored.
std::string_view ShortString(std::span<const uint8_t> image, size_t offset);
bool Flag(std::span<const uint8_t> image, size_t offset); // any non-zero byte is on
int32_t Int32(std::span<const uint8_t> image, size_t offset);
double Date(std::span<const uint8_t> image, size_t offset);

// The length byte, the text cut to 255 bytes, then zeros.
void PutShortString(std::span<uint8_t> image, size_t offset, std::string_view bytes);
void PutInt32(std::span<uint8_t> image, size_t offset, int32_t value);
void PutDate(std::span<uint8_t> image, size_t offset, double value);

} // namespace settings_image

} // namespace qv
