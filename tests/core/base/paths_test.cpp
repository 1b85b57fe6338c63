#include "quorvane/base/PathParts.h"
#include "quorvane/platform/FileSystem.h"
#include "quorvane/project/CommandLine.h"
#include "quorvane/project/NewProject.h"
#include "quorvane/update/ProgramVersion.h"

#include <gtest/gtest.h>

using namespace qv;
using Parts = std::vector<std::string>;

// The separator sets and empty parts on which the earlier copies disagreed.
TEST(PathParts, EachSetSplitsOnlyAtItsOwnSeparators)
{
    namespace sep = separators;
    const std::string mixed = "a/b\\c:d";
    EXPECT_EQ(SplitPath(mixed, sep::kSlash, EmptyParts::Keep), (Parts{"a", "b\\c:d"}));
    EXPECT_EQ(SplitPath(mixed, sep::kBackslash, EmptyParts::Keep), (Parts{"a/b", "c:d"}));
    EXPECT_EQ(SplitPath(mixed, sep::kEitherSlash, EmptyParts::Keep), (Parts{"a", "b", "c:d"}));
    EXPECT_EQ(SplitPath(mixed, sep::kEitherSlashOrDrive, EmptyParts::Keep), (Parts{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitPath(mixed, sep::kArchiveFolder, EmptyParts::Keep), (Parts{"a/b", "c", "d"}));

    EXPECT_EQ(SplitPath("\\a\\\\b\\", sep::kBackslash, EmptyParts::Keep), (Parts{"", "a", "", "b", ""}));
    EXPECT_EQ(SplitPath("\\a\\\\b\\", sep::kBackslash, EmptyParts::Drop), (Parts{"a", "b"}));
    EXPECT_EQ(SplitPath("", sep::kEitherSlash, EmptyParts::Keep), (Parts{""}));
    EXPECT_EQ(SplitPath("", sep::kEitherSlash, EmptyParts::Drop), Parts{});

    const PathCut drive = CutAtLastSeparator("C:dir\\page.htm", sep::kArchiveFolder);
    EXPECT_EQ(drive.folder, "C:dir\\");
    EXPECT_EQ(drive.name, "page.htm");
    EXPECT_EQ(CutAtLastSeparator("site/a:b", sep::kEitherSlashOrDrive).name, "b");
    EXPECT_EQ(CutAtLastSeparator("site/a:b", sep::kEitherSlash).name, "a:b");
    EXPECT_EQ(CutAtLastSeparator("page", sep::kSlash).folder, "");
}

// Each caller keeps the separators its paths were always split at.
TEST(PathParts, CallersKeepTheirSeparators)
{
    EXPECT_EQ(fs::FileNameOf("a/b\\c"), "b\\c");
    EXPECT_EQ(fs::FolderOf("a/b\\c"), "a/");
    EXPECT_EQ(ExtensionOf("site.d\\page"), "");
    EXPECT_EQ(ExtensionOf("a.b:c"), ".b:c");
    EXPECT_EQ(ReplaceExtension("a.b:c", ".exe"), "a.b:c.exe");
    EXPECT_EQ(ReplaceExtension("site\\home.htm", ".qpf"), "site\\home.qpf");

    VersionRecord record;
    record.stringTables["040904E4"]["FileVersion"] = "1.2";
    EXPECT_EQ(QueryVersionValue(record, "\\StringFileInfo\\\\040904E4\\FileVersion"), "1.2");
    EXPECT_EQ(QueryVersionValue(record, "StringFileInfo/040904E4/FileVersion"), std::nullopt);
}
