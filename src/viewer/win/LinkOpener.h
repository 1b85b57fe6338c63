#pragma once
#include "OutputFile.h"

#include <map>
#include <string>

#include <windows.h>

namespace viewer {

// The addresses the view does not show itself, each only for a navigation
// that follows the reader's click:
// - http, https and mailto go to the system's browser or mail program;
// - a file that DirectMask kept out of the archive opens from the folder
//   beside the output, once the reader confirmed a box naming it;
// - a packed file that is not a page (a PDF, a document) is written to a
//   temporary folder and opened with its program after the same box; the
//   folder is removed when the opener is destroyed, as the viewer ends.
// Packed programs and launchers never leave: the view shows the page protocol's
// page saying so. Nor do addresses of other schemes, which the system would
// hand to whatever program claims them.
class LinkOpener {
public:
    enum class Outcome {
        InView,     // the view goes there itself
        Handled,    // opened outside, declined in the box, or failed with a message box
        NeedsClick, // would leave the view, but no click asked for it: refused
        Program,    // a packed program: the view shows why it stays closed
        Foreign     // a scheme of some program of the system (file, ms-...): never opened
    };
    struct Result {
        Outcome outcome = Outcome::InView;
        std::wstring shown; // the file's site path or the address, for the status bar
    };

    explicit LinkOpener(const OutputFile& output);
    ~LinkOpener();
    LinkOpener(const LinkOpener&) = delete;
    LinkOpener& operator=(const LinkOpener&) = delete;

    // Where `url` goes; `clicked` when the navigation follows the reader's click.
    Result Open(const std::wstring& url, HWND owner, bool clicked);

private:
    bool Confirmed(HWND owner, const std::string& sitePath, bool beside) const;
    std::wstring TemporaryCopy(size_t entry, const std::string& sitePath);

    const OutputFile& output_;
    std::wstring folder_; // made on first use
    std::map<size_t, std::wstring> copies_; // entry -> its temporary file
};

// Whether the view shows a file of this MIME type itself.
bool IsShownInPlace(std::string_view mimeType);
// A packed program or launcher the view cannot show: never served, never
// handed over (`entryName` as the archive stores it).
bool IsRefusedProgram(std::string_view entryName);

} // namespace viewer
