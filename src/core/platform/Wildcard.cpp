#include "quorvane/platform/Wildcard.h"

#include "quorvane/base/Utf8.h"

#include <string>

namespace qv {
namespace {

// Simple upper-case folding for the scripts file names are usually written
// in; enough for a case-insensitive match, not a full Unicode table.
char32_t Fold(char32_t c)
{
    if (c >= 'a' && c <= 'z') return c - 32;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 32;
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
        const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (oddUpper) return (c % 2 == 0) ? c - 1 : c;
        return (c % 2 == 1) ? c - 1 : c;
    }
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 32;
    if (c >= 0x430 && c <= 0x44F) return c - 32;
    if (c >= 0x450 && c <= 0x45F) return c - 80;
    return c;
}

bool Match(const std::u32string& n, size_t ni, const std::u32string& m, size_t mi)
{
    // Iterative glob with one backtrack point: linear in practice, no
    // recursion depth to worry about on long masks.
    size_t starM = std::u32string::npos, starN = 0;
    while (ni < n.size()) {
        if (mi < m.size() && (m[mi] == U'?' || (m[mi] != U'*' && Fold(m[mi]) == Fold(n[ni])))) {
            ++ni;
            ++mi;
        } else if (mi < m.size() && m[mi] == U'*') {
            starM = mi++;
            starN = ni;
        } else if (starM != std::u32string::npos) {
            mi = starM + 1;
            ni = ++starN;
        } else {
            return false;
        }
    }
    while (mi < m.size() && m[mi] == U'*')
        ++mi;
    return mi == m.size();
}

} // namespace

bool PathMatchSpec(std::string_view name, std::string_view mask)
{
    while (!mask.empty() && mask.front() == ' ')
        mask.remove_prefix(1);
    if (mask == "*.*")
        return true;
    const std::u32string n = DecodeUtf8(name);
    const std::u32string m = DecodeUtf8(mask);
    return Match(n, 0, m, 0);
}

std::vector<std::string> CutMaskList(const std::string& list)
{
    std::vector<std::string> pieces;
    size_t start = 0;
    for (size_t semi = list.find(';'); semi != std::string::npos; semi = list.find(';', start)) {
        pieces.push_back(list.substr(start, semi - start));
        start = semi + 1;
    }
    return pieces;
}

} // namespace qv
