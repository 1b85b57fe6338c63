#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace viewer {

// The bytes urlmon hands over for `url`, bound asynchronously the way the
// browser binds its pages, with this thread's messages pumped until the
// binding stops. Throws qv::Error with urlmon's reason when it fails.
// COM must be initialised on the calling thread. `headers` (lines ending in
// CR LF) go with the request, as a page's own would.
struct DownloadNotes {
    std::vector<std::wstring> redirects; // each address the binding was sent on to
    std::wstring type;                   // the last MIME type it reported
};
std::vector<uint8_t> DownloadUrl(const std::wstring& url, const std::wstring& headers = {},
                                 DownloadNotes* notes = nullptr);

} // namespace viewer
