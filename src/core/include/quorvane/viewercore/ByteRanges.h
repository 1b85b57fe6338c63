#pragma once
#include <cstdint>
#include <string_view>

// Portable: the one reading of an HTTP Range header both viewers share.
namespace qv {

// What a "Range" header's value asks of an entry of a given size.
struct RangeRequest {
    enum class Kind {
        Whole,        // no range, or one not served in part (several ranges,
                      // a malformed one): the whole entry, as a server may
        Part,         // bytes [first, last], cut to the entry's end
        Unsatisfiable // starts past the end, or an empty suffix
    };
    Kind kind = Kind::Whole;
    int64_t first = 0;
    int64_t last = -1;
    int64_t Count() const { return last - first + 1; }
};

// `value` is the header's value ("bytes=0-499", "bytes=500-", "bytes=-500");
// the unit is matched without regard to case, numbers are plain decimal
// digits (at most 18, so no sum overflows).
RangeRequest ReadRangeHeader(std::string_view value, int64_t size);

} // namespace qv
