#include "quorvane/viewercore/PageAddress.h"

#include "quorvane/base/Text.h"
#include "quorvane/platform/Wildcard.h"

#include <algorithm>
#include <vector>

namespace qv {
namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Unreserved(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

// The site-relative parts of an address path, with "." and ".." resolved
// inside the root; `climbed` is set when a ".." found nothing left to climb.
std::optional<std::vector<std::string>> SiteParts(std::string_view addressPath, bool* climbed = nullptr)
{
    const size_t end = addressPath.find_first_of("?#");
    const std::string path = PercentDecode(addressPath.substr(0, end));
    if (path.find('\0') != std::string::npos)
        return std::nullopt;
    std::vector<std::string> parts;
    std::string part;
    auto close = [&] {
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
            else if (climbed)
                *climbed = true;
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        part.clear();
    };
    for (const char c : path) {
        if (c == '/' || c == '\\')
            close();
        else
            part += c;
    }
    close();
    return parts;
}

std::string Join(const std::vector<std::string>& parts, char separator)
{
    std::string joined;
    for (const std::string& p : parts) {
        if (!joined.empty())
            joined += separator;
        joined += p;
    }
    return joined;
}

} // namespace

std::string PercentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::optional<std::string> SitePathOf(std::string_view addressPath)
{
    const auto parts = SiteParts(addressPath);
    if (!parts)
        return std::nullopt;
    // The viewer's own entries live in the root only.
    if (parts->size() == 1 && IsReservedEntry(parts->front()))
        return std::nullopt;
    return Join(*parts, '/');
}

std::optional<std::string> EntryNameOf(std::string_view addressPath, const AnsiCodec& codec)
{
    const auto sitePath = SitePathOf(addressPath);
    if (!sitePath)
        return std::nullopt;
    std::string name = codec.ToAnsi(*sitePath);
    for (char& c : name)
        if (c == '/')
            c = '\\';
    // Judged again on the converted bytes, which are what the archive compares.
    if (IsReservedEntry(name))
        return std::nullopt;
    return name;
}

std::string PercentEncode(std::string_view text, std::string_view keep)
{
    std::string out;
    out.reserve(text.size());
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (Unreserved(b) || keep.find(c) != std::string_view::npos)
            out += c;
        else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
    }
    return out;
}

std::string AddressPathOf(std::string_view ansiName, const AnsiCodec& codec)
{
    std::string path(1, '/');
    path += PercentEncode(codec.FromAnsi(ansiName), "\\");
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

bool LeavesRoot(std::string_view addressPath)
{
    bool climbed = false;
    SiteParts(addressPath, &climbed);
    return climbed;
}

bool DirectMaskTakes(std::string_view sitePath, const std::string& directMask)
{
    const std::string_view fileName = sitePath.substr(sitePath.rfind('/') + 1);
    for (const std::string& mask : CutMaskList(directMask))
        if (!mask.empty() && PathMatchSpec(fileName, mask))
            return true;
    return false;
}

bool IsReservedEntry(std::string_view ansiName)
{
    return EqualAsciiNoCase(ansiName, "-config-") || EqualAsciiNoCase(ansiName, "-logo-") ||
           EqualAsciiNoCase(ansiName, "-search-");
}

} // namespace qv
