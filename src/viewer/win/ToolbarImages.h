#pragma once
#include <windows.h>

#include <commctrl.h>

namespace viewer {

// The pictures of the toolbar's buttons, drawn at start for the screen's
// size, in this order.
enum class ToolbarImage { Back, Forward, Home, Print, Find, TextSize, Copy, Count };

// An image list of `size` x `size` pictures; the caller destroys it.
HIMAGELIST MakeToolbarImages(int size);

} // namespace viewer
