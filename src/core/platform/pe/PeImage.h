#pragma once
// The headers of a PE/COFF image as far as resource reading and rewriting
// need them, parsed from untrusted bytes. Private to the platform layer.
#include "quorvane/base/LittleEndian.h"
#include "quorvane/platform/pe/PeResources.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qv::pe::detail {

// Throws FormatError "Invalid executable: <problem> (offset 0x..)".
[[noreturn]] void Fail(const std::string& problem, uint64_t offset);
// Throws FormatError "Cannot rewrite the resources of the executable: ...".
[[noreturn]] void Refuse(const std::string& problem, uint64_t offset);
// The same error with the file's name in the message.
FormatError WithPath(const FormatError& error, const std::string& path);

// The checked reader over bytes of an image: a read past the end fails as
// "Invalid executable: <what> runs past the end of <limit> (offset 0x..)".
// `base` is the file offset of the first byte.
inline LeReader ImageReader(std::span<const uint8_t> bytes, uint64_t base = 0, const char* limit = "the file")
{
    return LeReader(bytes, base, limit, &Fail);
}

inline uint64_t AlignUp(uint64_t value, uint64_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

enum : unsigned {
    kResourceDirectory = 2,
    kSecurityDirectory = 4,
    kBaseRelocDirectory = 5,
    kDebugDirectory = 6,
    kMaxDirectories = 16,
};

// Section header fields, offsets relative to the header.
inline constexpr uint64_t kSectionHeaderSize = 40;
inline constexpr uint64_t kSecVirtualSize = 8, kSecVirtualAddress = 12, kSecSizeOfRawData = 16,
                          kSecPointerToRawData = 20, kSecCharacteristics = 36;
inline constexpr uint32_t kScnCntCode = 0x20, kScnDiscardable = 0x02000000, kScnMemExecute = 0x20000000;

struct Section {
    std::array<uint8_t, 8> rawName{};
    std::string name;  // the 8-byte field, or the long name a "/n" field refers to
    uint32_t virtualSize = 0;
    uint32_t virtualAddress = 0;
    uint32_t sizeOfRawData = 0;
    uint32_t pointerToRawData = 0;
    uint32_t characteristics = 0;
    uint64_t headerOffset = 0;

    // What the loader maps from the file, as RtlImageRvaToSection sees it.
    bool HoldsRva(uint32_t rva) const
    {
        return rva >= virtualAddress && uint64_t(rva) < uint64_t(virtualAddress) + sizeOfRawData;
    }
    // The address range the section claims in memory.
    uint64_t VirtualEnd() const { return uint64_t(virtualAddress) + std::max(virtualSize, sizeOfRawData); }
    uint64_t RawEnd() const { return uint64_t(pointerToRawData) + sizeOfRawData; }
};

struct Directory {
    uint32_t rva = 0;
    uint32_t size = 0;
};

struct PeImage {
    std::span<const uint8_t> bytes;
    bool pe32Plus = false;
    uint64_t fileHeader = 0;      // COFF file header
    uint64_t optionalHeader = 0;
    uint64_t sectionTable = 0;
    uint16_t sizeOfOptionalHeader = 0;
    uint32_t pointerToSymbolTable = 0;
    uint32_t numberOfSymbols = 0;
    uint32_t sectionAlignment = 0;
    uint32_t fileAlignment = 0;
    uint32_t sizeOfImage = 0;
    uint32_t sizeOfHeaders = 0;
    uint32_t sizeOfInitializedData = 0;
    uint64_t dataDirectories = 0;  // offset of the first entry
    uint32_t directoryCount = 0;   // entries present, at most 16
    std::vector<Section> sections;

    // Offsets of header fields the writer changes.
    uint64_t NumberOfSectionsField() const { return fileHeader + 2; }
    uint64_t PointerToSymbolTableField() const { return fileHeader + 8; }
    uint64_t NumberOfSymbolsField() const { return fileHeader + 12; }
    uint64_t SizeOfInitializedDataField() const { return optionalHeader + 8; }
    uint64_t SizeOfImageField() const { return optionalHeader + 56; }
    uint64_t SizeOfHeadersField() const { return optionalHeader + 60; }
    uint64_t CheckSumField() const { return optionalHeader + 64; }
    uint64_t DirectoryField(unsigned index) const { return dataDirectories + 8ull * index; }

    Directory GetDirectory(unsigned index) const;
    // The first section, in table order, whose file bytes hold `rva`.
    const Section* SectionOfRva(uint32_t rva) const;
    // The file bytes of [rva, rva + size), which must lie in one section and
    // in the file. `field` is the offset of the value that gave the RVA.
    std::span<const uint8_t> MapRva(uint32_t rva, uint64_t size, const std::string& what, uint64_t field) const;
    // From `rva` to the end of its section's bytes in the file.
    std::span<const uint8_t> RestOfSection(uint32_t rva, const std::string& what, uint64_t field) const;
};

PeImage ParseImage(std::span<const uint8_t> bytes);

// The standard image checksum: a 16-bit end-around-carry sum over the file
// with the checksum field taken as zero, plus the file's length.
uint32_t ImageChecksum(std::span<const uint8_t> bytes, uint64_t checksumField);

} // namespace qv::pe::detail
