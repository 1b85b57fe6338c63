#include "main.h"

#include "BrowserKeyPolicy.h"
#include "services/AppState.h"
#include "forms/Artwork.h"
#include "forms/CheckWindow.h"
#include "browser/ResScheme.h"
#include "services/ShellService.h"
#include "services/VersionCheckUi.h"
#include "processing.h"
#include "utils.h"

#include "quorvane/project/AppSettings.h"
#include "quorvane/compile/BuildJob.h"
#include "quorvane/project/CommandLine.h"
#include "quorvane/base/Error.h"
#include "quorvane/project/ProjectFile.h"
#include "quorvane/platform/FileSystem.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWebChannel>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

#include <cerrno>
#include <cfenv>
#include <filesystem>
#include <map>

namespace qv::app {

FileDialog::FileDialog(QObject* owner, const char* name, FileDialogRequest request)
    : QObject(owner), request_(std::move(request))
{
    setObjectName(QString::fromLatin1(name));
}

QStringList FileDialog::ExecuteOpen(QWidget* parent) const
{
    return Dialogs().OpenFiles(parent, request_);
}

QString FileDialog::ExecuteSave(QWidget* parent) const
{
    return Dialogs().SaveFile(parent, request_);
}

namespace {

std::map<AppWindow, AppWindowMaker>& WindowMakers()
{
    static std::map<AppWindow, AppWindowMaker> makers;
    return makers;
}

} // namespace

void RegisterAppWindow(AppWindow kind, AppWindowMaker maker)
{
    WindowMakers()[kind] = std::move(maker);
}

const AppWindowMaker* AppWindowMakerFor(AppWindow kind)
{
    const auto it = WindowMakers().find(kind);
    return it == WindowMakers().end() || !it->second ? nullptr : &it->second;
}

bool BrowserPage::acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame)
{
    return !BeforeNavigate || BeforeNavigate(url, isMainFrame);
}

// The page's side of same-document navigations, which never reach
// acceptNavigationRequest: the page script hands each click on a link to a
// place in its own document to this object instead of following it.
class NavigationBridge final : public QObject {
    Q_OBJECT
public:
    NavigationBridge(MainWindow* window) : QObject(window), window_(window) {}
    Q_INVOKABLE void fragmentNavigation(const QString& href) { window_->FragmentNavigation(href); }

private:
    MainWindow* window_;
};

