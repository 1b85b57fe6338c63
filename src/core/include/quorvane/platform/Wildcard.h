#pragma once
#include <string>
#include <string_view>
#include <vector>

// Portable: the viewers match the same masks as the build.
namespace qv {

// The shell's rule for file-name masks: the whole name is compared with the
// mask without regard to letter case; "*" matches any run of characters,
// "?" exactly one, and "*.*" matches every name, one without a dot too.
// Blanks before the mask are ignored, as the shell does.
bool PathMatchSpec(std::string_view name, std::string_view mask);

// The pieces a mask list is cut into: each text followed by a ";", left to
// right; text after the last ";" is not used.
std::vector<std::string> CutMaskList(const std::string& list);

} // namespace qv
