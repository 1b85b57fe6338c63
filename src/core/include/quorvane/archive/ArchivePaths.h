#pragma once
#include <algorithm>
#include <string>
#include <string_view>

// Portable: compiled into the Windows viewer as well.
namespace qv {

// Why an archive name (ANSI bytes, folders separated by backslashes) must
// not be written below a target folder, or empty when it may. Names from an
// archive are outside bytes: an extractor that trusted them could be made to
// write anywhere ("..\..\x", "C:\x", "\\host\x") or onto a device ("CON").
// The rules are Windows' own, since that is where the viewer writes: no
// drive or stream colon, no rooted or empty part, no part ending in a dot or
// blank (Windows drops those, so ".. " would climb), no forbidden or control
// character, no device name.
std::string UnsafeExtractionReason(std::string_view ansiName);

// The archive name of a file below the project's root, from its path
// relative to the root: folders are separated by "\" in an archive.
inline std::string EntryName(std::string relativePath)
{
    std::replace(relativePath.begin(), relativePath.end(), '/', '\\');
    return relativePath;
}

} // namespace qv
