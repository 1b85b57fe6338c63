#include "RequestHeaders.h"

#include "quorvane/viewercore/ByteRanges.h"

#include <string>

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

// The header's value as the ASCII it must be; anything else reads as no range.
std::optional<ByteRange> ParseRange(std::wstring_view value, int64_t size)
{
    std::string ascii;
    for (const wchar_t c : value) {
        if (c > 0x7E)
            return std::nullopt;
        ascii += static_cast<char>(c);
    }
    const qv::RangeRequest r = qv::ReadRangeHeader(ascii, size);
    // Past the end is served whole too: urlmon has no 416 to hand on.
    if (r.kind != qv::RangeRequest::Kind::Part)
        return std::nullopt;
    return ByteRange{r.first, r.last};
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
