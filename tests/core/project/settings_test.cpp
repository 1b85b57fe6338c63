#include "quorvane/base/Error.h"
#include "quorvane/project/ProjectSettings.h"
#include "quorvane/platform/CodePage.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace qv;

namespace {

std::string ShortAt(const std::array<uint8_t, kSettingsImageSize>& img, size_t at)
{
    return std::string(reinterpret_cast<const char*>(img.data() + at + 1), img[at]);
}

int32_t I32At(const std::array<uint8_t, kSettingsImageSize>& img, size_t at)
{
    return static_cast<int32_t>(img[at] | img[at + 1] << 8 | img[at + 2] << 16 | static_cast<uint32_t>(img[at + 3]) << 24);
}

bool ZeroRange(const std::array<uint8_t, kSettingsImageSize>& img, size_t from, size_t to)
{
    for (size_t i = from; i <= to; ++i)
        if (img[i] != 0)
            return false;
    return true;
}

} // namespace

TEST(SettingsImage, StartValuesWithHomeAndOutput)
{
    ProjectSettingsRecord s;
    s.HomePage = "index.html";
    s.OutputPath = "C:\\out\\site.exe";
    s.IncludeMask = "*.*;";
    s.StampVersion();
    const auto img = WriteSettingsImage(s);

    ASSERT_EQ(img.size(), 3896u);
    EXPECT_EQ(img[0], 10);
    EXPECT_EQ(ShortAt(img, 0), "index.html");
    EXPECT_EQ(img[256], 1);                       // OutputIsExe
    EXPECT_EQ(ShortAt(img, 257), "C:\\out\\site.exe");
    EXPECT_EQ(I32At(img, 516), 2);                // BorderType
    EXPECT_EQ(I32At(img, 520), 0);
    EXPECT_EQ(I32At(img, 524), 0);
    EXPECT_EQ(img[528], 0);                       // LogoPath empty
    EXPECT_EQ(img[784], 1);                       // ViewerFlag
    EXPECT_EQ(img[785], 0);
    EXPECT_EQ(img[786], 0);
    EXPECT_EQ(img[787], 0);
    for (size_t i = 788; i <= 794; ++i)
        EXPECT_EQ(img[i], 1) << "flag at " << i;
    EXPECT_EQ(img[795], 0);                       // Password
    EXPECT_EQ(img[1051], 0);
    EXPECT_TRUE(ZeroRange(img, 1056, 1063));      // ExpiryDate 0.0
    EXPECT_EQ(img[1064], 4);
    EXPECT_EQ(ShortAt(img, 1064), "*.*;");
    EXPECT_EQ(ShortAt(img, 1320), "*.exe");
    EXPECT_EQ(img[1576], 0);
    EXPECT_EQ(I32At(img, 1580), 0);
    EXPECT_EQ(img[1584], 0);
    EXPECT_EQ(img[1840], 1);                      // ContextMenu
    const uint8_t stamp[] = {0x34, 0x00, 0x2E, 0x00, 0x33, 0x00, 0x30, 0x00};
    EXPECT_EQ(std::memcmp(img.data() + 1842, stamp, 8), 0);
    EXPECT_TRUE(ZeroRange(img, 1850, 3895));
}

TEST(SettingsImage, EveryFieldAtItsOffset)
{
    ProjectSettingsRecord s;
    s.HomePage = "h";
    s.OutputIsExe = false;
    s.OutputPath = "o";
    s.BorderType = 3;
    s.ViewWidth = -640;
    s.ViewHeight = 0x01020304;
    s.LogoPath = "l";
    s.Shadow = s.HideScrollbars = s.Centered = true;
    s.ShowToolbar = s.ShowCaptions = s.ShowStatusbar = false;
    s.EnableCopy = s.EnableSearch = s.EnablePrint = s.EnableFont = false;
    s.Password = "p";
    s.ExpiryEnabled = true;
    s.ExpiryDate = 45658.5;
    s.IncludeMask = "i";
    s.DirectMask = "d";
    s.CursorOption = true;
    s.CompressionLevel = 3;
    s.UserAgent = "u";
    s.ContextMenu = false;
    const auto img = WriteSettingsImage(s);

    EXPECT_EQ(ShortAt(img, 0), "h");
    EXPECT_EQ(img[256], 0);
    EXPECT_EQ(ShortAt(img, 257), "o");
    EXPECT_EQ(I32At(img, 516), 3);
    EXPECT_EQ(I32At(img, 520), -640);
    EXPECT_EQ(img[524], 0x04);
    EXPECT_EQ(img[527], 0x01);
    EXPECT_EQ(ShortAt(img, 528), "l");
    EXPECT_EQ(img[784], 1);
    EXPECT_EQ(img[785], 1);
    EXPECT_EQ(img[786], 1);
    EXPECT_EQ(img[787], 1);
    for (size_t i = 788; i <= 794; ++i)
        EXPECT_EQ(img[i], 0) << "flag at " << i;
    EXPECT_EQ(ShortAt(img, 795), "p");
    EXPECT_EQ(img[1051], 1);
    double d;
    std::memcpy(&d, img.data() + 1056, 8); // little-endian host
    EXPECT_EQ(d, 45658.5);
    EXPECT_EQ(ShortAt(img, 1064), "i");
    EXPECT_EQ(ShortAt(img, 1320), "d");
    EXPECT_EQ(img[1576], 1);
    EXPECT_EQ(I32At(img, 1580), 3);
    EXPECT_EQ(ShortAt(img, 1584), "u");
    EXPECT_EQ(img[1840], 0);
    // Padding is zero in every image.
    EXPECT_TRUE(ZeroRange(img, 513, 515));
    EXPECT_TRUE(ZeroRange(img, 1052, 1055));
    EXPECT_TRUE(ZeroRange(img, 1577, 1579));
    EXPECT_EQ(img[1841], 0);
    EXPECT_TRUE(ZeroRange(img, 1842, 3895)); // not stamped yet

    const ProjectSettingsRecord back = ReadSettingsImage(img);
    EXPECT_EQ(back.ViewHeight, 0x01020304);
    EXPECT_EQ(back.ExpiryDate, 45658.5);
    EXPECT_EQ(back.UserAgent.str(), "u");
    EXPECT_FALSE(back.ContextMenu);
    EXPECT_TRUE(back.CursorOption);
}

