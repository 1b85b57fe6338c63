#include "PeImage.h"
#include "quorvane/base/Stream.h"
#include "quorvane/platform/CodePage.h"
#include "quorvane/platform/FileSystem.h"

#include <algorithm>
#include <locale.h>
#include <map>
#include <optional>
#include <tuple>
#include <wctype.h>

namespace qv::pe {

using namespace detail;

namespace {

// Identifiers as the update functions store them

struct Identifier {
    bool named = false;
    std::u16string text;  // upper case
    uint16_t number = 0;

    // The loader's binary search: named entries first, ordinal by UTF-16
    // unit (the names are upper case already), then numbers ascending.
    friend bool operator<(const Identifier& a, const Identifier& b)
    {
        if (a.named != b.named)
            return a.named;
        return a.named ? a.text < b.text : a.number < b.number;
    }

    friend bool operator==(const Identifier&, const Identifier&) = default;

    std::string Text() const { return named ? codepage::FromUtf16(text) : std::to_string(number); }
};

char16_t UpperUnit(char16_t c)
{
    if (c < 0x80)
        return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
    if (c >= 0xD800 && c < 0xE000)
        return c;  // half of a pair: left alone, as the platform does
    static const locale_t unicode = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
    if (!unicode)
        return c;
    const wint_t upper = ::towupper_l(static_cast<wint_t>(c), unicode);
    return upper <= 0xFFFF ? static_cast<char16_t>(upper) : c;
}

Identifier ParseIdentifier(const std::string& text, const char* what)
{
    if (text.empty())
        throw Error(std::string("Resource ") + what + " is empty");
    Identifier id;
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        uint32_t value = 0;
        for (char c : text) {
            value = value * 10 + uint32_t(c - '0');
            if (value > 0xFFFF)
                throw Error(std::string("Resource ") + what + " \"" + text + "\" is too large for a numeric identifier");
        }
        id.number = static_cast<uint16_t>(value);
        return id;
    }
    id.named = true;
    id.text = codepage::ToUtf16(text);
    if (id.text.size() > 0xFFFF)
        throw Error(std::string("Resource ") + what + " is longer than 65535 characters");
    for (char16_t& c : id.text)
        c = UpperUnit(c);
    return id;
}

struct Leaf {
    Identifier type;
    Identifier name;
    uint16_t language = 0;
    const std::vector<uint8_t>* data = nullptr;
};

// Normalised identities, the later of equal ones winning, in loader order.
std::vector<Leaf> Canonicalize(const std::vector<ResourceEntry>& entries)
{
    std::map<std::tuple<Identifier, Identifier, uint16_t>, const std::vector<uint8_t>*> byIdentity;
    for (const ResourceEntry& e : entries)
        byIdentity[{ParseIdentifier(e.type, "type"), ParseIdentifier(e.name, "name"), e.language}] = &e.data;
    std::vector<Leaf> leaves;
    leaves.reserve(byIdentity.size());
    for (const auto& [key, data] : byIdentity)
        leaves.push_back({std::get<0>(key), std::get<1>(key), std::get<2>(key), data});
    return leaves;
}

// The resource section

constexpr uint32_t kHighBit = 0x80000000u;
constexpr uint64_t kDirectoryHeader = 16, kDirectoryEntry = 8, kDataEntry = 16;
constexpr uint32_t kResourceCharacteristics = 0x40000040;  // initialised data, readable

struct NameNode {
    const Identifier* id;
    std::vector<const Leaf*> languages;
};
struct TypeNode {
    const Identifier* id;
    std::vector<NameNode> names;
};

// The section's bytes with every data entry's RVA relative to the section;
// `rvaFields` lists those fields so they can be patched once the section's
// address is known.
struct SectionImage {
    std::vector<uint8_t> bytes;
    std::vector<uint64_t> rvaFields;

