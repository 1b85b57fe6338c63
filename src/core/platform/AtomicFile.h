#pragma once
// Replacing a user's file all at once. Private to the platform layer.
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace qv::detail {

// Writes `bytes` to "<path>.tmpXXXXXX" beside the file (beside the file a
// symbolic link points at), gives it the original's permissions (and owner,
// when we may), flushes it to the device and renames it over the original.
// On any failure the original is untouched, the temporary file is removed
// and OsError naming `path` is thrown. `beforeRename` lets tests fail the
// last step.
void ReplaceFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                           const std::function<void(const std::string& tempPath)>& beforeRename = {});

} // namespace qv::detail
