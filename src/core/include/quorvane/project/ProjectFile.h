#pragma once
#include "quorvane/project/ProjectSettings.h"

#include <functional>
#include <string>

namespace qv {

// Writes `settings` as a project file (XML, root QVProject). Paths are
// written relative to the project's folder where possible, with "\" as
// separator. The file is replaced atomically: a failed save leaves the old
// one whole. On failure `showMessage` gets "Could not save project
// file:\r\n" + path and false is returned.
bool SaveProject(const std::string& path, const ProjectSettingsRecord& settings,
                 const std::function<void(const std::string&)>& showMessage);

// Reads a project file into `settings`. A missing file changes nothing. A
// malformed or incomplete one throws qv::Error("Could not load project:
// <name>\r\nIncompatible project version.") and leaves `settings` exactly
// as it was.
void LoadProject(const std::string& path, ProjectSettingsRecord& settings);

// The pieces of the project file format, public for the tests and the CLI.
std::string RelativePathForProject(const std::string& projectFolder, const std::string& path);
std::string AbsolutePathFromProject(const std::string& projectFolder, const std::string& text);
std::string FormatProjectDate(double date);                 // "M/d/yyyy"
bool ParseProjectDate(const std::string& text, double& date); // that day at 00:00

} // namespace qv
