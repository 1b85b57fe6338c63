#pragma once
#include <string>

namespace qv::platform {

// The user's roaming application-data folder as the system reports it
// (not created, not trimmed).
std::string RoamingAppDataFolder();

} // namespace qv::platform
