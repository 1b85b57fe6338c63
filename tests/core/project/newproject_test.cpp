// What a new project starts from: the values the wizard, the options
// dialog and `quorvanec new` all take from one place.
#include "MarkedSettings.h"
#include "quorvane/project/NewProject.h"

#include <gtest/gtest.h>

using namespace qv;

TEST(NewProject, OutputNameFollowsTheFormat)
{
    EXPECT_EQ(OutputPathFor("C:\\site\\index.html", true), "C:\\site\\index.exe");
    EXPECT_EQ(OutputPathFor("C:\\site\\index.html", false), "C:\\site\\index.qpf");
    EXPECT_EQ(OutputPathFor("/site/a.b.htm", true), "/site/a.b.exe");
    // No extension, or a dot only in a folder's name: appended.
    EXPECT_EQ(OutputPathFor("/site/README", true), "/site/README.exe");
    EXPECT_EQ(OutputPathFor("/out.dir/name", false), "/out.dir/name.qpf");
    EXPECT_EQ(OutputPathFor("", true), ".exe");
}

TEST(NewProject, ProposalsOnTopOfAnyRecord)
{
    ProjectSettingsRecord base = qvtest::MarkedSettings();
    base.ViewerFlag = false;
    base.StampVersion();

    ProjectSettingsRecord expected = base;
    expected.HomePage = expected.OutputPath = expected.LogoPath = expected.Password = expected.UserAgent = "";
    expected.OutputIsExe = true;
    expected.BorderType = 2;
    expected.ViewWidth = 640;
    expected.ViewHeight = 480;
    expected.Shadow = expected.HideScrollbars = expected.Centered = true;
    expected.ShowToolbar = expected.ShowCaptions = expected.ShowStatusbar = true;
    expected.EnableCopy = expected.EnableSearch = expected.EnablePrint = expected.EnableFont = true;
    expected.ContextMenu = true;
    expected.ExpiryEnabled = false;
    expected.ExpiryDate = 45000;
    expected.IncludeMask = "*.*;";
    expected.DirectMask = "*.exe";
    // Not the wizard's: ViewerFlag, CursorOption, CompressionLevel, the stamp.
    EXPECT_EQ(WriteSettingsImage(WizardOpening(base, 45000)), WriteSettingsImage(expected));

    expected.HomePage = "/site/index.html";
    expected.OutputPath = "/site/index.exe";
    EXPECT_EQ(WriteSettingsImage(WizardProposals(base, "/site/index.html", 45000)), WriteSettingsImage(expected));
}
