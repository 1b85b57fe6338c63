#pragma once
#include "quorvane/archive/ArchiveReader.h"
#include "quorvane/base/Stream.h"

#include <string>

namespace qv {

// An archive read from a file on disk, with names decoded from the ANSI
// code page into UTF-8. Messages start with the file's name. Throws what
// FileStream and ArchiveReader throw.
class ArchiveFile {
public:
    explicit ArchiveFile(const std::string& path, bool verifyArchiveCRC = true);

    ArchiveReader& Reader() { return reader_; }
    const ArchiveReader& Reader() const { return reader_; }
    // The archive name of entry `index` ("sub\page.html") in UTF-8.
    std::string Name(size_t index) const;

private:
    FileStream file_;
    ArchiveReader reader_;
};

// The archive name of an entry in UTF-8.
std::string ArchiveNameUtf8(const ArchiveEntry& entry);

} // namespace qv
