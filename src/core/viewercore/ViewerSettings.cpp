#include "quorvane/viewercore/ViewerSettings.h"

#include "quorvane/archive/ArchiveReader.h"
#include "quorvane/project/SettingsImage.h"

#include <algorithm>

namespace qv {
namespace {

int32_t WindowExtent(int32_t value, int32_t fallback)
{
    return value > 0 ? std::min<int32_t>(value, 16384) : fallback;
}

} // namespace

ViewerSettings::Border ViewerSettings::BorderKind() const
{
    return BorderType >= NoBorder && BorderType <= FullScreen ? static_cast<Border>(BorderType) : Sizable;
}

int32_t ViewerSettings::ClientWidth() const { return WindowExtent(ViewWidth, 800); }
int32_t ViewerSettings::ClientHeight() const { return WindowExtent(ViewHeight, 600); }

ViewerSettings ReadViewerSettings(std::span<const uint8_t> image)
{
    settings_image::CheckSize(image);
    ViewerSettings s;
#define QV_READ_SETTING(type, name, offset, initial) settings_image::Read(image, offset, s.name);
    QV_SETTINGS_FIELDS(QV_READ_SETTING, QV_SETTINGS_SKIP)
#undef QV_READ_SETTING
    return s;
}

int64_t SettingsEntryOf(const ArchiveReader& reader)
{
    const int index = reader.IndexOf("-config-");
    if (index >= 0)
        reader.CheckSize(reader.Entry(static_cast<size_t>(index)), kSettingsImageSize, "a settings image");
    return index;
}

} // namespace qv
