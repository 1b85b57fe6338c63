#include "ToolbarImages.h"

#include <string>

namespace viewer {

HIMAGELIST MakeToolbarImages(int size)
{
    // The strips in viewer.rc; the largest that fits is used.
    static const int strips[] = {20, 25, 30, 35, 40, 50, 60};
    int chosen = strips[0];
    for (const int strip : strips)
        if (strip <= size)
            chosen = strip;
    const std::wstring name = L"TOOLBAR" + std::to_wstring(chosen);
    const auto strip = static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr), name.c_str(), IMAGE_BITMAP, 0, 0, 0));
    const int count = static_cast<int>(ToolbarImage::Count);
    const HIMAGELIST images = ImageList_Create(chosen, chosen, ILC_COLOR24 | ILC_MASK, count, 0);
    if (strip) {
        ImageList_AddMasked(images, strip, RGB(255, 0, 255));
        DeleteObject(strip);
    }
    return images;
}

} // namespace viewer
