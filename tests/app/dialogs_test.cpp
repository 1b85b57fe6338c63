// The wizard, the options dialog and the about window, driven through their
// widgets by object name beside a real main window, their boxes and file
// dialogs answered by a script.
#include "AppTestSupport.h"
#include "MarkedSettings.h"
#include "RecordingShell.h"
#include "ScriptedDialogs.h"
#include "TlsServer.h"

#include "services/AppState.h"
#include "services/ShellService.h"
#include "services/VersionCheckUi.h"
#include "about.h"
#include "builder.h"
#include "main.h"
#include "options.h"
#include "processing.h"
#include "wizard.h"

#include "quorvane/project/NewProject.h"
#include "quorvane/project/ProjectFile.h"
#include "quorvane/platform/Http.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWebEngineView>

#include <memory>

using namespace qv::app;

namespace {

QString Caption(QWidget* form, QLineEdit* edit)
{
    auto* label = form->findChild<QLabel*>(edit->objectName() + QStringLiteral("Label"));
    return label && label->buddy() == edit ? label->text() : QStringLiteral("<no label>");
}

QStringList Items(const QComboBox* list)
{
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->itemText(i);
    return items;
}

// The record as the viewer reads it: equal images, equal records.
QByteArray Image(const qv::ProjectSettingsRecord& s)
{
    const auto bytes = qv::WriteSettingsImage(s);
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

} // namespace

class DialogsTest : public QObject {
    Q_OBJECT

    QTemporaryDir temp_;
    ScriptedDialogs* dialogs_ = nullptr;
    RecordingShell* shell_ = nullptr;
    QString viewer_;
    std::unique_ptr<MainWindow> main_;
    std::unique_ptr<ProjectWizard> wizard_;
    std::unique_ptr<OptionsDialog> options_;
    std::unique_ptr<AboutWindow> about_;
    QString site_, home_;
    qvtest::TestCertificates certificates_;

    qv::ProjectSettingsRecord& Settings() { return State().ProjectSettings; }

    template <class T> T* In(QWidget* form, const char* name)
    {
        T* found = form->findChild<T*>(QString::fromLatin1(name));
        if (!found)
            qWarning("no %s", name);
        return found;
    }

    void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    void OpenWizard()
    {
        wizard_->hide();
        wizard_->show();
        QVERIFY(wizard_->isVisible());
    }

    // Next until `page`, starting on page 0 with the test site's home page.
    void WizardTo(int page)
    {
        OpenWizard();
        wizard_->controls.homepage->setText(home_);
        for (int i = 0; i < page; ++i)
            Click(wizard_->NextButton);
        QCOMPARE(wizard_->PageIndex(), page);
    }

    // Closes the progress window of a build once it has ended.
    void CloseProgressWhenEnded(QStringList* captions)
    {
        auto* poll = new QTimer(wizard_.get());
        connect(poll, &QTimer::timeout, this, [this, poll, captions] {
            BuildProgressDialog* p = main_->buildProgress;
            const QString caption = p->windowTitle();
            // The caption stays from the build before; the button is set afresh.
            const QString button = p->CloseButton->text();
            if (p->isVisible() && (button == QLatin1String("Finish") || button == QLatin1String("Close"))) {
                *captions << caption;
                poll->stop();
                poll->deleteLater();
                p->CloseButton->click();
            }
        });
        poll->start(10);
    }

    QString States() const
    {
        auto on = [](QAction* a) { return a->isEnabled() ? QStringLiteral("1") : QStringLiteral("0"); };
        return on(main_->OptionsAction) + on(main_->BuildAction) + on(main_->RunAction) + on(main_->SaveAction) +
               on(main_->SaveAsAction);
    }

    void SetStates(const QString& states)
    {
        main_->OptionsAction->setEnabled(states[0] == '1');
        main_->BuildAction->setEnabled(states[1] == '1');
        main_->RunAction->setEnabled(states[2] == '1');
        main_->SaveAction->setEnabled(states[3] == '1');
        main_->SaveAsAction->setEnabled(states[4] == '1');
    }

    qv::ProjectSettingsRecord Marked() { return qvtest::MarkedSettings(); }

    qv::VersionCheck& Checker()
    {
        qv::VersionCheck* checker = VersionChecker(*main_);
        if (!checker)
            qFatal("the main window has no update checker");
        return *checker;
    }

    void PointCheckerAt(uint16_t port)
    {
        Checker().Endpoint().port = port;
        Checker().Endpoint().caBundle = certificates_.authority;
        Checker().Endpoint().connectAddress = "127.0.0.1";
    }

private slots:

    void initTestCase()
    {
        QVERIFY(temp_.isValid());
        qputenv("XDG_CONFIG_HOME", temp_.filePath("config").toUtf8());
        State().Build.ProgramFolder = (temp_.filePath("program") + "/").toStdString();
        QDir().mkpath(temp_.filePath("program"));
        viewer_ = PlaceViewer(temp_.filePath("program") + "/");
        auto dialogs = std::make_unique<ScriptedDialogs>();
        dialogs_ = dialogs.get();
        SetDialogService(std::move(dialogs));
        auto shell = std::make_unique<RecordingShell>();
        shell_ = shell.get();
        SetShellService(std::move(shell));
        certificates_ = qvtest::MakeTestCertificates(temp_.path().toStdString(), QV_OPENSSL);

        site_ = temp_.filePath("site");
        home_ = site_ + "/index.html";
        WriteText(home_, "<html><body><h1>Home</h1><a href='a.html'>a</a></body></html>");
        WriteText(site_ + "/a.html", "<html><body>A</body></html>");
        QDir().mkpath(site_ + "/folder.html");

        main_ = std::make_unique<MainWindow>();
        // As the entry sequence makes them.
        for (AppWindow kind : {AppWindow::Wizard, AppWindow::About, AppWindow::Options}) {
            const AppWindowMaker* make = AppWindowMakerFor(kind);
            QVERIFY(make);
            QWidget* window = (*make)(*main_);
            main_->SetWindow(kind, window);
            if (kind == AppWindow::Wizard)
                wizard_.reset(qobject_cast<ProjectWizard*>(window));
            else if (kind == AppWindow::About)
                about_.reset(qobject_cast<AboutWindow*>(window));
            else
                options_.reset(qobject_cast<OptionsDialog*>(window));
        }
        QVERIFY(wizard_ && about_ && options_);
        main_->show();
    }

