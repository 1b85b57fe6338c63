#include "quorvane/base/Convert.h"

#include "quorvane/base/Error.h"

#include <charconv>

namespace qv {

int32_t StrToInt(const std::string& text)
{
    const char* begin = text.data();
    const char* const end = begin + text.size();
    // from_chars takes a "-" but not a "+".
    if (begin != end && *begin == '+' && end - begin > 1 && begin[1] != '-')
        ++begin;
    int32_t value = 0;
    const auto r = std::from_chars(begin, end, value);
    if (begin == end || r.ec != std::errc() || r.ptr != end)
        throw Error("'" + text + "' is not a valid integer value");
    return value;
}

} // namespace qv
