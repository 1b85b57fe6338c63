#include "quorvane/base/LittleEndian.h"

#include <cstdio>

namespace qv {

std::string Hex(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

void LeReader::Fail(uint64_t offset, std::string_view what) const
{
    const std::string problem = std::string(what) + " runs past the end of " + limit_;
    const uint64_t at = base_ + offset;
    if (fail_)
        fail_(problem, at);
    throw ByteRangeError(problem + " (offset " + Hex(at) + ")", at);
}

void FailWrite(uint64_t offset, size_t count, size_t size)
{
    throw Error("Writing " + std::to_string(count) + " bytes at offset " + Hex(offset) + " passes the end of " +
                std::to_string(size) + " bytes");
}

} // namespace qv
