#include "PeTestSupport.h"
#include "TestSupport.h"

#include "quorvane/platform/FileSystem.h"
#include "quorvane/base/Stream.h"
#include "quorvane/platform/pe/PeResources.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>
#include <set>

using namespace qvtest::pe;
using qv::pe::ReadResources;
using qv::pe::ResourceEntry;
using qvtest::FailureOf;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t kRsrcRva = 0x2000;

std::vector<uint8_t> Bytes(std::string_view text)
{
    return {text.begin(), text.end()};
}

Node Lang(uint32_t language, std::string data)
{
    return {u"", language, {}, std::move(data)};
}
Node Id(uint32_t id, std::vector<Node> children)
{
    return {u"", id, std::move(children), {}};
}
Node Named(std::u16string name, std::vector<Node> children)
{
    return {std::move(name), 0, std::move(children), {}};
}

ImageLayout ImageWith(std::vector<uint8_t> rsrc, bool pe32Plus = true)
{
    ImageLayout layout;
    layout.pe32Plus = pe32Plus;
    layout.sections.push_back({".text", 0x1000, 0, std::vector<uint8_t>(0x200, 0xC3), 0x60000020});
    layout.directories[2] = {kRsrcRva, static_cast<uint32_t>(rsrc.size())};
    layout.sections.push_back({".rsrc", kRsrcRva, 0, std::move(rsrc)});
    return layout;
}

// Stored deliberately out of loader order: numeric identifiers descending,
// named ones in an order that is not alphabetical.
std::vector<Node> UnorderedTree()
{
    return {
        Named(u"ZED", {Id(1, {Lang(0, "zed one")})}),
        Named(u"Alpha", {Named(u"lower", {Lang(0, "alpha lower")})}),
        Id(16, {Id(1, {Lang(1033, "version")})}),
        Id(3, {Named(u"ICON", {Lang(0, "named icon")}),
               Id(9, {Lang(0, "icon nine")}),
               Id(2, {Lang(1033, "icon two en"), Lang(0, "icon two neutral")})}),
    };
}

std::string Expected(std::initializer_list<ResourceEntry> entries)
{
    return Describe(std::vector<ResourceEntry>(entries));
}

// The message of the FormatError that reading `image` must throw.
std::string ReadFailure(const std::vector<uint8_t>& image)
{
    try {
        ReadResources(image);
    } catch (const qv::pe::FormatError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Invalid executable: ", 0), 0u) << e.what();
        return e.what();
    }
    ADD_FAILURE() << "no error";
    return {};
}

size_t RsrcOffset(const std::vector<uint8_t>& image)
{
    return Get32(image, SectionTable(ImageLayout{}) + 40 + 20);
}

uint32_t RootEntryTarget(const std::vector<uint8_t>& image, unsigned index)
{
    return Get32(image, RsrcOffset(image) + 16 + 8 * index + 4) & 0x7fffffff;
}

// File offset of the target field of the first type's first name's first
// language entry, and that target (a data entry offset in the section).
size_t LanguageEntryField(const std::vector<uint8_t>& image)
{
    const size_t rsrc = RsrcOffset(image);
    const uint32_t languages = Get32(image, rsrc + RootEntryTarget(image, 0) + 16 + 4) & 0x7fffffff;
    return rsrc + languages + 16 + 4;
}
uint32_t FirstLanguageTarget(const std::vector<uint8_t>& image)
{
    return Get32(image, LanguageEntryField(image));
}

} // namespace

TEST(PeRead, EntriesComeInLoaderOrderWithTheirBytes)
{
    for (const bool pe32Plus : {true, false}) {
        const auto image = BuildImage(ImageWith(Assemble(UnorderedTree(), kRsrcRva), pe32Plus));
        const auto entries = ReadResources(image);
        EXPECT_EQ(Describe(entries), Expected({
                                         {"ZED", "1", 0, Bytes("zed one")},
                                         {"Alpha", "lower", 0, Bytes("alpha lower")},
                                         {"3", "ICON", 0, Bytes("named icon")},
                                         {"3", "2", 0, Bytes("icon two neutral")},
                                         {"3", "2", 1033, Bytes("icon two en")},
                                         {"3", "9", 0, Bytes("icon nine")},
                                         {"16", "1", 1033, Bytes("version")},
                                     }))
            << (pe32Plus ? "PE32+" : "PE32");
        ASSERT_EQ(entries.size(), 7u);
        EXPECT_EQ(entries[3].data, Bytes("icon two neutral"));
    }
}

TEST(PeRead, NamesAreConvertedFromUtf16)
{
    const auto image = BuildImage(ImageWith(Assemble(
        {Named(u"T\u00c9ST", {Named(u"\u0416\U0001F600", {Lang(7, "x")})})}, kRsrcRva)));
    const auto entries = ReadResources(image);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].type, "T\xc3\x89ST");
    EXPECT_EQ(entries[0].name, "\xd0\x96\xf0\x9f\x98\x80");
    EXPECT_EQ(entries[0].language, 7);
}

TEST(PeRead, NoResourceDirectoryMeansNoResources)
{
    ImageLayout layout;
    layout.sections.push_back({".text", 0x1000, 0, std::vector<uint8_t>(0x200, 0xC3), 0x60000020});
    EXPECT_TRUE(ReadResources(BuildImage(layout)).empty());
    // Too few data directories to have a resource entry at all.
    layout.numberOfRvaAndSizes = 2;
    EXPECT_TRUE(ReadResources(BuildImage(layout)).empty());
}

