#include "quorvane/base/Text.h"

#include "quorvane/base/Utf8.h"

#include <algorithm>
#include <cstdio>

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

std::string TerminalText(std::string_view text, std::string_view keep)
{
    std::string shown;
    shown.reserve(text.size());
    auto escape = [&shown](unsigned value) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", value);
        shown += hex;
    };
    for (size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const size_t len = Utf8SequenceAt(text, i, cp);
        if (len == 0) {
            escape(static_cast<unsigned char>(text[i]));
            ++i;
            continue;
        }
        const auto kept = [keep](char32_t c) {
            return c < 0x80 && keep.find(static_cast<char>(c)) != std::string_view::npos;
        };
        if (cp == '\r' && text.substr(i + 1, 1) == "\n" && kept('\n')) {
            ++i; // the line break that follows stands for the pair
            continue;
        }
        const bool control = cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
        if (control && !kept(cp))
            escape(static_cast<unsigned>(cp));
        else
            shown.append(text.substr(i, len));
        i += len;
    }
    return shown;
}

} // namespace qv
