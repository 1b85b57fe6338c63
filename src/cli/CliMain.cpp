// The command line of quorvanec: which command, with which options.
#include "Cli.h"

#include "quorvane/base/Error.h"
#include "quorvane/check/SiteCheck.h"
#include "quorvane/project/NewProject.h"
#include "quorvane/project/ProjectFile.h"
#include "quorvane/base/Text.h"
#include "quorvane/platform/FileSystem.h"
#include "quorvane/update/VersionRecord.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <set>
#include <string>
#include <vector>

namespace {

const char* const kBorders[] = {"none", "fixed", "sizeable", "fullscreen"};
const char* const kLevels[] = {"normal", "fastest", "maximum", "none"};

struct NewOptions {
    std::string project, home, out, icon, border, compression;
    std::string include, direct, password, userAgent, expires;
    int width = 0, height = 0;
    bool qpf = false;
    bool search = false;
    std::vector<std::string> disable;
};

// What the options say when not given: the wizard's proposals.
NewOptions Proposed()
{
    const qv::ProjectSettingsRecord p = qv::WizardOpening(qv::ProjectSettingsRecord{}, qv::Today());
    NewOptions o;
    o.border = kBorders[p.BorderType];
    o.compression = kLevels[p.CompressionLevel];
    o.include = p.IncludeMask.str();
    o.direct = p.DirectMask.str();
    o.width = p.ViewWidth;
    o.height = p.ViewHeight;
    o.qpf = !p.OutputIsExe;
    return o;
}

// Every word --only takes, as KindName gives them.
std::vector<std::string> KindNames()
{
    std::vector<std::string> names;
    for (const qv::CheckFinding::Kind kind : qv::FindingKinds())
        names.emplace_back(qv::KindName(kind));
    return names;
}

int IndexOf(const char* const (&names)[4], const std::string& name)
{
    return static_cast<int>(std::find(std::begin(names), std::end(names), name) - std::begin(names));
}

int NewProject(const NewOptions& o)
{
    if (!qv::fs::FileExists(o.home)) {
        qvc::Complain("Please select home page (" + o.home + " is not a file)");
        return 2;
    }
    const std::string home = qv::fs::AbsolutePath(o.home);
    qv::ProjectSettingsRecord s = qv::WizardProposals(qv::ProjectSettingsRecord{}, home, qv::Today());
    s.OutputIsExe = !o.qpf;
    s.OutputPath = o.out.empty() ? qv::OutputPathFor(home, s.OutputIsExe) : qv::fs::AbsolutePath(o.out);
    s.BorderType = IndexOf(kBorders, o.border);
    s.CompressionLevel = IndexOf(kLevels, o.compression);
    s.ViewWidth = o.width;
    s.ViewHeight = o.height;
    if (!o.icon.empty())
        s.LogoPath = qv::fs::AbsolutePath(o.icon);
    s.IncludeMask = o.include;
    s.DirectMask = o.direct;
    s.Password = o.password;
    s.UserAgent = o.userAgent;
    s.SearchIndex = o.search;
    if (!o.expires.empty()) {
        if (!qv::ParseProjectDate(o.expires, s.ExpiryDate)) {
            qvc::Complain("'" + o.expires + "' is not a date (M/d/yyyy)");
            return 2;
        }
        s.ExpiryEnabled = true;
    }
    const std::map<std::string, bool*> boxes = {
        {"centered", &s.Centered},        {"scrollbars", &s.HideScrollbars}, {"shadow", &s.Shadow},
        {"toolbar", &s.ShowToolbar},      {"captions", &s.ShowCaptions},     {"statusbar", &s.ShowStatusbar},
        {"contextmenu", &s.ContextMenu},  {"copy", &s.EnableCopy},           {"find", &s.EnableSearch},
        {"print", &s.EnablePrint},        {"font", &s.EnableFont}};
    for (const std::string& name : o.disable)
        *boxes.at(name) = false;
    std::string failure;
    if (!qv::SaveProject(o.project, s, [&](const std::string& m) { failure = m; })) {
        qvc::Complain(failure);
        return 1;
    }
    std::printf("%s\n", qv::fs::AbsolutePath(o.project).c_str());
    return 0;
}

} // namespace

