#include "Cli.h"

#include "quorvane/build/BuildJob.h"
#include "quorvane/base/Error.h"
#include "quorvane/build/FileCollection.h"
#include "quorvane/project/ProjectFile.h"
#include "quorvane/base/SizeText.h"
#include "quorvane/base/Text.h"
#include "quorvane/platform/FileSystem.h"
#include "quorvane/platform/Terminal.h"

#include <chrono>
#include <cstdio>
#include <iostream>

namespace qvc {
namespace {

// Progress on standard error: a redrawn bar on a terminal, plain lines for
// logs, nothing when quiet.
class CliView final : public qv::BuildView {
public:
    CliView(bool quiet, bool terminal) : quiet_(quiet), terminal_(terminal) {}

    void UpdateProgressView(const std::string& sizeText, const std::string& statusText, int32_t filePercent,
                            int32_t overallPercent) override
    {
        if (quiet_)
            return;
        if (!statusText.empty())
            action_ = statusText;
        if (terminal_) {
            const int width = 30;
            const int filled = std::clamp(overallPercent, 0, 100) * width / 100;
            std::string bar(static_cast<size_t>(filled), '#');
            bar.resize(width, '-');
            std::string action = action_;
            if (action.size() > 40)
                action = "..." + action.substr(action.size() - 37);
            std::fprintf(stderr, "\r[%s] %3d%% %-12s %-40s", bar.c_str(), overallPercent, sizeText.c_str(),
                         Shown(action).c_str());
            std::fflush(stderr);
            drawn_ = true;
        } else if (overallPercent != lastPercent_ || action_ != lastAction_) {
            std::fprintf(stderr, "%3d%% %s %s\n", overallPercent, sizeText.c_str(), Shown(action_).c_str());
            lastPercent_ = overallPercent;
            lastAction_ = action_;
        }
        (void)filePercent;
    }

    void ShowErrorBox(const std::string& text) override
    {
        EndLine();
        Complain(text);
    }

    void EndLine()
    {
        if (drawn_)
            std::fputc('\n', stderr);
        drawn_ = false;
    }

private:
    bool quiet_, terminal_, drawn_ = false;
    std::string action_, lastAction_;
    int32_t lastPercent_ = -1;
};

std::string Elapsed(std::chrono::steady_clock::duration d)
{
    const auto total = std::chrono::duration_cast<std::chrono::seconds>(d).count();
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(total / 3600 % 24),
                  static_cast<long long>(total / 60 % 60), static_cast<long long>(total % 60));
    return text;
}

} // namespace

bool LoadForCommand(const std::string& project, qv::TProjectSettings& settings)
{
    if (!qv::fs::FileExists(project)) {
        Complain("Could not load project: " + qv::fs::FileNameOf(project) + " (no such file)");
        return false;
    }
    try {
        qv::LoadProject(project, settings);
    } catch (const qv::Error& e) {
        Complain(qv::ErrorBoxText(e.what()));
        return false;
    }
    return true;
}

void Complain(const std::string& message)
{
    std::fprintf(stderr, "quorvanec: %s\n", qv::TerminalText(message, "\n").c_str());
}

int Build(const BuildOptions& options)
{
    qv::TProjectSettings settings;
    if (!LoadForCommand(options.project, settings))
        return 2;

    qv::BuildState state;
    state.ProgramFolder = qv::fs::ProgramFolder();
    state.Jobs = options.jobs;
    qv::InlineDispatcher dispatcher;
    CliView view(options.quiet, qv::term::IsTerminal(stderr));
    const auto started = std::chrono::steady_clock::now();

    qv::CThread job(settings, state, dispatcher, view);
    bool ended = false;
    job.OnTerminate = [&](qv::CThread&) { ended = true; };

    // Ctrl+C and termination cancel the build cleanly: the job deletes its
    // temporary archive and any partial output.
    qv::term::CancelOnInterrupt interrupt([&] {
        state.CancelRequested = true;
        job.Cancel();
    });
    job.Start();
    dispatcher.ServeUntil([&] { return ended; });
    job.WaitFor();
    view.EndLine();

    if (job.ReturnValue != 1) {
        if (interrupt.Interrupted())
            Complain("Build cancelled");
        return 1;
    }
    const std::string out = qv::ResolveOutputPath(settings);
    const int64_t size = qv::fs::FileSize(out);
    if (!options.quiet) {
        std::printf("Output: %s\n", Shown(out).c_str());
        std::printf("Size: %s (%lld bytes)\n", qv::SizeText(size).c_str(), static_cast<long long>(size));
        std::printf("Processing time: %s\n", Elapsed(std::chrono::steady_clock::now() - started).c_str());
    }
    return 0;
}

int Files(const std::string& project)
{
    qv::TProjectSettings settings;
    if (!LoadForCommand(project, settings))
        return 2;
    struct Listener : qv::CollectListener {
        std::vector<std::pair<std::string, std::string>> in, out;
        void Included(const std::string& p, const std::string& piece) override { in.emplace_back(p, piece); }
        void Excluded(const std::string& p, const std::string& rule) override { out.emplace_back(p, rule); }
    } listener;
    const std::string root = qv::ProjectRoot(settings);
    std::vector<std::string> list;
    try {
        qv::CollectFiles(list, settings, root, &listener);
    } catch (const qv::Error& e) {
        Complain(e.what());
        return 1;
    }
    auto relative = [&](const std::string& p) { return p.rfind(root, 0) == 0 ? p.substr(root.size()) : p; };
    std::printf("Root: %s\n", Shown(root).c_str());
    std::printf("Packed, in order (%zu):\n", listener.in.size());
    for (const auto& [path, piece] : listener.in)
        std::printf("  %-50s  [%s]\n", Shown(relative(path)).c_str(), Shown(piece).c_str());
    std::printf("Left out (%zu):\n", listener.out.size());
    for (const auto& [path, rule] : listener.out)
        std::printf("  %-50s  %s\n", Shown(relative(path)).c_str(), Shown(rule).c_str());
    return 0;
}

} // namespace qvc
