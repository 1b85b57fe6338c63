#include "ExeTools.h"
#include "IconFiles.h"
#include "TestSupport.h"

#include "quorvane/base/Error.h"
#include "quorvane/compile/OutputIcon.h"
#include "quorvane/resources/IconFile.h"
#include "quorvane/resources/ExecutableModule.h"
#include "quorvane/resources/PictureResources.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace qv;
using qvtest::BitmapPart;
using qvtest::GroupEntries;
using qvtest::GroupEntry;
using qvtest::IconFile;
using qvtest::IconPart;

namespace {

std::vector<uint8_t> Bytes(const ResourceDetails& d)
{
    return d.Data().Bytes();
}

std::vector<std::string> Names(const ResourceModule& module)
{
    std::vector<std::string> out;
    for (int i = 0; i < module.ResourceCount(); ++i) {
        const auto& d = module.GetResourceDetails(i);
        out.push_back(d.ResType + "/" + d.ResName + (d.Language ? "@" + std::to_string(d.Language) : ""));
    }
    return out;
}

ResourceDetails& Add(ResourceModule& module, const std::string& type, const std::string& name,
                      const std::vector<uint8_t>& bytes, uint16_t language = 0)
{
    auto details = CreateDetailsFor(&module, language, type, name, bytes.size(), bytes.data());
    ResourceDetails& ref = *details;
    module.AppendResource(std::move(details));
    return ref;
}

std::vector<uint8_t> WithZeroSizeField(std::vector<uint8_t> picture)
{
    qvtest::PutLe(picture, 20, 0, 4);
    return picture;
}

std::string ReadError(const std::vector<uint8_t>& file)
{
    try {
        IconFileReader icon;
        icon.LoadFromBytes(file);
    } catch (const Error& e) {
        return e.what();
    }
    return "(no error)";
}

class IconGroupTest : public ::testing::Test {
protected:
    qvtest::TempDir dir;
    ExecutableModule module;

    std::string Write(const std::vector<uint8_t>& file, const std::string& name = "site.ico")
    {
        qvtest::WriteFile(dir / name, file);
        return (dir / name).string();
    }

    // The icon step on an in-memory module: a blank MAINICON, then the file.
    IconGroupResourceDetails& Replace(const std::vector<uint8_t>& file)
    {
        auto& group = CreateBlank<IconGroupResourceDetails>(module, "MAINICON", 0);
        group.Dirty = true;
        ReplaceIconGroup(group, Write(file));
        return group;
    }
};

} // namespace

TEST_F(IconGroupTest, EveryBitmapFormatBecomesAnEntryAndAnImage)
{
    struct Case {
        int size;
        uint16_t bits;
        uint32_t compression;
        uint8_t colours;
        PixelFormat format;
    } cases[] = {
        {16, 4, 0, 16, PixelFormat::pf4bit},   {32, 4, 0, 16, PixelFormat::pf4bit},
        {16, 8, 0, 0, PixelFormat::pf8bit},    {32, 8, 0, 0, PixelFormat::pf8bit},
        {16, 24, 0, 0, PixelFormat::pf24bit},  {32, 24, 0, 0, PixelFormat::pf24bit},
        {16, 32, 0, 0, PixelFormat::pf32bit},  {32, 32, 0, 0, PixelFormat::pf32bit},
        {16, 16, 0, 0, PixelFormat::pf15bit},  {32, 16, 3, 0, PixelFormat::pf16bit},
        {16, 1, 0, 2, PixelFormat::pf1bit},    {48, 1, 0, 2, PixelFormat::pf1bit},
    };
    std::vector<IconPart> parts;
    for (const Case& c : cases)
        parts.push_back(BitmapPart(c.size, c.bits, c.compression));
    auto& group = Replace(IconFile(parts));

    std::vector<GroupEntry> expected;
    std::vector<std::string> names = {"14/MAINICON"};
    for (size_t i = 0; i < parts.size(); ++i) {
        const auto& c = cases[i];
        expected.push_back(GroupEntry{static_cast<uint8_t>(c.size), static_cast<uint8_t>(c.size), c.colours, 0, 1,
                                      c.bits, static_cast<uint32_t>(parts[i].bytes.size()),
                                      static_cast<uint16_t>(i + 1)});
        names.push_back("3/" + std::to_string(i + 1));
    }
    EXPECT_EQ(GroupEntries(Bytes(group)), expected);
    EXPECT_EQ(Names(module), names);
    for (size_t i = 0; i < parts.size(); ++i) {
        const auto& image = module.GetResourceDetails(static_cast<int>(i + 1));
        EXPECT_EQ(Bytes(image), WithZeroSizeField(parts[i].bytes)) << i;
        EXPECT_NE(Bytes(image), parts[i].bytes) << "image-size field was not cleared";
        auto& icon = dynamic_cast<const IconImageResourceDetails&>(image);
        EXPECT_EQ(icon.GetWidth(), cases[i].size);
        EXPECT_EQ(icon.GetHeight(), cases[i].size);
        EXPECT_EQ(icon.GetPixelFormat(), cases[i].format);
    }
    EXPECT_TRUE(group.Dirty);
}