    void Relocate(uint32_t sectionRva)
    {
        for (uint64_t field : rvaFields)
            PutLE<uint32_t>(bytes, field, ImageReader(bytes).Get<uint32_t>(field) + sectionRva);
    }
};

SectionImage BuildSection(const std::vector<Leaf>& leaves)
{
    std::vector<TypeNode> types;
    for (const Leaf& leaf : leaves) {
        if (types.empty() || !(*types.back().id == leaf.type))
            types.push_back({&leaf.type, {}});
        auto& names = types.back().names;
        if (names.empty() || !(*names.back().id == leaf.name))
            names.push_back({&leaf.name, {}});
        names.back().languages.push_back(&leaf);
    }

    // Pass 1: where everything goes. Directory tables first (4-byte
    // aligned by their sizes), then the data entries, then the names, then
    // the data, each blob 8-byte aligned.
    auto table = [](size_t entries) { return kDirectoryHeader + kDirectoryEntry * entries; };
    uint64_t cursor = table(types.size());
    std::vector<uint64_t> typeTables, nameTables;
    for (const TypeNode& t : types) {
        typeTables.push_back(cursor);
        cursor += table(t.names.size());
    }
    for (const TypeNode& t : types)
        for (const NameNode& n : t.names) {
            nameTables.push_back(cursor);
            cursor += table(n.languages.size());
        }
    const uint64_t dataEntries = cursor;
    cursor += kDataEntry * leaves.size();
    std::map<const Identifier*, uint64_t> strings;
    auto placeString = [&](const Identifier* id) {
        if (id->named) {
            strings[id] = cursor;
            cursor += 2 + 2 * id->text.size();
        }
    };
    for (const TypeNode& t : types) {
        placeString(t.id);
        for (const NameNode& n : t.names)
            placeString(n.id);
    }
    std::vector<uint64_t> blobs;
    for (const Leaf& leaf : leaves) {
        cursor = AlignUp(cursor, 8);
        blobs.push_back(cursor);
        cursor += leaf.data->size();
    }
    // Empty resources at the end would point just past the section, where
    // an address lookup finds no section.
    if (!blobs.empty() && blobs.back() == cursor)
        cursor += 8;
    // Offsets inside the tree have 31 bits; the section's size must also
    // leave room for its address.
    if (cursor > 0x7FFFFFFF)
        Refuse("the resources take " + std::to_string(cursor) + " bytes, more than a resource section can hold", 0);

    // Pass 2: the bytes.
    SectionImage out;
    out.bytes.assign(cursor, 0);
    auto writeTable = [&](uint64_t at, size_t named, size_t count) {
        PutLE<uint16_t>(out.bytes, at + 12, static_cast<uint16_t>(named));
        PutLE<uint16_t>(out.bytes, at + 14, static_cast<uint16_t>(count - named));
    };
    auto idField = [&](const Identifier* id) {
        return id->named ? static_cast<uint32_t>(kHighBit | strings.at(id)) : id->number;
    };
    auto namedCount = [](const auto& nodes) {
        return static_cast<size_t>(std::count_if(nodes.begin(), nodes.end(), [](const auto& n) { return n.id->named; }));
    };
    writeTable(0, namedCount(types), types.size());
    size_t nameIndex = 0, leafIndex = 0;
    for (size_t t = 0; t < types.size(); ++t) {
        const uint64_t rootEntry = kDirectoryHeader + kDirectoryEntry * t;
        PutLE<uint32_t>(out.bytes, rootEntry, idField(types[t].id));
        PutLE<uint32_t>(out.bytes, rootEntry + 4, static_cast<uint32_t>(kHighBit | typeTables[t]));
        const auto& names = types[t].names;
        writeTable(typeTables[t], namedCount(names), names.size());
        for (size_t n = 0; n < names.size(); ++n, ++nameIndex) {
            const uint64_t typeEntry = typeTables[t] + kDirectoryHeader + kDirectoryEntry * n;
            const uint64_t languageTable = nameTables[nameIndex];
            PutLE<uint32_t>(out.bytes, typeEntry, idField(names[n].id));
            PutLE<uint32_t>(out.bytes, typeEntry + 4, static_cast<uint32_t>(kHighBit | languageTable));
            writeTable(languageTable, 0, names[n].languages.size());
            for (size_t l = 0; l < names[n].languages.size(); ++l, ++leafIndex) {
                const Leaf& leaf = *names[n].languages[l];
                const uint64_t nameEntry = languageTable + kDirectoryHeader + kDirectoryEntry * l;
                const uint64_t dataEntry = dataEntries + kDataEntry * leafIndex;
                PutLE<uint32_t>(out.bytes, nameEntry, leaf.language);
                PutLE<uint32_t>(out.bytes, nameEntry + 4, static_cast<uint32_t>(dataEntry));
                PutLE<uint32_t>(out.bytes, dataEntry, static_cast<uint32_t>(blobs[leafIndex]));
                PutLE<uint32_t>(out.bytes, dataEntry + 4, static_cast<uint32_t>(leaf.data->size()));
                out.rvaFields.push_back(dataEntry);
                std::copy(leaf.data->begin(), leaf.data->end(),
                          out.bytes.begin() + static_cast<std::ptrdiff_t>(blobs[leafIndex]));
            }
        }
    }
    for (const auto& [id, at] : strings) {
        PutLE<uint16_t>(out.bytes, at, static_cast<uint16_t>(id->text.size()));
        for (size_t i = 0; i < id->text.size(); ++i)
            PutLE<uint16_t>(out.bytes, at + 2 + 2 * i, id->text[i]);
    }
    return out;
}

// Placing the section in the image

bool IsPowerOfTwo(uint64_t v)
{
    return v != 0 && (v & (v - 1)) == 0;
}

bool DirectoryPointsInto(const PeImage& pe, unsigned index, const Section& s)
{
    const Directory d = pe.GetDirectory(index);
    return d.rva != 0 && d.rva >= s.virtualAddress && d.rva < s.VirtualEnd();
}

// A section after the resources may move to a new address when nothing but
// a data directory refers to it: the base relocations (whose blocks name
// other sections' pages) and DWARF debug sections (found by name, holding no
// addresses of their own).
bool Movable(const PeImage& pe, const Section& s)
{
    if (!(s.characteristics & kScnDiscardable) || (s.characteristics & (kScnCntCode | kScnMemExecute)))
        return false;
    bool relocations = false;
    for (unsigned d = 0; d < pe.directoryCount; ++d) {
        if (d == kSecurityDirectory || !DirectoryPointsInto(pe, d, s))
            continue;
        if (d != kBaseRelocDirectory)
            return false;
        relocations = true;
    }
    return relocations || s.name.rfind(".debug", 0) == 0;
}

void CheckLayout(const PeImage& pe)
{
    if (!IsPowerOfTwo(pe.fileAlignment) || !IsPowerOfTwo(pe.sectionAlignment) || pe.fileAlignment > pe.sectionAlignment ||
        pe.fileAlignment > 0x10000)
        Refuse("file alignment " + Hex(pe.fileAlignment) + " and section alignment " + Hex(pe.sectionAlignment) +
                   " are not powers of two with the first no larger (and at most 64 KiB)",
               pe.optionalHeader + 32);
    if (pe.directoryCount <= kResourceDirectory)
        Refuse("the optional header has no resource directory entry", pe.dataDirectories);
    const uint64_t tableEnd = pe.sectionTable + kSectionHeaderSize * pe.sections.size();
    std::vector<const Section*> byAddress;
    for (const Section& s : pe.sections) {
        if (s.sizeOfRawData != 0 && s.RawEnd() > pe.bytes.size())
            Fail("section \"" + s.name + "\" runs past the end of the file", s.headerOffset);
        if (s.sizeOfRawData != 0 && s.pointerToRawData < tableEnd)
            Fail("section \"" + s.name + "\" has its data inside the headers", s.headerOffset);
        byAddress.push_back(&s);
    }
    std::stable_sort(byAddress.begin(), byAddress.end(),
                     [](const Section* a, const Section* b) { return a->virtualAddress < b->virtualAddress; });
    for (size_t i = 1; i < byAddress.size(); ++i)
        if (byAddress[i]->virtualAddress < byAddress[i - 1]->VirtualEnd())
            Refuse("sections \"" + byAddress[i - 1]->name + "\" and \"" + byAddress[i]->name + "\" overlap",
                   byAddress[i]->headerOffset);
}

class Rebuilder {
public:
    Rebuilder(const PeImage& pe, SectionImage section) : pe_(pe), image_(pe.bytes), section_(std::move(section)) {}

