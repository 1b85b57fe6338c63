#pragma once
#include <cstddef>
#include <string_view>

// Portable: shared by quorvane-view and viewer.exe.
namespace qv {

// What MimeTypeOf gives for a name whose type it does not know.
inline constexpr std::string_view kUnknownType = "application/octet-stream";

// The Content-Type for a file name by its extension (A-Z case ignored):
// "text/html" for .html and for the pages of server scripts a site was saved
// from (.php, .asp, .shtml, ...), "image/png" for .png, ... and kUnknownType
// for anything unknown or without extension.
std::string_view MimeTypeOf(std::string_view fileName);

// How many first bytes of a file LooksLikeHtml needs at most.
inline constexpr size_t kPageStartLength = 1024;

// Whether the first bytes of a file read like an HTML page: after an
// optional byte order mark and blanks, "<!doctype html", "<html", "<head",
// "<body", "<!--" or another tag that only pages begin with (A-Z case
// ignored).
bool LooksLikeHtml(std::string_view head);

// The type an entry is shown as: MimeTypeOf its name, and for a name of
// unknown type "text/html" when its first bytes `head` LooksLikeHtml.
// Whatever a viewer shows by this type it never hands to the desktop.
std::string_view EntryTypeOf(std::string_view fileName, std::string_view head);

// Whether a Content-Type (parameters ignored) is a page: text/html or
// application/xhtml+xml. A desktop browser would open a stranger's page
// with a local file's rights, so pages stay in the viewer.
bool IsPageType(std::string_view contentType);

} // namespace qv
