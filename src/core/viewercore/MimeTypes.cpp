#include "quorvane/viewercore/MimeTypes.h"

#include "quorvane/base/Text.h"

#include <array>
#include <utility>

namespace qv {

std::string_view MimeTypeOf(std::string_view fileName)
{
    // Opus is served as Ogg, the container browsers know it in.
    static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
        {"html", "text/html"}, {"htm", "text/html"}, {"xhtml", "application/xhtml+xml"},
        {"shtml", "text/html"}, {"php", "text/html"}, {"asp", "text/html"}, {"aspx", "text/html"},
        {"jsp", "text/html"}, {"cgi", "text/html"},
        {"css", "text/css"}, {"js", "text/javascript"}, {"mjs", "text/javascript"},
        {"json", "application/json"}, {"xml", "application/xml"}, {"xsl", "text/xsl"}, {"svg", "image/svg+xml"},
        {"png", "image/png"}, {"jpg", "image/jpeg"}, {"jpeg", "image/jpeg"}, {"gif", "image/gif"},
        {"webp", "image/webp"}, {"avif", "image/avif"}, {"bmp", "image/bmp"}, {"ico", "image/x-icon"},
        {"woff", "font/woff"}, {"woff2", "font/woff2"}, {"ttf", "font/ttf"}, {"otf", "font/otf"},
        {"eot", "application/vnd.ms-fontobject"},
        {"mp3", "audio/mpeg"}, {"ogg", "audio/ogg"}, {"oga", "audio/ogg"}, {"opus", "audio/ogg"},
        {"wav", "audio/wav"}, {"m4a", "audio/mp4"}, {"aac", "audio/aac"}, {"flac", "audio/flac"},
        {"mp4", "video/mp4"}, {"webm", "video/webm"}, {"ogv", "video/ogg"}, {"vtt", "text/vtt"},
        {"pdf", "application/pdf"}, {"txt", "text/plain"}, {"csv", "text/csv"},
        {"wasm", "application/wasm"},
    };
    const size_t slash = fileName.find_last_of("/\\");
    if (slash != std::string_view::npos)
        fileName.remove_prefix(slash + 1);
    const size_t dot = fileName.rfind('.');
    if (dot != std::string_view::npos) {
        const std::string_view extension = fileName.substr(dot + 1);
        for (const auto& [ext, type] : kTypes)
            if (EqualAsciiNoCase(extension, ext))
                return type;
    }
    return kUnknownType;
}

bool LooksLikeHtml(std::string_view head)
{
    // The tags a browser's own sniffing takes for a page; all but the
    // comment must end there, so "<alpha" or "<bold" are no page.
    static constexpr std::array<std::string_view, 17> kStarts = {
        "<!doctype html", "<html", "<head", "<body", "<script", "<iframe", "<h1", "<div", "<font",
        "<table",         "<a",    "<style", "<title", "<b",    "<br",     "<p",  "<meta"};
    if (head.substr(0, 3) == "\xEF\xBB\xBF")
        head.remove_prefix(3);
    while (!head.empty() && (head[0] == ' ' || head[0] == '\t' || head[0] == '\n' || head[0] == '\r' ||
                             head[0] == '\f'))
        head.remove_prefix(1);
    if (head.substr(0, 4) == "<!--")
        return true;
    for (const std::string_view start : kStarts) {
        if (head.size() <= start.size() || !EqualAsciiNoCase(head.substr(0, start.size()), start))
            continue;
        const char next = head[start.size()];
        if (next == ' ' || next == '>' || next == '\t' || next == '\n' || next == '\r' || next == '\f' || next == '/')
            return true;
    }
    return false;
}

std::string_view EntryTypeOf(std::string_view fileName, std::string_view head)
{
    const std::string_view type = MimeTypeOf(fileName);
    if (type == kUnknownType && LooksLikeHtml(head))
        return "text/html";
    return type;
}

bool IsPageType(std::string_view contentType)
{
    const std::string_view type = contentType.substr(0, contentType.find(';'));
    return EqualAsciiNoCase(type, "text/html") || EqualAsciiNoCase(type, "application/xhtml+xml");
}

} // namespace qv