    std::vector<uint8_t> Build()
    {
        CheckLayout(pe_);
        for (const Section& s : pe_.sections)
            if (s.sizeOfRawData != 0)
                rawEnd_ = std::max(rawEnd_, s.RawEnd());
        if (rawEnd_ == 0)
            rawEnd_ = std::min<uint64_t>(AlignUp(pe_.sizeOfHeaders, pe_.fileAlignment), image_.size());
        FindCertificate();
        const Section* resources = DedicatedResourceSection();
        if (resources && CanGrowInPlace(*resources))
            GrowInPlace(*resources);
        else
            AppendSection(resources);
        AppendTail();
        FixHeaders();
        PutLE<uint32_t>(out_, pe_.CheckSumField(), ImageChecksum(out_, pe_.CheckSumField()));
        return std::move(out_);
    }

private:
    struct Move {
        const Section* section;
        uint64_t newPointer;
        uint32_t newAddress;
    };

    // The resource section when it holds the resource tree from its first
    // byte and no other directory's data.
    const Section* DedicatedResourceSection() const
    {
        const Directory d = pe_.GetDirectory(kResourceDirectory);
        const Section* s = d.rva ? pe_.SectionOfRva(d.rva) : nullptr;
        if (!s || s->virtualAddress != d.rva || s->sizeOfRawData == 0)
            return nullptr;
        for (unsigned i = 0; i < pe_.directoryCount; ++i)
            if (i != kResourceDirectory && i != kSecurityDirectory && DirectoryPointsInto(pe_, i, *s))
                return nullptr;
        return s;
    }

