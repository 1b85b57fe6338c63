#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace viewer {

// The bytes urlmon hands over for `url`, bound asynchronously the way the
// browser binds its pages, with this thread's messages pumped until the
// binding stops. Throws qv::Error with urlmon's reason when it fails.
// COM must be initialised on the calling thread.
std::vector<uint8_t> DownloadUrl(const std::wstring& url);

} // namespace viewer
