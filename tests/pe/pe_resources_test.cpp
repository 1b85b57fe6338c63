#include "PeTestSupport.h"
#include "TestSupport.h"

#include "quorvane/platform/PeResources.h"

#include <gtest/gtest.h>

#include <functional>

using namespace qvtest::pe;
using qv::pe::ReadResources;
using qv::pe::ResourceEntry;
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

ImageSpec ImageWith(std::vector<uint8_t> rsrc, bool pe32Plus = true)
{
    ImageSpec spec;
    spec.pe32Plus = pe32Plus;
    spec.sections.push_back({".text", 0x1000, 0, std::vector<uint8_t>(0x200, 0xC3), 0x60000020});
    spec.directories[2] = {kRsrcRva, static_cast<uint32_t>(rsrc.size())};
    spec.sections.push_back({".rsrc", kRsrcRva, 0, std::move(rsrc)});
    return spec;
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
    return Get32(image, SectionTable(ImageSpec{}) + 40 + 20);
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
    ImageSpec spec;
    spec.sections.push_back({".text", 0x1000, 0, std::vector<uint8_t>(0x200, 0xC3), 0x60000020});
    EXPECT_TRUE(ReadResources(BuildImage(spec)).empty());
    // Too few data directories to have a resource entry at all.
    spec.numberOfRvaAndSizes = 2;
    EXPECT_TRUE(ReadResources(BuildImage(spec)).empty());
}

TEST(PeRead, DataMayLieInAnotherSection)
{
    TreeBytes t(0x80);
    t.Directory(0, 0, 1);
    t.Entry(0, 0, 10, TreeBytes::kSubdirectory | 0x18);
    t.Directory(0x18, 0, 1);
    t.Entry(0x18, 0, 1, TreeBytes::kSubdirectory | 0x30);
    t.Directory(0x30, 0, 1);
    t.Entry(0x30, 0, 0, 0x48);
    t.DataEntry(0x48, 0x3010, 5);
    ImageSpec spec = ImageWith(t.bytes);
    std::vector<uint8_t> data(0x40, 0);
    std::copy_n("there", 5, data.begin() + 0x10);
    spec.sections.push_back({".data", 0x3000, 0, data});
    const auto entries = ReadResources(BuildImage(spec));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].data, Bytes("there"));
}

TEST(PeRead, MalformedInputsGiveClearErrors)
{
    const auto good = BuildImage(ImageWith(Assemble(UnorderedTree(), kRsrcRva)));
    const size_t rsrc = Get32(good, SectionTable(ImageSpec{}) + 40 + 20);
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
         [&](auto& b) { Put32(b, DirectoryField(ImageSpec{}, 2), 0x90000); },
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
