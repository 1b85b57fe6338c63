#pragma once
#include "quorvane/project/ProjectSettings.h"

#include <string>

namespace qv {

// The project's root folder: the home page's folder made absolute, with a
// trailing "/".
std::string ProjectRoot(const ProjectSettingsRecord& settings);

// Where a build puts its output: the settings' OutputPath, taken relative
// to the project's root folder when it is relative.
std::string ResolveOutputPath(const ProjectSettingsRecord& settings);

} // namespace qv
