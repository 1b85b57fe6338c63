#pragma once
#include "services/DialogService.h"
#include "services/QtDispatcher.h"

#include <QDateTime>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QWebEnginePage>

#include <array>
#include <functional>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QStatusBar;
class QToolBar;
class QToolButton;
class QWebEngineView;

namespace qv {
class BuildJob;
}

namespace qv::app {

class CheckWindow;
class BuildProgressDialog;

// A file dialog as a component of the window: what it asks, kept apart
// from showing it, which the dialog service does.
class FileDialog final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString filter READ Filter)
public:
    FileDialog(QObject* owner, const char* name, FileDialogRequest request);
    QString Filter() const { return request_.filter; }
    const FileDialogRequest& Request() const { return request_; }
    // For dialogs whose filter is set before each use.
    void SetRequest(const FileDialogRequest& request) { request_ = request; }
    QStringList ExecuteOpen(QWidget* parent) const;
    QString ExecuteSave(QWidget* parent) const;

private:
    FileDialogRequest request_;
};

// The windows that other units add: created after the main window, owned
// by the application, shown modelessly by the commands.
enum class AppWindow { Wizard, About, Options };
using AppWindowMaker = std::function<QWidget*(class MainWindow&)>;
// Registers the maker of a window; the entry sequence calls them in the
// order wizard, about window, options dialog.
void RegisterAppWindow(AppWindow kind, AppWindowMaker maker);
const AppWindowMaker* AppWindowMakerFor(AppWindow kind);

// The browser's page: hands every navigation to the window first.
class BrowserPage final : public QWebEnginePage {
    Q_OBJECT
public:
    using QWebEnginePage::QWebEnginePage;
    // Returns whether the navigation may go on.
    std::function<bool(const QUrl& url, bool isMainFrame)> BeforeNavigate;

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
};

// The main window: every command of the program, the start page and the
// project's preview, the recent projects on the File menu.
//
// Creating it runs FormCreate with the program's arguments; a "/COMPILE"
// command line builds there and posts the application's exit with the
// build's outcome (0 when the output was written, 1 otherwise).
class MainWindow final : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(const QStringList& arguments = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Components, named as their objects are.
    QWidget* ToolArea;
    QMenuBar* MenuBar;
    QToolBar* ToolBar;
    QWebEngineView* Browser;
    BrowserPage* WebPage;
    QStatusBar* StatusBar;
    std::array<QLabel*, 2> StatusPanels;
    QObject* Commands;
    QObject* MRUActionList;
    FileDialog* OpenDialog;
    FileDialog* SaveDialog;
    QMenu* FileMenu;
    QMenu* ProjectMenu;
    QMenu* HelpMenu;

    QAction* NewAction;
    QAction* OpenAction;
    QAction* SaveAction;
    QAction* SaveAsAction;
    QAction* ExitAction;
    QAction* OptionsAction;
    QAction* BuildAction;
    QAction* CheckSiteAction;
    QAction* RunAction;
    QAction* ContentAction;
    QAction* HomeAction;
    QAction* UpdatesAction;
    QAction* AboutAction;
    std::array<QAction*, 5> MRUActions; // "RecentProject1" … "RecentProject5"

    QToolButton* NewButton;
    QToolButton* OpenButton;
    QToolButton* SaveButton;
    QToolButton* OptionsButton;
    QToolButton* BuildButton;
    QToolButton* CheckSiteButton;
    QToolButton* RunButton;
    QToolButton* HelpButton;

    BuildProgressDialog* buildProgress;
    CheckWindow* SiteCheckWindow;
    QDateTime BuildStartTime;

    // The current project's file: the text of status panel 0.
    QString ProjectPath() const;

    void enablebuttons(bool enabled);
    // Commands. Each reports its own failure in the error box and returns
    // whether it ran through.
    bool NewActionExecute();
    bool OpenActionExecute();
    bool SaveActionExecute();
    bool SaveAsActionExecute();
    bool ExitActionExecute();
    bool OptionsActionExecute();
    bool BuildActionExecute();
    // Checks the links of the current project's pages in the check window.
    bool CheckSiteActionExecute();
    bool RunActionExecute();
    bool ContentActionExecute();
    bool HomeActionExecute();
    bool UpdatesActionExecute();
    bool AboutActionExecute();
    bool MRUActionExecute(QAction* command);

    void BuildRecentMenu();
    void AddRecentProject(const QString& path);

    bool FormCloseQuery();
    bool FormClose();
    void FormResize();
    void BuildJobEnded(BuildJob& job);

    // The token dispatch of every navigation: runs the command of each
    // command token in `url` and sets `cancel` when one ran.
    void BrowserBeforeNavigate(const QString& url, bool& cancel);
    void BrowserNavigateComplete();
    // Key routing for the browser; see the definition.
    bool RouteBrowserKey(QObject* target, QEvent* event);

    // Navigates the browser: an address, or a file path.
    void Navigate(const QString& target);

    // The windows the commands New, About and Options show; none until
    // their units provide them.
    void SetWindow(AppWindow kind, QWidget* window);
    QWidget* Window(AppWindow kind) const;
    // What Check Updates runs; nothing until the update checker exists.
    void SetUpdateCheck(std::function<void()> check) { updateCheck_ = std::move(check); }

    QtDispatcher& Dispatcher() { return dispatcher_; }
    // The exit status a "/COMPILE" run ends with, once it has run.
    int CompileExitStatus() const { return compileExitStatus_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateComponents();
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateBrowser();
    void FormCreate(const QStringList& arguments);
    void FormDestroy();
    void CarryOutCommandLine(const QStringList& arguments);
    void ShowProject(const QString& path);
    void NavigateToHomePage();
    void ProjectOpened(const QString& path);
    bool AskToSaveChanges();
    bool WriteProject(const QString& path);
    void EndBuildJob();
    void InsertRecentSeparator();
    void InsertRecentEntry(size_t index);
    void SetRecentCaption(size_t index);
    bool ShowAppWindow(AppWindow kind);
    void DispatchLater(const QUrl& url, const std::function<void()>& proceed);
    void FragmentNavigation(const QString& href);
    void WatchUrl(const QUrl& url);

    QtDispatcher dispatcher_;
    QAction* fileSeparator_ = nullptr;   // above Exit
    QAction* recentSeparator_ = nullptr; // above the recent entries, once there are any
    std::array<QPointer<QWidget>, 3> windows_{};
    std::function<void()> updateCheck_;
    bool jobTerminated_ = false;
    int compileExitStatus_ = 0;
    QString lastSeenUrl_; // the page's address as last seen
    QString letThrough_;  // a navigation whose commands failed, going on
    friend class NavigationBridge;
};

} // namespace qv::app