TEST(PeRead, DataMayLieInAnotherSection)
{
    TreeBytes t(0x80);
    t.Directory(0, 0, 1);
    t.Entry(0, 0, 10, TreeBytes::kSubdirectory | 0x18);
    t.Directory(0x18, 0, 1);
    t.Entry(0x18, 0, 1, TreeBytes::kSubdirectory | 0x30);
    t.Directory(0x30, 0, 2);
    t.Entry(0x30, 0, 0, 0x50);
    t.Entry(0x30, 1, 9, 0x60);
    t.DataEntry(0x50, 0x3010, 5);
    t.DataEntry(0x60, 0, 0);  // empty, at no address at all
    ImageLayout layout = ImageWith(t.bytes);
    std::vector<uint8_t> data(0x40, 0);
    std::copy_n("there", 5, data.begin() + 0x10);
    layout.sections.push_back({".data", 0x3000, 0, data});
    const auto entries = ReadResources(BuildImage(layout));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].data, Bytes("there"));
    EXPECT_TRUE(entries[1].data.empty());
}

TEST(PeRead, MalformedInputsGiveClearErrors)
{
    const auto good = BuildImage(ImageWith(Assemble(UnorderedTree(), kRsrcRva)));
    const size_t rsrc = Get32(good, SectionTable(ImageLayout{}) + 40 + 20);
    ASSERT_EQ(ReadResources(good).size(), 7u);

    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> mutate;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"truncated DOS header", [](auto& b) { b.resize(0x30); }, "the DOS header runs past the end of the file"},
        {"no MZ", [](auto& b) { b[1] = 'X'; }, "no DOS signature \"MZ\" (offset 0x0)"},
        {"PE header beyond the end", [](auto& b) { Put32(b, 0x3c, 0x7ffffff0); }, "the PE header runs past the end"},
        {"no PE signature", [](auto& b) { b[kPeHeader + 1] = 'X'; }, "no PE signature"},
        {"truncated PE header", [](auto& b) { b.resize(kPeHeader + 12); }, "the PE header runs past the end"},
        {"unknown magic", [](auto& b) { Put16(b, kOptionalHeader, 0x999); }, "unknown optional header magic 0x999"},
        {"tiny optional header", [](auto& b) { Put16(b, kFileHeader + 16, 20); }, "optional header of 20 bytes is too small"},
        {"absurd section count", [](auto& b) { Put16(b, kFileHeader + 2, 0xffff); }, "the section table runs past the end"},
        {"directory outside every section",
         [&](auto& b) { Put32(b, DirectoryField(ImageLayout{}, 2), 0x90000); },
         "resource directory at RVA 0x90000 lies outside every section"},
        {"absurd NumberOfNamedEntries", [&](auto& b) { Put16(b, rsrc + 12, 0xffff); },
         "claims 65535 named and 2 numeric entries, more than the resource section holds"},
        {"loop back to the root",
         [&](auto& b) {
             const uint32_t typeDir = RootEntryTarget(b, 0);
             Put32(b, rsrc + typeDir + 16 + 4, TreeBytes::kSubdirectory | 0);
         },
         "loop in the resource tree: directory 0x0 contains itself"},
        {"shared subdirectory",
         [&](auto& b) { Put32(b, rsrc + 16 + 8 + 4, TreeBytes::kSubdirectory | RootEntryTarget(b, 0)); },
         "is referenced twice"},
        {"type entry pointing at data", [&](auto& b) { Put32(b, rsrc + 16 + 4, 0x10); },
         "resource type entry \"ZED\" points at data instead of a directory"},
        {"language entry pointing at a directory",
         [&](auto& b) { Put32(b, LanguageEntryField(b), TreeBytes::kSubdirectory); },
         "resource tree is deeper than type, name and language"},
        {"name outside the section", [&](auto& b) { Put32(b, rsrc + 16, TreeBytes::kNamed | 0x7ffff000); },
         "resource name at 0x7ffff000 lies outside the resource section"},
        {"data RVA outside every section", [&](auto& b) { Put32(b, rsrc + FirstLanguageTarget(b), 0x123456); },
         "resource data at RVA 0x123456 lies outside every section"},
        {"data running past its section", [&](auto& b) { Put32(b, rsrc + FirstLanguageTarget(b) + 4, 0xfffffff0); },
         "(4294967280 bytes) runs past the end of section \".rsrc\""},
        {"file cut inside the resource section", [&](auto& b) { b.resize(rsrc + 0x20); },
         "resource type directory claims 2 named and 2 numeric entries, more than the resource section holds"},
    };
    for (const Case& c : cases) {
        auto bytes = good;
        c.mutate(bytes);
        const std::string message = ReadFailure(bytes);
        EXPECT_NE(message.find(c.message), std::string::npos) << c.what << ": " << message;
    }
}