namespace {

struct CommandToken {
    const char* token;
    bool (MainWindow::*handler)();
};

// In this order: an address with several tokens runs each command in turn.
constexpr CommandToken kCommandTokens[] = {
    {"#intro#", &MainWindow::ContentActionExecute}, {"#new#", &MainWindow::NewActionExecute},
    {"#load#", &MainWindow::OpenActionExecute},     {"#home#", &MainWindow::HomeActionExecute},
    {"#about#", &MainWindow::AboutActionExecute},
};

bool HasCommandToken(const QString& url)
{
    for (const CommandToken& t : kCommandTokens)
        if (url.contains(QLatin1String(t.token)))
            return true;
    return false;
}

// The address as text, as the page itself writes it: a fragment keeps its
// "#" characters.
QString AddressText(const QUrl& url)
{
    return url.toString();
}

QString JsString(const QString& text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

QString PageScript()
{
    QFile channel(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    channel.open(QIODevice::ReadOnly);
    return QString::fromUtf8(channel.readAll()) + QStringLiteral(R"JS(
(function () {
  var host = null;
  new QWebChannel(qt.webChannelTransport, function (channel) { host = channel.objects.navigation; });
  function withoutFragment(address) { var i = address.indexOf('#'); return i < 0 ? address : address.substring(0, i); }
  document.addEventListener('click', function (event) {
    if (!host || event.defaultPrevented || event.button !== 0) return;
    var link = event.target && event.target.closest ? event.target.closest('a[href]') : null;
    if (!link || (link.target && link.target !== '_self')) return;
    var href = link.href;
    if (href.indexOf('#') < 0 || withoutFragment(href) !== withoutFragment(location.href)) return;
    event.preventDefault();
    host.fragmentNavigation(href);
  }, true);
})();
)JS");
}

QToolButton* CommandButton(QToolBar* bar, const char* name, QAction* action)
{
    auto* button = new QToolButton(bar);
    button->setObjectName(QString::fromLatin1(name));
    button->setDefaultAction(action);
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setIconSize(QSize(24, 24));
    button->setMinimumSize(46, 44);
    button->setAutoRaise(true);
    bar->addWidget(button);
    return button;
}

// Menu captions are written with their access key; the toolbar shows the
// caption itself.
QAction* Command(QObject* owner, const char* name, const QString& menuText, const QString& caption,
                 const QString& hint, const QKeySequence& shortcut)
{
    auto* action = new QAction(menuText, owner);
    action->setObjectName(QString::fromLatin1(name));
    action->setIconText(caption);
    action->setToolTip(hint.isEmpty() ? caption : hint);
    action->setStatusTip(hint);
    action->setWhatsThis(hint);
    if (!shortcut.isEmpty())
        action->setShortcut(shortcut);
    return action;
}

void SetCurrentFolder(const std::string& folder)
{
    std::error_code error;
    std::filesystem::current_path(std::filesystem::path(folder), error);
    if (error)
        RaiseOsError("Cannot change the current folder to", folder, error.value());
}

} // namespace

MainWindow::MainWindow(const QStringList& arguments, QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("mainform"));
    CreateComponents();
    Guarded(this, [&] { FormCreate(arguments); });
}

MainWindow::~MainWindow()
{
    FormDestroy();
}

void MainWindow::CreateComponents()
{
    setWindowTitle(QStringLiteral("Quorvane Compiler"));
    Commands = new QObject(this);
    Commands->setObjectName(QStringLiteral("Commands"));
    MRUActionList = new QObject(this);
    MRUActionList->setObjectName(QStringLiteral("MRUActionList"));
    const QString projects = QStringLiteral("Quorvane Projects (*.qp)");
    OpenDialog = new FileDialog(this, "OpenDialog", {QStringLiteral("Open"), projects, {}, true, true, {}});
    SaveDialog = new FileDialog(this, "SaveDialog", {QStringLiteral("Save As"), projects, QStringLiteral("qp"), false, false, {}});
    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreateBrowser();

    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    for (size_t i = 0; i < StatusPanels.size(); ++i) {
        auto* panel = new QLabel(StatusBar);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setTextFormat(Qt::PlainText);
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setMinimumWidth(0);
        StatusPanels[i] = panel;
    }
    StatusPanels[0]->resize(350, StatusPanels[0]->height());
    StatusPanels[1]->setFixedWidth(200);
    StatusBar->addWidget(StatusPanels[0], 1);
    StatusBar->addPermanentWidget(StatusPanels[1]);
    StatusBar->setSizeGripEnabled(false);
    setStatusBar(StatusBar);

    // Client area 748 by 466, centred on the desktop.
    resize(748, 466);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - QPoint(748 / 2, 466 / 2));
    }
}

