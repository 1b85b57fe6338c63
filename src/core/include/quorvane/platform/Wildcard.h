#pragma once
#include <string_view>

namespace qv {

// The shell's rule for file-name masks: the whole name is compared with the
// mask without regard to letter case; "*" matches any run of characters,
// "?" exactly one, and "*.*" matches every name, one without a dot too.
// Blanks before the mask are ignored, as the shell does.
bool PathMatchSpec(std::string_view name, std::string_view mask);

} // namespace qv
