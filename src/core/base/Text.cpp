#include "quorvane/base/Text.h"

#include <algorithm>

namespace qv {
namespace {

char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

} // namespace

std::string AsciiUpper(std::string text)
{
    for (char& c : text)
        c = Upper(c);
    return text;
}

std::string AsciiLower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool EqualAsciiNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && CompareAsciiNoCase(a, b) == 0;
}

int CompareAsciiNoCase(std::string_view a, std::string_view b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(Upper(a[i]));
        const auto cb = static_cast<unsigned char>(Upper(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string TrimControls(std::string_view text)
{
    size_t first = 0, last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= ' ')
        ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ')
        --last;
    return std::string(text.substr(first, last - first));
}

} // namespace qv