void MainWindow::CreateActions()
{
    QObject* m = Commands;
    NewAction = Command(m, "NewAction", QStringLiteral("&New..."), QStringLiteral("New..."),
                        QStringLiteral("Start new project..."), QKeySequence(Qt::CTRL | Qt::Key_N));
    OpenAction = Command(m, "OpenAction", QStringLiteral("&Open"), QStringLiteral("Open"),
                         QStringLiteral("Open existing project..."), QKeySequence(Qt::CTRL | Qt::Key_O));
    SaveAction = Command(m, "SaveAction", QStringLiteral("&Save"), QStringLiteral("Save"),
                         QStringLiteral("Save current porject..."), QKeySequence(Qt::CTRL | Qt::Key_S));
    SaveAsAction = Command(m, "SaveAsAction", QStringLiteral("S&ave As..."), QStringLiteral("Save As..."), {}, {});
    ExitAction = Command(m, "ExitAction", QStringLiteral("&Exit"), QStringLiteral("Exit"), {}, {});
    OptionsAction = Command(m, "OptionsAction", QStringLiteral("&Options"), QStringLiteral("Options"),
                            QStringLiteral("Project options"), QKeySequence(Qt::Key_F10));
    BuildAction = Command(m, "BuildAction", QStringLiteral("&Build"), QStringLiteral("Build"),
                          QStringLiteral("Build current project"), QKeySequence(Qt::CTRL | Qt::Key_F9));
    CheckSiteAction = Command(m, "CheckSiteAction", QStringLiteral("&Check Site"), QStringLiteral("Check Site"),
                              QStringLiteral("Check the links of the project's pages"), QKeySequence(Qt::Key_F7));
    RunAction = Command(m, "RunAction", QStringLiteral("&Run"), QStringLiteral("Run"),
                        QStringLiteral("Run compiled project"), QKeySequence(Qt::Key_F9));
    ContentAction = Command(m, "ContentAction", QStringLiteral("&Content"), QStringLiteral("Content"),
                            QStringLiteral("Open help file"), QKeySequence(Qt::Key_F1));
    HomeAction = Command(m, "HomeAction", QStringLiteral("&Home Page"), QStringLiteral("Home Page"), {}, {});
    UpdatesAction = Command(m, "UpdatesAction", QStringLiteral("Ch&eck Updates..."), QStringLiteral("Check Updates..."), {}, {});
    AboutAction = Command(m, "AboutAction", QStringLiteral("&About"), QStringLiteral("About"), {}, {});

    NewAction->setIcon(CommandPicture(Picture::New));
    OpenAction->setIcon(CommandPicture(Picture::Open));
    SaveAction->setIcon(CommandPicture(Picture::Save));
    OptionsAction->setIcon(CommandPicture(Picture::Options));
    BuildAction->setIcon(CommandPicture(Picture::Build));
    CheckSiteAction->setIcon(CommandPicture(Picture::Check));
    RunAction->setIcon(CommandPicture(Picture::Run));
    ContentAction->setIcon(CommandPicture(Picture::Help));
    HomeAction->setIcon(CommandPicture(Picture::Home));
    // The Project menu's entries go without pictures.
    for (QAction* a : {OptionsAction, BuildAction, CheckSiteAction, RunAction})
        a->setIconVisibleInMenu(false);

    const std::pair<QAction*, bool (MainWindow::*)()> handlers[] = {
        {NewAction, &MainWindow::NewActionExecute},         {OpenAction, &MainWindow::OpenActionExecute},
        {SaveAction, &MainWindow::SaveActionExecute},       {SaveAsAction, &MainWindow::SaveAsActionExecute},
        {ExitAction, &MainWindow::ExitActionExecute},       {OptionsAction, &MainWindow::OptionsActionExecute},
        {BuildAction, &MainWindow::BuildActionExecute},     {CheckSiteAction, &MainWindow::CheckSiteActionExecute},
        {RunAction, &MainWindow::RunActionExecute},
        {ContentAction, &MainWindow::ContentActionExecute}, {HomeAction, &MainWindow::HomeActionExecute},
        {UpdatesAction, &MainWindow::UpdatesActionExecute}, {AboutAction, &MainWindow::AboutActionExecute},
    };
    for (const auto& [action, handler] : handlers) {
        connect(action, &QAction::triggered, this, [this, h = handler] { (this->*h)(); });
        addAction(action); // shortcuts work wherever the focus is in the window
    }

    for (size_t i = 0; i < MRUActions.size(); ++i) {
        auto* action = new QAction(MRUActionList);
        action->setObjectName(QStringLiteral("RecentProject%1").arg(i + 1));
        connect(action, &QAction::triggered, this, [this, action] { MRUActionExecute(action); });
        MRUActions[i] = action;
    }
}

void MainWindow::CreateMenus()
{
    MenuBar = new QMenuBar;
    MenuBar->setObjectName(QStringLiteral("MenuBar"));
    QFont menuFont = MenuBar->font();
    menuFont.setFamilies({QStringLiteral("Segoe UI"), menuFont.family()});
    menuFont.setPixelSize(12);
    MenuBar->setFont(menuFont);

    FileMenu = MenuBar->addMenu(QStringLiteral("&File"));
    FileMenu->setObjectName(QStringLiteral("FileMenu"));
    FileMenu->addActions({NewAction, OpenAction, SaveAction, SaveAsAction});
    fileSeparator_ = FileMenu->addSeparator();
    FileMenu->addAction(ExitAction);

    ProjectMenu = MenuBar->addMenu(QStringLiteral("&Project"));
    ProjectMenu->setObjectName(QStringLiteral("ProjectMenu"));
    ProjectMenu->addActions({OptionsAction, BuildAction, CheckSiteAction, RunAction});

    HelpMenu = MenuBar->addMenu(QStringLiteral("&Help"));
    HelpMenu->setObjectName(QStringLiteral("HelpMenu"));
    HelpMenu->addActions({ContentAction, HomeAction, UpdatesAction, AboutAction});
    for (QMenu* menu : {FileMenu, ProjectMenu, HelpMenu})
        menu->setFont(menuFont);
}

