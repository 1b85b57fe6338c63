#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Archives built straight from the format, with zlib and hand-laid records,
// so that readers are tested against bytes that no code of ours wrote. The
// field offsets are written out here as numbers, apart from ArchiveLayout.h,
// so that a slip in that header cannot hide in both the writer and the test.
namespace qvtest {

// One 550-byte directory record, field by field.
struct ComposedRecord {
    std::string Name;
    std::string Path;
    int64_t FileSize = 0;
    int64_t CompressedSize = 0;
    int64_t EncryptedSize = 0;
    int64_t Offset = 0;
    uint32_t CRC = 0;
    uint8_t Storage = 0;
    uint8_t Level = 0;

    std::array<uint8_t, 550> Bytes() const;
};

struct ArchiveTrailerFields {
    uint32_t ArchiveCRC = 0;
    int32_t EntryCount = 0;
    int32_t Version = 2;
    int32_t RegistrySize = 0;
    int64_t RegistryOffset = 0;
    uint8_t RegistryCompressed = 1;

    std::array<uint8_t, 36> Bytes() const;
};

class ArchiveComposer {
public:
    // Adds an entry the way the writer stores it: zlib at `level`, kept as
    // storage kind 0 when shorter than the data, else the data as kind 1.
    // `archiveName` is split after its last backslash into Path and Name.
    ComposedRecord& Add(const std::string& archiveName, const std::vector<uint8_t>& data, int level = -1);
    // Appends `stored` to the entry data as they are, under a record the
    // caller fills in (its Offset is set here).
    ComposedRecord& AddRaw(ComposedRecord record, const std::vector<uint8_t>& stored);

    std::vector<ComposedRecord> Records;
    std::vector<uint8_t> EntryData;
    // Write the records uncompressed (RegistryCompressed 0, RegistrySize 0).
    bool RawDirectory = false;
    int DirectoryLevel = -1;
    // Bytes to use as the stored directory instead of the records.
    std::optional<std::vector<uint8_t>> DirectoryOverride;

    // Entry data, directory and trailer; the trailer describes what was
    // laid down, with the CRC-32 of everything before it.
    std::vector<uint8_t> Build() const;
    ArchiveTrailerFields LastTrailer() const { return trailer_; }

private:
    mutable ArchiveTrailerFields trailer_;
};

// zlib's compress2 (window 15, memory level 8, default strategy).
std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data, int level = -1);

void Poke32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value);
void Poke64(std::vector<uint8_t>& bytes, size_t offset, uint64_t value);

} // namespace qvtest
