#pragma once
#include <string>

// Temporary files with a prefix, standing in for GetTempPath and
// GetTempFileName.
namespace qv::tempfiles {

// $TMPDIR when set and not empty, else /tmp; no trailing separator.
std::string SystemTempFolder();

// Creates a new, uniquely named, empty file "<folder>/<prefix>XXXXXX.tmp"
// and returns its full name. Throws qv::OsError naming the folder when the
// file cannot be created.
std::string CreateUniqueFile(const std::string& folder, const std::string& prefix);

} // namespace qv::tempfiles