void MainWindow::CreateToolBar()
{
    ToolArea = new QWidget(this);
    ToolArea->setObjectName(QStringLiteral("ToolArea"));
    auto* bands = new QVBoxLayout(ToolArea);
    bands->setContentsMargins(0, 0, 0, 0);
    bands->setSpacing(0);

    ToolBar = new QToolBar(ToolArea);
    ToolBar->setObjectName(QStringLiteral("ToolBar"));
    ToolBar->setMovable(false);
    ToolBar->setFloatable(false);
    ToolBar->setIconSize(QSize(24, 24));
    ToolBar->setMinimumHeight(44);
    NewButton = CommandButton(ToolBar, "NewButton", NewAction);
    OpenButton = CommandButton(ToolBar, "OpenButton", OpenAction);
    SaveButton = CommandButton(ToolBar, "SaveButton", SaveAction);
    ToolBar->addSeparator();
    OptionsButton = CommandButton(ToolBar, "OptionsButton", OptionsAction);
    BuildButton = CommandButton(ToolBar, "BuildButton", BuildAction);
    CheckSiteButton = CommandButton(ToolBar, "CheckSiteButton", CheckSiteAction);
    RunButton = CommandButton(ToolBar, "RunButton", RunAction);
    ToolBar->addSeparator();
    HelpButton = CommandButton(ToolBar, "HelpButton", ContentAction);

    MenuBar->setParent(ToolArea);
    bands->addWidget(MenuBar);
    bands->addWidget(ToolBar);
    setMenuWidget(ToolArea);
}

void MainWindow::CreateBrowser()
{
    QWebEngineProfile* profile = QWebEngineProfile::defaultProfile();
    InstallResScheme(profile);

    Browser = new QWebEngineView(this);
    Browser->setObjectName(QStringLiteral("Browser"));
    WebPage = new BrowserPage(profile, Browser);
    WebPage->setObjectName(QStringLiteral("WebPage"));
    WebPage->BeforeNavigate = [this](const QUrl& url, bool isMainFrame) {
        const QString text = AddressText(url);
        if (!HasCommandToken(text))
            return true;
        if (text == letThrough_) {
            letThrough_.clear();
            return true;
        }
        // The commands open windows of their own; they run once the
        // browser has its answer.
        QPointer<BrowserPage> page = WebPage;
        DispatchLater(url, [page, url, isMainFrame] {
            if (page && isMainFrame)
                page->setUrl(url);
        });
        return false;
    };

    auto* channel = new QWebChannel(WebPage);
    channel->registerObject(QStringLiteral("navigation"), new NavigationBridge(this));
    WebPage->setWebChannel(channel, QWebEngineScript::ApplicationWorld);
    QWebEngineScript script;
    script.setName(QStringLiteral("quorvane-navigation"));
    script.setSourceCode(PageScript());
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setRunsOnSubFrames(true);
    WebPage->scripts().insert(script);
    Browser->setPage(WebPage);

    connect(WebPage, &QWebEnginePage::loadFinished, this, [this] { BrowserNavigateComplete(); });
    connect(WebPage, &QWebEnginePage::urlChanged, this, &MainWindow::WatchUrl);
    setCentralWidget(Browser);
    qApp->installEventFilter(this);
}

