#pragma once
#include "quorvane/project/SettingsImage.h"
#include "quorvane/project/ShortString.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace qv {

// Every option of a project, with its value at program start (the list is
// in SettingsFields.h). The record is also the viewer's settings format: see
// WriteSettingsImage for its exact 3896 bytes.
struct ProjectSettingsRecord {
    using Text = ShortString;
#define QV_PROJECT_SETTING(type, name, offset, initial) type name = initial;
    QV_SETTINGS_FIELDS(QV_PROJECT_SETTING, QV_PROJECT_SETTING)
#undef QV_PROJECT_SETTING
    std::array<char16_t, 4> VersionStamp{}; // "4.30" once a build stamps it
    // Not part of the image: the output carries its index as "-search-".
    bool SearchIndex = false;

    void StampVersion() { VersionStamp = {u'4', u'.', u'3', u'0'}; }
};

std::array<uint8_t, kSettingsImageSize> WriteSettingsImage(const ProjectSettingsRecord& s);

// Reads an image back (for listing an output's settings). Throws qv::Error
// when the size is not 3896 bytes. Flags read any non-zero byte as on.
ProjectSettingsRecord ReadSettingsImage(std::span<const uint8_t> image);

} // namespace qv
