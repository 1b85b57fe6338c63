#include "quorvane/viewercore/TextCharset.h"

#include "quorvane/base/Text.h"
#include "quorvane/base/Utf8.h"

namespace qv {
namespace {

constexpr size_t kMetaScan = 1024;

bool Blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// The charset named after a "charset" somewhere inside one <meta ...> tag;
// http-equiv's content="text/html; charset=x" and charset="x" alike.
std::string CharsetInTag(std::string_view tag)
{
    for (size_t at = tag.find("charset"); at != std::string_view::npos; at = tag.find("charset", at + 7)) {
        size_t i = at + 7;
        while (i < tag.size() && Blank(tag[i]))
            ++i;
        if (i >= tag.size() || tag[i] != '=')
            continue;
        ++i;
        while (i < tag.size() && (Blank(tag[i]) || tag[i] == '"' || tag[i] == '\''))
            ++i;
        size_t end = i;
        while (end < tag.size() && !Blank(tag[end]) && tag[end] != '"' && tag[end] != '\'' && tag[end] != ';' &&
               tag[end] != '>' && tag[end] != '/')
            ++end;
        if (end > i)
            return std::string(tag.substr(i, end - i));
    }
    return {};
}

std::string MetaCharset(std::string_view bytes)
{
    const std::string text = AsciiLower(std::string(bytes.substr(0, kMetaScan)));
    const std::string_view s = text;
    for (size_t at = s.find('<'); at != std::string_view::npos; at = s.find('<', at + 1)) {
        if (s.substr(at, 4) == "<!--") {
            at = s.find("-->", at + 4);
            if (at == std::string_view::npos)
                break;
            continue;
        }
        if (s.substr(at, 5) != "<meta" || at + 5 >= s.size() || !(Blank(s[at + 5]) || s[at + 5] == '/'))
            continue;
        const size_t end = s.find('>', at);
        const std::string charset = CharsetInTag(s.substr(at + 5, end == std::string_view::npos ? end : end - at - 5));
        if (!charset.empty())
            return charset;
    }
    return {};
}

bool IsType(std::string_view type, std::string_view name)
{
    return EqualAsciiNoCase(type.substr(0, type.find(';')), name);
}

} // namespace

std::string DeclaredCharset(std::string_view type, std::string_view bytes)
{
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        return "utf-8";
    if (bytes.substr(0, 2) == "\xFF\xFE")
        return "utf-16le";
    if (bytes.substr(0, 2) == "\xFE\xFF")
        return "utf-16be";
    if (IsType(type, "text/html"))
        return MetaCharset(bytes);
    if (IsType(type, "text/css") && bytes.substr(0, 10) == "@charset \"") {
        const size_t end = bytes.find('"', 10);
        if (end != std::string_view::npos && end > 10)
            return AsciiLower(std::string(bytes.substr(10, end - 10)));
    }
    return {};
}

bool IsUtf8(std::string_view bytes, bool head)
{
    for (size_t i = 0; i < bytes.size();) {
        char32_t cp = 0;
        const size_t length = Utf8SequenceAt(bytes, i, cp);
        if (length > 0) {
            i += length;
            continue;
        }
        // The head of a longer text may end inside a sequence: a lead byte
        // and only continuation bytes after it.
        if (!head || bytes.size() - i >= 4)
            return false;
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0xC2 || lead > 0xF4)
            return false;
        for (size_t k = i + 1; k < bytes.size(); ++k)
            if ((static_cast<unsigned char>(bytes[k]) & 0xC0) != 0x80)
                return false;
        return true;
    }
    return true;
}

bool TakesCharset(std::string_view type)
{
    if (type.find(';') != std::string_view::npos)
        return false; // names its parameters already
    for (const std::string_view text : {"text/html", "text/plain", "text/css", "text/javascript"})
        if (EqualAsciiNoCase(type, text))
            return true;
    return false;
}

std::string ContentTypeWithCharset(std::string_view type, std::string_view bytes, bool head)
{
    std::string result(type);
    if (!TakesCharset(type) || !DeclaredCharset(type, bytes).empty())
        return result;
    result.append(IsUtf8(bytes, head) ? "; charset=utf-8" : "; charset=windows-1252");
    return result;
}

} // namespace qv
