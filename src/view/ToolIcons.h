#pragma once
#include <QIcon>

namespace qv::view {

// The toolbar's pictures, kept as files in art/view, one for each size so
// every size stays sharp.
enum class Tool { Back, Forward, Home, Reload, Print, Find, TextSize, Copy };

QIcon ToolIcon(Tool tool);

} // namespace qv::view
