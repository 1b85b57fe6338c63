#include "WindowPlacement.h"

#include <algorithm>
#include <cstdint>

namespace viewer {

int ScaledToDpi(int pixels, unsigned dpi)
{
    const int64_t scaled = static_cast<int64_t>(pixels) * dpi;
    return static_cast<int>((scaled + (scaled < 0 ? -48 : 48)) / 96);
}

namespace {

// One axis: the start of a span of `length` within [low, high).
long Place(long start, long length, long low, long high, bool centred)
{
    if (centred)
        return low + (high - low - length) / 2;
    return std::clamp(start, low, high - length);
}

} // namespace

ScreenBox FitToWorkArea(const ScreenBox& wanted, const ScreenBox& work, bool centred)
{
    const long width = std::clamp(wanted.Width(), 1L, std::max(work.Width(), 1L));
    const long height = std::clamp(wanted.Height(), 1L, std::max(work.Height(), 1L));
    ScreenBox placed;
    placed.left = Place(wanted.left, width, work.left, work.left + std::max(work.Width(), width), centred);
    placed.top = Place(wanted.top, height, work.top, work.top + std::max(work.Height(), height), centred);
    placed.right = placed.left + width;
    placed.bottom = placed.top + height;
    return placed;
}

} // namespace viewer