TEST_F(IconGroupTest, UnsupportedBitmapsAreRefused)
{
    for (auto [bits, compression] : {std::pair<uint16_t, uint32_t>{16, 1}, {16, 2}, {2, 0}, {0, 0}, {48, 0}}) {
        const auto file = IconFile({BitmapPart(16, 4), BitmapPart(16, bits, compression)});
        EXPECT_EQ(ReadError(file), "Pixel Format Not Valid for Icons or Cursors") << bits << "/" << compression;
    }
}

TEST_F(IconGroupTest, PngImagesAreDecodedAndStoredUnchanged)
{
    const auto big = qvtest::PngPicture(256, 256);
    const auto small = qvtest::PngPicture(20, 10);
    auto& group = Replace(IconFile({IconPart{0, 0, 32, big}, IconPart{0, 0, 0, small}, IconPart{20, 10, 15, small},
                                    IconPart{20, 10, 8, small}, IconPart{20, 10, 200, small}}));
    EXPECT_EQ(GroupEntries(Bytes(group)),
              (std::vector<GroupEntry>{{0, 0, 0, 0, 1, 32, static_cast<uint32_t>(big.size()), 1},
                                       {20, 10, 0, 0, 1, 0, static_cast<uint32_t>(small.size()), 2},
                                       {20, 10, 0, 0, 1, 16, static_cast<uint32_t>(small.size()), 3},
                                       {20, 10, 0, 0, 1, 8, static_cast<uint32_t>(small.size()), 4},
                                       {20, 10, 0, 0, 1, 0, static_cast<uint32_t>(small.size()), 5}}));
    EXPECT_EQ(Bytes(module.GetResourceDetails(1)), big);
    EXPECT_EQ(Bytes(module.GetResourceDetails(2)), small);
    auto& image = dynamic_cast<const IconImageResourceDetails&>(module.GetResourceDetails(1));
    EXPECT_EQ(image.GetWidth(), 256);
    EXPECT_EQ(image.GetPixelFormat(), PixelFormat::pf32bit);

    IconFileReader icon;
    icon.LoadFromBytes(IconFile({IconPart{7, 7, 32, small}}));
    ASSERT_EQ(icon.ImageCount(), 1);
    EXPECT_EQ(icon.CurrentImage(), 0);
    EXPECT_TRUE(icon.GetImage(0).IsPng);
    EXPECT_EQ(icon.GetImage(0).Width, 20); // the picture's own size, not the directory's
    EXPECT_EQ(icon.GetImage(0).Height, 10);
    EXPECT_EQ(icon.GetImage(0).PngWidth, 20u);
    EXPECT_EQ(icon.GetImage(0).PngHeight, 10u);
}

TEST_F(IconGroupTest, PngBitCountAbove255IsARangeError)
{
    const auto small = qvtest::PngPicture(4, 4);
    EXPECT_EQ(ReadError(IconFile({IconPart{4, 4, 255, small}})), "(no error)");
    EXPECT_EQ(ReadError(IconFile({IconPart{4, 4, 256, small}})), "Range check error");
}

