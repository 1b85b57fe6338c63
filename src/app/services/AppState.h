#pragma once
#include "quorvane/project/AppSettings.h"
#include "quorvane/compile/BuildJob.h"
#include "quorvane/project/ProjectSettings.h"

#include <memory>

namespace qv::app {

// The user interface's process-wide state. It lives as long as the
// process; the main window's creation handler puts it into its start-up
// values, so a second window (the tests make several) starts afresh.
struct ProcessState {
    ProjectSettingsRecord ProjectSettings;
    qv::RecentProjects RecentProjects;
    bool ProjectModified = false;
    bool InteractiveMode = true;
    std::unique_ptr<BuildJob> BuildThread;
    BuildState Build; // CancelRequested, PackedSize, FileBuffer, ProgramFolder
};

ProcessState& State();

} // namespace qv::app
