#pragma once
#include <cstdint>
#include <span>
#include <string>

// Portable: shared by quorvane-view and viewer.exe.
namespace qv {

class ArchiveReader;

// What a viewer needs from an output's settings image ("-config-"). Text
// fields hold the writer's code-page bytes as stored; a viewer converts them
// with its AnsiCodec where it shows them (see PageAddress.h).
struct ViewerSettings {
    enum Border : int32_t { NoBorder = 0, Fixed = 1, Sizable = 2, FullScreen = 3 };

    std::string HomePage;  // the home page's file name, in the archive's root
    int32_t BorderType = Sizable;
    int32_t ViewWidth = 0; // client area in pixels; 0 when the project never set it
    int32_t ViewHeight = 0;
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
    std::string Password;  // empty: none
    bool ExpiryEnabled = false;
    double ExpiryDate = 0.0; // days since 30 December 1899
    std::string DirectMask; // ";"-separated masks of files kept beside the output
    bool CursorOption = false;
    std::string UserAgent; // empty: the browser's own
    bool ContextMenu = true;

    // BorderType, with anything out of range taken as Sizable.
    Border BorderKind() const;
    // The window's client size: ViewWidth x ViewHeight, or 800 x 600 where
    // a value is not positive, at most 16384 each.
    int32_t ClientWidth() const;
    int32_t ClientHeight() const;
};

// Reads the 3896-byte image; throws qv::Error for any other size. An output
// without "-config-" is shown with a default-constructed ViewerSettings.
ViewerSettings ReadViewerSettings(std::span<const uint8_t> image);

// The index of "-config-", or -1 when the output has none. Throws qv::Error
// naming the entry when it is not exactly a settings image, before a byte
// of it is read: whoever reads settings asks here first.
int64_t SettingsEntryOf(const ArchiveReader& reader);

} // namespace qv