TEST_F(IconGroupTest, BrokenPngsAreRefusedByTheDecoder)
{
    const auto good = qvtest::PngPicture(16, 16);
    auto badCrc = good;
    badCrc[30] ^= 0x01; // inside IHDR
    auto cut = good;
    cut.resize(good.size() - 20); // IDAT cut short, no IEND
    auto badData = good;
    badData[45] ^= 0xFF; // compressed pixels
    auto noEnd = good;
    noEnd.resize(good.size() - 12);
    for (const auto& png : {badCrc, cut, badData, noEnd}) {
        const std::string error = ReadError(IconFile({IconPart{16, 16, 32, png}}));
        EXPECT_EQ(error.rfind("Invalid PNG image: ", 0), 0u) << error;
        EXPECT_GT(error.size(), std::string("Invalid PNG image: ").size());
    }
}

TEST_F(IconGroupTest, HeaderAndDirectoryFaults)
{
    const auto good = IconFile({BitmapPart(16, 4), BitmapPart(32, 8)});
    EXPECT_EQ(ReadError(good), "(no error)");
    EXPECT_EQ(ReadError({}), "Invalid Icon or Cursor");
    EXPECT_EQ(ReadError({0, 0, 1, 0, 1}), "Invalid Icon or Cursor");
    EXPECT_EQ(ReadError(IconFile({BitmapPart(16, 4)}, 2)), "Invalid Icon or Cursor");
    EXPECT_EQ(ReadError(qvtest::PngPicture(16, 16)), "Invalid Icon or Cursor");

    auto cutDirectory = good;
    cutDirectory.resize(6 + 16 + 8);
    EXPECT_EQ(ReadError(cutDirectory), "Stream read error");
    auto truncated = good;
    truncated.pop_back();
    EXPECT_EQ(ReadError(truncated), "Stream read error");
    auto farOffset = good;
    qvtest::PutLe(farOffset, 6 + 12, 0xFFFFFFF0u, 4);
    EXPECT_EQ(ReadError(farOffset), "Stream read error");
    auto hugeCount = good;
    qvtest::PutLe(hugeCount, 6 + 8, 0xFFFFFFFFu, 4);
    EXPECT_EQ(ReadError(hugeCount), "Stream read error");
    auto manyEntries = good;
    qvtest::PutLe(manyEntries, 4, 0xFFFF, 2);
    EXPECT_EQ(ReadError(manyEntries), "Stream read error");
}

TEST_F(IconGroupTest, EmptyAndHeaderlessImagesAreRefused)
{
    auto zero = IconFile({BitmapPart(16, 4), BitmapPart(16, 4)});
    qvtest::PutLe(zero, 6 + 16 + 8, 0, 4);
    EXPECT_EQ(ReadError(zero), "Invalid Icon or Cursor: image 2 has no bytes");

    const auto picture = qvtest::BitmapPicture(16, 16, 4);
    const std::vector<uint8_t> shortPicture(picture.begin(), picture.begin() + 39);
    EXPECT_EQ(ReadError(IconFile({IconPart{16, 16, 4, shortPicture}})),
              "Invalid Icon or Cursor: image 1 is shorter than its 40-byte bitmap header");
    const std::vector<uint8_t> headerOnly(picture.begin(), picture.begin() + 40);
    EXPECT_EQ(ReadError(IconFile({IconPart{16, 16, 4, headerOnly}})), "(no error)");
}

TEST_F(IconGroupTest, CursorFilesReadWithTheCursorReader)
{
    const auto file = IconFile({BitmapPart(32, 1)}, 2);
    CursorFileReader cursor;
    cursor.LoadFromBytes(file);
    EXPECT_EQ(cursor.ImageCount(), 1);
    CursorFileReader wrong;
    EXPECT_THROW(wrong.LoadFromBytes(IconFile({BitmapPart(32, 1)}, 1)), Error);
}

TEST_F(IconGroupTest, FailedReadKeepsTheImagesHeld)
{
    IconFileReader icon;
    icon.LoadFromBytes(IconFile({BitmapPart(16, 4), BitmapPart(32, 4)}));
    EXPECT_THROW(icon.LoadFromBytes(IconFile({BitmapPart(16, 16, 1)})), Error);
    EXPECT_EQ(icon.ImageCount(), 2);
    icon.LoadFromBytes(IconFile({}));
    EXPECT_EQ(icon.ImageCount(), 0);
    EXPECT_EQ(icon.CurrentImage(), -1);
    EXPECT_THROW(icon.GetImage(0), Error);
}

