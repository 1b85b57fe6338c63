#pragma once
#include <string>
#include <vector>

namespace viewer {

// The viewer's commands, given the program's arguments (argv[0] first):
//   viewer.exe                  message box: what the attached archive holds
//   viewer.exe FILE.qpf         the same for a stand-alone archive
//   viewer.exe --list [FILE]    one line per entry on standard output
//   viewer.exe --extract DIR [FILE]
// Without FILE the archive appended to the program itself is read. Returns
// the exit status: 0 done, 1 failed (the reason on standard error).
int Run(const std::vector<std::wstring>& args);

} // namespace viewer
