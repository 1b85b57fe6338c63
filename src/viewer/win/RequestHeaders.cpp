#include "RequestHeaders.h"

#include <algorithm>
#include <limits>

namespace viewer {

namespace {

wchar_t Lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool SameText(std::wstring_view a, std::wstring_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

std::wstring_view Trimmed(std::wstring_view text)
{
    while (!text.empty() && (text.front() == L' ' || text.front() == L'\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == L' ' || text.back() == L'\t' || text.back() == L'\r'))
        text.remove_suffix(1);
    return text;
}

// A decimal number of at most 18 digits, so it fits whatever it is added to.
std::optional<int64_t> Number(std::wstring_view digits)
{
    if (digits.empty() || digits.size() > 18)
        return std::nullopt;
    int64_t value = 0;
    for (const wchar_t c : digits) {
        if (c < L'0' || c > L'9')
            return std::nullopt;
        value = value * 10 + (c - L'0');
    }
    return value;
}

std::optional<ByteRange> ParseRange(std::wstring_view value, int64_t size)
{
    const size_t equals = value.find(L'=');
    if (equals == std::wstring_view::npos || !SameText(Trimmed(value.substr(0, equals)), L"bytes"))
        return std::nullopt;
    const std::wstring_view bounds = Trimmed(value.substr(equals + 1));
    const size_t dash = bounds.find(L'-');
    if (dash == std::wstring_view::npos || bounds.find(L',') != std::wstring_view::npos)
        return std::nullopt;
    const std::wstring_view from = Trimmed(bounds.substr(0, dash));
    const std::wstring_view to = Trimmed(bounds.substr(dash + 1));
    if (from.empty()) { // the last `to` bytes
        const auto suffix = Number(to);
        if (!suffix || *suffix == 0 || size == 0)
            return std::nullopt;
        return ByteRange{size - std::min(*suffix, size), size - 1};
    }
    const auto first = Number(from);
    const auto last = to.empty() ? std::optional<int64_t>(std::numeric_limits<int64_t>::max()) : Number(to);
    if (!first || !last || *last < *first || *first >= size)
        return std::nullopt;
    return ByteRange{*first, std::min(*last, size - 1)};
}

} // namespace

std::optional<ByteRange> RequestedRange(std::wstring_view headers, int64_t size)
{
    std::optional<ByteRange> found;
    bool seen = false;
    while (!headers.empty()) {
        const size_t end = headers.find(L'\n');
        const std::wstring_view line = headers.substr(0, end);
        headers.remove_prefix(end == std::wstring_view::npos ? headers.size() : end + 1);
        const size_t colon = line.find(L':');
        if (colon == std::wstring_view::npos || !SameText(Trimmed(line.substr(0, colon)), L"range"))
            continue;
        if (seen)
            return std::nullopt; // two Range lines: no telling which one was meant
        seen = true;
        found = ParseRange(Trimmed(line.substr(colon + 1)), size);
    }
    return found;
}

bool WantsDocument(std::wstring_view bindToObject, std::wstring_view acceptTypes)
{
    if (SameText(Trimmed(bindToObject), L"true") || Trimmed(bindToObject) == L"1")
        return true;
    // A navigation names the document types first; a picture, a script or a
    // style sheet asks for its own kind and takes */* at most.
    while (!acceptTypes.empty()) {
        const size_t comma = acceptTypes.find(L',');
        std::wstring_view type = acceptTypes.substr(0, comma);
        acceptTypes.remove_prefix(comma == std::wstring_view::npos ? acceptTypes.size() : comma + 1);
        type = Trimmed(type.substr(0, type.find(L';')));
        if (SameText(type, L"text/html") || SameText(type, L"application/xhtml+xml"))
            return true;
    }
    return false;
}

} // namespace viewer
