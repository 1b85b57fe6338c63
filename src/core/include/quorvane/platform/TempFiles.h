#pragma once
#include "quorvane/base/Stream.h"

#include <memory>
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

// A new file like CreateUniqueFile's, open for reading and writing, whose
// name is already gone: its space is freed with the stream, however the
// program ends.
std::unique_ptr<FileStream> OpenNamelessFile(const std::string& folder, const std::string& prefix);

// Creates a new, uniquely named, empty folder "<folder>/<prefix>XXXXXX"
// that only this user may enter, and returns its full name. Throws
// qv::OsError naming `folder` when it cannot be made there.
std::string CreateUniqueFolder(const std::string& folder, const std::string& prefix);

// Removes `folder` when it is empty; false when it is not, or is gone.
bool RemoveEmptyFolder(const std::string& folder);

} // namespace qv::tempfiles