    bool CanGrowInPlace(const Section& resources)
    {
        std::vector<const Section*> after;
        for (const Section& s : pe_.sections) {
            if (&s == &resources)
                continue;
            const bool later = s.virtualAddress > resources.virtualAddress;
            const bool laterInFile = s.sizeOfRawData != 0 && s.pointerToRawData >= resources.pointerToRawData;
            if (later != laterInFile && s.sizeOfRawData != 0)
                return false;
            if (!later)
                continue;
            if (!Movable(pe_, s) || (s.sizeOfRawData != 0 && s.pointerToRawData < resources.RawEnd()))
                return false;
            after.push_back(&s);
        }
        std::stable_sort(after.begin(), after.end(),
                         [](const Section* a, const Section* b) { return a->virtualAddress < b->virtualAddress; });
        for (const Section* s : after)
            moves_.push_back({s, 0, 0});
        return true;
    }

    void PlaceSection(uint64_t pointer, uint32_t address)
    {
        sectionPointer_ = pointer;
        sectionAddress_ = address;
        sectionRawSize_ = AlignUp(section_.bytes.size(), pe_.fileAlignment);
        section_.Relocate(address);
        out_.resize(pointer);
        out_.insert(out_.end(), section_.bytes.begin(), section_.bytes.end());
        out_.resize(pointer + sectionRawSize_);
    }

    void GrowInPlace(const Section& resources)
    {
        inPlace_ = &resources;
        keptPrefix_ = resources.pointerToRawData;
        out_.assign(image_.begin(), image_.begin() + static_cast<std::ptrdiff_t>(keptPrefix_));
        PlaceSection(resources.pointerToRawData,
                     CheckedAddress(resources.virtualAddress, AlignUp(section_.bytes.size(), pe_.fileAlignment)));
        uint64_t address = AlignUp(uint64_t(resources.virtualAddress) + sectionRawSize_, pe_.sectionAlignment);
        for (Move& m : moves_) {
            const Section& s = *m.section;
            m.newAddress = CheckedAddress(address, s.VirtualEnd() - s.virtualAddress);
            address = AlignUp(uint64_t(m.newAddress) + (s.VirtualEnd() - s.virtualAddress), pe_.sectionAlignment);
            if (s.sizeOfRawData == 0)
                continue;
            m.newPointer = AlignUp(out_.size(), pe_.fileAlignment);
            out_.resize(m.newPointer);
            out_.insert(out_.end(), image_.begin() + s.pointerToRawData, image_.begin() + static_cast<std::ptrdiff_t>(s.RawEnd()));
        }
    }

