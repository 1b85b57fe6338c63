#include "quorvane/viewercore/ByteRanges.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace qv {
namespace {

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

std::optional<int64_t> Number(std::string_view digits)
{
    if (digits.empty() || digits.size() > 18)
        return std::nullopt;
    int64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

bool IsBytesUnit(std::string_view unit)
{
    constexpr std::string_view kBytes = "bytes";
    return unit.size() == kBytes.size() &&
           std::equal(unit.begin(), unit.end(), kBytes.begin(), [](char a, char b) { return (a | 0x20) == b; });
}

} // namespace

RangeRequest ReadRangeHeader(std::string_view value, int64_t size)
{
    RangeRequest whole;
    const size_t equals = value.find('=');
    if (equals == std::string_view::npos || !IsBytesUnit(Trimmed(value.substr(0, equals))))
        return whole;
    const std::string_view bounds = Trimmed(value.substr(equals + 1));
    const size_t dash = bounds.find('-');
    if (dash == std::string_view::npos || bounds.find(',') != std::string_view::npos)
        return whole;
    const std::string_view from = Trimmed(bounds.substr(0, dash));
    const std::string_view to = Trimmed(bounds.substr(dash + 1));
    RangeRequest r;
    if (from.empty()) { // the last `to` bytes
        const auto suffix = Number(to);
        if (!suffix)
            return whole;
        if (*suffix == 0 || size <= 0) {
            r.kind = RangeRequest::Kind::Unsatisfiable;
            return r;
        }
        r.kind = RangeRequest::Kind::Part;
        r.first = size - std::min(*suffix, size);
        r.last = size - 1;
        return r;
    }
    const auto first = Number(from);
    const auto last = to.empty() ? std::optional<int64_t>(std::numeric_limits<int64_t>::max()) : Number(to);
    if (!first || !last || *last < *first)
        return whole;
    if (*first >= size) {
        r.kind = RangeRequest::Kind::Unsatisfiable;
        return r;
    }
    r.kind = RangeRequest::Kind::Part;
    r.first = *first;
    r.last = std::min(*last, size - 1);
    return r;
}

} // namespace qv
