#include "ToolIcons.h"

#include <iterator>

namespace qv::view {

QIcon ToolIcon(Tool tool)
{
    // In the order of Tool.
    static const char* const names[] = {"back", "forward", "home", "reload", "print", "find", "textsize", "copy"};
    static_assert(std::size(names) == static_cast<size_t>(Tool::Copy) + 1);
    QIcon icon;
    for (const int size : {16, 24, 32, 48})
        icon.addFile(QStringLiteral(":/art/view/%1-%2.png").arg(QLatin1String(names[static_cast<int>(tool)])).arg(size));
    return icon;
}

} // namespace qv::view
