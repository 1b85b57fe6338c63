#pragma once
#include "quorvane/project/ProjectSettings.h"

#include <string>

namespace qv {

// The output name the wizard proposes for a home page: its path with the
// extension replaced by ".exe" or ".qpf" (appended when there is none).
std::string ReplaceExtension(const std::string& path, const std::string& extension);

// A new project as the wizard opens it: width 640, height 480, "Sizeable",
// every check box ticked but expiry, today's date, masks "*.*;" and "*.exe",
// on top of `base` (whose other fields, CursorOption among them, stay).
TProjectSettings WizardProposals(const TProjectSettings& base, const std::string& homePage, double today);

// Today at 00:00 as a date (days since 30 December 1899), local time.
double Today();

} // namespace qv