TEST_F(IconGroupTest, CountZeroLeavesAHeaderOnly)
{
    auto& group = Replace(IconFile({}));
    EXPECT_EQ(Bytes(group), (std::vector<uint8_t>{0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(Names(module), (std::vector<std::string>{"14/MAINICON"}));
}

TEST_F(IconGroupTest, WorkedExampleNumbersAboveTheViewersImages)
{
    for (const char* name : {"1", "2", "3"})
        Add(module, "3", name, qvtest::BitmapPicture(32, 32, 4));
    Add(module, "3", "LOGO", qvtest::BitmapPicture(32, 32, 4)); // not a number: ignored
    Add(module, "14", "MAINICON", [] {
        std::vector<uint8_t> g = {0, 0, 1, 0, 3, 0};
        for (uint8_t id = 1; id <= 3; ++id)
            g.insert(g.end(), {32, 32, 16, 0, 1, 0, 4, 0, 0xE8, 2, 0, 0, id, 0});
        return g;
    }());
    const auto oldGroup = Bytes(module.GetResourceDetails(4));

    auto& group = CreateBlank<IconGroupResourceDetails>(module, "MAINICON", 0);
    EXPECT_EQ(Names(module), (std::vector<std::string>{"3/1", "3/2", "3/3", "3/LOGO", "14/MAINICON", "14/MAINICON",
                                                        "3/4"}));
    const auto a = BitmapPart(16, 8);
    const auto b = BitmapPart(32, 32);
    ReplaceIconGroup(group, Write(IconFile({a, b})));
    EXPECT_EQ(Names(module), (std::vector<std::string>{"3/1", "3/2", "3/3", "3/LOGO", "14/MAINICON", "14/MAINICON",
                                                        "3/4", "3/5"}));
    EXPECT_EQ(GroupEntries(Bytes(group)),
              (std::vector<GroupEntry>{{16, 16, 0, 0, 1, 8, static_cast<uint32_t>(a.bytes.size()), 4},
                                       {32, 32, 0, 0, 1, 32, static_cast<uint32_t>(b.bytes.size()), 5}}));
    EXPECT_EQ(Bytes(module.GetResourceDetails(6)), WithZeroSizeField(a.bytes));
    EXPECT_EQ(Bytes(module.GetResourceDetails(7)), WithZeroSizeField(b.bytes));
    EXPECT_EQ(Bytes(module.GetResourceDetails(4)), oldGroup);
    EXPECT_EQ(&module.GetResourceDetails(5), &group);
}

TEST_F(IconGroupTest, WithoutIconImagesTheNewOnesStartAtOne)
{
    auto& group = Replace(IconFile({BitmapPart(16, 4), BitmapPart(32, 4)}));
    EXPECT_EQ(Names(module), (std::vector<std::string>{"14/MAINICON", "3/1", "3/2"}));
    EXPECT_EQ(GroupEntries(Bytes(group))[1].identifier, 2);
}

TEST_F(IconGroupTest, TwoLanguagesOfMainIcon)
{
    Add(module, "3", "1", qvtest::BitmapPicture(32, 32, 4), 1033);
    Add(module, "14", "MAINICON", {0, 0, 1, 0, 1, 0, 32, 32, 16, 0, 1, 0, 4, 0, 0xE8, 2, 0, 0, 1, 0}, 1033);
    const auto oldGroup = Bytes(module.GetResourceDetails(1));
    auto& group = Replace(IconFile({BitmapPart(16, 4)}));
    EXPECT_EQ(Names(module),
              (std::vector<std::string>{"3/1@1033", "14/MAINICON@1033", "14/MAINICON", "3/2"}));
    EXPECT_EQ(Bytes(module.GetResourceDetails(1)), oldGroup);
    EXPECT_EQ(group.Language, 0);
    EXPECT_EQ(module.GetResourceDetails(3).Language, 0);
}

TEST_F(IconGroupTest, RefillingAGroupReplacesItsImagesInTheGroupsLanguage)
{
    auto& group = Replace(IconFile({BitmapPart(16, 4), BitmapPart(32, 4)}));
    group.Language = 1031;
    ReplaceIconGroup(group, Write(IconFile({BitmapPart(48, 8)})));
    EXPECT_EQ(Names(module), (std::vector<std::string>{"14/MAINICON@1031", "3/1@1031"}));
    EXPECT_EQ(GroupEntries(Bytes(group))[0].width, 48);
}

TEST_F(IconGroupTest, FailedReadLeavesTheGroupEmpty)
{
    auto& group = CreateBlank<IconGroupResourceDetails>(module, "MAINICON", 0);
    EXPECT_EQ(module.ResourceCount(), 2);
    EXPECT_THROW(ReplaceIconGroup(group, Write(IconFile({BitmapPart(16, 4)}, 2))), Error);
    EXPECT_EQ(Names(module), (std::vector<std::string>{"14/MAINICON"}));
    EXPECT_EQ(Bytes(group), (std::vector<uint8_t>{0, 0, 1, 0, 0, 0}));
    EXPECT_FALSE(group.Clearing);

    EXPECT_THROW(ReplaceIconGroup(group, (dir / "absent.ico").string()), OsError);
    auto detached = CreateBlank<IconGroupResourceDetails>("X", 0);
    EXPECT_THROW(ReplaceIconGroup(*detached, Write(IconFile({}))), Error);
}

TEST_F(IconGroupTest, NoIdentifierLeftIsAnErrorNotAWrap)
{
    Add(module, "3", "65535", qvtest::BitmapPicture(16, 16, 4));
    try {
        CreateBlank<IconGroupResourceDetails>(module, "MAINICON", 0);
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "No free identifier for a new image of resource type 3");
    }
    EXPECT_EQ(Names(module), (std::vector<std::string>{"3/65535"}));
}

namespace {

// An icon file whose `entries` directory entries all point at one picture.
std::vector<uint8_t> SharedPictureIcon(size_t entries, const std::vector<uint8_t>& picture)
{
    std::vector<uint8_t> out;
    for (uint32_t word : {0u, 1u, static_cast<uint32_t>(entries)})
        qvtest::AppendLe(out, word, 2);
    for (size_t i = 0; i < entries; ++i) {
        out.insert(out.end(), {0, 0, 0, 0});
        qvtest::AppendLe(out, 1, 2);
        qvtest::AppendLe(out, 32, 2);
        qvtest::AppendLe(out, static_cast<uint32_t>(picture.size()), 4);
        qvtest::AppendLe(out, static_cast<uint32_t>(6 + 16 * entries), 4);
    }
    out.insert(out.end(), picture.begin(), picture.end());
    return out;
}

} // namespace

TEST_F(IconGroupTest, EntriesPointingAtOneBigPictureAreRefusedNamingTheFile)
{
    const auto bitmap = qvtest::BitmapPicture(512, 512, 32); // 1 MB; 300 entries would make 300 MB
    auto& group = CreateBlank<IconGroupResourceDetails>(module, "MAINICON", 0);
    auto refusal = [&](const std::vector<uint8_t>& file) {
        const std::string path = Write(file, "many.ico");
        try {
            ReplaceIconGroup(group, path);
        } catch (const Error& e) {
            return std::string(e.what());
        }
        return std::string("(no error)");
    };
    const std::string icon = "The icon file \"" + (dir / "many.ico").string() + "\" is too large: ";
    const std::string advice = ". Choose an icon with fewer or smaller images";
    EXPECT_EQ(refusal(SharedPictureIcon(300, bitmap)), icon + "it holds 300 images, at most 256 can be used" + advice);
    EXPECT_EQ(refusal(SharedPictureIcon(40, bitmap)), icon + "its images expand to more than 32 MB" + advice);
    EXPECT_EQ(refusal(SharedPictureIcon(20, bitmap)), "(no error)");

    // A small PNG that would decode to 64 MB is refused before decoding.
    std::vector<uint8_t> png = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    qvtest::AppendPngChunk(png, "IHDR", {0, 0, 0x10, 0, 0, 0, 0x10, 0, 8, 6, 0, 0, 0});
    qvtest::AppendPngChunk(png, "IEND", {});
    EXPECT_EQ(refusal(SharedPictureIcon(1, png)), icon + "its images expand to more than 32 MB" + advice);
}

TEST(IconPixelFormats, GroupFieldsFollowTheFormat)
{
    using P = PixelFormat;
    const std::pair<P, std::pair<int, int>> table[] = {
        {P::pf1bit, {2, 1}},   {P::pf4bit, {16, 4}},  {P::pf8bit, {0, 8}},   {P::pf15bit, {0, 16}},
        {P::pf16bit, {0, 16}}, {P::pf24bit, {0, 24}}, {P::pf32bit, {0, 32}}, {P::pfDevice, {0, 0}}};
    for (const auto& [format, fields] : table) {
        EXPECT_EQ(ColourCountOf(format), fields.first);
        EXPECT_EQ(BitCountOf(format), fields.second);
    }
}

namespace {

class OutputIconTest : public ::testing::Test {
protected:
    qvtest::TempDir dir;

    std::filesystem::path CopyOf(const std::string& program)
    {
        const auto source = qvtest::WineProgram(program);
        if (source.empty() || !qvtest::HaveTool("wrestool"))
            return {};
        const auto copy = dir / program;
        std::filesystem::copy_file(source, copy);
        return copy;
    }

    std::string WriteIcon(const std::vector<uint8_t>& file, const std::string& name = "site.ico")
    {
        qvtest::WriteFile(dir / name, file);
        return (dir / name).string();
    }
};

// Every resource of `before` is in `after` with the same bytes, except those
// under the keys in `replaced`.
void ExpectKept(const std::map<std::string, std::vector<uint8_t>>& before,
                const std::map<std::string, std::vector<uint8_t>>& after, const std::set<std::string>& replaced)
{
    for (const auto& [key, bytes] : before) {
        if (replaced.count(key))
            continue;
        ASSERT_EQ(after.count(key), 1u) << key;
        EXPECT_EQ(after.at(key), bytes) << key;
    }
}

} // namespace

TEST_F(OutputIconTest, NewMainIconGroupAndImagesAboveTheViewersOwn)
{
    const auto exe = CopyOf("notepad.exe");
    if (exe.empty())
        GTEST_SKIP() << "needs wine's notepad.exe and icoutils' wrestool";
    const auto before = qvtest::WrestoolExtractAll(exe);
    const auto a = BitmapPart(16, 4);
    const auto b = BitmapPart(32, 32);
    const auto png = IconPart{0, 0, 32, qvtest::PngPicture(256, 256)};
    ReplaceOutputIcon(exe.string(), WriteIcon(IconFile({a, b, png})));

    const auto listed = qvtest::WrestoolList(exe);
    const auto after = qvtest::WrestoolExtractAll(exe);
    EXPECT_EQ(listed.size(), before.size() + 4);
    ExpectKept(before, after, {});
    ASSERT_EQ(after.count("14/MAINICON/0"), 1u);
    EXPECT_EQ(GroupEntries(after.at("14/MAINICON/0")),
              (std::vector<GroupEntry>{{16, 16, 16, 0, 1, 4, static_cast<uint32_t>(a.bytes.size()), 11},
                                       {32, 32, 0, 0, 1, 32, static_cast<uint32_t>(b.bytes.size()), 12},
                                       {0, 0, 0, 0, 1, 32, static_cast<uint32_t>(png.bytes.size()), 13}}));
    EXPECT_EQ(after.at("3/11/0"), WithZeroSizeField(a.bytes));
    EXPECT_EQ(after.at("3/12/0"), WithZeroSizeField(b.bytes));
    EXPECT_EQ(after.at("3/13/0"), png.bytes);

    // icoutils' own icon extraction reads the new group as an icon file.
    int status = 0;
    const auto extracted = dir / "extracted.ico";
    const std::string icons = qvtest::Capture("wrestool -x -t14 -n MAINICON " + qvtest::Quoted(exe) + " > " +
                                                  qvtest::Quoted(extracted) + " && icotool -l " +
                                                  qvtest::Quoted(extracted) + " 2>&1",
                                              &status);
    EXPECT_EQ(status, 0) << icons;
    EXPECT_NE(icons.find("--width=16 --height=16 --bit-depth=4"), std::string::npos) << icons;
    EXPECT_NE(icons.find("--width=32 --height=32 --bit-depth=32"), std::string::npos) << icons;
    EXPECT_NE(icons.find("--width=256 --height=256 --bit-depth=32"), std::string::npos) << icons;
}

TEST_F(OutputIconTest, ExistingMainIconOfLanguageZeroIsReplacedInTheFile)
{
    const auto exe = CopyOf("notepad.exe");
    if (exe.empty())
        GTEST_SKIP() << "needs wine's notepad.exe and icoutils' wrestool";
    const auto icon = WriteIcon(IconFile({BitmapPart(32, 8)}));
    ReplaceOutputIcon(exe.string(), icon);
    const auto first = qvtest::WrestoolExtractAll(exe);
    ReplaceOutputIcon(exe.string(), icon);
    const auto second = qvtest::WrestoolExtractAll(exe);
    // The second group is the later entry and wins; the first group's image
    // stays in the file without a group naming it.
    EXPECT_EQ(second.size(), first.size() + 1);
    ExpectKept(first, second, {"14/MAINICON/0"});
    EXPECT_EQ(GroupEntries(second.at("14/MAINICON/0"))[0].identifier, 12);
    EXPECT_EQ(second.at("3/12/0"), second.at("3/11/0"));
}

TEST_F(OutputIconTest, MissingIconFileRewritesTheResourcesUnchanged)
{
    const auto exe = CopyOf("notepad.exe");
    if (exe.empty())
        GTEST_SKIP() << "needs wine's notepad.exe and icoutils' wrestool";
    const auto before = qvtest::WrestoolExtractAll(exe);
    ReplaceOutputIcon(exe.string(), (dir / "absent.ico").string());
    ReplaceOutputIcon(exe.string(), "");
    EXPECT_EQ(qvtest::WrestoolExtractAll(exe), before);
}

TEST_F(OutputIconTest, FailuresLeaveTheExecutableUntouched)
{
    const auto exe = CopyOf("notepad.exe");
    if (exe.empty())
        GTEST_SKIP() << "needs wine's notepad.exe and icoutils' wrestool";
    const auto original = qvtest::ReadFile(exe);
    const auto expectFailure = [&](const std::vector<uint8_t>& iconFile, const std::string& message) {
        try {
            ReplaceOutputIcon(exe.string(), WriteIcon(iconFile));
            ADD_FAILURE() << "no failure for " << message;
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()).rfind(message, 0), 0u) << e.what();
        }
        EXPECT_EQ(qvtest::ReadFile(exe), original);
    };
    expectFailure(qvtest::PngPicture(32, 32), "Invalid Icon or Cursor");
    expectFailure(IconFile({BitmapPart(16, 16, 1)}), "Pixel Format Not Valid for Icons or Cursors");
    auto cut = IconFile({BitmapPart(16, 4)});
    cut.resize(cut.size() - 1);
    expectFailure(cut, "Stream read error");
    auto broken = qvtest::PngPicture(16, 16);
    broken[40] ^= 0xFF;
    expectFailure(IconFile({IconPart{16, 16, 32, broken}}), "Invalid PNG image: ");

    qvtest::WriteFile(dir / "plain.exe", std::string("no executable"));
    EXPECT_THROW(ReplaceOutputIcon((dir / "plain.exe").string(), WriteIcon(IconFile({BitmapPart(16, 4)}))), Error);
    EXPECT_THROW(ReplaceOutputIcon((dir / "absent.exe").string(), WriteIcon(IconFile({BitmapPart(16, 4)}))), Error);
}

