#pragma once
#include <windows.h>

#include <commctrl.h>

namespace viewer {

// The pictures of the toolbar's buttons, in this order, from the strips
// in art/viewer that viewer.rc carries.
enum class ToolbarImage { Back, Forward, Home, Print, Find, TextSize, Copy, Search, Count };

// An image list of pictures of about `size` x `size` (the largest strip
// that fits); the caller destroys it.
HIMAGELIST MakeToolbarImages(int size);

} // namespace viewer
