#include "utils.h"

#include "services/AppState.h"
#include "services/ShellService.h"

#include "quorvane/build/BuildJob.h"
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

void OpenHelpFile(const QString& path)
{
    if (!QFileInfo(path).isFile() || !Shell().Open(QUrl::fromLocalFile(path)))
        throw Error("Unable to open help file " + path.toStdString());
}

void OpenOutput()
{
    const std::string out = ResolveOutputPath(State().ProjectSettings);
    Shell().Open(QUrl::fromLocalFile(QString::fromStdString(out)));
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
