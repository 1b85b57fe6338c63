#pragma once
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Portable: shared by quorvane-view and viewer.exe.
namespace qv {

// The writer's single-byte code page, supplied by each viewer (the core
// converts no text itself): Windows-1252 or QUORVANE_ANSI_CODEPAGE on Linux,
// the system's ANSI code page on Windows. ToAnsi turns what the code page
// lacks into "?", as the writer did.
struct AnsiCodec {
    std::function<std::string(std::string_view utf8)> ToAnsi;
    std::function<std::string(std::string_view ansi)> FromAnsi;
};

// "%xx" escapes turned into their bytes; a "%" not followed by two hex
// digits stays as written.
std::string PercentDecode(std::string_view text);

// `text` with every byte but A-Z, a-z, 0-9, "-._~" and those in `keep`
// written as "%XX".
std::string PercentEncode(std::string_view text, std::string_view keep = {});

// The archive name (code-page bytes, folders joined by "\") that the path of
// a page address names: the query and fragment are dropped, escapes decoded,
// "/" and "\" both separate folders, empty parts and "." are skipped, ".."
// climbs one folder but never above the site's root, and the UTF-8 result
// is converted with `codec`. The root itself gives an empty name. Nothing
// (nullopt) for a path holding a NUL byte and for the viewer's own entries
// "-config-", "-logo-" and "-search-", which are never served.
std::optional<std::string> EntryNameOf(std::string_view addressPath, const AnsiCodec& codec);

// The same steps up to the conversion: the site-relative path in UTF-8 with
// "/" between folders ("" for the root, nullopt as above).
std::optional<std::string> SitePathOf(std::string_view addressPath);

// Whether the path's ".." parts climb above the site's root, where the two
// calls above quietly stop: the page's author meant a file outside the site.
bool LeavesRoot(std::string_view addressPath);

// Whether the file name of `sitePath` matches a piece of `directMask` (UTF-8,
// pieces ending with ";"): such a file, when not packed, is opened from the
// folder beside the output.
bool DirectMaskTakes(std::string_view sitePath, const std::string& directMask);

// The address path of an archive name: "/" + its parts in UTF-8, escaped so
// that EntryNameOf gives the name back ("sub\my page.html" gives
// "/sub/my%20page.html").
std::string AddressPathOf(std::string_view ansiName, const AnsiCodec& codec);

// Whether `ansiName` is "-config-", "-logo-" or "-search-" (A-Z case ignored).
bool IsReservedEntry(std::string_view ansiName);

} // namespace qv
