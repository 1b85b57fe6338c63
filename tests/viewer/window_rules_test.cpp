// viewer.exe's key table and window placement, on the build machine: which
// key presses reach the page, and where the window goes on a monitor.
#include "PageKeys.h"
#include "WindowPlacement.h"

#include <gtest/gtest.h>

#include <ostream>

namespace viewer {
void PrintTo(const ScreenBox& b, std::ostream* out)
{
    *out << b.left << ',' << b.top << ',' << b.right << ',' << b.bottom;
}
} // namespace viewer

using namespace viewer;

namespace {

constexpr KeyModifiers kNone{}, kCtrl{true, false, false}, kShift{false, true, false}, kAltGr{true, false, true},
    kCtrlShiftAlt{true, true, true};

BrowserPolicy Locked()
{
    BrowserPolicy p;
    p.copy = p.find = p.print = p.zoom = false;
    return p;
}

} // namespace

TEST(PageKeys, ShortcutsFollowThePolicy)
{
    const BrowserPolicy open;
    const BrowserPolicy locked = Locked();
    for (const unsigned k : {unsigned('C'), unsigned('X'), unsigned('S'), key::Insert, unsigned('F'), unsigned('P'),
                             key::OemPlus, key::OemMinus, key::Add, key::Subtract, unsigned('0'), key::Numpad0}) {
        EXPECT_EQ(ActionOfKey(open, k, kCtrl), KeyAction::ToPage) << k;
        EXPECT_EQ(ActionOfKey(locked, k, kCtrl), KeyAction::Blocked) << k;
        EXPECT_EQ(ActionOfKey(locked, k, kNone), KeyAction::ToPage) << "typing " << k;
    }
    BrowserPolicy copyOnly = locked;
    copyOnly.copy = true;
    EXPECT_EQ(ActionOfKey(copyOnly, 'C', kCtrl), KeyAction::ToPage);
    EXPECT_EQ(ActionOfKey(copyOnly, 'P', kCtrl), KeyAction::Blocked);
    // Out of the viewer: never, whatever the policy.
    for (const unsigned k : {'N', 'O', 'L'})
        EXPECT_EQ(ActionOfKey(open, k, kCtrl), KeyAction::Blocked) << k;
    EXPECT_EQ(ActionOfKey(open, 'A', kCtrl), KeyAction::ToPage);
}

TEST(PageKeys, AltGrLettersReachThePage)
{
    // Polish ń ó ł ć ś ź, German } and ~ (AltGr+0, AltGr++): Ctrl+Alt is
    // typing, even where the same key with Ctrl alone is kept back.
    const BrowserPolicy locked = Locked();
    for (const unsigned k : {unsigned('N'), unsigned('O'), unsigned('L'), unsigned('C'), unsigned('S'),
                             unsigned('X'), unsigned('0'), key::OemPlus, unsigned('W'), unsigned('Q')}) {
        EXPECT_EQ(ActionOfKey(locked, k, kAltGr), KeyAction::ToPage) << k;
        EXPECT_EQ(ActionOfKey(locked, k, kCtrlShiftAlt), KeyAction::ToPage) << k;
    }
}

TEST(PageKeys, CloseAndFindKeys)
{
    const BrowserPolicy open;
    const BrowserPolicy locked = Locked();
    for (const BrowserPolicy& p : {open, locked}) {
        EXPECT_EQ(ActionOfKey(p, 'W', kCtrl), KeyAction::CloseViewer);
        EXPECT_EQ(ActionOfKey(p, 'Q', kCtrl), KeyAction::CloseViewer);
        EXPECT_EQ(ActionOfKey(p, 'W', kNone), KeyAction::ToPage);
    }
    EXPECT_EQ(ActionOfKey(open, key::F3, kNone), KeyAction::FindNext);
    EXPECT_EQ(ActionOfKey(open, key::F3, kShift), KeyAction::FindPrevious);
    EXPECT_EQ(ActionOfKey(locked, key::F3, kNone), KeyAction::Blocked);
    EXPECT_EQ(ActionOfKey(locked, key::F3, kShift), KeyAction::Blocked);
}

TEST(PageKeys, CtrlKSearchesOnlyAnOutputThatCanBeSearched)
{
    BrowserPolicy searchable;
    searchable.search = true;
    EXPECT_EQ(ActionOfKey(searchable, 'K', kCtrl), KeyAction::Search);
    EXPECT_EQ(ActionOfKey(searchable, 'K', kNone), KeyAction::ToPage);
    EXPECT_EQ(ActionOfKey(searchable, 'K', kAltGr), KeyAction::ToPage);
    // Without an index the page may have the key for itself.
    EXPECT_EQ(ActionOfKey(BrowserPolicy{}, 'K', kCtrl), KeyAction::ToPage);
}

TEST(WindowPlacement, TheWindowKeepsToTheWorkArea)
{
    const ScreenBox work{0, 0, 1280, 984}; // a task bar below
    // Fits: stays where it was put, or goes to the middle.
    EXPECT_EQ(FitToWorkArea({100, 50, 740, 530}, work, false), (ScreenBox{100, 50, 740, 530}));
    EXPECT_EQ(FitToWorkArea({100, 50, 740, 530}, work, true), (ScreenBox{320, 252, 960, 732}));
    // Larger than the screen: the work area, at its corner, centred or not.
    EXPECT_EQ(FitToWorkArea({0, 0, 4000, 3000}, work, false), work);
    EXPECT_EQ(FitToWorkArea({300, 200, 4300, 3200}, work, true), work);
    // Half off the screen: moved in, the size kept.
    EXPECT_EQ(FitToWorkArea({1000, 900, 1640, 1380}, work, false), (ScreenBox{640, 504, 1280, 984}));
    EXPECT_EQ(FitToWorkArea({-500, -20, 140, 460}, work, false), (ScreenBox{0, 0, 640, 480}));
    // A second monitor left of the first and its own work area.
    const ScreenBox left{-1920, 40, 0, 1080};
    EXPECT_EQ(FitToWorkArea({-1900, 0, 100, 1200}, left, false), left);
    EXPECT_EQ(FitToWorkArea({-100, 0, 700, 600}, left, false), (ScreenBox{-800, 40, 0, 640}));
    EXPECT_EQ(FitToWorkArea({0, 0, 800, 600}, left, true), (ScreenBox{-1360, 260, -560, 860}));
}

TEST(WindowPlacement, SizesFollowTheResolution)
{
    EXPECT_EQ(ScaledToDpi(640, 96), 640);
    EXPECT_EQ(ScaledToDpi(640, 144), 960);
    EXPECT_EQ(ScaledToDpi(480, 120), 600);
    EXPECT_EQ(ScaledToDpi(20, 168), 35);
    EXPECT_EQ(ScaledToDpi(801, 144), 1202); // 1201.5, rounded up
}
