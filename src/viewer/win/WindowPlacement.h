#pragma once
// Portable: no Windows headers, so the rules are tested on the build
// machine too.

namespace viewer {

// A rectangle in screen pixels, right and bottom excluded, as Windows has it.
struct ScreenBox {
    long left = 0, top = 0, right = 0, bottom = 0;
    long Width() const { return right - left; }
    long Height() const { return bottom - top; }
    bool operator==(const ScreenBox&) const = default;
};

// `pixels` at 96 dots per inch, at `dpi`, rounded to the nearest pixel.
int ScaledToDpi(int pixels, unsigned dpi);

// Where a window of `wanted` outer size and place goes on a monitor whose
// work area is `work`: no wider or taller than the work area, inside it,
// and in its middle when `centred`. Every frame fits, so even a window
// without one is never out of reach.
ScreenBox FitToWorkArea(const ScreenBox& wanted, const ScreenBox& work, bool centred);

} // namespace viewer
