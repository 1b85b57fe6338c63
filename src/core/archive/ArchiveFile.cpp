#include "quorvane/archive/ArchiveFile.h"

#include "quorvane/platform/CodePage.h"

namespace qv {

namespace {

ArchiveReader::Options FileOptions(const std::string& path, bool verifyArchiveCRC)
{
    ArchiveReader::Options options;
    options.DecodeName = [](std::string_view ansi) { return codepage::FromAnsi(ansi); };
    options.SourceName = path;
    options.VerifyArchiveCRC = verifyArchiveCRC;
    return options;
}

} // namespace

ArchiveFile::ArchiveFile(const std::string& path, bool verifyArchiveCRC)
    : file_(path, FileStream::Mode::OpenRead), reader_(file_, FileOptions(path, verifyArchiveCRC))
{
}

std::string ArchiveFile::Name(size_t index) const
{
    return ArchiveNameUtf8(reader_.Entry(index));
}

std::string ArchiveNameUtf8(const ArchiveEntry& entry)
{
    return codepage::FromAnsi(entry.ArchiveName());
}

} // namespace qv
