#include "OutputIcon.h"

namespace viewer {

namespace {

uint32_t Le(const std::vector<uint8_t>& b, size_t at, int width)
{
    uint32_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = v << 8 | b[at + static_cast<size_t>(i)];
    return v;
}

HICON ProgramIcon(int size)
{
    return static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), L"MAINICON", IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

} // namespace

HICON IconFromIcoFile(const std::vector<uint8_t>& ico, int size)
{
    if (ico.size() < 6 || Le(ico, 0, 2) != 0 || Le(ico, 2, 2) != 1)
        return nullptr;
    const size_t count = Le(ico, 4, 2);
    if (ico.size() < 6 + 16 * count)
        return nullptr;
    int best = -1;
    int bestSize = 0;
    uint32_t bestBits = 0;
    auto better = [size](int candidate, uint32_t bits, int current, uint32_t currentBits) {
        if (current == 0)
            return true;
        if (candidate == current)
            return bits > currentBits;
        const bool fits = candidate >= size, currentFits = current >= size;
        if (fits != currentFits)
            return fits;
        return fits ? candidate < current : candidate > current;
    };
    for (size_t i = 0; i < count; ++i) {
        const size_t e = 6 + 16 * i;
        const int width = ico[e] == 0 ? 256 : ico[e];
        const uint32_t bits = Le(ico, e + 6, 2);
        const uint64_t length = Le(ico, e + 8, 4), offset = Le(ico, e + 12, 4);
        if (length == 0 || offset + length > ico.size())
            continue;
        if (better(width, bits, bestSize, bestBits)) {
            best = static_cast<int>(i);
            bestSize = width;
            bestBits = bits;
        }
    }
    if (best < 0)
        return nullptr;
    const size_t e = 6 + 16 * static_cast<size_t>(best);
    return CreateIconFromResourceEx(const_cast<uint8_t*>(ico.data()) + Le(ico, e + 12, 4), Le(ico, e + 8, 4), TRUE,
                                    0x00030000, size, size, LR_DEFAULTCOLOR);
}

HICON LoadOutputIcon(const OutputFile& output, int size)
{
    if (!output.Own) {
        try {
            if (const HICON logo = IconFromIcoFile(output.Site->Logo(), size))
                return logo;
        } catch (const std::exception&) {
            // A damaged logo costs the output its icon, nothing more.
        }
    }
    return ProgramIcon(size);
}

} // namespace viewer
