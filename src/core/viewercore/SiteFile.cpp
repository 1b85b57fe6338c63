#include "quorvane/viewercore/SiteFile.h"

#include "quorvane/base/Error.h"
#include "quorvane/platform/CodePage.h"

namespace qv {

AnsiCodec SystemAnsiCodec()
{
    return {[](std::string_view utf8) { return codepage::ToAnsi(utf8); },
            [](std::string_view ansi) { return codepage::FromAnsi(ansi); }};
}

std::unique_ptr<SiteArchive> OpenSiteFile(const std::string& path, FileState* opened, bool wholeChecked)
{
    std::shared_ptr<const FileStream> file = std::make_shared<FileStream>(path, FileStream::Mode::OpenRead);
    const FileState state = file->State();
    if (opened)
        *opened = state;
    if (wholeChecked) {
        const std::unique_ptr<FileStream> stream = file->Duplicate();
        ArchiveReader::Options options;
        options.SourceName = path;
        const ArchiveReader whole(*stream, std::move(options));
        // A writer still at work can leave a complete-looking archive
        // behind for a moment; its bytes must have kept still meanwhile.
        if (file->State() != state)
            throw Error(path + ": It changed while it was being opened");
    }
    return std::make_unique<SiteArchive>([file] { return file->Duplicate(); }, SystemAnsiCodec(), path);
}

} // namespace qv
