#include "quorvane/viewercore/HandOver.h"

#include "quorvane/base/Text.h"
#include "quorvane/viewercore/ReplyPages.h"

#include <array>

namespace qv {

bool IsProgramFile(std::string_view fileName)
{
    // Not "bin": packed data files carry it too, and pages fetch them.
    static constexpr std::array<std::string_view, 35> kPrograms = {
        "desktop", "sh",  "bash", "csh", "zsh", "exe", "com", "bat", "cmd",      "scr", "pif", "msi",
        "msp",     "lnk", "hta",  "js",  "jse", "vbs", "vbe", "wsf", "wsh",      "ps1", "psm1", "jar",
        "appimage", "run", "cpl", "reg", "url", "application", "py", "pl", "chm", "hlp", "msc"};
    const size_t slash = fileName.find_last_of("/\\");
    if (slash != std::string_view::npos)
        fileName.remove_prefix(slash + 1);
    // Trailing dots and blanks are dropped by Windows when it opens a name.
    while (!fileName.empty() && (fileName.back() == '.' || fileName.back() == ' '))
        fileName.remove_suffix(1);
    const size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos)
        return false;
    const std::string_view extension = fileName.substr(dot + 1);
    for (const std::string_view program : kPrograms)
        if (EqualAsciiNoCase(extension, program))
            return true;
    return false;
}

std::string HandOverQuestion(std::string_view fileName, std::string_view handler, bool beside)
{
    // Appended piece by piece: GCC 12 warns falsely on chains of operator+.
    std::string text = "Open \"";
    text.append(fileName).append("\" with ");
    if (handler.empty())
        text.append("the program your desktop uses for it?");
    else
        text.append(handler).append("?");
    text.append(beside ? "\n\nThe file lies in the folder of the file you are viewing."
                       : "\n\nThe file is packed in the file you are viewing.");
    text.append(" Open it only if you trust whoever gave it to you.");
    return text;
}

std::string ProgramRefusedPage(std::string_view sitePath)
{
    std::string text = "\"";
    text.append(sitePath).append("\" is a program or a script. Programs are never started from a file you are "
                                 "viewing, so it stays closed.");
    return ReplyPage("Not opened", text);
}

} // namespace qv
