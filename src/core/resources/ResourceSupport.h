#pragma once
#include "quorvane/base/Error.h"

#include <cstdint>
#include <string>

namespace qv {

// The failure of an index outside a list.
[[noreturn]] inline void ListIndexError(int index)
{
    throw Error("List index out of bounds (" + std::to_string(index) + ")");
}

} // namespace qv

// Little-endian fields of resource and icon layouts. Callers check the range
// before they read.
namespace qv::resbytes {

inline uint16_t U16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

inline uint32_t U32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

inline void PutU16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void PutU32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

} // namespace qv::resbytes
