#pragma once
#include <QLocale>
#include <QString>
#include <QUrl>

namespace qv::app {

// A file the program needs at run time, such as the help file: looked for
// from the build state's ProgramFolder, else the running program's own
// folder (beside it, then in the installed data folder).
QString ProgramFile(const QString& name);

// "quorvane-view" in the program folder: shows QPF and EXE outputs.
QString ViewerProgram();

// Starts the viewer on `file` without waiting for it; throws qv::Error
// naming the viewer when it is missing or does not start.
void ShowInViewer(const QString& file);

// The user guide compiled to an output: "quorvane-help.qpf" in the program
// folder.
QString HelpFilePath();

// Shows a compiled help file in the viewer; throws qv::Error "Unable to
// open help file <path>" when it is missing, and ShowInViewer's error.
void OpenHelpFile(const QString& path);

// Shows the current project's output in the viewer; what the viewer then
// makes of the file is its own business.
void OpenOutput();

// The product's page on the publisher's web site.
QUrl ProductPageAddress();

// A duration as a clock time in the locale's long time format, whole days
// dropped ("0:01:05", or "12:01:05 AM" with a 12-hour format). The time
// zone that a long format may name means nothing for a duration and is
// left out.
QString ElapsedText(qint64 milliseconds, const QLocale& locale = QLocale());

} // namespace qv::app
