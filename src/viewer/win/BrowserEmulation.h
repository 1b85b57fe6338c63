#pragma once
#include <string>

namespace viewer {

// The WebBrowser control draws pages in the document mode of Internet
// Explorer 7 unless a program asks for another under its own file name.
// This asks for IE11 (11001) for `programName` ("site.exe") under the
// current user's FEATURE_BROWSER_EMULATION key, which must happen before
// the control is made. The only value the viewer writes to the registry;
// a registry that refuses it leaves the older mode and nothing else.
void RequestIe11DocumentMode(const std::wstring& programName);

} // namespace viewer
