#include "PageKeys.h"

namespace viewer {

KeyAction ActionOfKey(const BrowserPolicy& policy, unsigned virtualKey, KeyModifiers held)
{
    if (held.alt)
        return KeyAction::ToPage;
    if (virtualKey == key::F3) {
        if (!policy.find)
            return KeyAction::Blocked;
        return held.shift ? KeyAction::FindPrevious : KeyAction::FindNext;
    }
    if (!held.control)
        return KeyAction::ToPage;
    const auto allowedIf = [](bool allowed) { return allowed ? KeyAction::ToPage : KeyAction::Blocked; };
    switch (virtualKey) {
    case 'W':
    case 'Q': return KeyAction::CloseViewer;
    case 'C':
    case 'X':
    case 'S':
    case key::Insert: return allowedIf(policy.copy);
    case 'F': return allowedIf(policy.find);
    case 'P': return allowedIf(policy.print);
    case 'K': return policy.search ? KeyAction::Search : KeyAction::ToPage;
    case key::OemPlus:
    case key::OemMinus:
    case key::Add:
    case key::Subtract:
    case '0':
    case key::Numpad0: return allowedIf(policy.zoom);
    case 'N':
    case 'O':
    case 'L': return KeyAction::Blocked;
    }
    return KeyAction::ToPage;
}

} // namespace viewer
