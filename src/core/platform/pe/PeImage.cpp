#include "PeImage.h"

namespace qv::pe::detail {

namespace {

std::string Message(FormatError::Kind kind, const std::string* path, const std::string& problem, uint64_t offset)
{
    std::string head;
    if (kind == FormatError::Kind::Invalid)
        head = path ? "Invalid executable \"" + *path + "\"" : "Invalid executable";
    else
        head = "Cannot rewrite the resources of " + (path ? "\"" + *path + "\"" : std::string("the executable"));
    return head + ": " + problem + " (offset " + Hex(offset) + ")";
}

} // namespace

void Fail(const std::string& problem, uint64_t offset)
{
    const auto kind = FormatError::Kind::Invalid;
    throw FormatError(Message(kind, nullptr, problem, offset), kind, problem, offset);
}

void Refuse(const std::string& problem, uint64_t offset)
{
    const auto kind = FormatError::Kind::NotRewritable;
    throw FormatError(Message(kind, nullptr, problem, offset), kind, problem, offset);
}

FormatError WithPath(const FormatError& error, const std::string& path)
{
    return FormatError(Message(error.kind(), &path, error.problem(), error.offset()), error.kind(), error.problem(),
                       error.offset());
}

namespace {

constexpr uint32_t kPe32Magic = 0x10b, kPe32PlusMagic = 0x20b;
constexpr uint64_t kCoffSymbolSize = 18;

// Long section names ("/4") live in the COFF string table of unstripped
// images. Only used to recognise debug sections, so an unresolvable name
// just stays as written.
std::string LongName(const LeReader& file, const PeImage& pe, const std::string& shortName)
{
    if (shortName.size() < 2 || shortName[0] != '/' || pe.pointerToSymbolTable == 0)
        return shortName;
    uint64_t index = 0;
    for (size_t i = 1; i < shortName.size(); ++i) {
        if (shortName[i] < '0' || shortName[i] > '9')
            return shortName;
        index = index * 10 + uint64_t(shortName[i] - '0');
    }
    const uint64_t table = pe.pointerToSymbolTable + kCoffSymbolSize * pe.numberOfSymbols;
    if (!file.Has(table, 4) || index < 4 || index >= file.Get<uint32_t>(table, "string table"))
        return shortName;
    std::string name;
    for (uint64_t at = table + index; file.Has(at, 1) && name.size() < 256; ++at) {
        const char c = static_cast<char>(file.Bytes(at, 1, "section name")[0]);
        if (c == 0)
            return name;
        name += c;
    }
    return shortName;
}

} // namespace

PeImage ParseImage(std::span<const uint8_t> bytes)
{
    const LeReader file = ImageReader(bytes);
    PeImage pe;
    pe.bytes = bytes;

    file.Require(0, 0x40, "the DOS header");
    if (bytes[0] != 'M' || bytes[1] != 'Z')
        Fail("no DOS signature \"MZ\"", 0);
    const uint64_t peHeader = file.Get<uint32_t>(0x3c, "the DOS header");
    file.Require(peHeader, 24, "the PE header");
    if (bytes[peHeader] != 'P' || bytes[peHeader + 1] != 'E' || bytes[peHeader + 2] != 0 || bytes[peHeader + 3] != 0)
        Fail("no PE signature \"PE\\0\\0\"", peHeader);

    pe.fileHeader = peHeader + 4;
    const uint16_t sectionCount = file.Get<uint16_t>(pe.fileHeader + 2, "the file header");
    pe.pointerToSymbolTable = file.Get<uint32_t>(pe.fileHeader + 8, "the file header");
    pe.numberOfSymbols = file.Get<uint32_t>(pe.fileHeader + 12, "the file header");
    pe.sizeOfOptionalHeader = file.Get<uint16_t>(pe.fileHeader + 16, "the file header");

    pe.optionalHeader = pe.fileHeader + 20;
    const uint16_t magic = file.Get<uint16_t>(pe.optionalHeader, "the optional header");
    if (magic != kPe32Magic && magic != kPe32PlusMagic)
        Fail("unknown optional header magic " + Hex(magic), pe.optionalHeader);
    pe.pe32Plus = magic == kPe32PlusMagic;
    const uint64_t fixedPart = pe.pe32Plus ? 112 : 96;
    if (pe.sizeOfOptionalHeader < fixedPart)
        Fail("optional header of " + std::to_string(pe.sizeOfOptionalHeader) + " bytes is too small", pe.fileHeader + 16);
    file.Require(pe.optionalHeader, fixedPart, "the optional header");

    pe.sizeOfInitializedData = file.Get<uint32_t>(pe.SizeOfInitializedDataField(), "the optional header");
    pe.sectionAlignment = file.Get<uint32_t>(pe.optionalHeader + 32, "the optional header");
    pe.fileAlignment = file.Get<uint32_t>(pe.optionalHeader + 36, "the optional header");
    pe.sizeOfImage = file.Get<uint32_t>(pe.SizeOfImageField(), "the optional header");
    pe.sizeOfHeaders = file.Get<uint32_t>(pe.SizeOfHeadersField(), "the optional header");
    const uint32_t declared = file.Get<uint32_t>(pe.optionalHeader + fixedPart - 4, "the optional header");
    pe.dataDirectories = pe.optionalHeader + fixedPart;
    // The loader ignores directories that do not fit the optional header.
    const uint64_t room = (pe.sizeOfOptionalHeader - fixedPart) / 8;
    pe.directoryCount = static_cast<uint32_t>(std::min<uint64_t>({declared, room, kMaxDirectories}));
    file.Require(pe.dataDirectories, 8ull * pe.directoryCount, "the data directories");

    pe.sectionTable = pe.optionalHeader + pe.sizeOfOptionalHeader;
    file.Require(pe.sectionTable, kSectionHeaderSize * sectionCount, "the section table");
    pe.sections.reserve(sectionCount);
    for (uint64_t i = 0; i < sectionCount; ++i) {
        const uint64_t at = pe.sectionTable + kSectionHeaderSize * i;
        Section s;
        s.headerOffset = at;
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), 8, s.rawName.begin());
        std::string shortName(s.rawName.begin(), std::find(s.rawName.begin(), s.rawName.end(), 0));
        s.name = LongName(file, pe, shortName);
        s.virtualSize = file.Get<uint32_t>(at + kSecVirtualSize, "the section table");
        s.virtualAddress = file.Get<uint32_t>(at + kSecVirtualAddress, "the section table");
        s.sizeOfRawData = file.Get<uint32_t>(at + kSecSizeOfRawData, "the section table");
        s.pointerToRawData = file.Get<uint32_t>(at + kSecPointerToRawData, "the section table");
        s.characteristics = file.Get<uint32_t>(at + kSecCharacteristics, "the section table");
        pe.sections.push_back(s);
    }
    return pe;
}