TEST_F(OutputIconTest, RewrittenProgramStillRunsUnderWine)
{
    const auto exe = CopyOf("hostname.exe");
    if (exe.empty())
        GTEST_SKIP() << "needs wine's hostname.exe and icoutils' wrestool";
    qvtest::Wine& wine = qvtest::TestWine();
    if (!wine.Available())
        GTEST_SKIP() << "wine is not installed";
    const auto original = dir / "original.exe";
    std::filesystem::copy_file(exe, original);
    const qvtest::WineRun expected = wine.Run(original);
    if (expected.status != 0 || expected.out.empty())
        GTEST_SKIP() << "wine does not run the unchanged program here (status " << expected.status << ")";

    const auto before = qvtest::WrestoolExtractAll(exe);
    ReplaceOutputIcon(exe.string(), WriteIcon(IconFile({BitmapPart(16, 4), BitmapPart(32, 32)})));
    const auto after = qvtest::WrestoolExtractAll(exe);
    ExpectKept(before, after, {});
    ASSERT_EQ(after.count("14/MAINICON/0"), 1u);
    EXPECT_EQ(GroupEntries(after.at("14/MAINICON/0")).size(), 2u);

    const qvtest::WineRun rewritten = wine.Run(exe);
    EXPECT_EQ(rewritten.out, expected.out);
    EXPECT_EQ(rewritten.status, 0);
}
