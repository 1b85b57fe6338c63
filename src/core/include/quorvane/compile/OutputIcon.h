#pragma once
#include <string>

namespace qv {

// Gives the executable `out` a new icon group "MAINICON" (language 0) made
// from the icon file `iconFile`, keeping every other resource as it was.
// When no file exists at iconFile the resources are rewritten unchanged.
// Every failure propagates; the executable then keeps its old resources.
void ReplaceOutputIcon(const std::string& out, const std::string& iconFile);

} // namespace qv
