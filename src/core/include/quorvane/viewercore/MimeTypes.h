#pragma once
#include <string_view>

// Portable: shared by quorvane-view and viewer.exe.
namespace qv {

// The Content-Type for a file name by its extension (A-Z case ignored):
// "text/html" for .html, "image/png" for .png, ... and
// "application/octet-stream" for anything unknown or without extension.
std::string_view MimeTypeOf(std::string_view fileName);

} // namespace qv
