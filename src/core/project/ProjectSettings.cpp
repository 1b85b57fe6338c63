#include "quorvane/project/ProjectSettings.h"

namespace qv {
namespace {

using Image = std::array<uint8_t, kSettingsImageSize>;
namespace field = settings_image;

void PutShort(Image& img, size_t at, const ShortString& s)
{
    field::PutShortString(img, at, s.Ansi());
}

ShortString GetShort(std::span<const uint8_t> img, size_t at)
{
    return ShortString::FromAnsiBytes(field::ShortString(img, at));
}

} // namespace

Image WriteSettingsImage(const TProjectSettings& s)
{
    namespace o = settings_offset;
    Image img{};
    PutShort(img, o::HomePage, s.HomePage);
    img[o::OutputIsExe] = s.OutputIsExe;
    PutShort(img, o::OutputPath, s.OutputPath);
    field::PutInt32(img, o::BorderType, s.BorderType);
    field::PutInt32(img, o::ViewWidth, s.ViewWidth);
    field::PutInt32(img, o::ViewHeight, s.ViewHeight);
    PutShort(img, o::LogoPath, s.LogoPath);
    img[o::ViewerFlag] = s.ViewerFlag;
    img[o::Shadow] = s.Shadow;
    img[o::HideScrollbars] = s.HideScrollbars;
    img[o::Centered] = s.Centered;
    img[o::ShowToolbar] = s.ShowToolbar;
    img[o::ShowCaptions] = s.ShowCaptions;
    img[o::ShowStatusbar] = s.ShowStatusbar;
    img[o::EnableCopy] = s.EnableCopy;
    img[o::EnableSearch] = s.EnableSearch;
    img[o::EnablePrint] = s.EnablePrint;
    img[o::EnableFont] = s.EnableFont;
    PutShort(img, o::Password, s.Password);
    img[o::ExpiryEnabled] = s.ExpiryEnabled;
    field::PutDate(img, o::ExpiryDate, s.ExpiryDate);
    PutShort(img, o::IncludeMask, s.IncludeMask);
    PutShort(img, o::DirectMask, s.DirectMask);
    img[o::CursorOption] = s.CursorOption;
    field::PutInt32(img, o::CompressionLevel, s.CompressionLevel);
    PutShort(img, o::UserAgent, s.UserAgent);
    img[o::ContextMenu] = s.ContextMenu;
    for (size_t i = 0; i < s.VersionStamp.size(); ++i) {
        img[o::VersionStamp + 2 * i] = static_cast<uint8_t>(s.VersionStamp[i] & 0xFF);
        img[o::VersionStamp + 2 * i + 1] = static_cast<uint8_t>(s.VersionStamp[i] >> 8);
    }
    return img;
}

TProjectSettings ReadSettingsImage(std::span<const uint8_t> img)
{
    namespace o = settings_offset;
    field::CheckSize(img);
    TProjectSettings s;
    s.HomePage = GetShort(img, o::HomePage);
    s.OutputIsExe = img[o::OutputIsExe] != 0;
    s.OutputPath = GetShort(img, o::OutputPath);
    s.BorderType = field::Int32(img, o::BorderType);
    s.ViewWidth = field::Int32(img, o::ViewWidth);
    s.ViewHeight = field::Int32(img, o::ViewHeight);
    s.LogoPath = GetShort(img, o::LogoPath);
    s.ViewerFlag = img[o::ViewerFlag] != 0;
    s.Shadow = img[o::Shadow] != 0;
    s.HideScrollbars = img[o::HideScrollbars] != 0;
    s.Centered = img[o::Centered] != 0;
    s.ShowToolbar = img[o::ShowToolbar] != 0;
    s.ShowCaptions = img[o::ShowCaptions] != 0;
    s.ShowStatusbar = img[o::ShowStatusbar] != 0;
    s.EnableCopy = img[o::EnableCopy] != 0;
    s.EnableSearch = img[o::EnableSearch] != 0;
    s.EnablePrint = img[o::EnablePrint] != 0;
    s.EnableFont = img[o::EnableFont] != 0;
    s.Password = GetShort(img, o::Password);
    s.ExpiryEnabled = img[o::ExpiryEnabled] != 0;
    s.ExpiryDate = field::Date(img, o::ExpiryDate);
    s.IncludeMask = GetShort(img, o::IncludeMask);
    s.DirectMask = GetShort(img, o::DirectMask);
    s.CursorOption = img[o::CursorOption] != 0;
    s.CompressionLevel = field::Int32(img, o::CompressionLevel);
    s.UserAgent = GetShort(img, o::UserAgent);
    s.ContextMenu = img[o::ContextMenu] != 0;
    for (size_t i = 0; i < s.VersionStamp.size(); ++i)
        s.VersionStamp[i] = static_cast<char16_t>(img[o::VersionStamp + 2 * i] | (img[o::VersionStamp + 2 * i + 1] << 8));
    return s;
}

} // namespace qv
