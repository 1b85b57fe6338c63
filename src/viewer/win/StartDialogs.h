#pragma once
#include "quorvane/viewercore/SiteArchive.h"
#include "quorvane/viewercore/StartRules.h"

namespace viewer {

// The start rules' boxes as Windows shows them: message boxes, and the
// password dialog (a hidden edit field, OK and Cancel). The dialog's
// window has the caption the rules give ("Password required"), its edit
// field is the only one, and OK and Cancel carry IDOK and IDCANCEL.
class WindowsStartPrompts final : public qv::StartPrompts {
public:
    void Message(std::string_view caption, std::string_view text) override;
    std::optional<std::string> AskPassword(std::string_view caption, std::string_view text) override;
};

// Expiry, then the password, asked before anything of the output is shown
// or written; false when the viewer must end with qv::kRefusedExitStatus.
bool PassStartRules(const qv::SiteArchive& site);

} // namespace viewer
