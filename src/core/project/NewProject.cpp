#include "quorvane/project/NewProject.h"
#include "quorvane/base/PathParts.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace qv {

std::string ReplaceExtension(const std::string& path, const std::string& extension)
{
    const PathCut cut = CutAtLastSeparator(path, separators::kEitherSlashOrDrive);
    const size_t dot = cut.name.rfind('.');
    if (dot == std::string_view::npos)
        return path + extension;
    return path.substr(0, cut.folder.size() + dot) + extension;
}

const char* OutputExtension(bool exe)
{
    return exe ? ".exe" : ".qpf";
}

std::string OutputPathFor(const std::string& path, bool exe)
{
    return ReplaceExtension(path, OutputExtension(exe));
}

ProjectSettingsRecord WizardOpening(const ProjectSettingsRecord& base, double today)
{
    ProjectSettingsRecord s = base;
    s.HomePage = "";
    s.OutputIsExe = true;
    s.OutputPath = "";
    s.BorderType = 2;
    s.ViewWidth = 640;
    s.ViewHeight = 480;
    s.LogoPath = "";
    s.Centered = s.HideScrollbars = s.Shadow = true;
    s.ShowToolbar = s.ShowCaptions = s.ShowStatusbar = true;
    s.ContextMenu = s.EnableCopy = s.EnableSearch = s.EnablePrint = s.EnableFont = true;
    s.Password = "";
    s.ExpiryEnabled = false;
    s.ExpiryDate = today;
    s.IncludeMask = "*.*;";
    s.DirectMask = "*.exe";
    s.UserAgent = "";
    return s;
}

ProjectSettingsRecord WizardProposals(const ProjectSettingsRecord& base, const std::string& homePage, double today)
{
    ProjectSettingsRecord s = WizardOpening(base, today);
    s.HomePage = homePage;
    s.OutputPath = OutputPathFor(homePage, s.OutputIsExe);
    return s;
}

double Today()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    // Days from 1899-12-30 to the local calendar day.
    std::tm midnight = local;
    midnight.tm_hour = 12; // noon avoids daylight-saving edges
    midnight.tm_min = midnight.tm_sec = 0;
    const std::time_t t = timegm(&midnight);
    return std::floor(static_cast<double>(t) / 86400.0) + 25569.0;
}

} // namespace qv
