#include "PeTestSupport.h"

#include "TestSupport.h"

#include <cstdio>
#include <stdexcept>

namespace qvtest::pe {

static size_t OptionalHeaderSize(const ImageLayout& layout)
{
    return (layout.pe32Plus ? 112 : 96) + 8 * layout.numberOfRvaAndSizes;
}

size_t SectionTable(const ImageLayout& layout)
{
    return kOptionalHeader + OptionalHeaderSize(layout);
}

size_t DirectoryField(const ImageLayout& layout, unsigned index)
{
    return kOptionalHeader + (layout.pe32Plus ? 112 : 96) + 8 * index;
}

std::vector<uint8_t> BuildImage(const ImageLayout& layout)
{
    auto align = [](size_t v, size_t a) { return (v + a - 1) / a * a; };
    std::vector<uint8_t> out(layout.sizeOfHeaders);
    out[0] = 'M';
    out[1] = 'Z';
    Put32(out, 0x3c, kPeHeader);
    out[kPeHeader] = 'P';
    out[kPeHeader + 1] = 'E';
    Put16(out, kFileHeader, layout.pe32Plus ? 0x8664 : 0x14c);
    Put16(out, kFileHeader + 2, static_cast<uint16_t>(layout.sections.size()));
    Put16(out, kFileHeader + 16, static_cast<uint16_t>(OptionalHeaderSize(layout)));
    Put16(out, kFileHeader + 18, 0x0022);  // executable, large address aware
    const size_t o = kOptionalHeader;
    Put16(out, o, layout.pe32Plus ? 0x20b : 0x10b);
    Put32(out, o + 32, layout.sectionAlignment);
    Put32(out, o + 36, layout.fileAlignment);
    Put16(out, o + 40, 6);  // OS version
    Put16(out, o + 48, 6);  // subsystem version
    Put32(out, o + 60, layout.sizeOfHeaders);
    Put16(out, o + 68, 3);  // console
    Put32(out, o + (layout.pe32Plus ? 108 : 92), layout.numberOfRvaAndSizes);
    for (unsigned i = 0; i < layout.numberOfRvaAndSizes && i < 16; ++i) {
        Put32(out, DirectoryField(layout, i), layout.directories[i][0]);
        Put32(out, DirectoryField(layout, i) + 4, layout.directories[i][1]);
    }
    uint32_t imageEnd = layout.sectionAlignment;
    uint32_t initialised = 0;
    for (size_t i = 0; i < layout.sections.size(); ++i) {
        const SectionSpec& s = layout.sections[i];
        const size_t at = SectionTable(layout) + 40 * i;
        for (size_t k = 0; k < s.name.size() && k < 8; ++k)
            out.at(at + k) = static_cast<uint8_t>(s.name[k]);
        const uint32_t virtualSize = s.virtualSize ? s.virtualSize : static_cast<uint32_t>(s.raw.size());
        const uint32_t rawSize = static_cast<uint32_t>(align(s.raw.size(), layout.fileAlignment));
        Put32(out, at + 8, virtualSize);
        Put32(out, at + 12, s.virtualAddress);
        Put32(out, at + 16, rawSize);
        Put32(out, at + 20, rawSize ? static_cast<uint32_t>(out.size()) : 0);
        Put32(out, at + 36, s.characteristics);
        out.insert(out.end(), s.raw.begin(), s.raw.end());
        out.resize(out.size() + rawSize - s.raw.size());
        imageEnd = static_cast<uint32_t>(align(s.virtualAddress + std::max(virtualSize, rawSize), layout.sectionAlignment));
        initialised += rawSize;
    }
    Put32(out, o + 8, initialised);
    Put32(out, o + 56, imageEnd);
    out.insert(out.end(), layout.tail.begin(), layout.tail.end());
    return out;
}

void TreeBytes::Directory(uint32_t at, uint16_t named, uint16_t numbered)
{
    Put16(bytes, at + 12, named);
    Put16(bytes, at + 14, numbered);
}

void TreeBytes::Entry(uint32_t directory, unsigned index, uint32_t id, uint32_t target)
{
    Put32(bytes, directory + 16 + 8 * index, id);
    Put32(bytes, directory + 16 + 8 * index + 4, target);
}

void TreeBytes::DataEntry(uint32_t at, uint32_t rva, uint32_t size)
{
    Put32(bytes, at, rva);
    Put32(bytes, at + 4, size);
}

void TreeBytes::Name(uint32_t at, std::u16string_view text)
{
    Put16(bytes, at, static_cast<uint16_t>(text.size()));
    for (size_t i = 0; i < text.size(); ++i)
        Put16(bytes, at + 2 + 2 * i, text[i]);
}

void TreeBytes::Data(uint32_t at, std::string_view text)
{
    for (size_t i = 0; i < text.size(); ++i)
        bytes.at(at + i) = static_cast<uint8_t>(text[i]);
}

namespace {

struct Assembler {
    TreeBytes tree{0};
    uint32_t rva = 0;

