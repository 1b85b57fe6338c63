#include "quorvane/project/ProjectPaths.h"

#include "quorvane/base/PathParts.h"
#include "quorvane/platform/FileSystem.h"

namespace qv {

std::string ProjectRoot(const ProjectSettingsRecord& settings)
{
    const std::string home = settings.HomePage.str();
    const std::string folder(CutAtLastSeparator(home, separators::kEitherSlashOrDrive).folder);
    std::string root = fs::AbsolutePath(folder.empty() ? "./" : folder);
    if (root.empty() || root.back() != '/')
        root += '/';
    return root;
}

std::string ResolveOutputPath(const ProjectSettingsRecord& settings)
{
    const std::string out = settings.OutputPath.str();
    if (out.empty() || out.front() == '/')
        return out;
    return fs::AbsolutePath(ProjectRoot(settings) + out);
}

} // namespace qv