TEST(SettingsImage, ShortStringsCutAndReplaced)
{
    ProjectSettingsRecord s;
    s.HomePage = std::string(300, 'a');
    EXPECT_EQ(s.HomePage.AnsiLength(), 255u);
    // "€" is in Windows-1252 (0x80); "Ж" is not and becomes "?".
    s.UserAgent = "Agent \xE2\x82\xAC \xD0\x96";
    const auto img = WriteSettingsImage(s);
    EXPECT_EQ(img[0], 255);
    EXPECT_EQ(img[1584], 9);
    EXPECT_EQ(ShortAt(img, 1584), std::string("Agent \x80 ?"));
    EXPECT_EQ(s.UserAgent.str(), "Agent \xE2\x82\xAC ?");
}

TEST(SettingsImage, ShorterValueLeavesNoOldTail)
{
    ProjectSettingsRecord s;
    s.Password = "a-long-secret-password";
    s.Password = "pw";
    const auto img = WriteSettingsImage(s);
    EXPECT_EQ(img[795], 2);
    EXPECT_TRUE(ZeroRange(img, 795 + 3, 795 + 255));
}

TEST(SettingsImage, ExpiryDateStoredWhenDisabled)
{
    ProjectSettingsRecord s;
    s.ExpiryEnabled = false;
    s.ExpiryDate = 46022.0; // 31 December 2025
    const auto img = WriteSettingsImage(s);
    double d;
    std::memcpy(&d, img.data() + 1056, 8);
    EXPECT_EQ(d, 46022.0);
}

TEST(SettingsImage, ReadRefusesWrongSize)
{
    std::vector<uint8_t> small(100);
    EXPECT_THROW(ReadSettingsImage(small), qv::Error);
}

TEST(ShortStringAppend, FullStringStaysAsItIs)
{
    ShortString s = std::string(255, 'x');
    s.Append(";");
    EXPECT_EQ(s.AnsiLength(), 255u);
    EXPECT_EQ(s.str().back(), 'x');
    ShortString t = "*.htm";
    t.Append(";");
    EXPECT_EQ(t.str(), "*.htm;");
}

TEST(CodePage, Windows1252BothWays)
{
    using namespace qv::codepage;
    EXPECT_EQ(AnsiCodePage(), 1252);
    EXPECT_EQ(ToAnsi("caf\xC3\xA9"), "caf\xE9");
    EXPECT_EQ(FromAnsi("caf\xE9"), "caf\xC3\xA9");
    EXPECT_EQ(ToAnsi("\xE2\x80\x9Cq\xE2\x80\x9D"), "\x93q\x94");
    EXPECT_EQ(FromAnsi("\x80"), "\xE2\x82\xAC");
    // Outside the code page, outside the BMP, and broken UTF-8 all give "?".
    EXPECT_EQ(ToAnsi("\xE4\xB8\xAD"), "?");
    EXPECT_EQ(ToAnsi("\xF0\x9F\x98\x80"), "?");
    EXPECT_EQ(ToAnsi("a\xFF" "b"), "a?b");
    // A character outside the BMP counts as two UTF-16 units.
    EXPECT_EQ(ToAnsi("ab\xF0\x9F\x98\x80z", 3), "ab");
    EXPECT_EQ(ToAnsi("abcdef", 4), "abcd");
}

TEST(CodePage, LanguageTable)
{
    using namespace qv::codepage;
    EXPECT_EQ(CodePageOfLanguage(0x0409), 1252);
    EXPECT_EQ(CodePageOfLanguage(0x0419), 1251);
    EXPECT_EQ(CodePageOfLanguage(0x0405), 1250);
    EXPECT_EQ(CodePageOfLanguage(0x0411), 932);
    EXPECT_EQ(CodePageOfLanguage(0x0804), 936);
    EXPECT_EQ(CodePageOfLanguage(0x0404), 950);
    EXPECT_EQ(CodePageOfLanguage(0), AnsiCodePage());
}

TEST(CodePage, OtherCodePageThroughIconv)
{
    using namespace qv::codepage;
    SetAnsiCodePage(1251);
    EXPECT_EQ(ToAnsi("\xD0\x96"), "\xC6");   // Ж
    EXPECT_EQ(FromAnsi("\xC6"), "\xD0\x96");
    EXPECT_EQ(ToAnsi("\xC3\xA9"), "?");      // é is not in 1251
    SetAnsiCodePage(1252);
    EXPECT_THROW(SetAnsiCodePage(99999), qv::Error);
    EXPECT_EQ(AnsiCodePage(), 1252);
}