TEST(PeRead, SharedBytesCannotMultiplyWithoutBound)
{
    // 400 languages of one name all pointing at one 60 KB blob: 24 MB of
    // copies from a 64 KB file.
    const uint32_t languages = 0x40, entry = languages + 16 + 8 * 400, blob = entry + 16;
    TreeBytes t(blob + 60000);
    t.Directory(0, 0, 1);
    t.Entry(0, 0, 10, TreeBytes::kSubdirectory | 0x18);
    t.Directory(0x18, 0, 1);
    t.Entry(0x18, 0, 1, TreeBytes::kSubdirectory | languages);
    t.Directory(languages, 0, 400);
    for (unsigned i = 0; i < 400; ++i)
        t.Entry(languages, i, i, entry);
    t.DataEntry(entry, kRsrcRva + blob, 60000);
    const std::string message = ReadFailure(BuildImage(ImageWith(t.bytes)));
    EXPECT_NE(message.find("resource tree uses the same names or data too often"), std::string::npos) << message;

    // Shared a few times, it is fine.
    t.Directory(languages, 0, 3);
    EXPECT_EQ(ReadResources(BuildImage(ImageWith(t.bytes))).size(), 3u);
}

TEST(PeRead, PathVersionNamesTheFile)
{
    qvtest::TempDir dir;
    auto bytes = BuildImage(ImageWith(Assemble(UnorderedTree(), kRsrcRva)));
    qvtest::WriteFile(dir / "good.exe", bytes);
    EXPECT_EQ(ReadResources((dir / "good.exe").string()).size(), 7u);

    bytes[0] = 'X';
    qvtest::WriteFile(dir / "bad.exe", bytes);
    const std::string bad = (dir / "bad.exe").string();
    try {
        ReadResources(bad);
        FAIL() << "no error";
    } catch (const qv::pe::FormatError& e) {
        EXPECT_EQ(std::string(e.what()), "Invalid executable \"" + bad + "\": no DOS signature \"MZ\" (offset 0x0)");
    }
    EXPECT_THROW(ReadResources((dir / "missing.exe").string()), qv::OsError);
}

TEST(PeRead, SampleProgramsMatchWhatTheWindowsLoaderListed)
{
    // Listed by the probe under wine for these very samples.
    const std::string expected = "MYTYPE\tMIXED\t0\t11\tf62ae8ca\n"
                                 "MYTYPE\t300\t0\t24\tb31fa5ed\n"
                                 "6\t1\t1031\t68\t789a82f5\n"
                                 "6\t1\t1033\t82\t53d16c65\n"
                                 "10\tSETTINGS\t0\t10\t2bcf514d\n"
                                 "10\t7\t0\t11\tb1ca21ff\n"
                                 "16\t1\t0\t340\tcdfc84fd\n";
    for (const char* sample : {QV_PE_SAMPLE64, QV_PE_SAMPLE32, QV_PE_SAMPLE64_UNSTRIPPED}) {
        if (!*sample)
            GTEST_SKIP() << "mingw-w64 cross compiler not installed";
        const auto entries = ReadResources(std::string(sample));
        EXPECT_EQ(Describe(entries), expected) << sample;
        ASSERT_EQ(entries.size(), 7u);
        EXPECT_EQ(entries[4].data, Bytes("named data"));
    }
}

namespace {

// The bytes of every section but the resources, by section index; moving
// sections may change where they are, never what they hold.
std::vector<std::vector<uint8_t>> SectionContents(const std::vector<uint8_t>& image)
{
    const auto pe = qv::pe::detail::ParseImage(image);
    const auto resources = pe.GetDirectory(2);
    std::vector<std::vector<uint8_t>> out;
    for (const auto& s : pe.sections) {
        if (resources.rva != 0 && s.HoldsRva(resources.rva))
            out.emplace_back();
        else
            out.emplace_back(image.begin() + s.pointerToRawData, image.begin() + s.pointerToRawData + s.sizeOfRawData);
    }
    return out;
}

} // namespace

