#pragma once
#include <cstdint>
#include <string>

namespace qv {

// "%.2f GB", "%.2f MB", "%.2f KB" or "<n> Byte(s)", with the decimal
// separator of the current C locale.
std::string SizeText(int64_t size);

} // namespace qv
