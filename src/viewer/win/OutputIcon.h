#pragma once
#include "OutputFile.h"

#include <cstdint>
#include <vector>

#include <windows.h>

namespace viewer {

// The picture of an icon file (ICO) closest to `size` x `size`: the exact
// size with the most colours, else the next larger, else the largest.
// Null when the bytes are no icon file; every offset is checked first.
HICON IconFromIcoFile(const std::vector<uint8_t>& ico, int size);

// The output's own icon at `size`: the program's MAINICON for an EXE
// output (the compiler put the project's icon there), the "-logo-" entry
// for a stand-alone archive, else the viewer's own. The caller destroys it.
HICON LoadOutputIcon(const OutputFile& output, int size);

} // namespace viewer
