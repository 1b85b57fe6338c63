#pragma once
// Helpers for the PE resource tests: hand-assembled images and resource
// trees (so the reader is tested on bytes our writer did not make), an
// independent checksum, and the sample programs built by CMake.
#include "PeImage.h"
#include "quorvane/platform/pe/PeResources.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qvtest::pe {

using qv::pe::ResourceEntry;

// The tests' shorthands for the one little-endian reader and writer.
inline uint16_t Get16(std::span<const uint8_t> bytes, uint64_t at) { return qv::LeReader(bytes).Get<uint16_t>(at); }
inline uint32_t Get32(std::span<const uint8_t> bytes, uint64_t at) { return qv::LeReader(bytes).Get<uint32_t>(at); }
inline void Put16(std::vector<uint8_t>& bytes, uint64_t at, uint16_t value) { qv::PutLE(bytes, at, value); }
inline void Put32(std::vector<uint8_t>& bytes, uint64_t at, uint32_t value) { qv::PutLE(bytes, at, value); }

struct SectionSpec {
    std::string name;
    uint32_t virtualAddress = 0;
    uint32_t virtualSize = 0;  // 0: the raw size
    std::vector<uint8_t> raw;  // padded to the file alignment
    uint32_t characteristics = 0x40000040;  // initialised data, readable
};

struct ImageLayout {
    bool pe32Plus = true;
    uint32_t fileAlignment = 0x200;
    uint32_t sectionAlignment = 0x1000;
    uint32_t sizeOfHeaders = 0x400;
    uint32_t numberOfRvaAndSizes = 16;
    std::vector<SectionSpec> sections;
    std::array<std::array<uint32_t, 2>, 16> directories{};
    std::vector<uint8_t> tail;  // bytes after the last section
};

// A minimal but loader-valid image. Layout facts the tests use:
// PE header at 0x80, optional header at 0x98, section table right after it.
std::vector<uint8_t> BuildImage(const ImageLayout& layout);
inline constexpr size_t kPeHeader = 0x80, kFileHeader = 0x84, kOptionalHeader = 0x98;
size_t SectionTable(const ImageLayout& layout);
size_t DirectoryField(const ImageLayout& layout, unsigned index);

// Writes resource directory structures at chosen offsets of a buffer.
class TreeBytes {
public:
    explicit TreeBytes(size_t size) : bytes(size) {}
    static constexpr uint32_t kSubdirectory = 0x80000000u, kNamed = 0x80000000u;
    void Directory(uint32_t at, uint16_t named, uint16_t numbered);
    void Entry(uint32_t directory, unsigned index, uint32_t id, uint32_t target);
    void DataEntry(uint32_t at, uint32_t rva, uint32_t size);
    void Name(uint32_t at, std::u16string_view text);
    void Data(uint32_t at, std::string_view text);
    std::vector<uint8_t> bytes;
};

// A resource tree node for Assemble: a named or numeric identifier, with
// children (type and name levels) or data (language level).
struct Node {
    std::u16string name;  // empty: numeric
    uint32_t id = 0;
    std::vector<Node> children;
    std::string data;
};

// Lays out a resource section for `types` exactly as given: no sorting, no
// case change, named entries counted as they are flagged. Only the counts
// per table put named entries first, so give them first.
std::vector<uint8_t> Assemble(const std::vector<Node>& types, uint32_t sectionRva);

// Resources to add to a program's own: identifiers in lower case, a
// digit-only name, one replacing an entry of the samples, a second
// language, a large blob and an empty one.
std::vector<ResourceEntry> Extra();
std::vector<ResourceEntry> Join(std::vector<ResourceEntry> first, const std::vector<ResourceEntry>& second);

const qv::pe::detail::Section& SectionNamed(const qv::pe::detail::PeImage& pe, const std::string& name);
// Marks ".reloc" as a section that must stay put, so new resources cannot
// grow in place and go to a new section.
void PinRelocations(std::vector<uint8_t>& image);

// "type<TAB>name<TAB>language<TAB>size<TAB>crc32" a resource, as the probe prints.
std::string Describe(const std::vector<ResourceEntry>& entries);

// The standard image checksum, written out plainly.
uint32_t StraightChecksum(std::vector<uint8_t> bytes);
uint32_t StraightChecksum(std::vector<uint8_t> bytes, size_t field);
size_t CheckSumField(const std::vector<uint8_t>& image);


} // namespace qvtest::pe
