#include "Cli.h"

#include "quorvane/compile/BuildJob.h"
#include "quorvane/base/Error.h"
#include "quorvane/compile/FileCollection.h"
#include "quorvane/project/ProjectFile.h"
#include "quorvane/project/ProjectPaths.h"
#include "quorvane/base/SizeText.h"
#include "quorvane/base/Utf8.h"
#include "quorvane/platform/CodePage.h"
#include "quorvane/base/Text.h"
#include "quorvane/platform/FileSystem.h"
#include "quorvane/platform/Terminal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <set>

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

// The size once: in bytes when that is its unit, else also in bytes.
std::string SizeLine(int64_t size)
{
    const std::string text = qv::SizeText(size);
    const std::string bytes = std::to_string(size);
    return text.rfind(bytes + " ", 0) == 0 ? text : text + " (" + bytes + " bytes)";
}

// Columns a terminal gives a character: two for the wide characters of East
// Asian scripts, one for every other.
int ColumnsOf(char32_t c)
{
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
                      (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
                      (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

// `text` followed by blanks up to `width` columns.
std::string PadToWidth(const std::string& text, int width)
{
    int columns = 0;
    for (const char32_t c : qv::DecodeUtf8(text))
        columns += ColumnsOf(c);
    return text + std::string(static_cast<size_t>(std::max(0, width - columns)), ' ');
}

} // namespace

bool LoadForCommand(const std::string& project, qv::ProjectSettingsRecord& settings)
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
    qv::ProjectSettingsRecord settings;
    if (!LoadForCommand(options.project, settings))
        return 2;
    if (options.search || options.noSearch)
        settings.SearchIndex = options.search;

    qv::BuildState state;
    state.ProgramFolder = qv::fs::ProgramFolder();
    state.Jobs = options.jobs;
    qv::InlineDispatcher dispatcher;
    CliView view(options.quiet, qv::term::IsTerminal(stderr));
    const auto started = std::chrono::steady_clock::now();

    qv::BuildJob job(settings, state, dispatcher, view);
    bool ended = false;
    job.OnTerminate = [&](qv::BuildJob&) { ended = true; };

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
        std::printf("Size: %s\n", SizeLine(size).c_str());
        std::printf("Processing time: %s\n", Elapsed(std::chrono::steady_clock::now() - started).c_str());
    }
    return 0;
}

int Files(const std::string& project)
{
    qv::ProjectSettingsRecord settings;
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
    // A name the code page cannot hold is refused by the build: it is not
    // packed, and says why.
    const std::vector<qv::ForeignName> foreign = qv::NamesOutsideCodePage(list, root);
    std::set<std::string> refused;
    for (const qv::ForeignName& name : foreign)
        refused.insert(name.path);
    std::erase_if(listener.in, [&](const auto& entry) { return refused.count(entry.first) != 0; });

    auto relative = [&](const std::string& p) { return p.rfind(root, 0) == 0 ? p.substr(root.size()) : p; };
    std::string text = "Root: " + Shown(root) + "\n";
    text += "Packed, in order (" + std::to_string(listener.in.size()) + "):\n";
    for (const auto& [path, piece] : listener.in)
        text += "  " + PadToWidth(Shown(relative(path)), 50) + "  [" + Shown(piece) + "]\n";
    if (!foreign.empty()) {
        text += "Names code page " + std::to_string(qv::codepage::AnsiCodePage()) + " cannot hold (" +
                std::to_string(foreign.size()) + "):\n";
        for (const qv::ForeignName& name : foreign)
            text += "  " + PadToWidth(Shown(relative(name.path)), 50) + "  " + Shown(qv::ForeignNameText(name)) + "\n";
    }
    text += "Left out (" + std::to_string(listener.out.size()) + "):\n";
    for (const auto& [path, rule] : listener.out)
        text += "  " + PadToWidth(Shown(relative(path)), 50) + "  " + Shown(rule) + "\n";
    std::fputs(text.c_str(), stdout);
    if (!foreign.empty())
        return 1;
    return 0;
}

} // namespace qvc
