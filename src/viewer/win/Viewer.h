#pragma once
#include <string>
#include <vector>

namespace viewer {

// The viewer's commands, given the program's arguments (argv[0] first):
//   viewer.exe                  the site in the viewer's window
//   viewer.exe FILE.qpf         the same for a stand-alone archive
//   viewer.exe --list [FILE]    one line per entry on standard output
//   viewer.exe --extract DIR [FILE]
//                               every entry written below DIR
//   viewer.exe --get URL-PATH [FILE]
//                               the bytes the page protocol serves for a
//                               percent-encoded path relative to the site's
//                               root ("Sous%20dossier/Caf%C3%A9.html") on
//                               standard output; a missing entry, "-config-"
//                               and "-logo-" are refused with the reason
// Without FILE the archive appended to the program itself is read. The
// window, --extract and --get ask for the start password first (and refuse
// an expired output). Returns the exit status: 0 done, 1 failed or refused
// (the reason on standard error, or in a message box for the window).
int Run(const std::vector<std::wstring>& args);

} // namespace viewer
