// The link check in the desktop program, through its real window: the
// command, the findings list and the page a finding leads to.
#include "AppTestSupport.h"
#include "RecordingShell.h"
#include "ScriptedDialogs.h"

#include "browser/ResScheme.h"
#include "builder.h"
#include "forms/CheckWindow.h"
#include "main.h"
#include "services/AppState.h"
#include "services/ShellService.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QWebEngineView>

#include <memory>

using namespace qv::app;

constexpr int kTimeout = 60000;

class AppCheckTest : public QObject {
    Q_OBJECT

    QTemporaryDir temp_;
    ScriptedDialogs* dialogs_ = nullptr;
    std::unique_ptr<MainWindow> window_;

    MainWindow* NewWindow(const QStringList& args)
    {
        window_.reset();
        dialogs_->Clear();
        window_ = std::make_unique<MainWindow>(args);
        window_->show();
        return window_.get();
    }

    QTreeWidget* Findings() const { return window_->findChild<QTreeWidget*>("findings"); }
    QString Summary() const { return window_->findChild<QLabel*>("summary")->text(); }

    // Runs `start` and waits for the check it starts to end.
    bool CheckEnds(const std::function<void()>& start)
    {
        QSignalSpy ended(window_->SiteCheckWindow, &CheckWindow::CheckEnded);
        start();
        return ended.count() > 0 || ended.wait(kTimeout);
    }

    // Until the browser holds `address`, loaded.
    bool Shows(const QUrl& address)
    {
        QWebEnginePage* page = window_->WebPage;
        QSignalSpy loads(page, &QWebEnginePage::loadFinished);
        while (page->url() != address || page->isLoading())
            if (!loads.wait(kTimeout))
                return false;
        return true;
    }

    // A site whose second page has one broken link, on line 3.
    QString BrokenSite(const QString& name)
    {
        const QString project = MakeProject(temp_.filePath(name), name);
        WriteText(temp_.filePath(name + "/" + name + "-site/a.html"),
                  "<html><head><title>Page A</title></head><body>\n<p>A page</p>\n"
                  "<a href='gone.html'>gone</a>\n</body></html>");
        return project;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(temp_.isValid());
        qputenv("XDG_CONFIG_HOME", temp_.filePath("config").toUtf8());
        auto dialogs = std::make_unique<ScriptedDialogs>();
        dialogs_ = dialogs.get();
        SetDialogService(std::move(dialogs));
        SetShellService(std::make_unique<RecordingShell>());
    }

    void cleanupTestCase() { window_.reset(); }

    void findingListedAndItsPageShown()
    {
        const QString project = BrokenSite("broken");
        const QString site = temp_.filePath("broken/broken-site/");
        MainWindow* w = NewWindow({project});
        QVERIFY(w->CheckSiteAction->isEnabled());
        QVERIFY(Shows(QUrl::fromLocalFile(site + "index.html")));
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));

        QVERIFY(CheckEnds([&] { QTest::keyClick(w, Qt::Key_F7); }));
        auto* checkWindow = window_->findChild<QWidget*>("checkwindow");
        QVERIFY(checkWindow && checkWindow->isVisible());
        QTreeWidget* list = Findings();
        QCOMPARE(list->topLevelItemCount(), 1);
        QTreeWidgetItem* row = list->topLevelItem(0);
        QCOMPARE((QStringList{row->text(0), row->text(1), row->text(2)}), (QStringList{"a.html", "3", "gone.html"}));
        QVERIFY2(row->text(3).contains("does not exist"), qPrintable(row->text(3)));
        QCOMPARE(Summary(), QStringLiteral("1 problem on 1 page"));
        // Every page and the stylesheet were counted as read.
        auto* progress = window_->findChild<QProgressBar*>("progress");
        QCOMPARE(progress->maximum(), 3);
        QCOMPARE(progress->value(), 3);
        QVERIFY(!progress->isVisible());

        // Enter on the finding: its page in the main window's browser.
        list->setFocus();
        list->setCurrentItem(list->topLevelItem(0));
        QTest::keyClick(list, Qt::Key_Return);
        QVERIFY(Shows(QUrl::fromLocalFile(site + "a.html")));
        QTRY_COMPARE_WITH_TIMEOUT(w->WebPage->title(), QStringLiteral("Page A"), kTimeout);

        // Mended, and checked again with F7 from the findings window.
        WriteText(site + "gone.html", "<html><body>Back</body></html>");
        QVERIFY(QTest::qWaitForWindowActive(checkWindow));
        QVERIFY(CheckEnds([&] { QTest::keyClick(checkWindow, Qt::Key_F7); }));
        QCOMPARE(list->topLevelItemCount(), 0);
        QCOMPARE(Summary(), QStringLiteral("No broken links"));
        QCOMPARE(progress->maximum(), 4);
        QVERIFY(dialogs_->asked.empty());
    }

    // Cancelled as soon as it starts, however far it got, since the user no
    // longer waits for it; failed, in the error box.
    void cancelledOrFailedCheckListsNothing()
    {
        const QString site = temp_.filePath("stop/stop-site");
        MainWindow* w = NewWindow({BrokenSite("stop")});
        auto* cancel = window_->findChild<QPushButton*>("cancel");
        QVERIFY(CheckEnds([&] {
            w->CheckSiteAction->trigger();
            QVERIFY(cancel->isVisible());
            cancel->click();
        }));
        QCOMPARE(Summary(), QStringLiteral("The check was cancelled"));
        QCOMPARE(Findings()->topLevelItemCount(), 0);
        QVERIFY(!cancel->isVisible());
        QVERIFY(dialogs_->asked.empty());

        QVERIFY(QDir(site).removeRecursively());
        QVERIFY(CheckEnds([&] { w->CheckSiteAction->trigger(); }));
        const QStringList errors = dialogs_->Texts("error");
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].contains(site), qPrintable(errors[0]));
        QCOMPARE(Summary(), errors[0]);
        QCOMPARE(Findings()->topLevelItemCount(), 0);
    }

    // QV_SCREENSHOT_DIR=<folder> writes pictures of the findings window and
    // of the main window's start page, whose toolbar has the command.
    void screenshot()
    {
        const QString folder = qEnvironmentVariable("QV_SCREENSHOT_DIR");
        if (folder.isEmpty())
            QSKIP("QV_SCREENSHOT_DIR is not set");
        const QString project = BrokenSite("picture");
        const QString site = temp_.filePath("picture/picture-site/");
        WriteText(site + "guide/setup.html",
                  "<html><body>\n<h1 id='start'>Setting up</h1>\n<img src='../images/diagram.png'>\n"
                  "<a href='../index.html#install'>Install</a>\n<a href='/docs/faq.html'>FAQ</a>\n"
                  "<a href='../../notes.txt'>Notes</a>\n</body></html>");
        MainWindow* w = NewWindow({project});
        QVERIFY(CheckEnds([&] { w->CheckSiteAction->trigger(); }));
        QDir().mkpath(folder);
        QVERIFY(w->SiteCheckWindow->grab().save(folder + "/desktop-check.png"));
        w = NewWindow({});
        QVERIFY(Shows(ResourceUrl("INDEXPAGE")));
        // The page's first frame comes some time after its load.
        QImage shot;
        QTRY_VERIFY_WITH_TIMEOUT((shot = w->grab().toImage()).pixelColor(500, 220) != QColor(Qt::white), kTimeout);
        QVERIFY(shot.save(folder + "/desktop-main.png"));
    }
};

int main(int argc, char** argv)
{
    RegisterBeforeApplication();
    QApplication app(argc, argv);
    SetUpApplication();
    AppCheckTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "app_check_test.moc"
