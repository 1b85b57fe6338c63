#include "quorvane/base/SizeText.h"

#include <clocale>
#include <cstdio>

namespace qv {

std::string SizeText(int64_t size)
{
    const char* unit = nullptr;
    double value = 0;
    if (size / (int64_t{1} << 30) > 0) {
        unit = "GB";
        value = static_cast<double>(size) / static_cast<double>(int64_t{1} << 30);
    } else if (size / (int64_t{1} << 20) > 0) {
        unit = "MB";
        value = static_cast<double>(size) / static_cast<double>(int64_t{1} << 20);
    } else if (size / 1024 > 0) {
        unit = "KB";
        value = static_cast<double>(size) / 1024.0;
    }
    if (!unit)
        return std::to_string(size) + " Byte(s)";
    char text[64];
    std::snprintf(text, sizeof text, "%.2f %s", value, unit); // printf honours LC_NUMERIC
    return text;
}

} // namespace qv