TEST(PeCorpus, WineProgramsSurviveARoundTrip)
{
    // Known failures may only shrink; none are expected.
    const std::set<std::string> knownFailures = {};
    std::vector<fs::path> files;
    for (const char* dir : {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/lib/i386-linux-gnu/wine/i386-windows"}) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(dir, ec))
            if (e.is_regular_file() && e.file_size() <= 30u << 20)
                files.push_back(e.path());
    }
    if (files.empty())
        GTEST_SKIP() << "wine's Windows programs are not installed";
    std::sort(files.begin(), files.end());
    qvtest::TempDir dir;
    size_t covered = 0, withResources = 0, resources = 0, throughFiles = 0;
    for (const fs::path& f : files) {
        qv::MemoryStream file;
        file.LoadFromFile(f.string());
        const std::vector<uint8_t>& original = file.Bytes();
        if (original.size() < 2 || original[0] != 'M' || original[1] != 'Z')
            continue;
        SCOPED_TRACE(f.string());
        const bool known = knownFailures.count(f.filename().string()) != 0;
        try {
            const auto entries = ReadResources(original);
            auto rewritten = qv::pe::ReplaceResources(std::span<const uint8_t>(original), entries);
            // Through the file as well, for a share of them: the atomic
            // write's flush is what takes time here.
            if (!entries.empty() && withResources % 10 == 0) {
                const fs::path copy = dir / f.filename();
                qvtest::WriteFile(copy, original);
                qv::pe::ReplaceResources(copy.string(), entries);
                EXPECT_EQ(qvtest::ReadFile(copy), rewritten);
                fs::remove(copy);
                ++throughFiles;
            }
            EXPECT_EQ(ReadResources(rewritten), entries);
            EXPECT_EQ(SectionContents(rewritten), SectionContents(original));
            if (!entries.empty()) {
                EXPECT_EQ(Get32(rewritten, CheckSumField(rewritten)), StraightChecksum(rewritten));
            }
            EXPECT_FALSE(known) << "passes now: remove it from the known failures";
            ++covered;
            withResources += !entries.empty();
            resources += entries.size();
        } catch (const std::exception& e) {
            EXPECT_TRUE(known) << e.what();
        }
    }
    std::printf("round trip: %zu files (%zu with resources, %zu resources; %zu through the file)\n", covered,
                withResources, resources, throughFiles);
    EXPECT_GT(covered, 100u);
}

// Writing

namespace {

using qv::pe::CanonicalResources;
using qv::pe::detail::ParseImage;

std::vector<uint8_t> Rewrite(const std::vector<uint8_t>& image, const std::vector<ResourceEntry>& entries)
{
    return qv::pe::ReplaceResources(std::span<const uint8_t>(image), entries);
}

#define REQUIRE_SAMPLE(sample)                                      \
    if (!*(sample))                                                 \
    GTEST_SKIP() << "mingw-w64 cross compiler not installed"

// Checks the raw tables the loader searches: named entries first and
// counted as such, names ascending by UTF-16 unit, numbers ascending.
void ExpectSearchableTree(const std::vector<uint8_t>& image)
{
    const auto pe = ParseImage(image);
    const auto dir = pe.GetDirectory(2);
    const auto* s = pe.SectionOfRva(dir.rva);
    ASSERT_NE(s, nullptr);
    const size_t base = s->pointerToRawData + (dir.rva - s->virtualAddress);
    std::function<void(uint32_t, int)> walk = [&](uint32_t at, int level) {
        const size_t named = Get16(image, base + at + 12), count = named + Get16(image, base + at + 14);
        std::u16string lastName;
        int64_t lastId = -1;
        for (size_t i = 0; i < count; ++i) {
            const uint32_t id = Get32(image, base + at + 16 + 8 * i);
            const uint32_t target = Get32(image, base + at + 16 + 8 * i + 4);
            EXPECT_EQ((id >> 31) != 0, i < named) << "entry " << i << " at " << at;
            if (id >> 31) {
                const size_t name = base + (id & 0x7fffffff);
                std::u16string text;
                for (size_t k = 0; k < Get16(image, name); ++k)
                    text += static_cast<char16_t>(Get16(image, name + 2 + 2 * k));
                EXPECT_TRUE(i == 0 || lastName < text);
                lastName = text;
            } else {
                EXPECT_LT(lastId, int64_t(id));
                lastId = id;
            }
            EXPECT_EQ((target >> 31) != 0, level < 2);
            if (level < 2) {
                walk(target & 0x7fffffff, level + 1);
                continue;
            }
            EXPECT_EQ(target % 4, 0u);
            // Data inside the section, even an empty blob.
            const uint32_t rva = Get32(image, base + target), size = Get32(image, base + target + 4);
            EXPECT_GE(rva, s->virtualAddress);
            EXPECT_LT(rva, s->virtualAddress + s->virtualSize);
            EXPECT_LE(uint64_t(rva) + size, s->virtualAddress + s->virtualSize);
            EXPECT_EQ(rva % 8, 0u);
        }
    };
    walk(0, 0);
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t at, size_t size)
{
    return {bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at + size)};
}

} // namespace

TEST(PeWrite, IdentifiersAreStoredAsTheUpdateFunctionsStoreThem)
{
    const auto image = BuildImage(ImageWith(Assemble({Id(10, {Id(1, {Lang(0, "old")})})}, kRsrcRva)));
    const std::vector<ResourceEntry> entries = {
        {"myType", "\xc3\xa9" "clair", 0, Bytes("accented")},  // éclair
        {"myType", "Stra\xc3\x9f" "e", 0, Bytes("sharp s has no one-unit upper case")},
        {"0016", "007", 1033, Bytes("digits only")},
        {"10", "12a", 0, Bytes("not only digits")},
        {"10", "0", 0, Bytes("zero")},
    };
    const auto read = ReadResources(Rewrite(image, entries));
    EXPECT_EQ(Describe(read), Expected({
                                  {"MYTYPE", "STRA\xc3\x9f" "E", 0, Bytes("sharp s has no one-unit upper case")},
                                  {"MYTYPE", "\xc3\x89" "CLAIR", 0, Bytes("accented")},
                                  {"10", "12A", 0, Bytes("not only digits")},
                                  {"10", "0", 0, Bytes("zero")},
                                  {"16", "7", 1033, Bytes("digits only")},
                              }));
    EXPECT_EQ(read, CanonicalResources(entries));

    for (const auto& [type, name, message] : std::vector<std::array<std::string, 3>>{
             {"", "1", "Resource type is empty"},
             {"10", "", "Resource name is empty"},
             {"10", "65536", "Resource name \"65536\" is too large for a numeric identifier"},
             {"99999999999999999999", "1", "Resource type \"99999999999999999999\" is too large for a numeric identifier"},
         }) {
        try {
            Rewrite(image, {{type, name, 0, {}}});
            ADD_FAILURE() << message;
        } catch (const qv::Error& e) {
            EXPECT_EQ(std::string(e.what()), message);
        }
    }
    EXPECT_EQ(ReadResources(Rewrite(image, {{"10", "65535", 0, {}}}))[0].name, "65535");
}

