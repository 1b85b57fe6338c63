#include "ArchiveComposer.h"

#include "TestSupport.h"
#include "quorvane/base/LittleEndian.h"
#include "quorvane/base/PathParts.h"

#include <cstring>
#include <stdexcept>
#include <zlib.h>

namespace qvtest {

namespace {

using qv::PutLE;

void PutShortString(uint8_t* field, const std::string& text)
{
    if (text.size() > 255)
        throw std::invalid_argument("short string too long: " + text);
    field[0] = static_cast<uint8_t>(text.size());
    std::memcpy(field + 1, text.data(), text.size());
}

} // namespace

std::array<uint8_t, 550> ComposedRecord::Bytes() const
{
    std::array<uint8_t, 550> r{};
    PutShortString(r.data(), Name);
    PutShortString(r.data() + 256, Path);
    PutLE(r, 512, FileSize);
    PutLE(r, 520, CompressedSize);
    PutLE(r, 528, EncryptedSize);
    PutLE(r, 536, Offset);
    PutLE(r, 544, CRC);
    r[548] = Storage;
    r[549] = Level;
    return r;
}

std::array<uint8_t, 36> ArchiveTrailerFields::Bytes() const
{
    std::array<uint8_t, 36> t{};
    PutLE(t, 0, ArchiveCRC);
    PutLE(t, 4, EntryCount);
    PutLE(t, 8, Version);
    PutLE(t, 12, RegistrySize);
    PutLE(t, 16, RegistryOffset);
    t[24] = RegistryCompressed;
    return t;
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data, int level)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::vector<uint8_t> out(size);
    if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), level) != Z_OK)
        throw std::runtime_error("compress2 failed");
    out.resize(size);
    return out;
}

ComposedRecord& ArchiveComposer::Add(const std::string& archiveName, const std::vector<uint8_t>& data, int level)
{
    ComposedRecord r;
    const qv::PathCut cut = qv::CutAtLastSeparator(archiveName, qv::separators::kBackslash);
    r.Path = cut.folder;
    r.Name = cut.name;
    r.FileSize = static_cast<int64_t>(data.size());
    r.CRC = Crc32(data);
    // The ordinal of the writer's level that gives this zlib level.
    const uint8_t ordinal = level == 0 ? 0 : level == 1 ? 1 : level == 9 ? 3 : 2;
    const std::vector<uint8_t> packed = Deflate(data, level);
    if (packed.size() < data.size()) {
        r.Storage = 0;
        r.CompressedSize = static_cast<int64_t>(packed.size());
        r.Level = ordinal;
        return AddRaw(r, packed);
    }
    r.Storage = 1;
    return AddRaw(r, data);
}

ComposedRecord& ArchiveComposer::AddRaw(ComposedRecord record, const std::vector<uint8_t>& stored)
{
    record.Offset = static_cast<int64_t>(EntryData.size());
    EntryData.insert(EntryData.end(), stored.begin(), stored.end());
    Records.push_back(record);
    return Records.back();
}

std::vector<uint8_t> ArchiveComposer::Build() const
{
    std::vector<uint8_t> out = EntryData;
    std::vector<uint8_t> directory;
    for (const ComposedRecord& r : Records) {
        const auto bytes = r.Bytes();
        directory.insert(directory.end(), bytes.begin(), bytes.end());
    }
    ArchiveTrailerFields t;
    t.EntryCount = static_cast<int32_t>(Records.size());
    t.RegistryOffset = static_cast<int64_t>(EntryData.size());
    if (DirectoryOverride) {
        directory = *DirectoryOverride;
        t.RegistrySize = RawDirectory ? 0 : static_cast<int32_t>(directory.size());
        t.RegistryCompressed = RawDirectory ? 0 : 1;
    } else if (RawDirectory) {
        t.RegistryCompressed = 0;
    } else {
        directory = Deflate(directory, DirectoryLevel);
        t.RegistrySize = static_cast<int32_t>(directory.size());
    }
    out.insert(out.end(), directory.begin(), directory.end());
    t.ArchiveCRC = Crc32(out);
    const auto trailer = t.Bytes();
    out.insert(out.end(), trailer.begin(), trailer.end());
    trailer_ = t;
    return out;
}

void Poke32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value)
{
    PutLE(bytes, offset, value);
}

void Poke64(std::vector<uint8_t>& bytes, size_t offset, uint64_t value)
{
    PutLE(bytes, offset, value);
}

} // namespace qvtest
