#include "Cli.h"

#include "quorvane/base/Error.h"
#include "quorvane/build/FileCollection.h"
#include "quorvane/check/SiteCheck.h"

#include <cstdio>

namespace qvc {

int Check(const std::string& project, bool json)
{
    qv::TProjectSettings settings;
    if (!LoadForCommand(project, settings))
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
    if (json) {
        std::fputs(qv::ReportJson(report).c_str(), stdout);
    } else {
        for (const qv::CheckFinding& f : report.findings) {
            std::string where = f.page;
            if (f.line > 0)
                where += ":" + std::to_string(f.line);
            std::string also;
            for (const int line : f.more)
                also += (also.empty() ? " (also line " : ", ") + std::to_string(line);
            if (!also.empty())
                also += ")";
            if (f.kind == qv::CheckFinding::Kind::HomePage)
                std::printf("%s: %s\n", Shown(where).c_str(), Shown(f.message).c_str());
            else
                std::printf("%s: \"%s\": %s%s\n", Shown(where).c_str(), Shown(f.reference).c_str(),
                            Shown(f.message).c_str(), also.c_str());
        }
        std::printf("%zu pages, %zu stylesheets, %zu references (%zu external), %zu findings\n", report.pages,
                    report.stylesheets, report.references, report.external, report.findings.size());
    }
    return report.findings.empty() ? 0 : 1;
}

} // namespace qvc
