#include "PeImage.h"
#include "quorvane/base/Stream.h"
#include "quorvane/platform/CodePage.h"

#include <algorithm>
#include <unordered_set>

namespace qv::pe {

using namespace detail;

namespace {

constexpr uint32_t kHighBit = 0x80000000u;
constexpr uint64_t kDirectoryHeader = 16, kDirectoryEntry = 8, kDataEntry = 16;
// type -> name -> language -> data; nothing else is a valid tree.
constexpr int kLevels = 3;
const char* const kLevelNames[kLevels] = {"type", "name", "language"};

struct TreeEntry {
    std::string id;      // as the caller sees it
    bool named = false;
    uint16_t number = 0;
    uint32_t target = 0;  // offset of a subdirectory (high bit) or a data entry
    uint64_t field = 0;   // file offset of the entry, for messages
};

// Walks the resource tree inside the resource section. Offsets in the tree
// are relative to its root, which is where `section_` begins.
class TreeReader {
public:
    TreeReader(const PeImage& pe, std::span<const uint8_t> section, uint64_t sectionOffset)
        : pe_(pe), section_(ImageReader(section, sectionOffset, "the resource section")),
          // Entries may share names and data, but not so often that a tiny
          // file asks for gigabytes of copies.
          budget_(2 * uint64_t(pe.bytes.size()) + (16u << 20))
    {
    }

    std::vector<ResourceEntry> Read()
    {
        std::vector<ResourceEntry> out;
        std::string ids[2];
        Walk(0, 0, ids, out);
        return out;
    }

private:
    std::vector<TreeEntry> ReadTable(uint32_t offset, int level)
    {
        const char* levelName = kLevelNames[level];
        const std::string what = std::string("resource ") + levelName + " directory";
        section_.Require(offset, kDirectoryHeader, what);
        const uint32_t named = section_.Get<uint16_t>(offset + 12, "resource directory");
        const uint32_t numbered = section_.Get<uint16_t>(offset + 14, "resource directory");
        const uint64_t count = uint64_t(named) + numbered;
        if (!section_.Has(offset + kDirectoryHeader, count * kDirectoryEntry))
            Fail(what + " claims " + std::to_string(named) + " named and " + std::to_string(numbered) +
                     " numeric entries, more than the resource section holds",
                 section_.base() + offset + 12);

        std::vector<TreeEntry> entries;
        entries.reserve(count);
        for (uint64_t i = 0; i < count; ++i) {
            const uint64_t at = offset + kDirectoryHeader + kDirectoryEntry * i;
            TreeEntry e;
            e.field = section_.base() + at;
            const uint32_t id = section_.Get<uint32_t>(at, "resource directory entry");
            e.target = section_.Get<uint32_t>(at + 4, "resource directory entry");
            if (id & kHighBit) {
                if (level == kLevels - 1)
                    Fail("resource language entry has a name instead of a language number", e.field);
                e.named = true;
                e.id = ReadName(id & ~kHighBit, e.field);
            } else {
                // The loader keeps only the low 16 bits of a numeric identifier.
                e.number = static_cast<uint16_t>(id);
                e.id = std::to_string(e.number);
            }
            entries.push_back(std::move(e));
        }
        // The loader's enumeration order: named entries as stored, then
        // numeric ones ascending.
        auto firstNumbered = std::stable_partition(entries.begin(), entries.end(), [](const TreeEntry& e) { return e.named; });
        std::stable_sort(firstNumbered, entries.end(),
                         [](const TreeEntry& a, const TreeEntry& b) { return a.number < b.number; });
        return entries;
    }

    std::string ReadName(uint32_t offset, uint64_t field)
    {
        if (!section_.Has(offset, 2))
            Fail("resource name at " + Hex(offset) + " lies outside the resource section", field);
        const uint16_t length = section_.Get<uint16_t>(offset, "resource name");
        section_.Require(offset + 2, 2ull * length, "resource name");
        Charge(2ull * length, field);
        std::u16string text(length, u'\0');
        for (size_t i = 0; i < length; ++i)
            text[i] = section_.Get<char16_t>(offset + 2 + 2 * i, "resource name");
        return codepage::FromUtf16(text);
    }

    void Walk(uint32_t offset, int level, std::string (&ids)[2], std::vector<ResourceEntry>& out)
    {
        // A directory may appear once in the tree: a loop or shared subtree
        // could otherwise multiply the work without bound.
        if (std::find(ancestors_.begin(), ancestors_.end(), offset) != ancestors_.end())
            Fail("loop in the resource tree: directory " + Hex(offset) + " contains itself",
                 section_.base() + offset);
        if (!visited_.insert(offset).second)
            Fail("resource directory " + Hex(offset) + " is referenced twice", section_.base() + offset);
        ancestors_.push_back(offset);

        for (const TreeEntry& e : ReadTable(offset, level)) {
            const bool isDirectory = (e.target & kHighBit) != 0;
            if (level < kLevels - 1) {
                if (!isDirectory)
                    Fail(std::string("resource ") + kLevelNames[level] + " entry \"" + e.id +
                             "\" points at data instead of a directory",
                         e.field);
                ids[level] = e.id;
                Walk(e.target & ~kHighBit, level + 1, ids, out);
                continue;
            }
            if (isDirectory)
                Fail("resource tree is deeper than type, name and language", e.field);
            Charge(ids[0].size() + ids[1].size(), e.field);
            out.push_back({ids[0], ids[1], e.number, ReadData(e.target, e.field)});
        }
        ancestors_.pop_back();
    }

    std::vector<uint8_t> ReadData(uint32_t offset, uint64_t field)
    {
        if (!section_.Has(offset, kDataEntry))
            Fail("resource data entry at " + Hex(offset) + " lies outside the resource section", field);
        const uint64_t entry = section_.base() + offset;
        const uint32_t rva = section_.Get<uint32_t>(offset, "resource data entry");
        const uint32_t size = section_.Get<uint32_t>(offset + 4, "resource data entry");
        if (size == 0)
            return {};  // nothing to map, wherever it claims to be
        const auto bytes = pe_.MapRva(rva, size, "resource data", entry);
        Charge(size, entry);
        return {bytes.begin(), bytes.end()};
    }

    void Charge(uint64_t bytes, uint64_t offset)
    {
        if (bytes > budget_)
            Fail("resource tree uses the same names or data too often", offset);
        budget_ -= bytes;
    }

    const PeImage& pe_;
    LeReader section_;
    uint64_t budget_;
    std::vector<uint32_t> ancestors_;
    std::unordered_set<uint32_t> visited_;
};

} // namespace

std::vector<ResourceEntry> ReadResources(std::span<const uint8_t> image)
{
    const PeImage pe = ParseImage(image);
    const Directory dir = pe.GetDirectory(kResourceDirectory);
    if (dir.rva == 0)
        return {};
    const uint64_t field = pe.DirectoryField(kResourceDirectory);
    const auto section = pe.RestOfSection(dir.rva, "resource directory", field);
    const uint64_t sectionOffset = static_cast<uint64_t>(section.data() - image.data());
    return TreeReader(pe, section, sectionOffset).Read();
}

std::vector<ResourceEntry> ReadResources(const std::string& path)
{
    MemoryStream file;
    file.LoadFromFile(path);
    try {
        return ReadResources(std::span<const uint8_t>(file.Bytes()));
    } catch (const FormatError& e) {
        throw WithPath(e, path);
    }
}

} // namespace qv::pe
