#pragma once
#include "quorvane/base/Error.h"
#include "quorvane/base/LittleEndian.h"

#include <cstdint>
#include <string>

namespace qv {

// The failure of an index outside a list.
[[noreturn]] inline void ListIndexError(int index)
{
    throw Error("List index out of bounds (" + std::to_string(index) + ")");
}

} // namespace qv
