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
    namespace o = settings_offset;
    using namespace settings_image;
    CheckSize(image);
    ViewerSettings s;
    s.HomePage = ShortString(image, o::HomePage);
    s.BorderType = Int32(image, o::BorderType);
    s.ViewWidth = Int32(image, o::ViewWidth);
    s.ViewHeight = Int32(image, o::ViewHeight);
    s.Shadow = Flag(image, o::Shadow);
    s.HideScrollbars = Flag(image, o::HideScrollbars);
    s.Centered = Flag(image, o::Centered);
    s.ShowToolbar = Flag(image, o::ShowToolbar);
    s.ShowCaptions = Flag(image, o::ShowCaptions);
    s.ShowStatusbar = Flag(image, o::ShowStatusbar);
    s.EnableCopy = Flag(image, o::EnableCopy);
    s.EnableSearch = Flag(image, o::EnableSearch);
    s.EnablePrint = Flag(image, o::EnablePrint);
    s.EnableFont = Flag(image, o::EnableFont);
    s.Password = ShortString(image, o::Password);
    s.ExpiryEnabled = Flag(image, o::ExpiryEnabled);
    s.ExpiryDate = Date(image, o::ExpiryDate);
    s.DirectMask = ShortString(image, o::DirectMask);
    s.CursorOption = Flag(image, o::CursorOption);
    s.UserAgent = ShortString(image, o::UserAgent);
    s.ContextMenu = Flag(image, o::ContextMenu);
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