TEST(PeWrite, LaterEntryWinsAndLanguagesStayApart)
{
    const auto image = BuildImage(ImageWith(Assemble({Id(10, {Id(1, {Lang(0, "old")})})}, kRsrcRva)));
    const auto read = ReadResources(Rewrite(image, {
                                                       {"10", "NAME", 0, Bytes("first")},
                                                       {"10", "NAME", 1033, Bytes("english")},
                                                       {"10", "name", 0, Bytes("second")},
                                                       {"10", "1", 1031, Bytes("german")},
                                                       {"10", "1", 0, Bytes("neutral")},
                                                   }));
    EXPECT_EQ(Describe(read), Expected({
                                  {"10", "NAME", 0, Bytes("second")},
                                  {"10", "NAME", 1033, Bytes("english")},
                                  {"10", "1", 0, Bytes("neutral")},
                                  {"10", "1", 1031, Bytes("german")},
                              }));
}

TEST(PeWrite, DirectoriesAreSortedForTheLoadersSearch)
{
    const auto image = BuildImage(ImageWith(Assemble({Id(10, {Id(1, {Lang(0, "old")})})}, kRsrcRva)));
    const std::vector<ResourceEntry> entries = {
        {"b", "zeta", 5, {}},  {"A", "x", 0, {}},    {"AB", "x", 0, {}},  {"300", "2", 0, {}},
        {"3", "y", 9, {}},     {"3", "X", 2, {}},    {"3", "9", 1, {}},   {"3", "10", 0, {}},
        {"3", "9", 0, {}},     {"c", "_", 0, {}},    {"3", "Z", 0, {}},   {"b", "ALPHA", 1, {}},
    };
    const auto rewritten = Rewrite(image, entries);
    ExpectSearchableTree(rewritten);
    std::string order;
    for (const auto& e : ReadResources(rewritten))
        order += e.type + "/" + e.name + "/" + std::to_string(e.language) + " ";
    EXPECT_EQ(order, "A/X/0 AB/X/0 B/ALPHA/1 B/ZETA/5 C/_/0 3/X/2 3/Y/9 3/Z/0 3/9/0 3/9/1 3/10/0 300/2/0 ");
}

TEST(PeWrite, SamplesKeepEveryResourceAndGainNewOnes)
{
    for (const char* sample : {QV_PE_SAMPLE64, QV_PE_SAMPLE32}) {
        REQUIRE_SAMPLE(sample);
        SCOPED_TRACE(sample);
        const auto original = qvtest::ReadFile(sample);
        const auto entries = ReadResources(original);
        EXPECT_EQ(ReadResources(Rewrite(original, entries)), entries);
        const auto grown = Rewrite(original, Join(entries, Extra()));
        ExpectSearchableTree(grown);
        EXPECT_EQ(ReadResources(grown), CanonicalResources(Join(entries, Extra())));
        EXPECT_EQ(Get32(grown, CheckSumField(grown)), StraightChecksum(grown));
        EXPECT_EQ(SectionContents(grown), SectionContents(original));
    }
}

TEST(PeWrite, RelocationsAfterTheResourcesMoveWithTheirDirectory)
{
    REQUIRE_SAMPLE(QV_PE_SAMPLE64);
    const auto original = qvtest::ReadFile(QV_PE_SAMPLE64);
    const auto before = ParseImage(original);
    const auto& oldReloc = SectionNamed(before, ".reloc");
    ASSERT_EQ(before.GetDirectory(5).rva, oldReloc.virtualAddress);

    for (const size_t extra : {size_t(20000), size_t(0)}) {
        // Grow by more than a page, then shrink to nothing.
        const std::vector<ResourceEntry> entries = extra ? Join(ReadResources(original), {{"10", "BIG", 0, qvtest::NoiseBytes(extra)}})
                                                         : std::vector<ResourceEntry>{};
        const auto rewritten = Rewrite(original, entries);
        const auto after = ParseImage(rewritten);
        ASSERT_EQ(after.sections.size(), before.sections.size());
        const auto& rsrc = SectionNamed(after, ".rsrc");
        const auto& reloc = SectionNamed(after, ".reloc");
        EXPECT_EQ(rsrc.virtualAddress, SectionNamed(before, ".rsrc").virtualAddress);
        EXPECT_EQ(rsrc.pointerToRawData, SectionNamed(before, ".rsrc").pointerToRawData);
        EXPECT_EQ(reloc.virtualAddress, (rsrc.virtualAddress + rsrc.sizeOfRawData + 0xfff) / 0x1000 * 0x1000);
        EXPECT_EQ(reloc.pointerToRawData, rsrc.pointerToRawData + rsrc.sizeOfRawData);
        EXPECT_EQ(after.GetDirectory(5).rva, reloc.virtualAddress);
        EXPECT_EQ(after.GetDirectory(5).size, before.GetDirectory(5).size);
        EXPECT_EQ(Slice(rewritten, reloc.pointerToRawData, reloc.sizeOfRawData),
                  Slice(original, oldReloc.pointerToRawData, oldReloc.sizeOfRawData));
        EXPECT_EQ(after.sizeOfImage, (reloc.virtualAddress + reloc.virtualSize + 0xfff) / 0x1000 * 0x1000);
        EXPECT_EQ(int64_t(after.sizeOfInitializedData) - before.sizeOfInitializedData,
                  int64_t(rsrc.sizeOfRawData) - SectionNamed(before, ".rsrc").sizeOfRawData);
        EXPECT_EQ(rewritten.size(), reloc.pointerToRawData + reloc.sizeOfRawData);
        EXPECT_EQ(ReadResources(rewritten), CanonicalResources(entries));
    }
}

