#pragma once
#include <string>
#include <string_view>

// Portable: what both viewers allow to leave an output for the desktop.
// An output comes from a stranger, so a file reaches the desktop's handler
// only after the reader clicked a link to it and confirmed a box naming it,
// and programs and launchers never leave the archive at all.
namespace qv {

// True for a name whose type starts a program or script when the desktop
// opens it (desktop, sh, exe, bat, js, ps1, jar, ...; A-Z case ignored).
bool IsProgramFile(std::string_view fileName);

// The confirmation a viewer shows before handing `fileName` (UTF-8, the
// file's own name) to `handler` (the program that will open it; empty when
// unknown). `beside` is true for a file that lies beside the output rather
// than inside it.
std::string HandOverQuestion(std::string_view fileName, std::string_view handler, bool beside);

// The page shown instead of a packed program or launcher (site path, UTF-8).
std::string ProgramRefusedPage(std::string_view sitePath);

} // namespace qv
