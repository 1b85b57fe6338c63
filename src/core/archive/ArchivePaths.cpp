#include "quorvane/archive/ArchivePaths.h"
#include "quorvane/base/PathParts.h"

#include <array>
#include <cstring>

namespace qv {

namespace {

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 (also with the superscript digits
// 1, 2, 3 of code page 1252) open a device whatever extension follows.
bool IsDeviceName(std::string_view part)
{
    std::string base(part.substr(0, part.find('.')));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (char& c : base)
        c = Upper(c);
    static constexpr std::array<const char*, 4> plain = {"CON", "PRN", "AUX", "NUL"};
    for (const char* name : plain)
        if (base == name)
            return true;
    if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0)) {
        const auto digit = static_cast<unsigned char>(base[3]);
        return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
    }
    return false;
}

} // namespace

std::string UnsafeExtractionReason(std::string_view name)
{
    if (name.empty())
        return "it has no name";
    if (separators::kEitherSlash.find(name.front()) != std::string_view::npos)
        return "it is an absolute path";
    if (name.find(':') != std::string_view::npos)
        return "it names a drive or a stream (\":\")";
    for (const std::string& part : SplitPath(name, separators::kEitherSlash, EmptyParts::Keep)) {
        if (part == "..")
            return "it leads out of the target folder (\"..\")";
        if (part.empty())
            return "it has an empty folder or file name";
        if (part.back() == '.' || part.back() == ' ')
            return "a part of it ends with a dot or a blank";
        for (const char c : part) {
            const auto b = static_cast<unsigned char>(c);
            if (b < 0x20 || std::strchr("<>\"|?*", c) != nullptr)
                return "it holds a character that file names cannot hold";
        }
        if (IsDeviceName(part))
            return "it names a device (\"" + part + "\")";
    }
    return {};
}

} // namespace qv
