#include "quorvane/project/CommandLine.h"
#include "quorvane/base/PathParts.h"
#include "quorvane/base/Text.h"

namespace qv {

std::string ExtensionOf(const std::string& path)
{
    const std::string_view name = CutAtLastSeparator(path, separators::kEitherSlash).name;
    const size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot));
}

CommandLineRequest ParseCommandLine(const std::vector<std::string>& args)
{
    CommandLineRequest request;
    if (args.empty())
        return request;
    if (ExtensionOf(args[0]) == ".qp") {
        request.kind = CommandLineRequest::Kind::OpenProject;
        request.project = args[0];
    } else if (args.size() >= 2 && AsciiUpper(args[0]) == "/COMPILE" && ExtensionOf(args[1]) == ".qp") {
        request.kind = CommandLineRequest::Kind::CompileProject;
        request.project = args[1];
    }
    return request;
}

} // namespace qv
