#pragma once
#include <QLocale>
#include <QString>
#include <QUrl>

namespace qv::app {

// A file the program needs at run time, such as the help file: looked for
// from the build state's ProgramFolder, else the running program's own
// folder (beside it, then in the installed data folder).
QString ProgramFile(const QString& name);

// Opens a compiled help file with the desktop's handler; throws qv::Error
// "Unable to open help file <path>" when it is missing or the shell
// refuses it.
void OpenHelpFile(const QString& path);

// Opens the current project's output with the shell; the outcome is not
// checked.
void OpenOutput();

// The product's page on the publisher's web site.
QUrl ProductPageAddress();

// A duration as a clock time in the locale's long time format, whole days
// dropped ("0:01:05", or "12:01:05 AM" with a 12-hour format). The time
// zone that a long format may name means nothing for a duration and is
// left out.
QString ElapsedText(qint64 milliseconds, const QLocale& locale = QLocale());

} // namespace qv::app
