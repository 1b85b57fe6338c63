#pragma once
#include <string>
#include <string_view>

// Text in the viewer is UTF-16 at the Windows API, UTF-8 inside messages of
// the shared core code, and ANSI bytes in the archive.
namespace viewer {

std::wstring AnsiToWide(std::string_view ansi);
std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);
// The system's message for a Win32 error code, without the final line break.
std::wstring SystemMessage(unsigned long code);

} // namespace viewer
