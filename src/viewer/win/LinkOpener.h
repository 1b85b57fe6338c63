#pragma once
#include "OutputFile.h"

#include <map>
#include <string>

#include <windows.h>

namespace viewer {

// The addresses the view does not show itself:
// - http, https and mailto go to the system's browser or mail program;
// - a file that DirectMask kept out of the archive runs from the folder
//   beside the output;
// - a packed file that is not a page (a PDF, a document, a program) is
//   written to a temporary folder and opened with its program; the folder
//   is removed when the opener is destroyed, as the viewer ends.
class LinkOpener {
public:
    explicit LinkOpener(const OutputFile& output);
    ~LinkOpener();
    LinkOpener(const LinkOpener&) = delete;
    LinkOpener& operator=(const LinkOpener&) = delete;

    // True when `url` was taken care of here (or refused): the view must
    // not go there.
    bool OpenOutside(const std::wstring& url, HWND owner);

private:
    std::wstring TemporaryCopy(size_t entry, const std::string& sitePath);

    const OutputFile& output_;
    std::wstring folder_; // made on first use
    std::map<size_t, std::wstring> copies_; // entry -> its temporary file
};

// Whether the view shows a file of this MIME type itself.
bool IsShownInPlace(std::string_view mimeType);

} // namespace viewer
