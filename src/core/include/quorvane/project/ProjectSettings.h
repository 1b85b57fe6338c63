#pragma once
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

constexpr size_t kSettingsImageSize = 3896;

// Byte offsets of the image, shared by the writer, the reader and the tests.
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

std::array<uint8_t, kSettingsImageSize> WriteSettingsImage(const TProjectSettings& s);

// Reads an image back (for listing an output's settings). Throws qv::Error
// when the size is not 3896 bytes. Flags read any non-zero byte as on.
TProjectSettings ReadSettingsImage(std::span<const uint8_t> image);

} // namespace qv
