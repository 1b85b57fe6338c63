#pragma once
#include "quorvane/base/Stream.h"
#include "quorvane/viewercore/PageAddress.h"
#include "quorvane/viewercore/SiteArchive.h"

#include <memory>
#include <string>

// Not portable: the Linux side of the viewer core (the platform code page
// and file streams). The Windows viewer makes its own from Win32 pieces.
namespace qv {

// Windows-1252, or the code page QUORVANE_ANSI_CODEPAGE names.
AnsiCodec SystemAnsiCodec();

// An output file on disk opened for viewing; messages start with `path`.
// Every read goes to the file opened here, never to the path again, so a
// rebuild renamed over the path leaves what this archive serves as it was.
// `opened`, when given, receives the state of the file opened. With
// `wholeChecked` the archive's CRC over all its bytes must match too: for a
// file that may still be being written.
std::unique_ptr<SiteArchive> OpenSiteFile(const std::string& path, FileState* opened = nullptr,
                                          bool wholeChecked = false);

} // namespace qv
