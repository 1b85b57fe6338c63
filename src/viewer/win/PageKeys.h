#pragma once
// Portable: no Windows headers, so the key table is tested on the build
// machine too.

namespace viewer {

// What the pages may do, from the output's settings.
struct BrowserPolicy {
    bool hideScrollbars = false;
    bool contextMenu = true;
    bool copy = true;
    bool find = true;
    bool print = true;
    bool zoom = true;
    bool search = false; // the output's index, where it has one and may be searched
};

// The modifier keys down with a key press. AltGr arrives as Ctrl+Alt.
struct KeyModifiers {
    bool control = false;
    bool shift = false;
    bool alt = false;
};

enum class KeyAction {
    ToPage,       // the page (and the control's own keys) have it
    Blocked,      // nobody sees it
    CloseViewer,  // Ctrl+W, Ctrl+Q
    FindNext,     // F3
    FindPrevious, // Shift+F3
    Search,       // Ctrl+K: the results page, its form waiting for words
};

// The virtual-key codes the table knows, numbered as Windows numbers them.
namespace key {
constexpr unsigned Insert = 0x2D, Add = 0x6B, Subtract = 0x6D, Numpad0 = 0x60, F3 = 0x72, OemPlus = 0xBB,
                   OemMinus = 0xBD;
} // namespace key

// What a key press (a virtual-key code; letters and digits as their
// capitals) means in the viewer: copy, find, print and zoom keys are kept
// from the page where the policy forbids them, the keys that would lead
// out of the viewer (a new window, another address) always; Ctrl+W and
// Ctrl+Q close it whatever its frame. Ctrl+K searches where the policy
// allows it, and is the page's otherwise. A shortcut needs Ctrl without Alt:
// Ctrl+Alt is AltGr, which types letters.
KeyAction ActionOfKey(const BrowserPolicy& policy, unsigned virtualKey, KeyModifiers held);

} // namespace viewer
