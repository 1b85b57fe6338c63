#pragma once

namespace qv::app {

// What must be registered before the QApplication exists: the "res"
// scheme of the start page.
void RegisterBeforeApplication();

// Names the application, once the QApplication exists. Only its name: a
// display name would be appended by some platforms to every window's
// caption ("Options — …"), and each window carries exactly its own.
void SetUpApplication();

// The program's entry sequence: takes the named lock, names the program,
// creates the main window (which carries out the command line) and the
// registered windows, and runs the message loop. Returns the exit status:
// 0, or 1 after a "/COMPILE" run that wrote no output.
int Builder(int argc, char** argv);

} // namespace qv::app