void MainWindow::FormCreate(const QStringList& arguments)
{
    ProcessState& state = State();
    // Floating-point faults give infinities and NaNs, never a trap.
#ifdef __GLIBC__
    fedisableexcept(FE_ALL_EXCEPT);
#endif
    state.InteractiveMode = true;
    state.RecentProjects.Clear();
    buildProgress = new BuildProgressDialog(this);
    SiteCheckWindow = new CheckWindow(this);
    // F7 again from the findings, and a finding's page in the preview.
    SiteCheckWindow->addAction(CheckSiteAction);
    connect(SiteCheckWindow, &CheckWindow::PageChosen, this,
            [this](const QString& file) { Navigate(QUrl::fromLocalFile(file).toString()); });
    enablebuttons(false);
    RunAction->setEnabled(false);
    SaveAction->setEnabled(false);
    SaveAsAction->setEnabled(false);
    state.Build.FileBuffer.Clear();
    if (state.Build.ProgramFolder.empty())
        state.Build.ProgramFolder = fs::ProgramFolder();
    state.Build.Jobs = 0; // builds compress on every core
    state.ProjectSettings = ProjectSettingsRecord();
    // A settings file that cannot be read is reported; start-up goes on
    // with no recent projects.
    Guarded(this, [&] { LoadAppSettings(state.RecentProjects); });
    BuildRecentMenu();
    CreateVersionCheck(*this);
    BrowserKeyPolicy::Apply(Browser);
    Navigate(ResourceUrl(QStringLiteral("INDEXPAGE")).toString());
    state.ProjectModified = false;
    if (!arguments.isEmpty())
        CarryOutCommandLine(arguments);
}

void MainWindow::CarryOutCommandLine(const QStringList& arguments)
{
    std::vector<std::string> args;
    for (const QString& a : arguments.mid(0, 2))
        args.push_back(a.toStdString());
    const CommandLineRequest request = ParseCommandLine(args);
    ProcessState& state = State();
    const QString project = QString::fromStdString(request.project);
    switch (request.kind) {
    case CommandLineRequest::Kind::None:
        return;
    case CommandLineRequest::Kind::OpenProject:
        LoadProject(request.project, state.ProjectSettings);
        ShowProject(project);
        NavigateToHomePage();
        enablebuttons(true);
        return;
    case CommandLineRequest::Kind::CompileProject: {
        state.InteractiveMode = false;
        // A project that cannot be read cannot be built: the run ends
        // after the error box, as a failed build does.
        compileExitStatus_ = 1;
        const bool loaded = Guarded(this, [&] { LoadProject(request.project, state.ProjectSettings); });
        if (loaded) {
            ShowProject(project);
            NavigateToHomePage();
            BuildActionExecute();
            if (state.BuildThread) {
                dispatcher_.ServeUntil([this] { return jobTerminated_; });
                state.BuildThread->WaitFor();
            }
        }
        const int status = compileExitStatus_;
        QMetaObject::invokeMethod(qApp, [status] { QCoreApplication::exit(status); }, Qt::QueuedConnection);
        return;
    }
    }
}

QString MainWindow::ProjectPath() const
{
    return StatusPanels[0]->text();
}

void MainWindow::ShowProject(const QString& path)
{
    StatusPanels[0]->setText(path);
}

void MainWindow::Navigate(const QString& target)
{
    QUrl url(target);
    if (target.isEmpty())
        url = QUrl(QStringLiteral("about:blank"));
    else if (url.scheme().size() <= 1) // a path, drive letters included
        url = QUrl::fromLocalFile(QFileInfo(target).absoluteFilePath());
    Browser->setUrl(url);
}

void MainWindow::NavigateToHomePage()
{
    const QString home = QString::fromStdString(State().ProjectSettings.HomePage.str());
    Navigate(home.isEmpty() ? QString() : QUrl::fromLocalFile(QFileInfo(home).absoluteFilePath()).toString());
}

void MainWindow::enablebuttons(bool enabled)
{
    OptionsAction->setEnabled(enabled);
    BuildAction->setEnabled(enabled);
    CheckSiteAction->setEnabled(enabled);
}

bool MainWindow::AskToSaveChanges()
{
    if (!State().ProjectModified)
        return true;
    switch (Dialogs().Confirm(this, QStringLiteral("Save changes to project?"))) {
    case DialogService::Answer::Yes:
        return SaveActionExecute();
    case DialogService::Answer::No:
        return true;
    default:
        return false;
    }
}

