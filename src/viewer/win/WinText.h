#pragma once
#include "quorvane/viewercore/PageAddress.h"

#include <string>
#include <string_view>

// Text in the viewer is UTF-16 at the Windows API, UTF-8 inside messages of
// the shared core code, and ANSI bytes in the archive.
namespace viewer {

std::wstring AnsiToWide(std::string_view ansi);
std::string AnsiToUtf8(std::string_view ansi);
// What the ANSI code page lacks becomes "?", as the writer stored it.
std::string WideToAnsi(std::wstring_view wide);
std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);
// The system's message for a Win32 error code, without the final line break.
std::wstring SystemMessage(unsigned long code);

// The writer's code page as the viewer core wants it: the system's ANSI
// code page, the one an output made on this machine was written in.
qv::AnsiCodec WindowsAnsiCodec();
// Windows-1252, which the compiler writes names in unless told otherwise:
// what an output made elsewhere most likely holds.
qv::AnsiCodec Windows1252Codec();
inline constexpr unsigned kWindows1252 = 1252;

} // namespace viewer
