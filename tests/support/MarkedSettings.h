#pragma once
#include "quorvane/project/ProjectSettings.h"

namespace qvtest {

// A record unlike both the start values and a new project's proposals in
// every field, to see which fields a step changes and which it keeps.
inline qv::ProjectSettingsRecord MarkedSettings()
{
    qv::ProjectSettingsRecord s;
    s.HomePage = "/marked/home.html";
    s.OutputIsExe = false;
    s.OutputPath = "/marked/out.data";
    s.BorderType = 1;
    s.ViewWidth = 111;
    s.ViewHeight = 222;
    s.LogoPath = "/marked/logo.ico";
    s.Shadow = s.HideScrollbars = s.Centered = false;
    s.ShowToolbar = s.ShowCaptions = s.ShowStatusbar = false;
    s.EnableCopy = s.EnableSearch = s.EnablePrint = s.EnableFont = false;
    s.Password = "secret";
    s.ExpiryEnabled = true;
    s.ExpiryDate = 40000;
    s.IncludeMask = "*.htm";
    s.DirectMask = "*.zip";
    s.CursorOption = true;
    s.CompressionLevel = 3;
    s.UserAgent = "Marked/1.0";
    s.ContextMenu = false;
    return s;
}

} // namespace qvtest