void MainWindow::ProjectOpened(const QString& path)
{
    ShowProject(path);
    NavigateToHomePage();
    enablebuttons(true);
    RunAction->setEnabled(false);
    SaveAsAction->setEnabled(true);
    // What is in memory is now what the file holds.
    State().ProjectModified = false;
    SaveAction->setEnabled(false);
}

bool MainWindow::NewActionExecute()
{
    return ShowAppWindow(AppWindow::Wizard);
}

bool MainWindow::OpenActionExecute()
{
    return Guarded(this, [&] {
        if (!AskToSaveChanges())
            return;
        const QStringList files = OpenDialog->ExecuteOpen(this);
        if (files.isEmpty())
            return;
        const QString path = files.first();
        LoadProject(path.toStdString(), State().ProjectSettings);
        ProjectOpened(path);
        AddRecentProject(path);
    });
}

bool MainWindow::WriteProject(const QString& path)
{
    return SaveProject(path.toStdString(), State().ProjectSettings, [this](const std::string& message) {
        Dialogs().Message(this, QString::fromStdString(message));
    });
}

bool MainWindow::SaveActionExecute()
{
    bool saved = false;
    const bool ran = Guarded(this, [&] {
        const QString path = ProjectPath();
        saved = path.isEmpty() ? SaveAsActionExecute() : WriteProject(path);
        if (saved) {
            State().ProjectModified = false;
            SaveAction->setEnabled(false);
            SaveAsAction->setEnabled(true);
        }
    });
    return ran && saved;
}

bool MainWindow::SaveAsActionExecute()
{
    bool saved = false;
    const bool ran = Guarded(this, [&] {
        const QString path = SaveDialog->ExecuteSave(this);
        if (path.isEmpty() || !WriteProject(path))
            return;
        // The file just written is the project's file from now on.
        ShowProject(path);
        State().ProjectModified = false;
        SaveAction->setEnabled(false);
        saved = true;
    });
    return ran && saved;
}

bool MainWindow::ExitActionExecute()
{
    close();
    return true;
}

bool MainWindow::OptionsActionExecute()
{
    return ShowAppWindow(AppWindow::Options);
}

bool MainWindow::AboutActionExecute()
{
    return ShowAppWindow(AppWindow::About);
}

void MainWindow::SetWindow(AppWindow kind, QWidget* window)
{
    windows_[static_cast<size_t>(kind)] = window;
}

QWidget* MainWindow::Window(AppWindow kind) const
{
    return windows_[static_cast<size_t>(kind)];
}

bool MainWindow::ShowAppWindow(AppWindow kind)
{
    QWidget* window = Window(kind);
    if (!window)
        return true; // not part of this build of the program
    return Guarded(this, [&] {
        window->show();
        window->raise();
        window->activateWindow();
    });
}

bool MainWindow::ContentActionExecute()
{
    return Guarded(this, [&] { OpenHelpFile(HelpFilePath()); });
}

bool MainWindow::HomeActionExecute()
{
    return Guarded(this, [&] { Shell().Open(ProductPageAddress()); });
}

bool MainWindow::UpdatesActionExecute()
{
    return Guarded(this, [&] {
        if (updateCheck_)
            updateCheck_();
    });
}

bool MainWindow::RunActionExecute()
{
    return Guarded(this, [&] { OpenOutput(); });
}

void MainWindow::EndBuildJob()
{
    ProcessState& state = State();
    if (!state.BuildThread)
        return;
    // The job may still need this thread for its hand-overs and its end.
    BuildJob* job = state.BuildThread.get();
    dispatcher_.ServeUntil([job] { return job->Finished(); });
    std::unique_ptr<BuildJob> ended = std::move(state.BuildThread);
    ended.reset();
}

bool MainWindow::BuildActionExecute()
{
    return Guarded(this, [&] {
        ProcessState& state = State();
        EndBuildJob();
        BuildStartTime = QDateTime::currentDateTime();
        jobTerminated_ = false;
        auto job = std::make_unique<BuildJob>(state.ProjectSettings, state.Build, dispatcher_, *buildProgress);
        job->ReturnValue = 1;
        job->OnTerminate = [this](BuildJob& ended) { BuildJobEnded(ended); };
        state.BuildThread = std::move(job);
        state.BuildThread->Start();
        BuildButton->setEnabled(false);
        buildProgress->OutputFileLabel->setText(QString::fromStdString(state.ProjectSettings.OutputPath.str()));
        buildProgress->exec();
    });
}

