#include "quorvane/viewercore/MimeTypes.h"

#include "quorvane/base/Text.h"

#include <array>
#include <utility>

namespace qv {

std::string_view MimeTypeOf(std::string_view fileName)
{
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 30> kTypes = {{
        {"html", "text/html"}, {"htm", "text/html"}, {"xhtml", "application/xhtml+xml"},
        {"css", "text/css"}, {"js", "text/javascript"}, {"mjs", "text/javascript"},
        {"json", "application/json"}, {"xml", "application/xml"}, {"svg", "image/svg+xml"},
        {"png", "image/png"}, {"jpg", "image/jpeg"}, {"jpeg", "image/jpeg"}, {"gif", "image/gif"},
        {"webp", "image/webp"}, {"bmp", "image/bmp"}, {"ico", "image/x-icon"},
        {"woff", "font/woff"}, {"woff2", "font/woff2"}, {"ttf", "font/ttf"}, {"otf", "font/otf"},
        {"mp3", "audio/mpeg"}, {"ogg", "audio/ogg"}, {"wav", "audio/wav"}, {"mp4", "video/mp4"},
        {"webm", "video/webm"}, {"pdf", "application/pdf"}, {"txt", "text/plain"},
        {"wasm", "application/wasm"}, {"ogv", "video/ogg"}, {"oga", "audio/ogg"},
    }};
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
    return "application/octet-stream";
}

} // namespace qv
