#pragma once
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
std::unique_ptr<SiteArchive> OpenSiteFile(const std::string& path);

} // namespace qv