bool MainWindow::CheckSiteActionExecute()
{
    return Guarded(this, [&] { SiteCheckWindow->Check(State().ProjectSettings); });
}

void MainWindow::BuildJobEnded(BuildJob& job)
{
    jobTerminated_ = true;
    const bool written = job.ReturnValue == 1;
    dispatcher_.Wake();
    if (!State().InteractiveMode) {
        compileExitStatus_ = written ? 0 : 1;
        buildProgress->done(QDialog::Rejected);
        return;
    }
    if (written) {
        buildProgress->setWindowTitle(QStringLiteral("Finished"));
        buildProgress->ActionLabel->setText(QStringLiteral("Processing time: ") +
                                      ElapsedText(BuildStartTime.msecsTo(QDateTime::currentDateTime())));
        buildProgress->RunButton->setEnabled(true);
        buildProgress->CloseButton->setText(QStringLiteral("Finish"));
        RunAction->setEnabled(true);
    } else {
        buildProgress->setWindowTitle(QStringLiteral("Failed!"));
        buildProgress->ActionLabel->setText(QStringLiteral("Failed!"));
        buildProgress->RunButton->setEnabled(false);
        buildProgress->CloseButton->setText(QStringLiteral("Close"));
        RunAction->setEnabled(false);
    }
    BuildButton->setEnabled(true);
}

void MainWindow::InsertRecentSeparator()
{
    recentSeparator_ = new QAction(FileMenu);
    recentSeparator_->setObjectName(QStringLiteral("RecentSeparator"));
    recentSeparator_->setSeparator(true);
    FileMenu->insertAction(fileSeparator_, recentSeparator_);
}

void MainWindow::SetRecentCaption(size_t index)
{
    const QString path = QString::fromStdString(State().RecentProjects[index]);
    QAction* command = MRUActions[index];
    command->setData(path);
    QString caption = path;
    command->setText(caption.replace(QLatin1Char('&'), QStringLiteral("&&")));
}

void MainWindow::InsertRecentEntry(size_t index)
{
    const QList<QAction*> entries = FileMenu->actions();
    const qsizetype at = entries.indexOf(recentSeparator_);
    SetRecentCaption(index);
    FileMenu->insertAction(entries.value(at + 1), MRUActions[index]);
}

void MainWindow::BuildRecentMenu()
{
    const qv::RecentProjects& recent = State().RecentProjects;
    if (recent.Empty())
        return;
    InsertRecentSeparator();
    for (size_t i = 0; i < recent.Count() && i < MRUActions.size(); ++i)
        InsertRecentEntry(i);
}

void MainWindow::AddRecentProject(const QString& path)
{
    qv::RecentProjects& recent = State().RecentProjects;
    const size_t before = recent.Count();
    if (!recent.Add(path.toStdString()))
        return;
    if (before == 0)
        InsertRecentSeparator();
    if (before < MRUActions.size()) {
        InsertRecentEntry(before);
        return;
    }
    for (size_t k = 0; k < recent.Count(); ++k)
        SetRecentCaption(k);
}

bool MainWindow::MRUActionExecute(QAction* command)
{
    return Guarded(this, [&] {
        if (!AskToSaveChanges())
            return;
        const QString path = command->data().toString();
        const std::string folder = fs::FolderOf(path.toStdString());
        if (!folder.empty())
            SetCurrentFolder(folder);
        LoadProject(path.toStdString(), State().ProjectSettings);
        ProjectOpened(path);
    });
}

bool MainWindow::FormCloseQuery()
{
    return AskToSaveChanges();
}

bool MainWindow::FormClose()
{
    ProcessState& state = State();
    if (!Guarded(this, [&] { SaveAppSettings(state.RecentProjects); }))
        return false;
    state.RecentProjects.Clear();
    state.Build.FileBuffer.Clear();
    return true;
}

void MainWindow::FormDestroy()
{
    qApp->removeEventFilter(this);
    DestroyVersionCheck(*this);
    EndBuildJob();
    delete buildProgress;
    buildProgress = nullptr;
}

