// The desktop program's windows, driven through their real widgets in one
// process (Qt WebEngine starts once).
#include "AppTestSupport.h"
#include "RecordingShell.h"
#include "ScriptedDialogs.h"
#include "services/ShellService.h"

#include "services/AppState.h"
#include "BrowserKeyPolicy.h"
#include "services/QtDispatcher.h"
#include "browser/ResScheme.h"
#include "builder.h"
#include "main.h"
#include "processing.h"
#include "utils.h"

#include "quorvane/base/Error.h"
#include "quorvane/base/SizeText.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QWebEngineView>
#include <QWidgetAction>
#include <QXmlStreamReader>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

using namespace qv::app;

namespace {

constexpr int kLoadTimeout = 30000;

// The script's answer, or an invalid value when none came within `limit`
// milliseconds. A script sent to a document that a navigation replaces may
// be answered only when the page goes, long after this returned: the answer
// lands in state of its own, never in this call's frame.
QVariant RunJs(QWebEnginePage* page, const QString& code, int limit = kLoadTimeout)
{
    struct Answer {
        std::optional<QVariant> value;
        QPointer<QEventLoop> loop;
    };
    auto answer = std::make_shared<Answer>();
    page->runJavaScript(code, [answer](const QVariant& v) {
        answer->value = v;
        if (answer->loop)
            answer->loop->quit();
    });
    if (!answer->value) {
        QEventLoop loop;
        answer->loop = &loop;
        QTimer::singleShot(limit, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (!answer->value)
        qWarning("script did not answer: %s", qPrintable(code));
    return answer->value.value_or(QVariant());
}

QStringList MenuTexts(QMenu* menu)
{
    QStringList texts;
    for (QAction* a : menu->actions())
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return texts;
}

// The paths of the settings file, read with Qt's own XML reader.
QStringList SettingsEntries(const QString& file, int* number = nullptr)
{
    QStringList names;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return names;
    QXmlStreamReader xml(&f);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("mru") && number)
            *number = xml.attributes().value("number").toInt();
        else if (xml.name().startsWith(QLatin1String("mru")))
            names << xml.attributes().value("name").toString();
    }
    return names;
}

} // namespace

class AppWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir temp_;
    ScriptedDialogs* dialogs_ = nullptr;
    RecordingShell* shell_ = nullptr;
    std::unique_ptr<MainWindow> window_;
    QWidget wizard_, about_;
    QString config_, settingsFile_, programFolder_, viewer_;

    MainWindow* NewWindow(const QStringList& args = {})
    {
        window_.reset();
        dialogs_->Clear();
        shell_->Clear();
        window_ = std::make_unique<MainWindow>(args);
        window_->SetWindow(AppWindow::Wizard, &wizard_);
        window_->SetWindow(AppWindow::About, &about_);
        window_->show();
        return window_.get();
    }

    // Until the page holds the document at `pathEnding`, fully loaded. The
    // page reports the address it was sent to at once, while the document
    // before (the empty one at start-up) still answers scripts and calls
    // itself complete; only the document's own address tells them apart.
    bool WaitForPage(const QString& pathEnding)
    {
        QWebEnginePage* page = window_->WebPage;
        QSignalSpy loads(page, &QWebEnginePage::loadFinished);
        QElapsedTimer clock;
        clock.start();
        QString document;
        while (clock.elapsed() < kLoadTimeout) {
            document = RunJs(page, "document.readyState + ' ' + location.href", 5000).toString();
            if (document.startsWith(QLatin1String("complete ")) &&
                QUrl(document.section(' ', 1)).path().endsWith(pathEnding) && !page->isLoading())
                return true;
            loads.wait(200); // the next load's end, or another look soon
        }
        qWarning("page %s not loaded, the document is %s", qPrintable(pathEnding), qPrintable(document));
        return false;
    }

    void Settle(int ms = 300) { QTest::qWait(ms); }

    // Start-up navigations may still replace a document just after it
    // reports complete; marks a page only once a mark set on it stays.
    bool MarkPage(QWebEnginePage* page, int mark)
    {
        const QString set = QStringLiteral("window.quorvaneMark = %1").arg(mark);
        for (int i = 0; i < 40; ++i) {
            RunJs(page, set);
            Settle(250);
            if (RunJs(page, "window.quorvaneMark").toInt() == mark)
                return true;
        }
        return false;
    }

    void WriteSettings(const QStringList& entries)
    {
        QByteArray xml = "<Config>\n  <mru number=\"" + QByteArray::number(entries.size()) + "\" />\n";
        for (int i = 0; i < entries.size(); ++i)
            xml += "  <mru" + QByteArray::number(i) + " name=\"" + entries[i].toUtf8() + "\" />\n";
        xml += "</Config>\n";
        WriteText(settingsFile_, xml);
    }

    // The states of Options/Build, Run, Save, Save As as a short text.
    QString States() const
    {
        auto on = [](QAction* a) { return a->isEnabled() ? QStringLiteral("1") : QStringLiteral("0"); };
        return on(window_->OptionsAction) + on(window_->BuildAction) + on(window_->RunAction) +
               on(window_->SaveAction) + on(window_->SaveAsAction);
    }

    // Runs the build and, while its modal window is up, `whileShown`
    // (polled until it returns true).
    void Build(const std::function<bool(BuildProgressDialog&)>& whileShown)
    {
        BuildProgressDialog& progress = *window_->buildProgress;
        auto* poll = new QTimer(window_.get());
        connect(poll, &QTimer::timeout, [&progress, whileShown, poll] {
            if (progress.isVisible() && whileShown(progress))
                poll->stop();
        });
        poll->start(5);
        window_->BuildActionExecute();
        delete poll;
    }

    // What the progress window showed at one moment.
    struct Shown {
        QString caption, label1, label2, label3, button1;
        bool run = false, runAction = false, buildButton = false;
    };
    Shown Snapshot(BuildProgressDialog& p) const
    {
        return {p.windowTitle(), p.OutputFileLabel->text(), p.OutputSizeLabel->text(), p.ActionLabel->text(), p.CloseButton->text(),
                p.RunButton->isEnabled(), window_->RunAction->isEnabled(), window_->BuildButton->isEnabled()};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(temp_.isValid());
        config_ = temp_.filePath("config");
        QDir().mkpath(config_);
        qputenv("XDG_CONFIG_HOME", config_.toUtf8());
        settingsFile_ = config_ + "/quorvane.xml";
        programFolder_ = temp_.filePath("program") + "/";
        QDir().mkpath(programFolder_);
        State().Build.ProgramFolder = programFolder_.toStdString();
        viewer_ = PlaceViewer(programFolder_);
        auto dialogs = std::make_unique<ScriptedDialogs>();
        dialogs_ = dialogs.get();
        SetDialogService(std::move(dialogs));
        auto shell = std::make_unique<RecordingShell>();
        shell_ = shell.get();
        SetShellService(std::move(shell));
    }

    void cleanupTestCase() { window_.reset(); }

    void init() { QFile::remove(settingsFile_); }

    void componentsAndStartUpState()
    {
        MainWindow* w = NewWindow();
        QCOMPARE(w->windowTitle(), QStringLiteral("Quorvane Compiler"));
        QCOMPARE(w->size(), QSize(748, 466));
        for (const char* name : {"ToolArea", "MenuBar", "ToolBar", "Browser", "StatusBar",
                                 "Commands", "MRUActionList", "OpenDialog", "SaveDialog", "RecentProject1", "RecentProject5"})
            QVERIFY2(w->findChild<QObject*>(name), name);
        QVERIFY(w->MenuBar->parent() == w->ToolArea && w->ToolBar->parent() == w->ToolArea);
        QVERIFY(w->ToolBar->height() >= 44);

        struct Row { const char* name; const char* menu; const char* caption; const char* hint; QKeySequence key; };
        const Row rows[] = {
            {"NewAction", "&New...", "New...", "Start new project...", QKeySequence("Ctrl+N")},
            {"OpenAction", "&Open", "Open", "Open existing project...", QKeySequence("Ctrl+O")},
            {"SaveAction", "&Save", "Save", "Save current porject...", QKeySequence("Ctrl+S")},
            {"SaveAsAction", "S&ave As...", "Save As...", "", {}},
            {"ExitAction", "&Exit", "Exit", "", {}},
            {"OptionsAction", "&Options", "Options", "Project options", QKeySequence("F10")},
            {"BuildAction", "&Build", "Build", "Build current project", QKeySequence("Ctrl+F9")},
            {"CheckSiteAction", "&Check Site", "Check Site", "Check the links of the project's pages", QKeySequence("F7")},
            {"RunAction", "&Run", "Run", "Run compiled project", QKeySequence("F9")},
            {"ContentAction", "&Content", "Content", "Open help file", QKeySequence("F1")},
            {"HomeAction", "&Home Page", "Home Page", "", {}},
            {"UpdatesAction", "Ch&eck Updates...", "Check Updates...", "", {}},
            {"AboutAction", "&About", "About", "", {}},
        };
        for (const Row& r : rows) {
            auto* a = w->findChild<QAction*>(r.name);
            QVERIFY2(a, r.name);
            QCOMPARE(a->text(), QString(r.menu));
            QCOMPARE(a->iconText(), QString(r.caption));
            QCOMPARE(a->statusTip(), QString(r.hint));
            QCOMPARE(a->shortcut(), r.key);
        }

        QCOMPARE(MenuTexts(w->FileMenu), (QStringList{"&New...", "&Open", "&Save", "S&ave As...", "-", "&Exit"}));
        QCOMPARE(MenuTexts(w->ProjectMenu), (QStringList{"&Options", "&Build", "&Check Site", "&Run"}));
        QCOMPARE(MenuTexts(w->HelpMenu), (QStringList{"&Content", "&Home Page", "Ch&eck Updates...", "&About"}));
        QStringList menus;
        for (QAction* a : w->MenuBar->actions())
            menus << a->text();
        QCOMPARE(menus, (QStringList{"&File", "&Project", "&Help"}));

        // The toolbar, left to right, with a picture above each caption.
        QStringList bar;
        for (QAction* a : w->ToolBar->actions()) {
            if (a->isSeparator()) {
                bar << "-";
                continue;
            }
            auto* button = qobject_cast<QToolButton*>(w->ToolBar->widgetForAction(a));
            QVERIFY(button);
            QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
            QCOMPARE(button->iconSize(), QSize(24, 24));
            QVERIFY(!button->icon().pixmap(24, 24).isNull());
            QCOMPARE(button->toolTip(), button->defaultAction()->toolTip());
            bar << button->objectName() + ":" + button->text();
        }
        QCOMPARE(bar, (QStringList{"NewButton:New...", "OpenButton:Open", "SaveButton:Save", "-", "OptionsButton:Options",
                                   "BuildButton:Build", "CheckSiteButton:Check Site", "RunButton:Run", "-", "HelpButton:Content"}));
        QCOMPARE(w->BuildButton->toolTip(), QStringLiteral("Build current project"));

        QCOMPARE(w->OpenDialog->property("filter").toString(), QStringLiteral("Quorvane Projects (*.qp)"));
        QCOMPARE(w->SaveDialog->Request().defaultSuffix, QStringLiteral("qp"));
        QVERIFY(w->OpenDialog->Request().allowMultiple);
        QVERIFY(!w->SaveDialog->Request().confirmOverwrite);

        QCOMPARE(States(), QStringLiteral("00000"));
        QVERIFY(!w->CheckSiteAction->isEnabled());
        for (QAction* a : {w->NewAction, w->OpenAction, w->ExitAction, w->ContentAction, w->HomeAction,
                           w->UpdatesAction, w->AboutAction})
            QVERIFY(a->isEnabled());
        QVERIFY(w->ProjectPath().isEmpty());
        QVERIFY(!State().ProjectModified);
        QVERIFY(State().InteractiveMode);
    }

    void statusPanelsFollowTheWidth()
    {
        MainWindow* w = NewWindow();
        for (int width : {1000, 600, 748}) {
            w->resize(width, 466);
            QTest::qWait(20);
            QLabel* p0 = w->StatusPanels[0];
            QLabel* p1 = w->StatusPanels[1];
            QCOMPARE(p1->width(), 200);
            QVERIFY2(w->StatusBar->width() - (p1->x() + p1->width()) <= 6, qPrintable(QString::number(width)));
            QVERIFY(p0->width() >= w->StatusBar->width() - 200 - 20);
            QCOMPARE(w->width(), width);
        }
    }

    void recentMenuFromTheSettingsFile_data()
    {
        QTest::addColumn<int>("entries");
        QTest::newRow("none") << 0;
        QTest::newRow("one") << 1;
        QTest::newRow("five") << 5;
        QTest::newRow("six") << 6;
    }

    void recentMenuFromTheSettingsFile()
    {
        QFETCH(int, entries);
        QStringList paths;
        for (int i = 0; i < entries; ++i)
            paths << QStringLiteral("/projects/p%1 & co.qp").arg(i);
        if (entries)
            WriteSettings(paths);
        MainWindow* w = NewWindow();
        QStringList expected{"&New...", "&Open", "&Save", "S&ave As..."};
        if (entries) {
            expected << "-";
            // Newest on top; a hand-made file with six keeps its first five.
            for (int i = std::min(entries, 5) - 1; i >= 0; --i)
                expected << QString(paths[i]).replace("&", "&&");
        }
        expected << "-" << "&Exit";
        QCOMPARE(MenuTexts(w->FileMenu), expected);
        for (int i = 0; i < std::min(entries, 5); ++i)
            QCOMPARE(w->MRUActions[i]->data().toString(), paths[i]);
    }

    void openAddsToTheRecentProjects()
    {
        const QString dir = temp_.filePath("recent");
        QStringList projects;
        for (int i = 0; i < 6; ++i)
            projects << MakeProject(dir, QStringLiteral("p%1").arg(i));
        MainWindow* w = NewWindow();
        // Several files chosen: only the first is opened.
        dialogs_->openAnswers.push_back({projects[0], projects[1]});
        QVERIFY(w->OpenActionExecute());
        QCOMPARE(w->ProjectPath(), projects[0]);
        QCOMPARE(States(), QStringLiteral("11001"));
        QCOMPARE(MenuTexts(w->FileMenu), (QStringList{"&New...", "&Open", "&Save", "S&ave As...", "-", projects[0], "-", "&Exit"}));
        for (int i = 1; i < 6; ++i) {
            dialogs_->openAnswers.push_back({projects[i]});
            QVERIFY(w->OpenActionExecute());
        }
        // The sixth pushed the oldest out.
        QStringList expected{"&New...", "&Open", "&Save", "S&ave As...", "-"};
        for (int i = 5; i >= 1; --i)
            expected << projects[i];
        expected << "-" << "&Exit";
        QCOMPARE(MenuTexts(w->FileMenu), expected);
        // The same path in other letter case changes nothing.
        dialogs_->openAnswers.push_back({projects[3].toUpper()});
        QFile::copy(projects[3], projects[3].toUpper());
        QVERIFY(w->OpenActionExecute());
        QCOMPARE(MenuTexts(w->FileMenu), expected);

        // A recent-project command opens without reordering.
        w->MRUActions[0]->trigger(); // entry 0: the oldest still listed
        QCOMPARE(w->ProjectPath(), projects[1]);
        QCOMPARE(MenuTexts(w->FileMenu), expected);
        QCOMPARE(QDir::currentPath() + "/", QFileInfo(projects[1]).absolutePath() + "/");

        // Closing writes the list, oldest first.
        QVERIFY(w->close());
        int number = -1;
        QCOMPARE(SettingsEntries(settingsFile_, &number), projects.mid(1));
        QCOMPARE(number, 5);
    }

    void recentProjectWhoseFolderIsGone()
    {
        WriteSettings({temp_.filePath("gone/away/x.qp")});
        MainWindow* w = NewWindow();
        QVERIFY(!w->MRUActionExecute(w->MRUActions[0]));
        QCOMPARE(dialogs_->Texts("error").size(), 1);
        QVERIFY(dialogs_->Texts("error")[0].contains(temp_.filePath("gone/away")));
        QVERIFY(w->ProjectPath().isEmpty());
        QCOMPARE(States(), QStringLiteral("00000"));
    }

    void saveWritesOnlyWhatItSays()
    {
        const QString dir = temp_.filePath("save");
        const QString project = MakeProject(dir + "/a", "s");
        MainWindow* w = NewWindow();
        dialogs_->openAnswers.push_back({project});
        QVERIFY(w->OpenActionExecute());
        // What the options dialog's OK does.
        State().ProjectModified = true;
        w->SaveAction->setEnabled(true);
        State().ProjectSettings.ViewWidth = 812;

        // The project's folder is gone: the save fails and says so, and the
        // project stays unsaved.
        QVERIFY(QDir(dir + "/a").removeRecursively());
        QVERIFY(!w->SaveActionExecute());
        QCOMPARE(dialogs_->Texts("message"), QStringList{"Could not save project file:\r\n" + project});
        QVERIFY(State().ProjectModified);
        QVERIFY(w->SaveAction->isEnabled());

        // Save As makes the chosen file the project's file.
        const QString other = dir + "/b/other.qp";
        QDir().mkpath(dir + "/b");
        dialogs_->saveAnswers.push_back(other);
        QVERIFY(w->SaveAsActionExecute());
        QCOMPARE(w->ProjectPath(), other);
        QVERIFY(!State().ProjectModified);
        QVERIFY(!w->SaveAction->isEnabled());
        qv::ProjectSettingsRecord back;
        qv::LoadProject(other.toStdString(), back);
        QCOMPARE(back.ViewWidth, 812);

        // A later Save goes to that file.
        State().ProjectSettings.ViewWidth = 640;
        State().ProjectModified = true;
        w->SaveAction->setEnabled(true);
        QVERIFY(w->SaveActionExecute());
        qv::LoadProject(other.toStdString(), back);
        QCOMPARE(back.ViewWidth, 640);
        QVERIFY(!w->SaveAction->isEnabled());
        QCOMPARE(dialogs_->Texts("save").size(), 1);
    }

    void saveOfANewProjectAsksForAName()
    {
        MainWindow* w = NewWindow();
        // What the wizard's finish does.
        State().ProjectSettings = qv::ProjectSettingsRecord();
        State().ProjectSettings.HomePage = temp_.filePath("n/index.html").toStdString();
        State().ProjectModified = true;
        w->enablebuttons(true);
        w->SaveAction->setEnabled(true);
        w->SaveAsAction->setEnabled(true);

        QVERIFY(!w->SaveActionExecute()); // the dialog is cancelled
        QCOMPARE(dialogs_->Texts("save").size(), 1);
        QVERIFY(State().ProjectModified);
        QVERIFY(w->SaveAction->isEnabled());

        const QString path = temp_.filePath("n/new.qp");
        QDir().mkpath(temp_.filePath("n"));
        dialogs_->saveAnswers.push_back(path);
        QVERIFY(w->SaveActionExecute());
        QVERIFY(QFile::exists(path));
        QCOMPARE(w->ProjectPath(), path);
        QVERIFY(!State().ProjectModified);
        QCOMPARE(States(), QStringLiteral("11001"));
    }

    void closeQuery()
    {
        MainWindow* w = NewWindow();
        // Unchanged: no question, and the settings file is written.
        QVERIFY(w->close());
        QVERIFY(dialogs_->Texts("confirm").isEmpty());
        QVERIFY(QFile::exists(settingsFile_));
        QFile::remove(settingsFile_);

        w = NewWindow();
        State().ProjectModified = true;
        w->SaveAction->setEnabled(true);
        dialogs_->answers.push_back(DialogService::Answer::Cancel);
        QVERIFY(!w->close());
        QCOMPARE(dialogs_->Texts("confirm"), QStringList{"Save changes to project?"});
        QVERIFY(w->isVisible());
        QVERIFY(!QFile::exists(settingsFile_));

        // Yes, but the save is cancelled: the window stays.
        dialogs_->answers.push_back(DialogService::Answer::Yes);
        QVERIFY(!w->close());
        QVERIFY(w->isVisible());
        QVERIFY(State().ProjectModified);

        // Yes, and the save goes through.
        const QString path = temp_.filePath("close/c.qp");
        QDir().mkpath(temp_.filePath("close"));
        dialogs_->answers.push_back(DialogService::Answer::Yes);
        dialogs_->saveAnswers.push_back(path);
        QVERIFY(w->close());
        QVERIFY(QFile::exists(path));
        QVERIFY(QFile::exists(settingsFile_));
        QFile::remove(settingsFile_);

        w = NewWindow();
        State().ProjectModified = true;
        dialogs_->answers.push_back(DialogService::Answer::No);
        QVERIFY(w->close());
        QVERIFY(QFile::exists(settingsFile_));
    }

    void settingsFileThatCannotBeWrittenKeepsTheWindowOpen()
    {
        MainWindow* w = NewWindow();
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", temp_.filePath("no/such/folder").toUtf8());
        QVERIFY(!w->close());
        QCOMPARE(dialogs_->Texts("error").size(), 1);
        qputenv("XDG_CONFIG_HOME", saved);
        QVERIFY(w->close());
    }

    void openAsksAboutUnsavedChanges()
    {
        const QString project = MakeProject(temp_.filePath("ask"), "q");
        MainWindow* w = NewWindow();
        State().ProjectModified = true;
        w->SaveAction->setEnabled(true);
        State().ProjectSettings.ViewWidth = 999;

        dialogs_->answers.push_back(DialogService::Answer::Cancel);
        QVERIFY(w->OpenActionExecute());
        QVERIFY(dialogs_->Texts("open").isEmpty());
        QCOMPARE(State().ProjectSettings.ViewWidth, 999);
        QVERIFY(State().ProjectModified);

        dialogs_->answers.push_back(DialogService::Answer::No);
        dialogs_->openAnswers.push_back({project});
        QVERIFY(w->OpenActionExecute());
        QCOMPARE(w->ProjectPath(), project);
        QCOMPARE(State().ProjectSettings.ViewWidth, 0);
        QVERIFY(!State().ProjectModified);
        QCOMPARE(States(), QStringLiteral("11001"));

        // A recent-project command asks too; Yes saves first.
        State().ProjectModified = true;
        State().ProjectSettings.ViewWidth = 321;
        w->SaveAction->setEnabled(true);
        dialogs_->answers.push_back(DialogService::Answer::Yes);
        w->MRUActions[0]->trigger();
        qv::ProjectSettingsRecord back;
        qv::LoadProject(project.toStdString(), back);
        QCOMPARE(back.ViewWidth, 321);
        QCOMPARE(dialogs_->Texts("confirm").size(), 3);
    }

    void commandLine()
    {
        const QString dir = temp_.filePath("cmd");
        const QString project = MakeProject(dir, "site");
        const QString second = MakeProject(dir, "second");
        MainWindow* w = NewWindow({project});
        QCOMPARE(w->ProjectPath(), project);
        QCOMPARE(States(), QStringLiteral("11000"));
        QVERIFY(!State().ProjectModified);
        QCOMPARE(QString::fromStdString(State().ProjectSettings.HomePage.str()), dir + "/site-site/index.html");
        QVERIFY(WaitForPage("/site-site/index.html"));
        QVERIFY(State().RecentProjects.Empty());

        // Two projects: only the first is opened.
        w = NewWindow({project, second});
        QCOMPARE(w->ProjectPath(), project);

        // A relative path is loaded from the current folder and shown as given.
        QDir::setCurrent(temp_.path());
        w = NewWindow({"cmd/second.qp"});
        QCOMPARE(w->ProjectPath(), QStringLiteral("cmd/second.qp"));
        QCOMPARE(QString::fromStdString(State().ProjectSettings.HomePage.str()), dir + "/second-site/index.html");

        // A missing project is no error: the defaults stay, the path shows.
        w = NewWindow({dir + "/missing.qp"});
        QCOMPARE(w->ProjectPath(), dir + "/missing.qp");
        QCOMPARE(States(), QStringLiteral("11000"));
        QVERIFY(dialogs_->asked.empty());

        // None of these opens or builds anything.
        for (const QStringList& args : {QStringList{dir + "/site.QP"}, QStringList{dir + "/site.Qp"},
                                        QStringList{"-COMPILE", project}, QStringList{"/COMPILE"},
                                        QStringList{"/Compile", dir + "/site.QP"}, QStringList{"x", project}}) {
            w = NewWindow(args);
            QVERIFY2(w->ProjectPath().isEmpty(), qPrintable(args.join(' ')));
            QCOMPARE(States(), QStringLiteral("00000"));
            QVERIFY(!State().BuildThread);
            QVERIFY(State().InteractiveMode);
        }

        // An unreadable project is reported and nothing else happens.
        WriteText(dir + "/broken.qp", "<QVProject Version=\"2\"><nothing/></QVProject>");
        w = NewWindow({dir + "/broken.qp"});
        QCOMPARE(dialogs_->Texts("error").size(), 1);
        QVERIFY(dialogs_->Texts("error")[0].startsWith("Could not load project:"));
        QVERIFY(w->ProjectPath().isEmpty());
        QCOMPARE(States(), QStringLiteral("00000"));
    }

    void startPageFromTheProgram()
    {
        MainWindow* w = NewWindow();
        QVERIFY(WaitForPage("/INDEXPAGE"));
        const QUrl url = w->WebPage->url();
        QCOMPARE(url.scheme(), QStringLiteral("res"));
        QCOMPARE(url.path(), QCoreApplication::applicationFilePath() + "/INDEXPAGE");
        QCOMPARE(RunJs(w->WebPage, "document.title").toString(), QStringLiteral("Quorvane Compiler"));
        QVERIFY(RunJs(w->WebPage, "document.body.innerText").toString().contains("Welcome to Quorvane Compiler!"));
        // Every picture loaded from the program, at its size.
        const auto pictures = [&] {
            return RunJs(w->WebPage, "Array.from(document.images).map(i => i.getAttribute('src') + ':' + i.naturalWidth + "
                                     "'x' + i.naturalHeight).join(' ')")
                .toString();
        };
        QTRY_COMPARE_WITH_TIMEOUT(pictures(), QStringLiteral("LTC:4x9 PX:1x1 SPICON:25x27 DOTS:8x17 RTC:4x9 PX:1x1 NAV:9x9 NAV:9x9 "
                                          "NAV:9x9 NAV:9x9 NAV:9x9 BLC:4x4 BRC:4x4"),
                                  10000);
        QCOMPARE(RunJs(w->WebPage, "Array.from(document.links).map(a => a.getAttribute('href') + '=' + a.textContent).join('|')")
                     .toString(),
                 QStringLiteral("#intro#=Introducing Quorvane|#new#=Start a new project|#load#=Open an existing project|"
                                "#home#=Quorvane Homepage|#about#=About Quorvane|#new#=New"));
        QByteArray bytes, mime;
        QVERIFY(LookUpResource(ResourceUrl("spicon"), bytes, mime));
        QCOMPARE(mime, QByteArray("image/gif"));
        QVERIFY(!LookUpResource(ResourceUrl("NOSUCH"), bytes, mime));
        QUrl foreign = ResourceUrl("INDEXPAGE");
        foreign.setPath("/usr/bin/other/INDEXPAGE");
        QVERIFY(!LookUpResource(foreign, bytes, mime));
    }

    void startPageLinksRunTheirCommands()
    {
        MainWindow* w = NewWindow();
        QVERIFY(WaitForPage("/INDEXPAGE"));
        const QString start = w->WebPage->url().toString();
        QVERIFY(MarkPage(w->WebPage, 42));
        auto clickLink = [&](int index) {
            RunJs(w->WebPage, QStringLiteral("document.links[%1].click()").arg(index));
            Settle();
        };
        auto pageStayed = [&] {
            return w->WebPage->url().toString() == start && RunJs(w->WebPage, "window.quorvaneMark").toInt() == 42;
        };

        clickLink(1); // Start a new project
        QTRY_VERIFY(wizard_.isVisible());
        QVERIFY(pageStayed());
        wizard_.hide();

        clickLink(2); // Open an existing project
        QCOMPARE(dialogs_->Texts("open").size(), 1);
        QVERIFY(pageStayed());

        clickLink(3); // Quorvane Homepage
        QCOMPARE(shell_->opened, QList<QUrl>{ProductPageAddress()});
        QCOMPARE(ProductPageAddress().host(), QStringLiteral("www.quorvane.example"));
        QVERIFY(pageStayed());

        clickLink(4); // About Quorvane
        QTRY_VERIFY(about_.isVisible());
        QVERIFY(pageStayed());
        about_.hide();

        clickLink(5); // the "New" in the text
        QTRY_VERIFY(wizard_.isVisible());
        wizard_.hide();

        // A real mouse click on a link.
        const QVariantList box =
            RunJs(w->WebPage, "(() => { const r = document.links[3].getBoundingClientRect(); return [r.x + r.width / 2, r.y + r.height / 2]; })()")
                .toList();
        QCOMPARE(box.size(), 2);
        QWidget* input = w->Browser->focusProxy();
        QVERIFY(input);
        const QPoint at(qRound(box[0].toDouble()), qRound(box[1].toDouble()));
        QTest::mouseClick(input, Qt::LeftButton, {}, at);
        QTRY_COMPARE(shell_->opened.size(), 2);
        Settle();
        QCOMPARE(shell_->opened.size(), 2); // once per click
        QVERIFY(pageStayed());

        // Introducing Quorvane: the help file is missing, which is said,
        // and the link is then followed within the page.
        clickLink(0);
        const QString help = programFolder_ + "quorvane-help.qpf";
        QCOMPARE(dialogs_->Texts("error"), QStringList{"Unable to open help file " + help + "."});
        QTRY_VERIFY(w->WebPage->url().toString().endsWith("#intro#"));
        QCOMPARE(RunJs(w->WebPage, "window.quorvaneMark").toInt(), 42);
        Settle();
        QCOMPARE(dialogs_->Texts("error").size(), 1);

        // With the help file in place the viewer shows it, from the page
        // and from Help > Content alike.
        WriteText(help, "QPF");
        shell_->Clear();
        RunJs(w->WebPage, "history.replaceState(null, '', location.pathname)");
        clickLink(0);
        QCOMPARE(shell_->started, (QList<QStringList>{{viewer_, help}}));
        w->ContentAction->trigger();
        QCOMPARE(shell_->started.size(), 2);
        QCOMPARE(shell_->started.last(), (QStringList{viewer_, help}));
        QVERIFY(shell_->opened.isEmpty());
        QFile::remove(help);
    }

    void tokenDispatchRules()
    {
        MainWindow* w = NewWindow();
        bool cancel = false;
        w->BrowserBeforeNavigate("res:/x/INDEXPAGE#HOME#", cancel);
        QVERIFY(!cancel);
        QVERIFY(shell_->opened.isEmpty());
        // Several tokens: each command in table order, then cancelled.
        w->BrowserBeforeNavigate("file:///a#about##home#", cancel);
        QVERIFY(cancel);
        QCOMPARE(shell_->opened.size(), 1);
        QVERIFY(about_.isVisible());
        about_.hide();
    }

    void projectPageLinksWithTokens()
    {
        const QString project = MakeProject(temp_.filePath("tokens"), "t", 0,
            "<html><body><p><a id='other' href='a.html#load#'>elsewhere</a></p>"
            "<p><a id='here' href='#load#'>here</a></p><p><a id='caps' href='#LOAD#'>caps</a></p></body></html>");
        MainWindow* w = NewWindow({project});
        QVERIFY(WaitForPage("/t-site/index.html"));
        QVERIFY(MarkPage(w->WebPage, 7));

        RunJs(w->WebPage, "document.getElementById('other').click()");
        QTRY_COMPARE(dialogs_->Texts("open").size(), 1);
        Settle(600);
        QCOMPARE(dialogs_->Texts("open").size(), 1);
        QVERIFY(w->WebPage->url().path().endsWith("/index.html"));
        QCOMPARE(RunJs(w->WebPage, "window.quorvaneMark").toInt(), 7);

        RunJs(w->WebPage, "document.getElementById('here').click()");
        QTRY_COMPARE(dialogs_->Texts("open").size(), 2);

        // A page script moving to a token runs the command too, and the
        // address is put back.
        RunJs(w->WebPage, "location.hash = '#load#'");
        QTRY_COMPARE(dialogs_->Texts("open").size(), 3);
        QTRY_VERIFY(!w->WebPage->url().toString().contains("#load#"));

        // Other letter case is no token.
        RunJs(w->WebPage, "document.getElementById('caps').click()");
        QTRY_VERIFY(w->WebPage->url().toString().endsWith("#LOAD#"));
        Settle();
        QCOMPARE(dialogs_->Texts("open").size(), 3);
    }

    void noContextMenuAndNoCopyKeys()
    {
        MainWindow* w = NewWindow();
        QVERIFY(WaitForPage("/INDEXPAGE"));
        QWidget* input = w->Browser->focusProxy();
        QVERIFY(input);
        QCOMPARE(w->Browser->contextMenuPolicy(), Qt::NoContextMenu);
        QCOMPARE(input->contextMenuPolicy(), Qt::NoContextMenu);
        QTest::mouseClick(input, Qt::RightButton, {}, QPoint(300, 150));
        Settle(500);
        QVERIFY(!QApplication::activePopupWidget());
        // The same click under the browser's own policy brings its menu, so
        // the click does reach the page.
        w->Browser->setContextMenuPolicy(Qt::DefaultContextMenu);
        QTest::mouseClick(input, Qt::RightButton, {}, QPoint(300, 150));
        QTRY_VERIFY(QApplication::activePopupWidget());
        QApplication::activePopupWidget()->close();
        w->BrowserNavigateComplete();
        QCOMPARE(w->Browser->contextMenuPolicy(), Qt::NoContextMenu);

        // Ctrl+C does not copy; the page's own copy does, so copying works here.
        QApplication::clipboard()->setText("untouched");
        RunJs(w->WebPage, "getSelection().selectAllChildren(document.body)");
        input->setFocus();
        QTest::keyClick(input, Qt::Key_C, Qt::ControlModifier);
        Settle(500);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("untouched"));
        w->WebPage->triggerAction(QWebEnginePage::Copy);
        QTRY_VERIFY(QApplication::clipboard()->text().contains("Welcome to Quorvane Compiler!"));

        // Ctrl+F and Ctrl+P stay with the program too; the letters alone and
        // other control keys reach the page.
        for (Qt::Key key : {Qt::Key_C, Qt::Key_F, Qt::Key_P}) {
            QVERIFY(BrowserKeyPolicy::Blocks(key, Qt::ControlModifier));
            QVERIFY(!BrowserKeyPolicy::Blocks(key, Qt::NoModifier));
        }
        QVERIFY(!BrowserKeyPolicy::Blocks(Qt::Key_A, Qt::ControlModifier));
    }

    void browserKeysAreNotShortcuts()
    {
        MainWindow* w = NewWindow();
        QVERIFY(WaitForPage("/INDEXPAGE"));
        QWidget* input = w->Browser->focusProxy();
        // A window shortcut on Delete must not take the key from the page.
        QAction probe("probe");
        probe.setShortcut(Qt::Key_Delete);
        w->addAction(&probe);
        QSignalSpy fired(&probe, &QAction::triggered);
        input->setFocus();
        QTest::keyClick(input, Qt::Key_Delete);
        QCOMPARE(fired.count(), 0);
        QTest::keyClick(w->StatusBar, Qt::Key_Delete);
        QCOMPARE(fired.count(), 1);
        // Ctrl shortcuts of the window still work from the page.
        QTest::keyClick(input, Qt::Key_N, Qt::ControlModifier);
        QTRY_VERIFY(wizard_.isVisible());
        wizard_.hide();
    }

    void buildToFinished()
    {
        const QString project = MakeProject(temp_.filePath("build"), "ok");
        MainWindow* w = NewWindow({project});
        const QString output = temp_.filePath("build/ok.qpf");
        Shown running, finished;
        bool first = true, cancelBefore = true;
        Build([&](BuildProgressDialog& p) -> bool {
            if (first) {
                running = Snapshot(p);
                first = false;
            }
            if (p.windowTitle() != QLatin1String("Finished"))
                return false;
            finished = Snapshot(p);
            p.RunButton->click();
            cancelBefore = State().Build.CancelRequested;
            p.CloseButton->click();
            return true;
        });
        QCOMPARE(running.button1, QStringLiteral("&Cancel"));
        QVERIFY(!running.run);
        QVERIFY(!running.buildButton);
        QVERIFY(finished.label3.startsWith("Processing time: "));
        QVERIFY(finished.run);
        QCOMPARE(finished.button1, QStringLiteral("Finish"));
        QVERIFY(finished.runAction);
        QVERIFY(finished.buildButton);
        QCOMPARE(finished.label1, output);
        QCOMPARE(finished.label2.toStdString(), qv::SizeText(QFileInfo(output).size()));
        QVERIFY(!w->buildProgress->isVisible());
        QVERIFY(!cancelBefore);
        QVERIFY(!State().Build.CancelRequested); // Finish cancels nothing
        QVERIFY(QFileInfo(output).size() > 36);
        QCOMPARE(shell_->started, (QList<QStringList>{{viewer_, output}}));
        QVERIFY(w->RunActionExecute());
        QCOMPARE(shell_->started.size(), 2);
        QVERIFY(shell_->opened.isEmpty());

        // Without the viewer beside the program, Run says which is missing.
        QFile::rename(viewer_, viewer_ + ".away");
        QVERIFY(!w->RunActionExecute());
        QFile::rename(viewer_ + ".away", viewer_);
        QCOMPARE(dialogs_->Texts("error"), QStringList{"The viewer program " + viewer_ + " is missing."});
        QCOMPARE(shell_->started.size(), 2);

        // A second build starts from a reset window but keeps the caption.
        Shown again;
        first = true;
        Build([&](BuildProgressDialog& p) -> bool {
            if (first) {
                again = Snapshot(p);
                first = false;
            }
            if (p.CloseButton->text() != QLatin1String("Finish"))
                return false;
            p.CloseButton->click();
            return true;
        });
        QCOMPARE(again.button1, QStringLiteral("&Cancel"));
        QVERIFY(!again.run);
    }

    // The desktop's own shell: the viewer really starts, on its own, and
    // gets the path as one argument, blanks and all.
    void viewerStartsForReal()
    {
        const QString folder = temp_.filePath("real") + "/";
        const QString seen = folder + "argument";
        QDir().mkpath(folder);
        const QString viewer = PlaceViewer(folder, ("#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > '" + seen +
                                                    ".part' && mv '" + seen + ".part' '" + seen + "'\n").toUtf8());
        const std::string before = State().Build.ProgramFolder;
        State().Build.ProgramFolder = folder.toStdString();
        std::unique_ptr<ShellService> recorder = SetShellService(nullptr);
        const QString file = folder + "My Site/Grüße.qpf";
        ShowInViewer(file);
        SetShellService(std::move(recorder));
        State().Build.ProgramFolder = before;
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(seen), kLoadTimeout);
        QCOMPARE(QString::fromUtf8(ReadBytes(seen)), "1|" + file);
        QVERIFY(QFile::exists(viewer));
    }

    void buildCancelled()
    {
        const QString project = MakeProject(temp_.filePath("cancel"), "big", 48 << 20);
        MainWindow* w = NewWindow({project});
        bool buildButtonWhileEnding = true;
        Build([&](BuildProgressDialog& p) -> bool {
            if (!p.ActionLabel->text().startsWith("Adding: "))
                return false;
            p.CloseButton->click();
            buildButtonWhileEnding = w->BuildButton->isEnabled();
            return true;
        });
        QVERIFY(!w->buildProgress->isVisible());
        QVERIFY(!buildButtonWhileEnding);
        QVERIFY(State().Build.CancelRequested);
        QTRY_VERIFY_WITH_TIMEOUT(w->BuildButton->isEnabled(), 60000);
        QCOMPARE(w->buildProgress->windowTitle(), QStringLiteral("Failed!"));
        QCOMPARE(w->buildProgress->ActionLabel->text(), QStringLiteral("Failed!"));
        QCOMPARE(w->buildProgress->CloseButton->text(), QStringLiteral("Close"));
        QVERIFY(!w->RunAction->isEnabled());
        QVERIFY(!QFile::exists(temp_.filePath("cancel/big.qpf")));
        QVERIFY(QDir(temp_.filePath("cancel")).entryList({".quorvane-*"}, QDir::AllEntries | QDir::Hidden).isEmpty());
        QVERIFY(dialogs_->Texts("error").isEmpty());
    }

    void commandLineBuildClosesItsWindowAndKeepsTheOutcome()
    {
        // The window as a "/COMPILE" run drives it, without its exit request.
        const QString project = MakeProject(temp_.filePath("quiet"), "q", 48 << 20);
        MainWindow* w = NewWindow({project});
        State().InteractiveMode = false;
        const QString caption = w->buildProgress->windowTitle();
        w->BuildActionExecute(); // closes by itself
        w->Dispatcher().ServeUntil([] { return State().BuildThread->Finished(); });
        QCOMPARE(w->CompileExitStatus(), 0);
        QCOMPARE(w->buildProgress->windowTitle(), caption);
        QVERIFY(QFile::exists(temp_.filePath("quiet/q.qpf")));

        // Cancelled: the run's outcome is a failure.
        Build([&](BuildProgressDialog& p) -> bool {
            if (!p.ActionLabel->text().startsWith("Adding: "))
                return false;
            p.CloseButton->click();
            return true;
        });
        w->Dispatcher().ServeUntil([] { return State().BuildThread->Finished(); });
        QCOMPARE(w->CompileExitStatus(), 1);
        QVERIFY(!QFile::exists(temp_.filePath("quiet/q.qpf")));
        State().InteractiveMode = true;
    }

    void buildFailed()
    {
        const QString project = MakeProject(temp_.filePath("fail"), "f");
        MainWindow* w = NewWindow({project});
        // The output folder is gone.
        State().ProjectSettings.OutputPath = temp_.filePath("fail/no/such/f.qpf").toStdString();
        Shown failed;
        Build([&](BuildProgressDialog& p) -> bool {
            if (p.CloseButton->text() != QLatin1String("Close"))
                return false;
            failed = Snapshot(p);
            p.CloseButton->click();
            return true;
        });
        QCOMPARE(failed.caption, QStringLiteral("Failed!"));
        QCOMPARE(failed.label3, QStringLiteral("Failed!"));
        QVERIFY(!failed.run);
        QCOMPARE(dialogs_->Texts("error").size(), 1);
        QVERIFY(State().Build.CancelRequested);
        QVERIFY(!w->RunAction->isEnabled());
        QVERIFY(w->BuildButton->isEnabled());
    }

    void progressWindowLayout()
    {
        MainWindow* w = NewWindow();
        BuildProgressDialog& p = *w->buildProgress;
        QCOMPARE(p.windowTitle(), QStringLiteral("Processing..."));
        QCOMPARE(p.size(), QSize(557, 232));
        struct Box { QWidget* w; QRect r; const char* title; };
        for (const Box& b : {Box{p.OutputFileBox, {8, 8, 386, 49}, "  Output File:  "},
                             Box{p.OutputSizeBox, {400, 8, 145, 49}, "  Output File Size  "},
                             Box{p.ActionBox, {8, 63, 282, 57}, "  Action  "},
                             Box{p.FileProgressBox, {296, 63, 253, 57}, "  Progress  "},
                             Box{p.OverallProgressBox, {8, 126, 541, 59}, "  Overall Progress  "}}) {
            QCOMPARE(b.w->geometry(), b.r);
            QCOMPARE(static_cast<QGroupBox*>(b.w)->title(), QString(b.title));
        }
        QCOMPARE(p.FileProgress->geometry(), QRect(16, 24, 217, 17));
        QCOMPARE(p.OverallProgress->geometry(), QRect(16, 24, 505, 17));
        QCOMPARE(p.FileProgress->maximum(), 100);
        QCOMPARE(p.RunButton->geometry(), QRect(369, 199, 85, 25));
        QCOMPARE(p.CloseButton->geometry(), QRect(464, 199, 85, 25));
        QCOMPARE(p.RunButton->text(), QStringLiteral("Run"));
        QCOMPARE(p.CloseButton->text(), QStringLiteral("Cancel"));
        QCOMPARE(p.OutputSizeLabel->text(), QStringLiteral("0"));
        QVERIFY(!p.CloseButton->autoDefault() && !p.RunButton->autoDefault());

        // A long path is shortened in its middle.
        const QString path = "/home/someone/" + QString("very-long-folder-name/").repeated(12) + "output-file.exe";
        p.OutputFileLabel->setText(path);
        const QString shown = p.OutputFileLabel->DisplayedText();
        QVERIFY(shown.contains(QChar(0x2026)));
        QVERIFY(shown.startsWith("/home/someone/"));
        QVERIFY(shown.endsWith("output-file.exe"));
        QCOMPARE(p.OutputFileLabel->text(), path);
    }

    void elapsedTime()
    {
        const QLocale us(QLocale::English, QLocale::UnitedStates);
        QCOMPARE(ElapsedText(65000, us), QStringLiteral("12:01:05 AM"));
        QCOMPARE(ElapsedText(3600000 + 61000, us), QStringLiteral("1:01:01 AM"));
        const QLocale de(QLocale::German, QLocale::Germany);
        QCOMPARE(ElapsedText(65000, de), QStringLiteral("00:01:05"));
        // Whole days are dropped.
        QCOMPARE(ElapsedText(24LL * 3600000 + 65000, de), QStringLiteral("00:01:05"));
    }

    void dispatcherHandsWorkToThisThread()
    {
        QtDispatcher dispatcher;
        std::atomic<bool> done{false};
        Qt::HANDLE ranOn = nullptr;
        bool rethrown = false;
        std::thread worker([&] {
            dispatcher.Synchronize([&] { ranOn = QThread::currentThreadId(); });
            try {
                dispatcher.Synchronize([] { throw qv::Error("from the GUI thread"); });
            } catch (const qv::Error& e) {
                rethrown = std::string(e.what()) == "from the GUI thread";
            }
            done = true;
            dispatcher.Wake();
        });
        dispatcher.ServeUntil([&] { return done.load(); });
        worker.join();
        QCOMPARE(ranOn, QThread::currentThreadId());
        QVERIFY(rethrown);
    }
};

int main(int argc, char** argv)
{
    RegisterBeforeApplication();
    QApplication app(argc, argv);
    SetUpApplication();
    AppWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "app_window_test.moc"
