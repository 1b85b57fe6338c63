#include "ExeTools.h"
#include "IconFiles.h"
#include "TestSupport.h"
#include "quorvane/compile/OutputIcon.h"
#include "quorvane/base/Stream.h"
#include "quorvane/archive/ArchiveWriter.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace qvtest;

namespace {

bool Usable()
{
    return fs::exists(QV_VIEWER_EXE) && HaveTool("wrestool");
}

std::vector<uint8_t> WithZeroSizeField(std::vector<uint8_t> picture)
{
    PutLe(picture, 20, 0, 4);
    return picture;
}

} // namespace

TEST(ViewerIcon, EveryPixelFormatBecomesTheNewMainIconAndTheViewerStillRuns)
{
    if (!Usable())
        GTEST_SKIP() << "needs viewer.exe and icoutils' wrestool";
    TempDir dir;
    const fs::path exe = dir / "site.exe";
    fs::copy_file(QV_VIEWER_EXE, exe);
    const auto before = WrestoolExtractAll(exe);
    ASSERT_EQ(before.count("14/MAINICON/0"), 1u) << "the viewer's own icon group has the neutral language";
    int highest = 0;
    for (const auto& [key, bytes] : before)
        if (key.rfind("3/", 0) == 0)
            highest = std::max(highest, std::stoi(key.substr(2)));

    const std::vector<IconPart> parts = {
        BitmapPart(16, 4), BitmapPart(16, 8), BitmapPart(32, 24), BitmapPart(32, 32), BitmapPart(32, 16, 3),
        IconPart{0, 0, 32, PngPicture(256, 256)}};
    WriteFile(dir / "app.ico", IconFile(parts));
    qv::ReplaceOutputIcon(exe.string(), (dir / "app.ico").string());

    const auto after = WrestoolExtractAll(exe);
    // Every other resource is byte for byte the viewer's own; its old
    // images stay, only the group of the same identity is replaced.
    for (const auto& [key, bytes] : before) {
        if (key == "14/MAINICON/0")
            continue;
        ASSERT_EQ(after.count(key), 1u) << key;
        EXPECT_EQ(after.at(key), bytes) << key;
    }
    EXPECT_EQ(after.size(), before.size() + parts.size());
    const auto entries = GroupEntries(after.at("14/MAINICON/0"));
    ASSERT_EQ(entries.size(), parts.size());
    const uint8_t colours[] = {16, 0, 0, 0, 0, 0};
    const uint16_t bits[] = {4, 8, 24, 32, 16, 32};
    for (size_t i = 0; i < parts.size(); ++i) {
        const GroupEntry& e = entries[i];
        EXPECT_EQ(e.width, parts[i].width) << i;
        EXPECT_EQ(e.height, parts[i].height) << i;
        EXPECT_EQ(e.colourCount, colours[i]) << i;
        EXPECT_EQ(e.planes, 1) << i;
        EXPECT_EQ(e.bitCount, bits[i]) << i;
        EXPECT_EQ(e.bytesInResource, parts[i].bytes.size()) << i;
        EXPECT_EQ(e.identifier, highest + 1 + static_cast<int>(i)) << i;
        const std::string image = "3/" + std::to_string(e.identifier) + "/0";
        ASSERT_EQ(after.count(image), 1u) << image;
        EXPECT_EQ(after.at(image), i == 5 ? parts[i].bytes : WithZeroSizeField(parts[i].bytes)) << image;
    }

    // With an archive appended, the re-iconed viewer lists it under wine.
    if (!TestWine().Available())
        GTEST_SKIP() << "wine is not installed";
    {
        qv::ArchiveWriter arc;
        arc.Create((dir / "a.qpf").string());
        qv::MemoryStream page(TextBytes(5000));
        arc.Add("index.htm", page);
        qv::MemoryStream image(NoiseBytes(3000));
        arc.Add("img\\a.png", image);
        arc.Close();
    }
    auto bytes = ReadFile(exe);
    const auto archive = ReadFile(dir / "a.qpf");
    bytes.insert(bytes.end(), archive.begin(), archive.end());
    WriteFile(exe, bytes);
    const WineRun run = TestWine().Run(exe, {"--list"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("index.htm"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("img\\a.png"), std::string::npos) << run.out;
}
