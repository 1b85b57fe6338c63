#include "quorvane/viewercore/SiteFile.h"

#include "quorvane/platform/CodePage.h"

namespace qv {

AnsiCodec SystemAnsiCodec()
{
    return {[](std::string_view utf8) { return codepage::ToAnsi(utf8); },
            [](std::string_view ansi) { return codepage::FromAnsi(ansi); }};
}

std::unique_ptr<SiteArchive> OpenSiteFile(const std::string& path)
{
    return std::make_unique<SiteArchive>(
        [path] { return std::make_unique<FileStream>(path, FileStream::Mode::OpenRead); }, SystemAnsiCodec(), path);
}

} // namespace qv
