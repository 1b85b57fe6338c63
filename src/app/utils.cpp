#include "utils.h"

#include "services/AppState.h"
#include "services/ShellService.h"

#include "quorvane/compile/BuildJob.h"
#include "quorvane/project/ProjectPaths.h"
#include "quorvane/base/Error.h"
#include "quorvane/platform/FileSystem.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QTime>

namespace qv::app {

QString ProgramFile(const QString& name)
{
    const std::string& folder = State().Build.ProgramFolder;
    return QString::fromStdString(fs::ProgramFile(folder.empty() ? fs::ProgramFolder() : folder, name.toStdString()));
}

QString ViewerProgram()
{
    // Installed or not, the viewer is a program beside this one.
    const std::string& folder = State().Build.ProgramFolder;
    return QString::fromStdString(folder.empty() ? fs::ProgramFolder() : folder) + QStringLiteral("quorvane-view");
}

void ShowInViewer(const QString& file)
{
    const QString viewer = ViewerProgram();
    if (!QFileInfo(viewer).isExecutable())
        throw Error("The viewer program " + viewer.toStdString() + " is missing");
    if (!Shell().Start(viewer, {file}))
        throw Error("Unable to start the viewer program " + viewer.toStdString());
}

QString HelpFilePath()
{
    return ProgramFile(QStringLiteral("quorvane-help.qpf"));
}

void OpenHelpFile(const QString& path)
{
    if (!QFileInfo(path).isFile())
        throw Error("Unable to open help file " + path.toStdString());
    ShowInViewer(path);
}

void OpenOutput()
{
    ShowInViewer(QString::fromStdString(ResolveOutputPath(State().ProjectSettings)));
}

QUrl ProductPageAddress()
{
    return QUrl(QStringLiteral("https://www.quorvane.example/compiler/"));
}

QString ElapsedText(qint64 milliseconds, const QLocale& locale)
{
    constexpr qint64 kDay = 24 * 60 * 60 * 1000;
    const qint64 ofDay = ((milliseconds % kDay) + kDay) % kDay;
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.replace(QRegularExpression(QStringLiteral("\\bt+\\b")), QStringLiteral(" "));
    return locale.toString(QTime::fromMSecsSinceStartOfDay(static_cast<int>(ofDay)), format.simplified());
}

} // namespace qv::app
