#pragma once
#include "quorvane/project/SettingsFields.h"

#include <cstdint>
#include <span>
#include <string>
#include <type_traits>

// Portable: shared by quorvane-view and viewer.exe.
namespace qv {

class ArchiveReader;

// An output without "-config-" has no texts, so a viewer's texts start
// empty; every other field starts as a new project's does.
template <class T, class Initial = T>
constexpr T ViewerInitial(Initial initial)
{
    if constexpr (std::is_same_v<T, std::string>)
        return {};
    else
        return initial;
}

// What a viewer needs from an output's settings image ("-config-"). Text
// fields hold the writer's code-page bytes as stored; a viewer converts them
// with its AnsiCodec where it shows them (see PageAddress.h).
struct ViewerSettings {
    using Text = std::string;
    enum Border : int32_t { NoBorder = 0, Fixed = 1, Sizable = 2, FullScreen = 3 };

#define QV_VIEWER_SETTING(type, name, offset, initial) type name = ViewerInitial<type>(initial);
    QV_SETTINGS_FIELDS(QV_VIEWER_SETTING, QV_SETTINGS_SKIP)
#undef QV_VIEWER_SETTING

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