Directory PeImage::GetDirectory(unsigned index) const
{
    if (index >= directoryCount)
        return {};
    const LeReader file = ImageReader(bytes);
    return {file.Get<uint32_t>(DirectoryField(index), "the data directories"),
            file.Get<uint32_t>(DirectoryField(index) + 4, "the data directories")};
}

const Section* PeImage::SectionOfRva(uint32_t rva) const
{
    for (const Section& s : sections)
        if (s.HoldsRva(rva))
            return &s;
    return nullptr;
}

std::span<const uint8_t> PeImage::RestOfSection(uint32_t rva, const std::string& what, uint64_t field) const
{
    const Section* s = SectionOfRva(rva);
    if (!s)
        Fail(what + " at RVA " + Hex(rva) + " lies outside every section", field);
    const uint64_t offset = uint64_t(s->pointerToRawData) + (rva - s->virtualAddress);
    const uint64_t end = std::min<uint64_t>(s->RawEnd(), bytes.size());
    if (offset >= end)
        Fail(what + " at RVA " + Hex(rva) + " lies past the end of the file", field);
    return bytes.subspan(offset, end - offset);
}

std::span<const uint8_t> PeImage::MapRva(uint32_t rva, uint64_t size, const std::string& what, uint64_t field) const
{
    const Section* s = SectionOfRva(rva);
    if (!s)
        Fail(what + " at RVA " + Hex(rva) + " lies outside every section", field);
    const uint64_t inSection = rva - s->virtualAddress;
    if (size > s->sizeOfRawData - inSection)
        Fail(what + " at RVA " + Hex(rva) + " (" + std::to_string(size) + " bytes) runs past the end of section \"" +
                 s->name + "\"",
             field);
    const uint64_t offset = s->pointerToRawData + inSection;
    if (offset > bytes.size() || size > bytes.size() - offset)
        Fail(what + " at RVA " + Hex(rva) + " (" + std::to_string(size) + " bytes) runs past the end of the file", field);
    return bytes.subspan(offset, size);
}

uint32_t ImageChecksum(std::span<const uint8_t> bytes, uint64_t checksumField)
{
    const uint64_t n = bytes.size();
    const LeReader file = ImageReader(bytes);
    uint64_t sum = 0;
    auto add = [&sum](uint32_t word) {
        sum += word;
        sum = (sum & 0xffff) + (sum >> 16);
    };
    auto plain = [&](uint64_t from, uint64_t to) {
        for (uint64_t i = from; i + 1 < to; i += 2)
            add(file.Get<uint16_t>(i));
    };
    // Words are taken at even offsets; the field may start at an odd one,
    // so the words touching it are summed byte by byte.
    const uint64_t slowFrom = std::min(n, checksumField & ~uint64_t(1));
    const uint64_t slowTo = std::min(n, (checksumField + 5) & ~uint64_t(1));
    plain(0, slowFrom);
    for (uint64_t i = slowFrom; i < slowTo; i += 2) {
        auto byteAt = [&](uint64_t at) -> uint32_t {
            return at >= n || (at >= checksumField && at < checksumField + 4) ? 0 : bytes[at];
        };
        add(byteAt(i) | byteAt(i + 1) << 8);
    }
    plain(slowTo, n);
    if (n % 2 && !(n - 1 >= slowFrom && n - 1 < slowTo))
        add(bytes[n - 1]);
    sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint32_t>(sum + n);
}

} // namespace qv::pe::detail
