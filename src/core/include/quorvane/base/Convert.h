#pragma once
#include <cstdint>
#include <string>

namespace qv {

// A decimal whole number in 32 bits, an optional sign before the digits and
// nothing else. Throws qv::Error "'<text>' is not a valid integer value".
int32_t StrToInt(const std::string& text);

} // namespace qv