TEST(PeWrite, SymbolTableOfAnUnstrippedBuildMovesWithTheLayout)
{
    REQUIRE_SAMPLE(QV_PE_SAMPLE64_UNSTRIPPED);
    const auto original = qvtest::ReadFile(QV_PE_SAMPLE64_UNSTRIPPED);
    const auto before = ParseImage(original);
    ASSERT_NE(before.pointerToSymbolTable, 0u);
    const size_t symbols = 18ull * before.numberOfSymbols;
    const size_t strings = Get32(original, before.pointerToSymbolTable + symbols);
    const auto table = Slice(original, before.pointerToSymbolTable, symbols + strings);

    const auto grown = Rewrite(original, Join(ReadResources(original), {{"10", "BIG", 0, qvtest::NoiseBytes(30000)}}));
    const auto after = ParseImage(grown);
    EXPECT_GT(after.pointerToSymbolTable, before.pointerToSymbolTable);
    EXPECT_EQ(after.numberOfSymbols, before.numberOfSymbols);
    EXPECT_EQ(Slice(grown, after.pointerToSymbolTable, symbols + strings), table);
    // Long section names ("/4") come from the string table: still right.
    ASSERT_EQ(after.sections.size(), before.sections.size());
    for (size_t i = 0; i < after.sections.size(); ++i)
        EXPECT_EQ(after.sections[i].name, before.sections[i].name);
    // Everything after the resources moved up by the pages they grew.
    auto pages = [](const qv::pe::detail::Section& s) { return (s.virtualSize + 0xfff) / 0x1000 * 0x1000; };
    const uint32_t growth = pages(SectionNamed(after, ".rsrc")) - pages(SectionNamed(before, ".rsrc"));
    EXPECT_GE(growth, 0x7000u);
    EXPECT_EQ(SectionNamed(after, ".debug_info").virtualAddress, SectionNamed(before, ".debug_info").virtualAddress + growth);
    EXPECT_EQ(SectionContents(grown), SectionContents(original));
}

TEST(PeWrite, OverlayIsKeptAndTheCertificateRemoved)
{
    REQUIRE_SAMPLE(QV_PE_SAMPLE64);
    auto image = qvtest::ReadFile(QV_PE_SAMPLE64);
    const size_t programEnd = image.size();
    const auto overlay = qvtest::NoiseBytes(3001, 7);
    image.insert(image.end(), overlay.begin(), overlay.end());
    image.resize((image.size() + 7) / 8 * 8);
    // A signature is appended last, after any overlay.
    const size_t certificate = image.size();
    const auto signature = qvtest::NoiseBytes(1200, 8);
    image.insert(image.end(), signature.begin(), signature.end());
    const size_t field = Get32(image, 0x3c) + 24 + 112 + 8 * 4;
    Put32(image, field, static_cast<uint32_t>(certificate));
    Put32(image, field + 4, static_cast<uint32_t>(signature.size()));
    const auto overlayBytes = Slice(image, programEnd, certificate - programEnd);

    const auto entries = Join(ReadResources(image), {{"10", "BIG", 0, qvtest::NoiseBytes(9000)}});
    const auto rewritten = Rewrite(image, entries);
    EXPECT_EQ(Get32(rewritten, field), 0u);
    EXPECT_EQ(Get32(rewritten, field + 4), 0u);
    ASSERT_GT(rewritten.size(), overlayBytes.size());
    EXPECT_EQ(Slice(rewritten, rewritten.size() - overlayBytes.size(), overlayBytes.size()), overlayBytes);
    EXPECT_EQ(std::search(rewritten.begin(), rewritten.end(), signature.begin(), signature.begin() + 64), rewritten.end());
    EXPECT_EQ(ReadResources(rewritten), CanonicalResources(entries));
    EXPECT_EQ(Get32(rewritten, CheckSumField(rewritten)), StraightChecksum(rewritten));

    // With nothing to change the file, signature included, stays as it was.
    auto plain = qvtest::ReadFile(QV_PE_SAMPLE64_PLAIN);
    EXPECT_EQ(Rewrite(plain, {}), plain);
}

TEST(PeWrite, ChecksumMatchesAPlainImplementation)
{
    for (size_t size : {size_t(0x200), size_t(0x201), size_t(4097), size_t(70001)})
        for (size_t field : {size_t(0xd8), size_t(0xd9), size - 4, size - 3, size - 2})
            for (uint32_t seed : {1u, 2u}) {
                auto bytes = qvtest::NoiseBytes(size, seed);
                if (seed == 2)
                    std::fill(bytes.begin(), bytes.end(), 0xff);  // sums that wrap on every word
                EXPECT_EQ(qv::pe::detail::ImageChecksum(bytes, field), StraightChecksum(bytes, field))
                    << size << " " << field << " " << seed;
            }
}

