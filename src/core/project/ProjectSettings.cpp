#include "quorvane/project/ProjectSettings.h"

#include "quorvane/base/LittleEndian.h"

namespace qv {
namespace {

using Image = std::array<uint8_t, kSettingsImageSize>;
using settings_image::Read;

void Put(Image& img, size_t at, const ShortString& s) { settings_image::PutShortString(img, at, s.Ansi()); }
void Put(Image& img, size_t at, bool on) { img[at] = on; }
void Put(Image& img, size_t at, int32_t number) { settings_image::PutInt32(img, at, number); }
void Put(Image& img, size_t at, double date) { settings_image::PutDate(img, at, date); }

void Read(std::span<const uint8_t> img, size_t at, ShortString& s)
{
    s = ShortString::FromAnsiBytes(settings_image::ShortString(img, at));
}

} // namespace

Image WriteSettingsImage(const ProjectSettingsRecord& s)
{
    Image img{};
#define QV_WRITE_SETTING(type, name, offset, initial) Put(img, offset, s.name);
    QV_SETTINGS_FIELDS(QV_WRITE_SETTING, QV_WRITE_SETTING)
#undef QV_WRITE_SETTING
    for (size_t i = 0; i < s.VersionStamp.size(); ++i)
        PutLE(img, settings_offset::VersionStamp + 2 * i, s.VersionStamp[i]);
    return img;
}

ProjectSettingsRecord ReadSettingsImage(std::span<const uint8_t> img)
{
    settings_image::CheckSize(img);
    ProjectSettingsRecord s;
#define QV_READ_SETTING(type, name, offset, initial) Read(img, offset, s.name);
    QV_SETTINGS_FIELDS(QV_READ_SETTING, QV_READ_SETTING)
#undef QV_READ_SETTING
    for (size_t i = 0; i < s.VersionStamp.size(); ++i)
        s.VersionStamp[i] = LeReader(img).Get<char16_t>(settings_offset::VersionStamp + 2 * i);
    return s;
}

} // namespace qv