    uint32_t CheckedAddress(uint64_t address, uint64_t size) const
    {
        if (address + size > 0xFFFFFFFF)
            Refuse("no address space left for the resources", pe_.SizeOfImageField());
        return static_cast<uint32_t>(address);
    }

    void AppendSection(const Section* oldResources)
    {
        const uint64_t tableEnd = pe_.sectionTable + kSectionHeaderSize * pe_.sections.size();
        const uint64_t newEnd = tableEnd + kSectionHeaderSize;
        uint64_t firstData = image_.size(), firstAddress = UINT64_MAX, addressEnd = 0;
        for (const Section& s : pe_.sections) {
            if (s.sizeOfRawData != 0)
                firstData = std::min<uint64_t>(firstData, s.pointerToRawData);
            firstAddress = std::min<uint64_t>(firstAddress, s.virtualAddress);
            addressEnd = std::max(addressEnd, s.VirtualEnd());
        }
        bool room = newEnd <= firstData && newEnd <= firstAddress && newEnd <= image_.size() &&
                    AlignUp(std::max<uint64_t>(newEnd, pe_.sizeOfHeaders), pe_.fileAlignment) <= firstData;
        // Bound imports and the like may live right after the table.
        for (uint64_t at = tableEnd; room && at < newEnd; ++at)
            room = image_[at] == 0;
        for (unsigned d = 0; room && d < pe_.directoryCount; ++d) {
            const Directory dir = pe_.GetDirectory(d);
            room = d == kSecurityDirectory || dir.rva == 0 || dir.rva >= newEnd || uint64_t(dir.rva) + dir.size <= tableEnd;
        }
        if (!room)
            Refuse("no room for another section header before the first section's data", tableEnd);
        newHeader_ = tableEnd;
        if (newEnd > pe_.sizeOfHeaders)
            newSizeOfHeaders_ = static_cast<uint32_t>(AlignUp(newEnd, pe_.fileAlignment));
        if (oldResources && std::string(oldResources->rawName.begin(), oldResources->rawName.end()) ==
                                std::string(".rsrc\0\0\0", 8))
            deadResources_ = oldResources;

        keptPrefix_ = rawEnd_;
        out_.assign(image_.begin(), image_.begin() + static_cast<std::ptrdiff_t>(keptPrefix_));
        const uint64_t address = AlignUp(std::max<uint64_t>(addressEnd, pe_.sectionAlignment), pe_.sectionAlignment);
        PlaceSection(AlignUp(rawEnd_, pe_.fileAlignment), CheckedAddress(address, AlignUp(section_.bytes.size(), pe_.fileAlignment)));
    }

    void FindCertificate()
    {
        const Directory d = pe_.GetDirectory(kSecurityDirectory);
        // Its "RVA" is a file offset. Usually the last thing in the file.
        if (d.rva != 0 && d.size != 0 && d.rva >= rawEnd_ && uint64_t(d.rva) + d.size <= image_.size()) {
            certificateStart_ = d.rva;
            certificateEnd_ = uint64_t(d.rva) + d.size;
        }
    }

    // Symbol table, string table, overlay: everything after the sections,
    // less the certificate.
    void AppendTail()
    {
        tailStart_ = out_.size();
        const auto begin = image_.begin();
        if (certificateEnd_ > certificateStart_) {
            out_.insert(out_.end(), begin + static_cast<std::ptrdiff_t>(rawEnd_), begin + static_cast<std::ptrdiff_t>(certificateStart_));
            out_.insert(out_.end(), begin + static_cast<std::ptrdiff_t>(certificateEnd_), image_.end());
        } else {
            out_.insert(out_.end(), begin + static_cast<std::ptrdiff_t>(std::min<uint64_t>(rawEnd_, image_.size())), image_.end());
        }
    }

    // Where a byte of the old file is in the new one; none for the bytes of
    // the replaced resource section and the certificate.
    std::optional<uint64_t> NewOffset(uint64_t old) const
    {
        if (old < keptPrefix_)
            return old;
        for (const Move& m : moves_)
            if (m.section->sizeOfRawData != 0 && old >= m.section->pointerToRawData && old < m.section->RawEnd())
                return m.newPointer + (old - m.section->pointerToRawData);
        if (old < rawEnd_)
            return std::nullopt;
        if (old >= certificateStart_ && old < certificateEnd_)
            return std::nullopt;
        const uint64_t cut = old >= certificateEnd_ ? certificateEnd_ - certificateStart_ : 0;
        return tailStart_ + (old - rawEnd_ - cut);
    }

