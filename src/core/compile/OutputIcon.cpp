#include "quorvane/compile/OutputIcon.h"

#include "quorvane/resources/ExecutableModule.h"
#include "quorvane/resources/PictureResources.h"

#include <filesystem>
#include <system_error>

namespace qv {

void ReplaceOutputIcon(const std::string& out, const std::string& iconFile)
{
    ExecutableModule module;
    module.LoadFromFile(out);
    std::error_code ec;
    if (!iconFile.empty() && std::filesystem::is_regular_file(iconFile, ec)) {
        auto& group = CreateBlank<IconGroupResourceDetails>(module, "MAINICON", 0);
        group.Dirty = true;
        ReplaceIconGroup(group, iconFile);
    }
    module.SaveToFile(out);
}

} // namespace qv