std::string qvc::Shown(const std::string& text)
{
    return qv::TerminalText(text);
}

int qvc::Run(int argc, char** argv)
{
    // "/COMPILE PROJECT.qp", the desktop program's form, means "build".
    std::vector<std::string> args(argv, argv + argc);
    if (args.size() > 1 && qv::AsciiUpper(args[1]) == "/COMPILE")
        args[1] = "build";
    // A query may hold excluded words ("-draft"), which are no options:
    // search's own options go first, every other word after "--".
    if (args.size() > 2 && args[1] == "search") {
        std::vector<std::string> options, words;
        for (size_t i = 2; i < args.size(); ++i) {
            const std::string& a = args[i];
            if (a == "--") {
                words.insert(words.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
                break;
            }
            const bool valued = a == "-n" || a == "--limit";
            if (valued || a == "-h" || a == "--help" || a == "--json" || a.rfind("--limit=", 0) == 0 ||
                (a.size() > 2 && a.rfind("-n", 0) == 0 && a.find_first_not_of("0123456789", 2) == std::string::npos)) {
                options.push_back(a);
                if (valued && i + 1 < args.size())
                    options.push_back(args[++i]);
            } else {
                words.push_back(a);
            }
        }
        args.resize(2);
        args.insert(args.end(), options.begin(), options.end());
        args.push_back("--");
        args.insert(args.end(), words.begin(), words.end());
    }

    CLI::App app{"quorvanec: compiles a folder of web pages into one EXE or QPF file, and inspects outputs."};
    app.require_subcommand(1);
    app.set_version_flag("--version", qv::own_version::kVersion);

    qvc::BuildOptions build;
    auto* cmdBuild = app.add_subcommand("build", "Build a project (also: /COMPILE PROJECT.qp)");
    cmdBuild->add_option("project", build.project, "Project file (.qp)")->required();
    cmdBuild->add_flag("-q,--quiet", build.quiet, "Print nothing but errors");
    cmdBuild->add_option("-j,--jobs", build.jobs, "Threads that compress (default: one per core)")
        ->check(CLI::Range(1u, 1024u));
    auto* withIndex = cmdBuild->add_flag("--search", build.search, "Build the search index, whatever the project says");
    cmdBuild->add_flag("--no-search", build.noSearch, "Build without the search index, whatever the project says")
        ->excludes(withIndex);

    qvc::SearchOptions search;
    auto* cmdSearch = app.add_subcommand("search", "Search the pages of an output built with its search index");
    cmdSearch->add_option("output", search.output, "Output file (EXE or QPF)")->required();
    cmdSearch->add_option("query", search.words,
                          "Words; word* for a prefix, \"a phrase\" in quotes, -word to leave out pages with it")
        ->required();
    cmdSearch->add_option("-n,--limit", search.limit, "Most results shown")->check(CLI::Range(1u, 100000u))
        ->capture_default_str();
    cmdSearch->add_flag("--json", search.json, "Write the results as one JSON document");

    std::string file, folder, project;
    auto* cmdList = app.add_subcommand("list", "List the entries of a QPF or EXE output");
    cmdList->add_option("file", file, "Output file")->required();
    auto* cmdVerify = app.add_subcommand("verify", "Check the archive and every entry of an output");
    cmdVerify->add_option("file", file, "Output file")->required();
    auto* cmdExtract = app.add_subcommand("extract", "Extract the entries of an output into a folder");
    cmdExtract->add_option("file", file, "Output file")->required();
    cmdExtract->add_option("folder", folder, "Target folder")->required();
    auto* cmdConfig = app.add_subcommand("config", "Show the viewer settings (-config-) of an output");
    cmdConfig->add_option("file", file, "Output file")->required();
    auto* cmdFiles = app.add_subcommand("files", "Dry run: which files a build packs, and why others are left out");
    cmdFiles->add_option("project", project, "Project file (.qp)")->required();
    qvc::CheckOptions check;
    std::vector<std::string> only;
    auto* cmdCheck = app.add_subcommand("check", "Every link of the pages that will break in the output, before it is built");
    cmdCheck->add_option("project", check.project, "Project file (.qp)")->required();
    cmdCheck->add_flag("--json", check.json, "Write the findings as one JSON document");
    cmdCheck->add_flag("--all", check.all, "Every place, also of a reference that breaks alike on many pages");
    cmdCheck->add_option("--only", only, "Only findings of these kinds")
        ->check(CLI::IsMember(KindNames()))
        ->delimiter(',');
    auto* cmdResources = app.add_subcommand("resources", "List the resources of an executable");
    cmdResources->add_option("file", file, "Executable")->required();

    NewOptions n = Proposed();
    auto* cmdNew = app.add_subcommand("new", "Write a new project file with the wizard's proposals");
    cmdNew->add_option("project", n.project, "Project file to write (.qp)")->required();
    cmdNew->add_option("--home", n.home, "Home page")->required();
    cmdNew->add_option("--out", n.out, "Output file (default: the home page with .exe or .qpf)");
    cmdNew->add_flag("--qpf", n.qpf, "Write a QPF instead of an EXE");
    cmdNew->add_option("--icon", n.icon, "Icon file (.ico) for the EXE");
    cmdNew->add_option("--width", n.width, "Viewer window width")->capture_default_str();
    cmdNew->add_option("--height", n.height, "Viewer window height")->capture_default_str();
    cmdNew->add_option("--border", n.border, "Border style")
        ->check(CLI::IsMember(std::vector<std::string>(std::begin(kBorders), std::end(kBorders))))
        ->capture_default_str();
    cmdNew->add_option("--compression", n.compression, "Compression level")
        ->check(CLI::IsMember(std::vector<std::string>(std::begin(kLevels), std::end(kLevels))))
        ->capture_default_str();
    cmdNew->add_option("--include", n.include, "Include masks")->capture_default_str();
    cmdNew->add_option("--direct", n.direct, "Direct-execution masks (left out of the archive)")->capture_default_str();
    cmdNew->add_option("--password", n.password, "Start password");
    cmdNew->add_option("--expires", n.expires, "First day the output no longer starts (M/d/yyyy)");
    cmdNew->add_option("--user-agent", n.userAgent, "User-Agent of the viewer's browser");
    cmdNew->add_flag("--search", n.search, "Build a search index of the pages into the output");
    cmdNew->add_option("--disable", n.disable, "Untick wizard boxes")
        ->check(CLI::IsMember({"centered", "scrollbars", "shadow", "toolbar", "captions", "statusbar",
                               "contextmenu", "copy", "find", "print", "font"}))
        ->delimiter(',');

    std::vector<const char*> cargs;
    for (const auto& a : args)
        cargs.push_back(a.c_str());
    try {
        app.parse(static_cast<int>(cargs.size()), cargs.data());
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return e.get_exit_code() == 0 ? code : 2;
    }

    try {
        if (*cmdBuild) return qvc::Build(build);
        if (*cmdList) return qvc::List(file);
        if (*cmdVerify) return qvc::Verify(file);
        if (*cmdExtract) return qvc::Extract(file, folder);
        if (*cmdConfig) return qvc::Config(file);
        if (*cmdFiles) return qvc::Files(project);
        if (*cmdCheck) {
            for (const std::string& name : only)
                qv::KindOfName(name, check.only.emplace_back());
            return qvc::Check(check);
        }
        if (*cmdResources) return qvc::Resources(file);
        if (*cmdSearch) {
            for (const std::string& word : search.words)
                search.query += (search.query.empty() ? "" : " ") + word;
            return qvc::Search(search);
        }
        if (*cmdNew) return NewProject(n);
    } catch (const std::bad_alloc&) {
        qvc::Complain("Not enough memory to finish; close other programs and try again");
        return 1;
    } catch (const std::exception& e) {
        qvc::Complain(e.what());
        return 1;
    }
    return 2;
}
