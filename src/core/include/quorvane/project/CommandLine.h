#pragma once
#include <string>
#include <vector>

namespace qv {

// What the desktop program's arguments ask for. Only the first two
// arguments count; everything after them is ignored.
struct CommandLineRequest {
    enum class Kind { None, OpenProject, CompileProject };
    Kind kind = Kind::None;
    std::string project; // exactly as given, relative paths included
};

// The extension of a path: from the last dot after the last path separator
// ("/" or "\"), the dot included; empty when there is none.
std::string ExtensionOf(const std::string& path);

// "<project>.qp" opens it (the extension compared case-sensitively);
// "/COMPILE <project>.qp" (the switch in any ASCII letter case) builds it;
// anything else is a normal start. `args` excludes the program name.
CommandLineRequest ParseCommandLine(const std::vector<std::string>& args);

} // namespace qv
