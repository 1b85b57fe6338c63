#pragma once
#include "quorvane/project/SettingsImage.h"
#include "quorvane/project/ShortString.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace qv {

// Every option of a project. The members' initialisers are the values at
// program start. The record is also the viewer's settings format: see
// WriteSettingsImage for its exact 3896 bytes.
struct TProjectSettings {
    ShortString HomePage;
    bool OutputIsExe = true;
    ShortString OutputPath;
    int32_t BorderType = 2; // 0 none, 1 fixed, 2 sizable, 3 full screen
    int32_t ViewWidth = 0;
    int32_t ViewHeight = 0;
    ShortString LogoPath;
    bool ViewerFlag = true;
    bool Shadow = false;
    bool HideScrollbars = false;
    bool Centered = false;
    bool ShowToolbar = true;
    bool ShowCaptions = true;
    bool ShowStatusbar = true;
    bool EnableCopy = true;
    bool EnableSearch = true;
    bool EnablePrint = true;
    bool EnableFont = true;
    ShortString Password;
    bool ExpiryEnabled = false;
    double ExpiryDate = 0.0; // days since 30 December 1899
    ShortString IncludeMask = "*.*";
    ShortString DirectMask = "*.exe";
    bool CursorOption = false;
    int32_t CompressionLevel = 0; // 0 default, 1 fastest, 2 maximum, 3 none
    ShortString UserAgent;
    bool ContextMenu = true;
    std::array<char16_t, 4> VersionStamp{}; // "4.30" once a build stamps it

    void StampVersion() { VersionStamp = {u'4', u'.', u'3', u'0'}; }
};

std::array<uint8_t, kSettingsImageSize> WriteSettingsImage(const TProjectSettings& s);

// Reads an image back (for listing an output's settings). Throws qv::Error
// when the size is not 3896 bytes. Flags read any non-zero byte as on.
TProjectSettings ReadSettingsImage(std::span<const uint8_t> image);

} // namespace qv