// Panel 0 takes what panel 1 leaves; only a maximum is set, so the panel
// never holds the window wider than it is.
void MainWindow::FormResize()
{
    StatusPanels[0]->setMaximumWidth(std::max(0, StatusBar->width() - StatusPanels[1]->width()));
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!FormCloseQuery() || !FormClose()) {
        event->ignore();
        return;
    }
    event->accept();
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    FormResize();
}

void MainWindow::BrowserBeforeNavigate(const QString& url, bool& cancel)
{
    for (const CommandToken& t : kCommandTokens) {
        if (!url.contains(QLatin1String(t.token)))
            continue;
        // A command that fails has said so; the rest of the dispatch is
        // skipped and the navigation goes on.
        if (!(this->*t.handler)())
            return;
        cancel = true;
    }
}

void MainWindow::DispatchLater(const QUrl& url, const std::function<void()>& proceed)
{
    const QString text = AddressText(url);
    QTimer::singleShot(0, this, [this, text, proceed] {
        bool cancel = false;
        BrowserBeforeNavigate(text, cancel);
        if (!cancel) {
            // Goes on once, past the dispatch that has just run.
            letThrough_ = text;
            lastSeenUrl_ = text;
            proceed();
        }
    });
}

void MainWindow::FragmentNavigation(const QString& href)
{
    const QUrl url(href);
    if (!HasCommandToken(AddressText(url))) {
        lastSeenUrl_ = AddressText(url);
        WebPage->runJavaScript(QStringLiteral("location.href = %1;").arg(JsString(href)),
                               QWebEngineScript::ApplicationWorld);
        return;
    }
    QPointer<BrowserPage> page = WebPage;
    DispatchLater(url, [page, href] {
        if (page)
            page->runJavaScript(QStringLiteral("location.href = %1;").arg(JsString(href)),
                                QWebEngineScript::ApplicationWorld);
    });
}

// Catches what neither acceptNavigationRequest nor the page script sees:
// a page script moving to a place in its own document. A cancelled move
// is taken out of the address again.
void MainWindow::WatchUrl(const QUrl& url)
{
    const QString text = AddressText(url);
    if (text == lastSeenUrl_)
        return;
    const QString back = lastSeenUrl_;
    lastSeenUrl_ = text;
    if (!HasCommandToken(text))
        return;
    QPointer<BrowserPage> page = WebPage;
    QTimer::singleShot(0, this, [this, page, text, back] {
        bool cancel = false;
        BrowserBeforeNavigate(text, cancel);
        if (cancel && page) {
            lastSeenUrl_ = back;
            page->runJavaScript(QStringLiteral("history.replaceState(history.state, '', %1);").arg(JsString(back)),
                                QWebEngineScript::ApplicationWorld);
        }
    });
}

void MainWindow::BrowserNavigateComplete()
{
    BrowserKeyPolicy::Apply(Browser);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride && RouteBrowserKey(watched, event))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

// The keys a page needs for its own editing and moving about (Backspace,
// Tab, Enter, the arrows, Delete) go to the browser, ahead of any shortcut
// of the window. The rest of the original routing (dialog-message
// handling, the browser's accelerator table, re-dispatch by hand) has no
// counterpart here: Qt delivers keys to the focused page directly.
// Ctrl combinations stay with the window, so its Ctrl+N, Ctrl+O and
// Ctrl+S work while the page has the focus.
bool MainWindow::RouteBrowserKey(QObject* target, QEvent* event)
{
    auto* widget = qobject_cast<QWidget*>(target);
    if (!widget || !Browser || !Browser->isAncestorOf(widget))
        return false;
    if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    switch (key->key()) {
    case Qt::Key_Backspace: case Qt::Key_Tab: case Qt::Key_Backtab: case Qt::Key_Return: case Qt::Key_Enter:
    case Qt::Key_Left: case Qt::Key_Up: case Qt::Key_Right: case Qt::Key_Down: case Qt::Key_Delete:
        if (event->type() == QEvent::ShortcutOverride) {
            event->accept(); // a key press for the browser, not a shortcut
            return true;
        }
        return false;
    default:
        return false;
    }
}

} // namespace qv::app

#include "main.moc"
