#pragma once
#include "quorvane/compile/BuildJob.h"
#include "quorvane/compile/Dispatcher.h"
#include "quorvane/project/ProjectSettings.h"

#include <string>

// A project built with the real build job, on the calling thread as the
// user-interface thread, as the programs build. Header-only, so that the
// benchmarks use it as the tests do.
namespace qvtest {

struct SiteBuildResult {
    bool ok = false;
    std::string error; // the error box's text when the build failed
};

// `programFolder` holds "viewer.exe" for EXE outputs (with a trailing "/").
inline SiteBuildResult BuildSite(const qv::ProjectSettingsRecord& settings, const std::string& programFolder)
{
    class View final : public qv::BuildView {
    public:
        std::string error;
        void UpdateProgressView(const std::string&, const std::string&, int32_t, int32_t) override {}
        void ShowErrorBox(const std::string& text) override { error = text; }
    } view;
    qv::BuildState state;
    state.ProgramFolder = programFolder;
    qv::QueueDispatcher dispatcher;
    qv::BuildJob job(settings, state, dispatcher, view);
    bool ended = false;
    job.OnTerminate = [&](qv::BuildJob&) { ended = true; };
    job.Start();
    dispatcher.Serve([&] { return ended; });
    job.WaitFor();
    return {job.ReturnValue == 1, view.error};
}

} // namespace qvtest
