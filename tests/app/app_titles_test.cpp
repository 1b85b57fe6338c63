// What the window manager shows as each window's title, read back from the
// X server with xprop: runs under Xvfb on the xcb platform, which adds an
// application display name to captions where one is set.
#include "AppTestSupport.h"
#include "RecordingShell.h"

#include "services/AppState.h"
#include "services/DialogService.h"
#include "services/ShellService.h"
#include "builder.h"
#include "main.h"
#include "processing.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

using namespace qv::app;

namespace {

// The window's _NET_WM_NAME as the X server holds it.
QString ShownTitle(const QWidget* window)
{
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window->winId()),
                                          QStringLiteral("_NET_WM_NAME")});
    if (!xprop.waitForFinished(10000))
        return QStringLiteral("<xprop did not answer>");
    // _NET_WM_NAME(UTF8_STRING) = "Options"
    const QString out = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
    const qsizetype at = out.indexOf(QStringLiteral(" = \""));
    return at < 0 || !out.endsWith('"') ? out : out.mid(at + 4).chopped(1);
}

} // namespace

class AppTitlesTest : public QObject {
    Q_OBJECT

    QTemporaryDir temp_;

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QVERIFY(temp_.isValid());
        qputenv("XDG_CONFIG_HOME", temp_.filePath("config").toUtf8());
        State().Build.ProgramFolder = (temp_.filePath("program") + "/").toStdString();
        SetShellService(std::make_unique<RecordingShell>());
    }

    void everyWindowShowsExactlyItsCaption()
    {
        MainWindow main;
        // As the entry sequence makes them.
        std::vector<std::unique_ptr<QWidget>> windows;
        for (AppWindow kind : {AppWindow::Wizard, AppWindow::About, AppWindow::Options}) {
            const AppWindowMaker* make = AppWindowMakerFor(kind);
            QVERIFY(make);
            windows.emplace_back((*make)(main));
        }
        const std::vector<std::pair<QWidget*, QString>> expected = {
            {&main, "Quorvane Compiler"},         {windows[0].get(), "New Project Wizard..."},
            {windows[1].get(), "About Quorvane Compiler"}, {windows[2].get(), "Options"},
            {main.buildProgress, "Processing..."}};
        for (const auto& [window, caption] : expected) {
            window->show();
            QCOMPARE(window->windowTitle(), caption);
            QTRY_COMPARE_WITH_TIMEOUT(ShownTitle(window), caption, 10000);
        }
        // The captions the end of a build gives the progress window.
        for (const QString& caption : {QStringLiteral("Finished"), QStringLiteral("Failed!")}) {
            main.buildProgress->setWindowTitle(caption);
            QTRY_COMPARE_WITH_TIMEOUT(ShownTitle(main.buildProgress), caption, 10000);
        }

        // The error box, with the application's title.
        QString boxTitle;
        int looks = 0;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            boxTitle = ShownTitle(box);
            if (boxTitle == QLatin1String("Quorvane Compiler") || ++looks == 500)
                box->accept();
        });
        watch.start(10);
        ShowErrorBox(&main, "Something failed");
        QCOMPARE(boxTitle, QStringLiteral("Quorvane Compiler"));
    }
};

int main(int argc, char** argv)
{
    RegisterBeforeApplication();
    QApplication app(argc, argv);
    SetUpApplication();
    AppTitlesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "app_titles_test.moc"
