#pragma once
#include "quorvane/viewercore/SiteArchive.h"

#include <memory>
#include <string>

namespace viewer {

// The full path of the running program.
std::wstring OwnPath();

// An output opened for viewing: the archive appended to this program, or a
// stand-alone archive (QPF) named on the command line.
struct OutputFile {
    std::wstring Path; // the file that holds the archive
    bool Own = false;  // the program itself
    std::unique_ptr<qv::SiteArchive> Site;

    // "site.exe": the window's caption until a page names itself.
    std::wstring FileName() const;
    // The folder the output lies in, without a final backslash; files that
    // DirectMask kept out of the archive are found there.
    std::wstring Folder() const;
};

// `file` empty: the program itself. Throws qv::ArchiveNotFound ("No archive
// is attached to this viewer" for the program itself) and qv::Error for a
// damaged output, its message starting with the file's path.
OutputFile OpenOutputFile(const std::wstring& file);

} // namespace viewer