namespace {

std::vector<uint8_t> SampleWithPinnedRelocations()
{
    auto image = qvtest::ReadFile(QV_PE_SAMPLE64);
    PinRelocations(image);
    return image;
}

} // namespace

TEST(PeWrite, ResourcesThatCannotGrowInPlaceGoToANewLastSection)
{
    REQUIRE_SAMPLE(QV_PE_SAMPLE64);
    const auto original = SampleWithPinnedRelocations();
    const auto before = ParseImage(original);
    const auto entries = Join(ReadResources(original), Extra());
    const auto rewritten = Rewrite(original, entries);
    const auto after = ParseImage(rewritten);
    ASSERT_EQ(after.sections.size(), before.sections.size() + 1);
    const auto& added = after.sections.back();
    EXPECT_EQ(added.name, ".rsrc");
    EXPECT_EQ(added.characteristics, 0x40000040u);
    EXPECT_EQ(added.virtualAddress, before.sizeOfImage);
    EXPECT_EQ(added.pointerToRawData, original.size());
    EXPECT_EQ(added.sizeOfRawData % before.fileAlignment, 0u);
    EXPECT_EQ(after.GetDirectory(2).rva, added.virtualAddress);
    EXPECT_EQ(after.GetDirectory(2).size, added.virtualSize);
    EXPECT_EQ(after.sizeOfImage, (added.virtualAddress + added.virtualSize + 0xfff) / 0x1000 * 0x1000);
    EXPECT_EQ(after.sizeOfInitializedData, before.sizeOfInitializedData + added.sizeOfRawData);
    // The old section stays where it was, under a name nobody looks for.
    EXPECT_EQ(SectionNamed(after, ".oldrsrc").virtualAddress, SectionNamed(before, ".rsrc").virtualAddress);
    EXPECT_EQ(Slice(rewritten, 0x400, original.size() - 0x400), Slice(original, 0x400, original.size() - 0x400));
    EXPECT_EQ(ReadResources(rewritten), CanonicalResources(entries));
    ExpectSearchableTree(rewritten);

    // Written again, the new section is the last one and is reused.
    const auto again = Rewrite(rewritten, entries);
    EXPECT_EQ(ParseImage(again).sections.size(), after.sections.size());
    EXPECT_EQ(again, rewritten);
}

TEST(PeWrite, FileWithoutResourcesGainsASection)
{
    REQUIRE_SAMPLE(QV_PE_SAMPLE64_PLAIN);
    const auto original = qvtest::ReadFile(QV_PE_SAMPLE64_PLAIN);
    ASSERT_TRUE(ReadResources(original).empty());
    const auto rewritten = Rewrite(original, Extra());
    const auto after = ParseImage(rewritten);
    EXPECT_EQ(after.sections.size(), ParseImage(original).sections.size() + 1);
    EXPECT_EQ(after.sections.back().name, ".rsrc");
    EXPECT_EQ(ReadResources(rewritten), CanonicalResources(Extra()));
    // Removing them all again leaves an empty tree, not an error.
    EXPECT_TRUE(ReadResources(Rewrite(rewritten, {})).empty());
}

TEST(PeWrite, SyntheticImagesOfBothKinds)
{
    for (const bool pe32Plus : {true, false}) {
        ImageLayout layout = ImageWith(Assemble(UnorderedTree(), kRsrcRva), pe32Plus);
        layout.tail = Bytes("overlay after the sections");
        const auto original = BuildImage(layout);
        const auto entries = Join(ReadResources(original), Extra());
        const auto rewritten = Rewrite(original, entries);
        EXPECT_EQ(ReadResources(rewritten), CanonicalResources(entries)) << pe32Plus;
        EXPECT_EQ(Slice(rewritten, rewritten.size() - layout.tail.size(), layout.tail.size()), layout.tail);
        EXPECT_EQ(Get32(rewritten, CheckSumField(rewritten)), StraightChecksum(rewritten));
    }
}

TEST(PeWrite, ImagesThatCannotBeRewrittenAreRefused)
{
    auto refusal = [](const std::vector<uint8_t>& image) -> std::string {
        try {
            Rewrite(image, Extra());
        } catch (const qv::pe::FormatError& e) {
            return e.what();
        }
        return "no error";
    };

    // A section table that fills the headers up to the first section's data.
    ImageLayout full;
    full.sizeOfHeaders = 0x200;
    for (int i = 0; i < 3; ++i)
        full.sections.push_back({".s" + std::to_string(i), uint32_t(0x1000 * (i + 1)), 0, std::vector<uint8_t>(16, 1)});
    ASSERT_EQ(SectionTable(full) + 40 * 3, 0x200u);
    EXPECT_EQ(refusal(BuildImage(full)), "Cannot rewrite the resources of the executable: no room for another section "
                                         "header before the first section's data (offset 0x200)");

    // Room, but something lives there (as bound imports do).
    ImageLayout busy;
    busy.sections.push_back({".text", 0x1000, 0, std::vector<uint8_t>(16, 1)});
    auto busyImage = BuildImage(busy);
    busyImage[SectionTable(busy) + 40 + 3] = 0x55;
    EXPECT_NE(refusal(busyImage).find("no room for another section header"), std::string::npos);

    ImageLayout misaligned = ImageWith(Assemble(UnorderedTree(), kRsrcRva));
    misaligned.fileAlignment = 0x300;
    EXPECT_NE(refusal(BuildImage(misaligned)).find("file alignment 0x300 and section alignment 0x1000 are not powers of two"),
              std::string::npos);

    ImageLayout overlapping = ImageWith(Assemble(UnorderedTree(), kRsrcRva));
    overlapping.sections[0].virtualSize = 0x1800;
    EXPECT_NE(refusal(BuildImage(overlapping)).find("sections \".text\" and \".rsrc\" overlap"), std::string::npos);

    ImageLayout noSlot;
    noSlot.numberOfRvaAndSizes = 2;
    noSlot.sections.push_back({".text", 0x1000, 0, std::vector<uint8_t>(16, 1)});
    EXPECT_NE(refusal(BuildImage(noSlot)).find("the optional header has no resource directory entry"), std::string::npos);

    auto truncated = BuildImage(ImageWith(Assemble(UnorderedTree(), kRsrcRva)));
    truncated.resize(truncated.size() - 0x100);
    EXPECT_NE(refusal(truncated).find("Invalid executable: section \".rsrc\" runs past the end of the file"),
              std::string::npos);
}

