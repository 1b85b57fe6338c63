#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The archive's layout on disk, declared once for the writer, the reader
// and the Windows viewer. Portable: the standard library only.
//
// An archive is the entries' data back to back from its first byte, then
// the directory (normally one zlib stream of 550-byte records), then a
// 36-byte trailer. Offsets inside the archive count from its first byte and
// the trailer is always last, so a reader finds an archive appended to any
// file: A = length - 36 - RegistrySize - RegistryOffset. Numbers are
// little-endian.
namespace qv {

namespace archive_layout {
inline constexpr int32_t kVersion = 2;
inline constexpr size_t kRecordSize = 550;
inline constexpr size_t kTrailerSize = 36;
// A length byte and up to 255 bytes of the writer's code page.
inline constexpr size_t kShortStringSize = 256;
} // namespace archive_layout

// Byte offsets of a directory record's fields and of the trailer's. The
// trailer's bytes from Reserved on are zero.
namespace filerec_offset {
inline constexpr size_t Name = 0, Path = 256, FileSize = 512, CompressedSize = 520, EncryptedSize = 528,
                        Offset = 536, CRC = 544, Storage = 548, Level = 549;
} // namespace filerec_offset
namespace trailer_offset {
inline constexpr size_t ArchiveCRC = 0, EntryCount = 4, Version = 8, RegistrySize = 12, RegistryOffset = 16,
                        RegistryCompressed = 24, Reserved = 25;
} // namespace trailer_offset

// How an entry's bytes lie in the archive: the Storage byte of its record.
// This writer makes the first two; the encrypted kinds are only read.
enum class EntryStorage : uint8_t { Deflated = 0, Stored = 1, EncryptedDeflated = 2, Encrypted = 3 };

// The numbers of a directory record, shared by the writer's record and the
// reader's entry. Each field is as wide on disk as its type.
struct ArchiveRecordNumbers {
    int64_t FileSize = 0;
    int64_t CompressedSize = 0;
    int64_t EncryptedSize = 0;
    int64_t Offset = 0;
    uint32_t CRC = 0;
    uint8_t Storage = 0;
    uint8_t Level = 0;

    // Calls visit(offset, field) for each number; one list serves reading
    // and writing.
    template <typename Self, typename Visit>
    static void EachField(Self& self, Visit&& visit)
    {
        namespace o = filerec_offset;
        visit(o::FileSize, self.FileSize);
        visit(o::CompressedSize, self.CompressedSize);
        visit(o::EncryptedSize, self.EncryptedSize);
        visit(o::Offset, self.Offset);
        visit(o::CRC, self.CRC);
        visit(o::Storage, self.Storage);
        visit(o::Level, self.Level);
    }
};

// One directory record. Name and Path are short strings in the ANSI code
// page.
struct ArchiveRecord : ArchiveRecordNumbers {
    static constexpr size_t kImageSize = archive_layout::kRecordSize;

    std::array<uint8_t, archive_layout::kShortStringSize> Name{};
    std::array<uint8_t, archive_layout::kShortStringSize> Path{};

    // The code-page bytes of the short strings.
    std::string NameAnsi() const;
    std::string PathAnsi() const;
    // The same as UTF-8 text (the writer's code page; not in the viewer).
    std::string NameText() const;
    std::string PathText() const;
    // Stores code-page bytes, cut to 255; the bytes after the text are zero.
    void SetName(std::string_view ansi);
    void SetPath(std::string_view ansi);

    void WriteImage(std::span<uint8_t, kImageSize> out) const;
    std::array<uint8_t, kImageSize> Image() const;
    // Throws qv::Error when fewer than 550 bytes are given.
    static ArchiveRecord FromImage(std::span<const uint8_t> image);
};

struct ArchiveTrailer {
    static constexpr size_t kImageSize = archive_layout::kTrailerSize;
    static constexpr int32_t kVersion = archive_layout::kVersion;

    uint32_t ArchiveCRC = 0;
    int32_t EntryCount = 0;
    int32_t Version = 0;
    int32_t RegistrySize = 0;
    int64_t RegistryOffset = 0;
    uint8_t RegistryCompressed = 0;

    std::array<uint8_t, kImageSize> Image() const;
    // Throws qv::Error when fewer than 36 bytes are given.
    static ArchiveTrailer FromImage(std::span<const uint8_t> image);

    template <typename Self, typename Visit>
    static void EachField(Self& self, Visit&& visit)
    {
        namespace o = trailer_offset;
        visit(o::ArchiveCRC, self.ArchiveCRC);
        visit(o::EntryCount, self.EntryCount);
        visit(o::Version, self.Version);
        visit(o::RegistrySize, self.RegistrySize);
        visit(o::RegistryOffset, self.RegistryOffset);
        visit(o::RegistryCompressed, self.RegistryCompressed);
    }
};

// The fields lie back to back, each as wide as its type.
namespace layout_check {
using R = ArchiveRecord;
using T = ArchiveTrailer;
namespace r = filerec_offset;
namespace t = trailer_offset;
static_assert(r::Path == r::Name + sizeof(R::Name) && r::FileSize == r::Path + sizeof(R::Path));
static_assert(r::CompressedSize == r::FileSize + sizeof(R::FileSize) &&
              r::EncryptedSize == r::CompressedSize + sizeof(R::CompressedSize) &&
              r::Offset == r::EncryptedSize + sizeof(R::EncryptedSize) && r::CRC == r::Offset + sizeof(R::Offset));
static_assert(r::Storage == r::CRC + sizeof(R::CRC) && r::Level == r::Storage + sizeof(R::Storage) &&
              archive_layout::kRecordSize == r::Level + sizeof(R::Level));
static_assert(t::EntryCount == t::ArchiveCRC + sizeof(T::ArchiveCRC) &&
              t::Version == t::EntryCount + sizeof(T::EntryCount) &&
              t::RegistrySize == t::Version + sizeof(T::Version) &&
              t::RegistryOffset == t::RegistrySize + sizeof(T::RegistrySize) &&
              t::RegistryCompressed == t::RegistryOffset + sizeof(T::RegistryOffset) &&
              t::Reserved == t::RegistryCompressed + sizeof(T::RegistryCompressed) &&
              t::Reserved < archive_layout::kTrailerSize);
} // namespace layout_check

} // namespace qv