    uint32_t NewAddress(uint32_t rva) const
    {
        for (const Move& m : moves_) {
            const Section& s = *m.section;
            if (rva >= s.virtualAddress && rva < s.VirtualEnd())
                return m.newAddress + (rva - s.virtualAddress);
        }
        return rva;
    }

    void FixHeaders()
    {
        const uint64_t oldRaw = inPlace_ ? inPlace_->sizeOfRawData : 0;
        const int64_t initialised = int64_t(pe_.sizeOfInitializedData) + int64_t(sectionRawSize_) - int64_t(oldRaw);
        PutLE<uint32_t>(out_, pe_.SizeOfInitializedDataField(),
                        static_cast<uint32_t>(std::clamp<int64_t>(initialised, 0, 0xFFFFFFFF)));

        for (unsigned d = 0; d < pe_.directoryCount; ++d) {
            const Directory dir = pe_.GetDirectory(d);
            if (d != kSecurityDirectory && dir.rva != 0)
                PutLE<uint32_t>(out_, pe_.DirectoryField(d), NewAddress(dir.rva));
        }
        PutLE<uint32_t>(out_, pe_.DirectoryField(kResourceDirectory), sectionAddress_);
        PutLE<uint32_t>(out_, pe_.DirectoryField(kResourceDirectory) + 4, static_cast<uint32_t>(section_.bytes.size()));
        if (pe_.directoryCount > kSecurityDirectory) {
            PutLE<uint32_t>(out_, pe_.DirectoryField(kSecurityDirectory), 0);
            PutLE<uint32_t>(out_, pe_.DirectoryField(kSecurityDirectory) + 4, 0);
        }

        uint64_t addressEnd = uint64_t(sectionAddress_) + std::max<uint64_t>(section_.bytes.size(), sectionRawSize_);
        for (const Section& s : pe_.sections) {
            const Move* move = nullptr;
            for (const Move& m : moves_)
                if (m.section == &s)
                    move = &m;
            if (move) {
                PutLE<uint32_t>(out_, s.headerOffset + kSecVirtualAddress, move->newAddress);
                if (s.sizeOfRawData != 0)
                    PutLE<uint32_t>(out_, s.headerOffset + kSecPointerToRawData,
                                    static_cast<uint32_t>(move->newPointer));
                addressEnd = std::max(addressEnd, move->newAddress + (s.VirtualEnd() - s.virtualAddress));
            } else if (&s != inPlace_) {
                addressEnd = std::max(addressEnd, s.VirtualEnd());
            }
        }
        const uint64_t header = inPlace_ ? inPlace_->headerOffset : newHeader_;
        if (!inPlace_) {
            static const char kName[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
            std::copy_n(kName, 8, out_.begin() + static_cast<std::ptrdiff_t>(header));
            PutLE<uint32_t>(out_, header + kSecCharacteristics, kResourceCharacteristics);
            PutLE<uint16_t>(out_, pe_.NumberOfSectionsField(), static_cast<uint16_t>(pe_.sections.size() + 1));
            if (newSizeOfHeaders_)
                PutLE<uint32_t>(out_, pe_.SizeOfHeadersField(), newSizeOfHeaders_);
        }
        // The superseded section keeps its bytes but not the name, so tools
        // that look resources up by section name find the live one.
        if (deadResources_) {
            static const char kDead[8] = {'.', 'o', 'l', 'd', 'r', 's', 'r', 'c'};
            std::copy_n(kDead, 8, out_.begin() + static_cast<std::ptrdiff_t>(deadResources_->headerOffset));
        }
        PutLE<uint32_t>(out_, header + kSecVirtualSize, static_cast<uint32_t>(section_.bytes.size()));
        PutLE<uint32_t>(out_, header + kSecVirtualAddress, sectionAddress_);
        PutLE<uint32_t>(out_, header + kSecSizeOfRawData, static_cast<uint32_t>(sectionRawSize_));
        PutLE<uint32_t>(out_, header + kSecPointerToRawData, static_cast<uint32_t>(sectionPointer_));
        PutLE<uint32_t>(out_, pe_.SizeOfImageField(), static_cast<uint32_t>(AlignUp(addressEnd, pe_.sectionAlignment)));

        if (pe_.pointerToSymbolTable != 0) {
            const auto moved = NewOffset(pe_.pointerToSymbolTable);
            PutLE<uint32_t>(out_, pe_.PointerToSymbolTableField(), moved ? static_cast<uint32_t>(*moved) : 0);
            if (!moved)
                PutLE<uint32_t>(out_, pe_.NumberOfSymbolsField(), 0);
        }
        FixDebugDirectory();
    }

    // Debug directory entries give their data's file offset as well.
    void FixDebugDirectory()
    {
        const Directory dir = pe_.GetDirectory(kDebugDirectory);
        constexpr uint64_t kEntry = 28, kPointerField = 24;
        if (dir.rva == 0)
            return;
        std::span<const uint8_t> entries;
        try {
            entries = pe_.MapRva(dir.rva, dir.size / kEntry * kEntry, "debug directory", pe_.DirectoryField(kDebugDirectory));
        } catch (const FormatError&) {
            return;  // one we cannot find has nothing we could keep right
        }
        if (entries.empty())
            return;
        const auto at = NewOffset(static_cast<uint64_t>(entries.data() - image_.data()));
        if (!at)
            return;
        for (uint64_t i = 0; i < entries.size() / kEntry; ++i) {
            const uint32_t pointer = ImageReader(entries).Get<uint32_t>(kEntry * i + kPointerField);
            const auto moved = pointer ? NewOffset(pointer) : std::nullopt;
            if (moved)
                PutLE<uint32_t>(out_, *at + kEntry * i + kPointerField, static_cast<uint32_t>(*moved));
        }
    }

    const PeImage& pe_;
    std::span<const uint8_t> image_;
    SectionImage section_;
    std::vector<uint8_t> out_;

    uint64_t rawEnd_ = 0;      // end of the last section's data in the old file
    uint64_t keptPrefix_ = 0;  // old bytes kept at their offsets
    uint64_t tailStart_ = 0;
    uint64_t certificateStart_ = 0, certificateEnd_ = 0;
    const Section* inPlace_ = nullptr;
    const Section* deadResources_ = nullptr;
    std::vector<Move> moves_;
    uint64_t newHeader_ = 0;
    uint32_t newSizeOfHeaders_ = 0;
    uint64_t sectionPointer_ = 0;
    uint32_t sectionAddress_ = 0;
    uint64_t sectionRawSize_ = 0;
};

} // namespace

std::vector<ResourceEntry> CanonicalResources(const std::vector<ResourceEntry>& entries)
{
    std::vector<ResourceEntry> out;
    for (const Leaf& leaf : Canonicalize(entries))
        out.push_back({leaf.type.Text(), leaf.name.Text(), leaf.language, *leaf.data});
    return out;
}

std::vector<uint8_t> ReplaceResources(std::span<const uint8_t> image, const std::vector<ResourceEntry>& entries)
{
    const PeImage pe = ParseImage(image);
    const std::vector<Leaf> leaves = Canonicalize(entries);
    // Nothing to remove and nothing to add: the file (and any signature)
    // stays as it is.
    if (leaves.empty() && pe.GetDirectory(kResourceDirectory).rva == 0)
        return {image.begin(), image.end()};
    return Rebuilder(pe, BuildSection(leaves)).Build();
}

void ReplaceResources(const std::string& path, const std::vector<ResourceEntry>& entries)
{
    MemoryStream file;
    file.LoadFromFile(path);
    std::vector<uint8_t> out;
    try {
        out = ReplaceResources(std::span<const uint8_t>(file.Bytes()), entries);
    } catch (const FormatError& e) {
        throw WithPath(e, path);
    }
    if (out != file.Bytes())
        fs::WriteFileAtomic(path, out);
}

} // namespace qv::pe