// Replacing the file on disk

namespace {

std::vector<std::string> FolderListing(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class PeFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_SAMPLE(QV_PE_SAMPLE64);
        fs::copy_file(QV_PE_SAMPLE64, exe);
        before = qvtest::ReadFile(exe);
    }

    qvtest::TempDir dir;
    const fs::path exe = dir / "program.exe";
    std::vector<uint8_t> before;
};

} // namespace

TEST_F(PeFile, ReplacementKeepsPermissionsAndFollowsLinks)
{
    fs::permissions(exe, fs::perms(0751));
    const auto entries = Join(ReadResources(exe.string()), Extra());
    qv::pe::ReplaceResources(exe.string(), entries);
    EXPECT_EQ(fs::status(exe).permissions(), fs::perms(0751));
    EXPECT_EQ(ReadResources(exe.string()), CanonicalResources(entries));
    EXPECT_EQ(FolderListing(dir.path()), std::vector<std::string>{"program.exe"});

    fs::create_symlink("program.exe", dir / "link.exe");
    qv::pe::ReplaceResources((dir / "link.exe").string(), {});
    EXPECT_TRUE(fs::is_symlink(dir / "link.exe"));
    EXPECT_TRUE(ReadResources(exe.string()).empty());
}

TEST_F(PeFile, FailedRenameLeavesTheExecutableUntouched)
{
    std::string temp;
    const std::string message = FailureOf([&] {
        qv::fs::WriteFileAtomic(exe.string(), qvtest::NoiseBytes(5000), [&](const std::string& path) {
            temp = path;
            EXPECT_EQ(qvtest::ReadFile(path), qvtest::NoiseBytes(5000));
            fs::remove(path);  // so the rename has nothing to rename
        });
    });
    EXPECT_EQ(message, "Cannot replace file \"" + exe.string() + "\". No such file or directory");
    EXPECT_EQ(temp.rfind(exe.string() + ".tmp", 0), 0u) << temp;
    EXPECT_EQ(qvtest::ReadFile(exe), before);
    EXPECT_EQ(FolderListing(dir.path()), std::vector<std::string>{"program.exe"});
}

TEST_F(PeFile, FailedWriteLeavesTheExecutableUntouched)
{
    const auto entries = Join(ReadResources(before), {{"10", "BIG", 0, qvtest::NoiseBytes(200000)}});

    // A file size limit stops the temporary file half way, even for root.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = before.size() + 4096;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const std::string message = FailureOf([&] { qv::pe::ReplaceResources(exe.string(), entries); });
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(message, "Cannot write file \"" + exe.string() + "\". File too large");
    EXPECT_EQ(qvtest::ReadFile(exe), before);
    EXPECT_EQ(FolderListing(dir.path()), std::vector<std::string>{"program.exe"});

    if (geteuid() != 0) {
        fs::permissions(dir.path(), fs::perms(0555));
        EXPECT_EQ(FailureOf([&] { qv::pe::ReplaceResources(exe.string(), entries); }),
                  "Cannot create file \"" + exe.string() + "\". Permission denied");
        fs::permissions(dir.path(), fs::perms(0755));
        EXPECT_EQ(qvtest::ReadFile(exe), before);
    }
}

TEST(PeFileMalformed, FileIsNamedAndLeftAlone)
{
    qvtest::TempDir dir;
    const fs::path exe = dir / "broken.exe";
    auto bytes = BuildImage(ImageWith(Assemble(UnorderedTree(), kRsrcRva)));
    bytes.resize(bytes.size() - 0x100);
    qvtest::WriteFile(exe, bytes);
    try {
        qv::pe::ReplaceResources(exe.string(), Extra());
        FAIL() << "no error";
    } catch (const qv::pe::FormatError& e) {
        EXPECT_EQ(std::string(e.what()), "Invalid executable \"" + exe.string() +
                                             "\": section \".rsrc\" runs past the end of the file (offset 0x1b0)");
    }
    EXPECT_EQ(qvtest::ReadFile(exe), bytes);
    EXPECT_EQ(FailureOf([&] { qv::pe::ReplaceResources((dir / "missing.exe").string(), Extra()); }),
              "Cannot open file \"" + (dir / "missing.exe").string() + "\". No such file or directory");
}
