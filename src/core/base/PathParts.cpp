#include "quorvane/base/PathParts.h"

namespace qv {

std::vector<std::string> SplitPath(std::string_view path, std::string_view separators, EmptyParts empty)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = path.find_first_of(separators, start);
        const std::string_view part = path.substr(start, end == std::string_view::npos ? end : end - start);
        if (!part.empty() || empty == EmptyParts::Keep)
            parts.emplace_back(part);
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

PathCut CutAtLastSeparator(std::string_view path, std::string_view separators)
{
    const size_t at = path.find_last_of(separators);
    if (at == std::string_view::npos)
        return {{}, path};
    return {path.substr(0, at + 1), path.substr(at + 1)};
}

} // namespace qv
