#pragma once
#include "quorvane/project/ProjectSettings.h"

#include <string>

// What a new project starts from. The desktop wizard, the options dialog
// and `quorvanec new` all take their proposals from here, so they cannot
// drift apart.
namespace qv {

// `path` with its extension replaced by `extension` (appended when there is
// none; an empty path becomes the bare extension).
std::string ReplaceExtension(const std::string& path, const std::string& extension);

// ".exe" or ".qpf".
const char* OutputExtension(bool exe);

// The output name for `path` in the chosen format: the format buttons'
// rule, and the name proposed from a home page.
std::string OutputPathFor(const std::string& path, bool exe);

// A new project as the wizard opens it, before a home page is chosen: no
// home page, output name, icon, password or user agent; EXE format; width
// 640, height 480, "Sizeable"; every check box ticked but expiry; today's
// date; masks "*.*;" and "*.exe". The other fields of `base`
// (CompressionLevel and CursorOption among them) stay.
ProjectSettingsRecord WizardOpening(const ProjectSettingsRecord& base, double today);

// The opening with `homePage` chosen, and the EXE output named after it.
ProjectSettingsRecord WizardProposals(const ProjectSettingsRecord& base, const std::string& homePage, double today);

// Today at 00:00 as a date (days since 30 December 1899), local time.
double Today();

} // namespace qv