    void cleanupTestCase()
    {
        wizard_.reset();
        options_.reset();
        about_.reset();
        main_.reset();
    }

    void init()
    {
        dialogs_->Clear();
        shell_->Clear();
        Settings() = qv::ProjectSettingsRecord();
        State().ProjectModified = false;
        wizard_->hide();
        options_->hide();
        about_->hide();
    }

    // ---- wizard ----------------------------------------------------------

    void wizardWindowAndPages()
    {
        QCOMPARE(main_->NewAction->isEnabled(), true);
        main_->NewAction->trigger();
        QVERIFY(wizard_->isVisible());
        QCOMPARE(wizard_->windowTitle(), QStringLiteral("New Project Wizard..."));
        QCOMPARE(wizard_->size(), QSize(489, 365));
        QCOMPARE(wizard_->minimumSize(), wizard_->maximumSize());
        QVERIFY(wizard_->windowFlags() & Qt::WindowCloseButtonHint);
        QVERIFY(!(wizard_->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QCOMPARE(In<QLabel>(wizard_.get(), "SidePicture")->size(), QSize(164, 316));
        QVERIFY(!In<QLabel>(wizard_.get(), "SidePicture")->pixmap().isNull());
        auto* notebook = In<QStackedWidget>(wizard_.get(), "Pages");
        QCOMPARE(notebook->count(), 8);
        QCOMPARE(notebook->parentWidget(), In<QFrame>(wizard_.get(), "PageFrame"));
        QCOMPARE(wizard_->BackButton->text(), QStringLiteral("< Back"));
        QCOMPARE(wizard_->NextButton->text(), QStringLiteral("Next >"));
        QCOMPARE(wizard_->CancelButton->text(), QStringLiteral("Cancel"));
        QVERIFY(wizard_->BackButton->x() < wizard_->NextButton->x() && wizard_->NextButton->x() < wizard_->CancelButton->x());
        QVERIFY(wizard_->BackButton->isHidden());

        struct Text { const char* name; const char* text; };
        const Text labels[] = {
            {"HomepageIntro", "First, you must select the homepage for your project. This is the first page displayed to "
                       "the user.The folder containing the homepage will be the"},
            {"RootFolderWords", "root folder"},
            {"HomepageIntroEnd", "for your project."},
            {"FolderNote", "All files inside this folder will be included in your project by default."},
            {"FormatIntro", "Quorvane Compiler supports two formats of output files. You must specify the output file "
                       "name and may select a custom icon for EXE files."},
            {"ViewIntro", "You can modify the appearance of the viewer window."},
            {"LayoutIntro", "Quorvane Compiler allows you to change the viewer window layout and choose commands "
                       "available to the end user."},
            {"ProtectionIntro", "You can protect your projects against unwanted use and select an expiration date."},
            {"ExpirationNote", "Additionally you can select a date from which the output file shall no longer start:"},
            {"FilesIntro", "By default, Quorvane Compiler includes all files from the root folder in the output file. "
                        "You can specify your own file masks for the included files."},
            {"MaskExample", "For example: *.html;*.htm;*.bmp;*.jpg"},
            {"BrowserIntro", "You can customize the compression level for content and User-Agent identifier for "
                        "built-in browser."},
            {"DoneTitle", "The Project has been created successfully! "},
            {"DoneNote", "Now the compiler is ready to start building your output file. Don't forget to save your "
                        "project for future modifications."},
        };
        for (const Text& t : labels)
            QCOMPARE(In<QLabel>(wizard_.get(), t.name)->text(), QString::fromUtf8(t.text));
        for (const char* green : {"RootFolderWords", "MaskExample"}) {
            QLabel* l = In<QLabel>(wizard_.get(), green);
            QVERIFY(l->font().bold());
            QCOMPARE(l->palette().color(QPalette::WindowText), QColor(0, 0x80, 0));
        }

        const Text groups[] = {
            {"OutputFormatBox", "  Output Format  "}, {"BorderStyleBox", "  Border Style  "},
            {"SizePositionBox", "  Size and Position  "}, {"DisplayBox", "  Display  "}, {"CommandsBox", "  Commands  "},
            {"PasswordBox", "  Password Protection  "}, {"ExpirationBox", "  Expiration  "}, {"IncludeBox", "  Include  "},
            {"DirectExecutionBox", "  Direct Execution  "}, {"CompressionBox", "  Compression Level  "},
            {"UserAgentBox", "  User Agent  "},
        };
        for (const Text& g : groups)
            QCOMPARE(In<QGroupBox>(wizard_.get(), g.name)->title(), QString::fromUtf8(g.text));

        const Text edits[] = {
            {"homepage", "Please select Home Page of the project:"}, {"outname", "Output file name:"},
            {"iconfile", "Application Icon for EXE file"}, {"sizewidth", "Width"}, {"sizeheight", "Height"},
            {"password", "You may protect the output file with a Start Password:"},
            {"includemask", "Specify files to include into output file by the semicolon-separated list of file "
                            "names or masks."},
            {"directmask", "You can specify files that will be executed directly without browser dialogs by the "
                           "semicolon-separated list of file names or masks. (will be excluded from compilation)"},
            {"useragent", "User Agent string for built-in browser, leave blank to use default value from Internet "
                          "Explorer"},
        };
        for (const Text& e : edits)
            QCOMPARE(Caption(wizard_.get(), In<QLineEdit>(wizard_.get(), e.name)), QString::fromUtf8(e.text));

        const Text boxes[] = {
            {"exeformat", "EXE-format (single file with built-in viewer)"},
            {"qpfformat", "QPF-format (smaller size, but reqires stand-alone viewer)"},
            {"centered", "Centered"}, {"scrollbars", "Hide Scrollbars"}, {"shadow", "Use Shadows "},
            {"showtoolbar", "Show Toolbar"}, {"showcaptions", "Show Toolbar Captions"},
            {"showstatusbar", "Show Statusbar"}, {"menuenabled", "Enable Context menu"},
            {"enablecopy", "Enable \"Copy to Clipboard\""}, {"enablefind", "Enable \"Find on this page\""},
            {"enableprint", "Enable \"Print...\""}, {"enablefont", "Enable selection of Font size"},
            {"expirationenabled", "Enabled"}, {"buildnow", "Build Project Now"},
            {"runnow", "Run Output file after building"}, {"searchindex", "Search index"},
        };
        for (const Text& b : boxes)
            QCOMPARE(In<QAbstractButton>(wizard_.get(), b.name)->text(), QString::fromUtf8(b.text));
        // The commands' group starts with the context menu.
        QVERIFY(wizard_->controls.menuenabled->y() < wizard_->controls.enablecopy->y());
        for (QWidget* w : std::initializer_list<QWidget*>{wizard_->controls.centered, wizard_->controls.sizewidth,
                                                         wizard_->controls.sizeheight, wizard_->controls.scrollbars,
                                                         wizard_->controls.shadow})
            QCOMPARE(w->parentWidget(), static_cast<QWidget*>(wizard_->SizePositionBox));
        QCOMPARE(wizard_->controls.borderstyle->parentWidget(), In<QWidget>(wizard_.get(), "BorderStyleBox"));

        QCOMPARE(Items(wizard_->controls.borderstyle),
                 (QStringList{"None", "Fixed", "Sizeable", "Full Screen"}));
        QCOMPARE(Items(wizard_->controls.compression), (QStringList{"Normal", "Fastest", "Maximum", "None"}));
        for (const char* browse : {"BrowseHomepageButton", "BrowseOutputButton", "BrowseIconButton"})
            QVERIFY(In<QToolButton>(wizard_.get(), browse));
        QVERIFY(In<QObject>(wizard_.get(), "OpenDialog") && In<QObject>(wizard_.get(), "SaveDialog"));
    }

    void wizardOpeningValuesAndSecondOpening()
    {
        for (int round = 0; round < 2; ++round) {
            OpenWizard();
            const ProjectControls& c = wizard_->controls;
            QCOMPARE(wizard_->PageIndex(), 0);
            QCOMPARE(wizard_->NextButton->text(), QStringLiteral("Next >"));
            QVERIFY(wizard_->BackButton->isHidden());
            for (QLineEdit* e : {c.homepage, c.outname, c.iconfile, c.password, c.useragent})
                QVERIFY2(e->text().isEmpty(), qPrintable(e->objectName()));
            QVERIFY(c.exeformat->isChecked() && !c.qpfformat->isChecked());
            QCOMPARE(c.sizewidth->text(), QStringLiteral("640"));
            QCOMPARE(c.sizeheight->text(), QStringLiteral("480"));
            QCOMPARE(c.borderstyle->currentIndex(), 2);
            QVERIFY(wizard_->SizePositionBox->isEnabled());
            for (QCheckBox* b : c.CheckBoxes())
                QCOMPARE(b->isChecked(), b != c.expirationenabled);
            QVERIFY(wizard_->buildnow->isChecked() && wizard_->runnow->isChecked());
            QCOMPARE(c.expirationdate->date(), QDate::currentDate());
            QCOMPARE(c.includemask->text(), QStringLiteral("*.*;"));
            QCOMPARE(c.directmask->text(), QStringLiteral("*.exe"));
            QCOMPARE(c.compression->currentIndex(), round == 0 ? 0 : 2);

            // Change everything, as a user might, before the next opening.
            c.homepage->setText(home_);
            c.qpfformat->setChecked(true);
            c.outname->setText("/x/typed.qpf");
            c.iconfile->setText("/x/i.ico");
            c.borderstyle->setCurrentIndex(3);
            c.sizewidth->setText("1");
            c.sizeheight->setText("2");
            for (QCheckBox* b : c.CheckBoxes())
                b->setChecked(!b->isChecked());
            wizard_->buildnow->setChecked(false);
            wizard_->runnow->setChecked(false);
            c.password->setText("p");
            c.expirationdate->setDate(QDate(2001, 2, 3));
            c.includemask->setText("*.a");
            c.directmask->setText("*.b");
            c.useragent->setText("ua");
            c.compression->setCurrentIndex(2);
            Click(wizard_->NextButton);
            Click(wizard_->NextButton);
            QCOMPARE(wizard_->PageIndex(), 2);
            wizard_->close();
        }
    }

    void wizardNextOnTheFirstPage()
    {
        OpenWizard();
        for (const QString& bad : {QString(), site_ + "/folder.html", site_ + "/missing.html"}) {
            dialogs_->Clear();
            wizard_->controls.homepage->setText(bad);
            Click(wizard_->NextButton);
            QCOMPARE(dialogs_->Texts("information"), QStringList{"Please select home page"});
            QCOMPARE(wizard_->PageIndex(), 0);
            QVERIFY(wizard_->controls.outname->text().isEmpty());
        }
        wizard_->controls.homepage->setText(home_);
        Click(wizard_->NextButton);
        QCOMPARE(wizard_->PageIndex(), 1);
        QCOMPARE(wizard_->controls.outname->text(), site_ + "/index.exe");
        QVERIFY(wizard_->BackButton->isVisible());

        // Back and Next again replace a typed name, whichever format is chosen.
        wizard_->controls.qpfformat->setChecked(true);
        wizard_->controls.outname->setText("/elsewhere/typed.qpf");
        Click(wizard_->BackButton);
        QCOMPARE(wizard_->PageIndex(), 0);
        QVERIFY(wizard_->BackButton->isHidden());
        Click(wizard_->NextButton);
        QCOMPARE(wizard_->controls.outname->text(), site_ + "/index.exe");

        // A home page without extension gets ".exe" appended; a link counts as the file.
        WriteText(site_ + "/README", "<html></html>");
        QFile::link(home_, site_ + "/linked");
        for (const QString& page : {site_ + "/README", site_ + "/linked"}) {
            Click(wizard_->BackButton);
            wizard_->controls.homepage->setText(page);
            Click(wizard_->NextButton);
            QCOMPARE(wizard_->PageIndex(), 1);
            QCOMPARE(wizard_->controls.outname->text(), page + ".exe");
        }
    }

    void wizardFormatButtonsRewriteTheExtension()
    {
        WizardTo(1);
        const ProjectControls& c = wizard_->controls;
        Click(c.qpfformat);
        QCOMPARE(c.outname->text(), site_ + "/index.qpf");
        Click(c.exeformat);
        QCOMPARE(c.outname->text(), site_ + "/index.exe");
        c.outname->setText("/out.dir/name");
        Click(c.qpfformat);
        QCOMPARE(c.outname->text(), QStringLiteral("/out.dir/name.qpf"));
        c.outname->clear();
        Click(c.exeformat);
        QCOMPARE(c.outname->text(), QStringLiteral(".exe"));
    }

    void wizardBorderStyleAndNavigation()
    {
        WizardTo(2);
        const ProjectControls& c = wizard_->controls;
        c.borderstyle->setCurrentIndex(3);
        QVERIFY(!wizard_->SizePositionBox->isEnabled());
        QVERIFY(!c.sizewidth->isEnabled() && !c.centered->isEnabled());
        for (int i : {0, 1, 2}) {
            c.borderstyle->setCurrentIndex(3);
            c.borderstyle->setCurrentIndex(i);
            QVERIFY(wizard_->SizePositionBox->isEnabled());
        }
        for (int page = 3; page <= 7; ++page) {
            Click(wizard_->NextButton);
            QCOMPARE(wizard_->PageIndex(), page);
            QCOMPARE(wizard_->NextButton->text(), page == 7 ? QStringLiteral("Finish") : QStringLiteral("Next >"));
            QVERIFY(wizard_->BackButton->isVisible());
        }
        // Activation on the last page keeps Finish and Back.
        wizard_->FormActivate();
        QCOMPARE(wizard_->NextButton->text(), QStringLiteral("Finish"));
        QVERIFY(wizard_->BackButton->isVisible());
        QVERIFY(wizard_->PageFrame->autoFillBackground());
        Click(wizard_->BackButton);
        QCOMPARE(wizard_->PageIndex(), 6);
        QCOMPARE(wizard_->NextButton->text(), QStringLiteral("Next >"));
    }

    void wizardCancelLeavesEverything()
    {
        const qv::ProjectSettingsRecord before = Marked();
        Settings() = before;
        SetStates("10001");
        main_->StatusPanels[0]->setText("/projects/kept.qp");
        WizardTo(7);
        wizard_->controls.sizewidth->setText("900");
        Click(wizard_->CancelButton);
        QVERIFY(!wizard_->isVisible());
        QCOMPARE(Image(Settings()), Image(before));
        QCOMPARE(States(), QStringLiteral("10001"));
        QCOMPARE(main_->StatusPanels[0]->text(), QStringLiteral("/projects/kept.qp"));
        QCOMPARE(State().ProjectModified, false);
        // The close box is Cancel too.
        WizardTo(7);
        wizard_->close();
        QCOMPARE(Image(Settings()), Image(before));
    }

    void wizardFinishWithoutBuildTransfersEveryField()
    {
        qv::ProjectSettingsRecord before = Marked();
        before.ViewerFlag = false; // not the wizard's
        Settings() = before;
        SetStates("00000");
        main_->StatusPanels[0]->setText("/projects/old.qp");
        WizardTo(1);
        const ProjectControls& c = wizard_->controls;
        Click(c.qpfformat);
        c.iconfile->setText("/icons/app.ico");
        c.borderstyle->setCurrentIndex(3); // full screen: the size group still counts
        c.sizewidth->setText("800");
        c.sizeheight->setText("-600");
        c.centered->setChecked(false);
        c.scrollbars->setChecked(false);
        c.showcaptions->setChecked(false);
        c.enablefind->setChecked(false);
        c.menuenabled->setChecked(false);
        c.password->setText(QString::fromUtf8("Gr\u00fc\u00dfe"));
        c.expirationenabled->setChecked(true);
        c.expirationdate->setDate(QDate(2030, 1, 2));
        c.includemask->setText("*.html;*.png");
        c.directmask->setText("");
        c.useragent->setText(QString(300, 'u'));
        c.compression->setCurrentIndex(1);
        for (int i = 1; i < 7; ++i)
            Click(wizard_->NextButton);
        wizard_->buildnow->setChecked(false);
        wizard_->runnow->setChecked(true);
        Click(wizard_->NextButton); // Finish

        QVERIFY(!wizard_->isVisible());
        QVERIFY(!main_->buildProgress->isVisible());
        QVERIFY(shell_->started.isEmpty());
        QVERIFY(!QFile::exists(site_ + "/index.qpf"));
        const qv::ProjectSettingsRecord& s = Settings();
        QCOMPARE(QString::fromStdString(s.HomePage.str()), home_);
        QCOMPARE(s.OutputIsExe, false);
        QCOMPARE(QString::fromStdString(s.OutputPath.str()), site_ + "/index.qpf");
        QCOMPARE(s.BorderType, 3);
        QCOMPARE(s.ViewWidth, 800);
        QCOMPARE(s.ViewHeight, -600);
        QCOMPARE(QString::fromStdString(s.LogoPath.str()), QStringLiteral("/icons/app.ico"));
        QCOMPARE(s.Centered, false);
        QCOMPARE(s.HideScrollbars, false);
        QCOMPARE(s.Shadow, true);
        QCOMPARE(s.ShowToolbar, true);
        QCOMPARE(s.ShowCaptions, false);
        QCOMPARE(s.ShowStatusbar, true);
        QCOMPARE(s.EnableCopy, true);
        QCOMPARE(s.EnableSearch, false);
        QCOMPARE(s.EnablePrint, true);
        QCOMPARE(s.EnableFont, true);
        QCOMPARE(s.ContextMenu, false);
        QCOMPARE(s.SearchIndex, true); // on for a new project
        QCOMPARE(QString::fromStdString(s.Password.str()), QString::fromUtf8("Gr\u00fc\u00dfe"));
        QCOMPARE(s.Password.Ansi(), std::string("Gr\xfc\xdf" "e"));
        QCOMPARE(s.ExpiryEnabled, true);
        QCOMPARE(s.ExpiryDate, double(QDate(1899, 12, 30).daysTo(QDate(2030, 1, 2))));
        QCOMPARE(QString::fromStdString(s.IncludeMask.str()), QStringLiteral("*.html;*.png"));
        QCOMPARE(QString::fromStdString(s.DirectMask.str()), QString());
        QCOMPARE(s.UserAgent.AnsiLength(), size_t(255));
        QCOMPARE(s.CompressionLevel, 1);
        // What the wizard does not edit stays.
        QCOMPARE(s.CursorOption, true);
        QCOMPARE(s.ViewerFlag, false);

        QCOMPARE(State().ProjectModified, true);
        QCOMPARE(States(), QStringLiteral("11011"));
        QCOMPARE(main_->StatusPanels[0]->text(), QString());
        QTRY_COMPARE(main_->Browser->url(), QUrl::fromLocalFile(home_));
    }

    void wizardProposesWhatTheCoreProposes()
    {
        // Only the home page given: the record is the one `quorvanec new` writes.
        const qv::ProjectSettingsRecord before = Marked();
        Settings() = before;
        WizardTo(7);
        wizard_->buildnow->setChecked(false);
        qv::ProjectSettingsRecord base = before;
        base.CompressionLevel = wizard_->controls.compression->currentIndex(); // the list keeps its own choice
        Click(wizard_->NextButton);
        QCOMPARE(Image(Settings()), Image(qv::WizardProposals(base, home_.toStdString(), qv::Today())));
    }

    void wizardFinishBuildsAndRunsTheOutput()
    {
        WizardTo(1);
        Click(wizard_->controls.qpfformat);
        for (int i = 1; i < 7; ++i)
            Click(wizard_->NextButton);
        QStringList ended;
        CloseProgressWhenEnded(&ended);
        Click(wizard_->NextButton); // Finish: builds, then runs
        QCOMPARE(ended, QStringList{"Finished"});
        QVERIFY(QFile::exists(site_ + "/index.qpf"));
        QCOMPARE(shell_->started, (QList<QStringList>{{viewer_, site_ + "/index.qpf"}}));
        QVERIFY(main_->RunAction->isEnabled());
        QVERIFY(dialogs_->Texts("error").isEmpty());

        // Run unticked: built, not opened.
        shell_->Clear();
        QFile::remove(site_ + "/index.qpf");
        WizardTo(1);
        Click(wizard_->controls.qpfformat);
        for (int i = 1; i < 7; ++i)
            Click(wizard_->NextButton);
        wizard_->runnow->setChecked(false);
        ended.clear();
        CloseProgressWhenEnded(&ended);
        Click(wizard_->NextButton);
        QCOMPARE(ended, QStringList{"Finished"});
        QVERIFY(QFile::exists(site_ + "/index.qpf"));
        QVERIFY(shell_->started.isEmpty());
        QFile::remove(site_ + "/index.qpf");
    }

    void wizardFailedBuildOpensNothing()
    {
        WizardTo(1);
        Click(wizard_->controls.qpfformat);
        wizard_->controls.outname->setText(temp_.filePath("no/such/folder/out.qpf"));
        for (int i = 1; i < 7; ++i)
            Click(wizard_->NextButton);
        QStringList ended;
        CloseProgressWhenEnded(&ended);
        Click(wizard_->NextButton);
        QCOMPARE(ended, QStringList{"Failed!"});
        QCOMPARE(dialogs_->Texts("error").size(), 1);
        QVERIFY(shell_->started.isEmpty());
        QVERIFY(!main_->RunAction->isEnabled());
    }

    void wizardBadWidthOrHeightStopsFinish()
    {
        const qv::ProjectSettingsRecord before = Marked();
        for (bool badWidth : {true, false}) {
            Settings() = before;
            State().ProjectModified = false;
            SetStates("00000");
            dialogs_->Clear();
            WizardTo(2);
            wizard_->controls.borderstyle->setCurrentIndex(0);
            wizard_->controls.sizewidth->setText(badWidth ? "64O" : "700");
            wizard_->controls.sizeheight->setText("4 80");
            for (int i = 2; i < 7; ++i)
                Click(wizard_->NextButton);
            Click(wizard_->NextButton);
            QCOMPARE(dialogs_->Texts("error"),
                     QStringList{badWidth ? "'64O' is not a valid integer value." : "'4 80' is not a valid integer value."});
            QVERIFY(wizard_->isVisible());
            QCOMPARE(wizard_->PageIndex(), 7);
            qv::ProjectSettingsRecord expected = before;
            expected.HomePage = home_.toStdString();
            expected.OutputIsExe = true;
            expected.OutputPath = (site_ + "/index.exe").toStdString();
            expected.BorderType = 0;
            if (!badWidth)
                expected.ViewWidth = 700;
            QCOMPARE(Image(Settings()), Image(expected));
            QCOMPARE(State().ProjectModified, false);
            QCOMPARE(States(), QStringLiteral("00000"));
        }
        wizard_->close();
    }

    void wizardBrowseButtons()
    {
        OpenWizard();
        dialogs_->openAnswers.push_back({home_});
        Click(wizard_->BrowseHomepageButton);
        QCOMPARE(wizard_->controls.homepage->text(), home_);
        Click(wizard_->BrowseHomepageButton); // cancelled
        QCOMPARE(wizard_->controls.homepage->text(), home_);
        Click(wizard_->NextButton);
        dialogs_->openAnswers.push_back({"/icons/a.ico"});
        Click(wizard_->BrowseIconButton);
        QCOMPARE(wizard_->controls.iconfile->text(), QStringLiteral("/icons/a.ico"));
        Click(wizard_->controls.qpfformat);
        dialogs_->saveAnswers.push_back("/out/chosen.exe");
        Click(wizard_->BrowseOutputButton);
        QCOMPARE(wizard_->controls.outname->text(), QStringLiteral("/out/chosen.exe"));
        QCOMPARE(dialogs_->Texts("open"), (QStringList{"HTML Files (*.htm *.html *.shtml *.hta)",
                                                       "HTML Files (*.htm *.html *.shtml *.hta)",
                                                       "Bitmap Files (.ico) (*.ico)"}));
        QCOMPARE(dialogs_->Texts("save"), QStringList{"Executable Files (*.exe)"});
        auto* save = wizard_->findChild<FileDialog*>("SaveDialog");
        QCOMPARE(save->Request().defaultSuffix, QStringLiteral("exe"));
    }

    // ---- options -----------------------------------------------------------

    void optionsWindowAndTabs()
    {
        main_->OptionsAction->setEnabled(true);
        main_->OptionsAction->trigger();
        QVERIFY(options_->isVisible());
        QCOMPARE(options_->windowTitle(), QStringLiteral("Options"));
        QCOMPARE(options_->size(), QSize(472, 354));
        QVERIFY(options_->minimumSize() != options_->maximumSize()); // resizable
        QCOMPARE(options_->Tabs->count(), 5);
        const char* tabs[] = {"General", "View", "Advanced", "Files", "Browser"};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(options_->Tabs->tabText(i), QString::fromLatin1(tabs[i]));
            QCOMPARE(options_->Tabs->widget(i)->objectName(), QString::fromLatin1(tabs[i]) + QStringLiteral("Tab"));
        }
        QCOMPARE(options_->OkButton->text(), QStringLiteral("&Ok"));
        QCOMPARE(options_->CancelButton->text(), QStringLiteral("&Cancel"));
        QVERIFY(!options_->OkButton->isDefault() && !options_->OkButton->autoDefault());
        const ProjectControls& c = options_->controls;
        QCOMPARE(Items(c.borderstyle), (QStringList{"None", "Fixed", "Sizable", "Full Screen"}));
        QCOMPARE(Items(c.compression), (QStringList{"Default", "Fastest - (bigger file size, but better speed)",
                                                    "Maximum - (smaller file size, but is a little slow)",
                                                    "None - (no compression, non secure)"}));
        QCOMPARE(c.qpfformat->text(), QStringLiteral("QPF-format (smaller size, but reqired stand-alone viewer)"));
        QCOMPARE(c.shadow->text(), QStringLiteral("Use Shadow"));
        QCOMPARE(c.menuenabled->text(), QStringLiteral("Enable Context Menu"));
        QCOMPARE(c.searchindex->text(), QStringLiteral("Search index"));
        QCOMPARE(Caption(options_.get(), c.iconfile), QStringLiteral("Application Icon file (*.ico)"));
        QCOMPARE(Caption(options_.get(), c.password),
                 QStringLiteral("You may protect the output file with Start Password:"));
        QCOMPARE(Caption(options_.get(), c.directmask),
                 QStringLiteral("You can specify files that will be executed directly without browser dialogs by "
                                "the semicolon-separated list of file names or masks. (excluded from compilation)"));
        QCOMPARE(Caption(options_.get(), c.useragent),
                 QStringLiteral("Specify User-Agent string for built-in browser. Leave blank to use default "
                                "identifier from Internet Explorer."));
        QCOMPARE(In<QGroupBox>(options_.get(), "CompressionBox")->title(), QStringLiteral("  Compression level  "));
        QCOMPARE(c.homepage->parentWidget(), options_->GeneralTab);
        QCOMPARE(c.sizewidth->parentWidget(), In<QWidget>(options_.get(), "SizePositionBox"));
        QCOMPARE(c.expirationdate->parentWidget(), In<QWidget>(options_.get(), "ExpirationBox"));
        QVERIFY(options_->AdvancedTab->isAncestorOf(c.password));
        QVERIFY(options_->FilesTab->isAncestorOf(c.includemask));
        QVERIFY(options_->BrowserTab->isAncestorOf(c.useragent));
        for (const char* picture : {"homepagePicture", "includemaskPicture", "directmaskPicture"})
            QVERIFY2(!In<QLabel>(options_.get(), picture)->pixmap().isNull(), picture);
        // Full Screen leaves the size group usable here.
        c.borderstyle->setCurrentIndex(3);
        QVERIFY(In<QWidget>(options_.get(), "SizePositionBox")->isEnabled());
        options_->close();
    }

    void optionsShowTheLoadedProject()
    {
        // A QPF project from a file, its output name not ending in ".qpf".
        const QString file = temp_.filePath("marked.qp");
        QVERIFY(qv::SaveProject(file.toStdString(), Marked(), [](const std::string& m) { qFatal("%s", m.c_str()); }));
        qv::LoadProject(file.toStdString(), Settings());
        QCOMPARE(Image(Settings()), Image(Marked()));
        // A relative home page is shown resolved against the current folder.
        Settings().HomePage = "rel/page.html";
        main_->OptionsAction->setEnabled(true);
        main_->OptionsAction->trigger();
        const ProjectControls& c = options_->controls;
        QCOMPARE(c.homepage->text(), QDir::currentPath() + "/rel/page.html");
        QVERIFY(c.qpfformat->isChecked() && !c.exeformat->isChecked());
        QCOMPARE(c.outname->text(), QStringLiteral("/marked/out.data"));
        QCOMPARE(c.iconfile->text(), QStringLiteral("/marked/logo.ico"));
        QCOMPARE(c.borderstyle->currentIndex(), 1);
        QCOMPARE(c.sizewidth->text(), QStringLiteral("111"));
        QCOMPARE(c.sizeheight->text(), QStringLiteral("222"));
        for (QCheckBox* b : c.CheckBoxes())
            QCOMPARE(b->isChecked(), b == c.expirationenabled);
        QCOMPARE(c.password->text(), QStringLiteral("secret"));
        QCOMPARE(c.expirationdate->date(), QDate(1899, 12, 30).addDays(40000));
        QCOMPARE(c.includemask->text(), QStringLiteral("*.htm"));
        QCOMPARE(c.directmask->text(), QStringLiteral("*.zip"));
        QCOMPARE(c.compression->currentIndex(), 3);
        QCOMPARE(c.useragent->text(), QStringLiteral("Marked/1.0"));

        // Edits abandoned with Cancel are gone at the next showing.
        const QByteArray before = Image(Settings());
        c.outname->setText("/changed.exe");
        c.exeformat->setChecked(true);
        c.centered->setChecked(true);
        c.sizewidth->setText("5");
        Click(options_->CancelButton);
        QVERIFY(!options_->isVisible());
        QCOMPARE(Image(Settings()), before);
        QCOMPARE(State().ProjectModified, false);
        options_->show();
        QCOMPARE(c.outname->text(), QStringLiteral("/marked/out.data"));
        QVERIFY(c.qpfformat->isChecked());
        QVERIFY(!c.centered->isChecked());
        QCOMPARE(c.sizewidth->text(), QStringLiteral("111"));
        options_->close();
    }

    void optionsOkStoresAndKeepsTheRest()
    {
        Settings() = Marked();
        SetStates("00100");
        main_->StatusPanels[0]->setText("/projects/p.qp");
        options_->show();
        const ProjectControls& c = options_->controls;
        c.homepage->setText(site_ + "/missing.html"); // not checked
        Click(c.exeformat);
        QCOMPARE(c.outname->text(), QStringLiteral("/marked/out.exe"));
        c.sizewidth->setText("1024");
        c.shadow->setChecked(true);
        c.enableprint->setChecked(true);
        c.compression->setCurrentIndex(2);
        c.useragent->clear();
        Click(options_->OkButton);
        QVERIFY(!options_->isVisible());
        const qv::ProjectSettingsRecord& s = Settings();
        QCOMPARE(QString::fromStdString(s.HomePage.str()), site_ + "/missing.html");
        QCOMPARE(s.OutputIsExe, true);
        QCOMPARE(QString::fromStdString(s.OutputPath.str()), QStringLiteral("/marked/out.exe"));
        QCOMPARE(s.ViewWidth, 1024);
        QCOMPARE(s.ViewHeight, 222);
        QCOMPARE(s.Shadow, true);
        QCOMPARE(s.EnablePrint, true);
        QCOMPARE(s.EnableCopy, false);
        QCOMPARE(s.CompressionLevel, 2);
        QCOMPARE(QString::fromStdString(s.UserAgent.str()), QString());
        QCOMPARE(s.CursorOption, true);
        QCOMPARE(State().ProjectModified, true);
        QCOMPARE(States(), QStringLiteral("00011")); // Options and Build untouched, Run off
        QCOMPARE(main_->StatusPanels[0]->text(), QStringLiteral("/projects/p.qp"));
        QTRY_COMPARE(main_->Browser->url(), QUrl::fromLocalFile(site_ + "/missing.html"));

        // CursorOption survives any number of OKs.
        for (int i = 0; i < 3; ++i) {
            options_->show();
            Click(options_->OkButton);
        }
        QCOMPARE(Settings().CursorOption, true);
        QVERIFY(!main_->buildProgress->isVisible());
    }

    void optionsBadWidthStopsStoring()
    {
        const qv::ProjectSettingsRecord before = Marked();
        Settings() = before;
        SetStates("00100");
        options_->show();
        const ProjectControls& c = options_->controls;
        c.homepage->setText("/new/home.html");
        c.iconfile->setText("/new/i.ico");
        c.borderstyle->setCurrentIndex(0);
        c.sizewidth->setText("wide");
        c.password->setText("never stored");
        Click(options_->OkButton);
        QCOMPARE(dialogs_->Texts("error"), QStringList{"'wide' is not a valid integer value."});
        QVERIFY(options_->isVisible());
        qv::ProjectSettingsRecord expected = before;
        expected.HomePage = "/new/home.html";
        expected.LogoPath = "/new/i.ico";
        expected.BorderType = 0;
        QCOMPARE(Image(Settings()), Image(expected));
        QCOMPARE(State().ProjectModified, false);
        QCOMPARE(States(), QStringLiteral("00100"));
        options_->close();
    }

    void optionsKeepsTheLastTabAndForcesExeOnBrowse()
    {
        options_->show();
        options_->Tabs->setCurrentIndex(3);
        options_->close();
        options_->show();
        QCOMPARE(options_->Tabs->currentIndex(), 3);
        options_->Tabs->setCurrentIndex(0);
        Click(options_->controls.qpfformat);
        for (const char* chosen : {"/out/name.qpf", "/out/name", "/out/name.exe"}) {
            dialogs_->saveAnswers.push_back(QString::fromLatin1(chosen));
            Click(options_->BrowseOutputButton);
            QCOMPARE(options_->controls.outname->text(), QStringLiteral("/out/name.exe"));
        }
        Click(options_->BrowseOutputButton); // cancelled: unchanged
        QCOMPARE(options_->controls.outname->text(), QStringLiteral("/out/name.exe"));
        QCOMPARE(dialogs_->Texts("save").first(), QStringLiteral("Executable Files (*.exe)"));
        QVERIFY(options_->findChild<FileDialog*>("SaveDialog")->Request().defaultSuffix.isEmpty());
        dialogs_->openAnswers.push_back({"/p/home.htm"});
        Click(options_->BrowseHomepageButton);
        QCOMPARE(options_->controls.homepage->text(), QStringLiteral("/p/home.htm"));
        dialogs_->openAnswers.push_back({"/p/i.ico"});
        Click(options_->BrowseIconButton);
        QCOMPARE(options_->controls.iconfile->text(), QStringLiteral("/p/i.ico"));
        QCOMPARE(dialogs_->Texts("open"),
                 (QStringList{"HTML Files (*.htm *.html *.shtml *.hta)", "Bitmap Files (.ico) (*.ico)"}));
        options_->close();
    }

    // ---- about window and the update check ---------------------------------

    void aboutWindow()
    {
        main_->AboutAction->trigger();
        QVERIFY(about_->isVisible());
        QCOMPARE(about_->windowTitle(), QStringLiteral("About Quorvane Compiler"));
        QCOMPARE(about_->size(), QSize(500, 277));
        QVERIFY(!(about_->windowFlags() & Qt::WindowCloseButtonHint));
        QCOMPARE(about_->TitleBand->height(), 81);
        QCOMPARE(about_->TitleBand->width(), about_->width());
        QCOMPARE(about_->TitleBand->palette().color(QPalette::Window), QColor(238, 244, 249));
        QCOMPARE(about_->ProgramImage->size(), QSize(64, 64));
        QVERIFY(about_->ProgramImage->hasScaledContents());
        QCOMPARE(about_->TitleLabel->text(), QStringLiteral("Quorvane Compiler"));
        QCOMPARE(about_->TitleLabel->font().pixelSize(), 24);
        QVERIFY(about_->TitleLabel->font().bold());
        QCOMPARE(about_->SubtitleLabel->text(), QStringLiteral("Compiling HTML pages into an EXE file"));
        QCOMPARE(about_->InformationBox->title(), QStringLiteral("  Program Information  "));
        QCOMPARE(about_->InfoLabel->text(), QStringLiteral("Product Information"));
        QCOMPARE(about_->UpdateLabel->text(), QStringLiteral("Check updates..."));
        for (QLabel* link : {static_cast<QLabel*>(about_->InfoLabel), static_cast<QLabel*>(about_->UpdateLabel)}) {
            QVERIFY(link->font().underline());
            QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        }
        QCOMPARE(about_->VersionLabel->text(), QStringLiteral("Product Version: 4.5.0.0 (x86)"));
        QCOMPARE(about_->CloseButton->text(), QStringLiteral("Close"));
        QCOMPARE(about_->font().pixelSize(), 11);

        QTest::mouseClick(about_->InfoLabel, Qt::LeftButton);
        QCOMPARE(shell_->opened.size(), 1);
        QCOMPARE(shell_->opened[0].scheme(), QStringLiteral("https"));
        QCOMPARE(shell_->opened[0].path(), QStringLiteral("/quorvane/"));
        QCOMPARE(shell_->opened[0].query(), QStringLiteral("ref=quorvane"));
        Click(about_->CloseButton);
        QVERIFY(!about_->isVisible());
    }

    void checkUpdatesIsWiredToTheChecker()
    {
        qv::VersionCheck& c = Checker();
        QVERIFY(c.FailureDlg && c.DownloadDlg && c.NoUpdatesDlg);
        QCOMPARE(qv::http::ExtractUrlPath(c.URLCurrVerFile), std::string("/quorvane/quorvane.xml"));
        QCOMPARE(qv::http::ExtractUrlPath(c.DownloadURL), std::string("/downloads/quorvane.exe"));
        QCOMPARE(c.SiteName, std::string("www.quorvane.example"));
        QCOMPARE(c.Endpoint().host, std::string("www.quorvane.example"));

        qvtest::TlsServer server(certificates_.certificate, certificates_.key);
        PointCheckerAt(server.port());
        server.Queue(200, "4.5.0.7\r\n");
        dialogs_->questionAnswers.push_back(true);
        main_->UpdatesAction->trigger();
        c.WaitForCheck();
        QCOMPARE(dialogs_->Texts("question"),
                 QStringList{"There is a new version 4.5.0.7 of this program\r\navailable at www.quorvane.example\r\n"
                             "Do you want to download it now?"});
        QCOMPARE(shell_->opened, QList<QUrl>{QUrl(QString::fromStdString(c.DownloadURL))});
        QCOMPARE(QString::fromStdString(server.Requests().at(0).requestLine),
                 QStringLiteral("GET /pad/getpad.php?pad=/quorvane/quorvane.xml&field=version HTTP/1.1"));

        // From the about window the up-to-date notice shows even if it was off.
        dialogs_->Clear();
        c.NoUpdatesDlg = false;
        server.Queue(200, "4.5.0.0");
        about_->show();
        QTest::mouseClick(about_->UpdateLabel, Qt::LeftButton);
        c.WaitForCheck();
        QVERIFY(c.NoUpdatesDlg);
        QCOMPARE(dialogs_->Texts("notice"), QStringList{"You already have the latest version 4.5.0.0 of this program"});
        QVERIFY(about_->isVisible());

        // Twice in quick succession: the second waits for the first.
        dialogs_->Clear();
        server.Queue(200, "4.5.0.0");
        server.Queue(200, "4.4.0.0");
        QTest::mouseClick(about_->UpdateLabel, Qt::LeftButton);
        QTest::mouseClick(about_->UpdateLabel, Qt::LeftButton);
        c.WaitForCheck();
        QCOMPARE(dialogs_->Texts("notice").size(), 2);
        QCOMPARE(server.Requests().size(), size_t(4));

        // Without a server: the error box, since the main window sets FailureDlg.
        dialogs_->Clear();
        PointCheckerAt(qvtest::UnusedLoopbackPort());
        QTest::mouseClick(about_->UpdateLabel, Qt::LeftButton);
        c.WaitForCheck();
        QCOMPARE(dialogs_->Texts("error"),
                 QStringList{"Could not download file version information from: \r\n" +
                             QString::fromStdString(c.URLCurrVerFile)});
        about_->close();
    }

    // ---- pictures for the documentation ------------------------------------

    void screenshots()
    {
        const QString folder = qEnvironmentVariable("QV_SCREENSHOT_DIR");
        if (folder.isEmpty())
            QSKIP("QV_SCREENSHOT_DIR is not set");
        QDir().mkpath(folder);
        WizardTo(0);
        for (int page = 0; page < 8; ++page) {
            if (page > 0)
                Click(wizard_->NextButton);
            QTest::qWait(50);
            QVERIFY(wizard_->grab().save(folder + QStringLiteral("/wizard-page%1.png").arg(page)));
        }
        wizard_->close();
        Settings() = Marked();
        options_->show();
        for (int tab = 0; tab < 5; ++tab) {
            options_->Tabs->setCurrentIndex(tab);
            QTest::qWait(50);
            QVERIFY(options_->grab().save(folder + QStringLiteral("/options-tab%1.png").arg(tab + 1)));
        }
        options_->Tabs->setCurrentIndex(0);
        options_->close();
        about_->show();
        QTest::qWait(50);
        QVERIFY(about_->grab().save(folder + QStringLiteral("/about.png")));
        about_->close();
    }
};

int main(int argc, char** argv)
{
    RegisterBeforeApplication();
    QApplication app(argc, argv);
    SetUpApplication();
    DialogsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "dialogs_test.moc"
