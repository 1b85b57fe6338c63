#include "Cli.h"

#include "quorvane/base/Error.h"
#include "quorvane/base/Text.h"
#include "quorvane/compile/FileCollection.h"
#include "quorvane/check/SiteCheck.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <string_view>

namespace qvc {
namespace {

std::string Counted(size_t count, const char* noun)
{
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

using qv::CheckFinding;

std::string Place(const CheckFinding& f)
{
    return f.line > 0 ? f.page + ":" + std::to_string(f.line) : f.page;
}

// One finding: where, what, and the further lines of the same page.
std::string FindingLine(const CheckFinding& f)
{
    if (f.kind == CheckFinding::Kind::HomePage || f.kind == CheckFinding::Kind::CodePage)
        return Place(f) + ": " + f.message + "\n";
    std::string also;
    for (const int line : f.more)
        also += (also.empty() ? " (also line " : ", ") + std::to_string(line);
    if (!also.empty())
        also += ")";
    return Place(f) + ": \"" + f.reference + "\": " + f.message + also + "\n";
}

// Findings that break the same way, once: the reference when all of them
// spell it alike, else the target they all lead to.
std::string GroupLine(const std::vector<CheckFinding>& findings, const std::vector<size_t>& group)
{
    const CheckFinding& first = findings[group.front()];
    std::set<std::string_view> pages;
    bool alike = true;
    for (const size_t i : group) {
        pages.insert(findings[i].page);
        alike = alike && findings[i].reference == first.reference;
    }
    const std::string what = alike ? "\"" + first.reference + "\""
                                   : std::to_string(group.size()) + " references to \"" + first.target + "\"";
    return what + ": " + first.message + ", on " + std::to_string(pages.size()) +
           (pages.size() == 1 ? " page" : " pages") + ", first at " + Place(first) + "\n";
}

std::string PlainReport(const qv::CheckReport& report, bool all)
{
    std::string text;
    if (all) {
        for (const CheckFinding& f : report.findings)
            text += FindingLine(f);
    } else {
        for (const std::vector<size_t>& group : qv::GroupFindings(report.findings))
            text += group.size() > 1 ? GroupLine(report.findings, group) : FindingLine(report.findings[group.front()]);
    }
    for (const qv::KindSummary& k : qv::SummarizeFindings(report.findings))
        text += std::string(qv::KindName(k.kind)) + ": " + Counted(k.findings, "finding") + " on " +
                Counted(k.pages, "page") + "\n";
    text += std::to_string(report.pages) + " pages, " + std::to_string(report.stylesheets) + " stylesheets, " +
            std::to_string(report.references) + " references (" + std::to_string(report.external) + " external), " +
            std::to_string(report.findings.size()) + " findings\n";
    return text;
}

} // namespace

int Check(const CheckOptions& options)
{
    qv::ProjectSettingsRecord settings;
    if (!LoadForCommand(options.project, settings))
        return 2;
    qv::CheckReport report;
    try {
        report = qv::CheckSite(settings);
    } catch (const qv::UnstorableName& e) {
        // A build of this site fails too: that is a finding, not a bad project.
        Complain(e.what());
        return 1;
    } catch (const qv::Error& e) {
        Complain(e.what());
        return 2;
    }
    if (!options.only.empty()) {
        std::erase_if(report.findings, [&](const CheckFinding& f) {
            return std::find(options.only.begin(), options.only.end(), f.kind) == options.only.end();
        });
    }
    // JSON escapes every control character itself; plain text keeps only its line breaks.
    const std::string text =
        options.json ? qv::ReportJson(report) : qv::TerminalText(PlainReport(report, options.all), "\n");
    std::fputs(text.c_str(), stdout);
    return report.findings.empty() ? 0 : 1;
}

} // namespace qvc
