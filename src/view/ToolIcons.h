#pragma once
#include <QIcon>

namespace qv::view {

// The toolbar's pictures, drawn at 24 and 16 pixels from one outline each.
enum class Tool { Back, Forward, Home, Reload, Print, Find, TextSize, Copy };

QIcon ToolIcon(Tool tool);

} // namespace qv::view