    uint32_t Alloc(size_t size, size_t alignment)
    {
        const size_t at = (tree.bytes.size() + alignment - 1) / alignment * alignment;
        tree.bytes.resize(at + size);
        return static_cast<uint32_t>(at);
    }

    uint32_t Table(const std::vector<Node>& nodes, int level)
    {
        uint16_t named = 0;
        for (const Node& n : nodes)
            named = static_cast<uint16_t>(named + !n.name.empty());
        const uint32_t at = Alloc(16 + 8 * nodes.size(), 4);
        tree.Directory(at, named, static_cast<uint16_t>(nodes.size() - named));
        for (unsigned i = 0; i < nodes.size(); ++i) {
            const Node& n = nodes[i];
            uint32_t id = n.id;
            if (!n.name.empty()) {
                id = TreeBytes::kNamed | Alloc(2 + 2 * n.name.size(), 2);
                tree.Name(id & ~TreeBytes::kNamed, n.name);
            }
            uint32_t target;
            if (level < 2) {
                target = TreeBytes::kSubdirectory | Table(n.children, level + 1);
            } else {
                target = Alloc(16, 4);
                const uint32_t data = Alloc(n.data.size(), 8);
                tree.Data(data, n.data);
                tree.DataEntry(target, rva + data, static_cast<uint32_t>(n.data.size()));
            }
            tree.Entry(at, i, id, target);
        }
        return at;
    }
};

} // namespace

std::vector<uint8_t> Assemble(const std::vector<Node>& types, uint32_t sectionRva)
{
    Assembler a;
    a.rva = sectionRva;
    a.Table(types, 0);
    return a.tree.bytes;
}

std::string Describe(const std::vector<ResourceEntry>& entries)
{
    std::string out;
    char crc[16];
    for (const ResourceEntry& e : entries) {
        std::snprintf(crc, sizeof crc, "%08x", qvtest::Crc32(e.data));
        out += e.type + "\t" + e.name + "\t" + std::to_string(e.language) + "\t" + std::to_string(e.data.size()) + "\t" +
               crc + "\n";
    }
    return out;
}

std::vector<ResourceEntry> Extra()
{
    auto bytes = [](std::string_view text) { return std::vector<uint8_t>(text.begin(), text.end()); };
    return {
        {"myType", "first", 1033, bytes("lower-case type and name")},
        {"10", "0042", 0, bytes("digits become a number")},
        {"10", "SETTINGS", 0, bytes("replaces the sample's own")},
        {"16", "1", 1031, bytes("a second language")},
        {"3", "7", 0, qvtest::NoiseBytes(12000, 3)},
        // Données / ǆemal-ж-ß-ÿ: upper case beyond ASCII.
        {"32767", "1", 0, {}},  // empty, and last of all
        {"Donn\xc3\xa9" "es", "\xc7\x86" "emal-\xd0\xb6-\xc3\x9f-\xc3\xbf", 1036, bytes("non-ASCII identifiers")},
    };
}

std::vector<ResourceEntry> Join(std::vector<ResourceEntry> first, const std::vector<ResourceEntry>& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

const qv::pe::detail::Section& SectionNamed(const qv::pe::detail::PeImage& pe, const std::string& name)
{
    for (const auto& s : pe.sections)
        if (s.name == name)
            return s;
    throw std::runtime_error("no section " + name);
}

void PinRelocations(std::vector<uint8_t>& image)
{
    const auto& reloc = SectionNamed(qv::pe::detail::ParseImage(image), ".reloc");
    Put32(image, reloc.headerOffset + 36, Get32(image, reloc.headerOffset + 36) & ~0x02000000u);
}

size_t CheckSumField(const std::vector<uint8_t>& image)
{
    return Get32(image, 0x3c) + 24 + 64;
}

uint32_t StraightChecksum(std::vector<uint8_t> bytes)
{
    const size_t field = CheckSumField(bytes);
    return StraightChecksum(std::move(bytes), field);
}

uint32_t StraightChecksum(std::vector<uint8_t> bytes, size_t field)
{
    const uint64_t length = bytes.size();
    for (size_t i = field; i < field + 4 && i < bytes.size(); ++i)
        bytes[i] = 0;
    if (bytes.size() % 2)
        bytes.push_back(0);
    uint32_t sum = 0;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        sum += Get16(bytes, i);
        sum = (sum & 0xffff) + (sum >> 16);
    }
    sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint32_t>(sum + length);
}

} // namespace qvtest::pe
