#pragma once
#include "ClickGate.h"
#include "OutputMemory.h"
#include "TemporaryFolder.h"
#include "ViewServices.h"

#include "quorvane/viewercore/ViewerSettings.h"

#include <QMainWindow>
#include <QWebEnginePage>
#include <QUrl>

#include <memory>
#include <optional>

class QAction;
class QLabel;
class QPushButton;
class QLineEdit;
class QPrinter;
class QWebEngineProfile;
class QWebEngineView;

namespace qv {
class SiteArchive;
}

namespace qv::view {

class PageServer;
class RequestWall;
class ViewerPage;

// The viewer's window: the output's pages in a web view, presented as its
// settings say (size and border, toolbar, status bar, allowed commands,
// scroll bars, context menu, user agent). Pages come from a PageServer of
// its own through an off-the-record profile; what is not part of the site
// goes to the desktop through the shell service, and only when the reader
// clicked for it. Pages reach nothing but their own server, and the
// internet once the reader allows it (for the run or, remembered, for the
// output).
//
// Widgets and actions carry object names for tests: "view", "toolbar",
// "statusbar", "statuslink", "loadstate", "findbar", "findtext",
// "findcount", "internetbar" with buttons "allowonce" and "allowalways",
// "continue", actions "back", "forward", "home", "reload", "print",
// "printpdf", "find", "findnext", "findprevious", "textsize", "bigger",
// "smaller", "normalsize", "copy", "close". A command the settings do not
// allow has no action at all, so neither a button nor a key reaches it.
//
// Where the output carries a search index and its settings allow searching,
// the field "searchfield" (in the toolbar, or without one in the bar
// "searchbar" that Ctrl+K shows) loads the results page, and a result opens
// its page with the find bar on the words it matched; action "search".
//
// The window always fits the screen it goes on, and the reader's place in
// an output (window, text size, last page) is remembered for its next run.
//
// Construction throws qv::Error when no local port can be had; nothing is
// loaded until ShowHome.
class ViewerWindow : public QMainWindow {
    Q_OBJECT
public:
    ViewerWindow(std::shared_ptr<const SiteArchive> site, const QString& outputPath, ViewServices services,
                 QWidget* parent = nullptr);
    ~ViewerWindow() override;

    // Shows the window as the settings say and loads the home page.
    void Present();
    void ShowHome();

    QWebEngineView* View() const { return view_; }
    ViewerPage* Page() const { return page_; }
    PageServer& Server() const { return *server_; }
    double TextZoom() const { return zoom_; }

    // Where the viewer sends a navigation: true to load it in the view.
    // After a click in the main frame, files DirectMask keeps beside the
    // output go to the shell once the reader confirms, and web and mail
    // addresses go to it at once; without a click nothing leaves. Frames
    // load the internet only where it is allowed.
    bool AcceptNavigation(const QUrl& url, QWebEnginePage::NavigationType type, bool isMainFrame);
    bool InternetAllowed() const { return internetAllowed_; }

    // Shows the output as rebuilt: the current page again from `site` (the
    // home page when `site` lacks it). The window keeps the settings it
    // started with.
    void TakeRebuild(std::shared_ptr<const SiteArchive> site);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    const ViewerSettings& Settings() const;
    QAction* Command(const char* name, const QString& text, const QIcon& icon, const QList<QKeySequence>& keys);
    void BuildCommands();
    void BuildFindBar(QWidget* host);
    void BuildStatusBar();
    void ApplyWindowSettings();
    void ApplyTitle(const QString& title);
    void Zoom(int steps);
    void Find(bool backward);
    void Print();
    void PrintToPdf();
    void SetFullScreen(bool on);
    bool Route(const QUrl& url, bool isMainFrame, bool clicked);
    bool Confirmed(const QString& sitePath, const QString& handler, bool beside);
    void OpenBeside(const QString& sitePath);
    void OpenPackedFile(const QString& addressPath);
    void NotOpened(const QUrl& url);
    void BuildInternetBar(QWidget* host);
    bool IsInternet(const QUrl& url) const;
    void InternetWanted(const QUrl& url);
    void AllowInternet(bool always);
    void WatchKeys(QObject* target);
    void BuildReader();
    void FitToScreen();
    void PageShown(bool ok);
    std::optional<size_t> EntryShown() const;
    void SaveReader();

    void BuildSearch(QWidget* host);
    void SearchFor(const QString& words);
    bool FindOnArrival(const QUrl& url);
    void HighlightWords(const QString& words);

    std::shared_ptr<const SiteArchive> site_;
    QString outputPath_;
    ViewServices services_;
    OutputMemory memory_;
    std::unique_ptr<PageServer> server_;
    QWebEngineProfile* profile_ = nullptr;
    RequestWall* wall_ = nullptr;
    bool internetAllowed_ = false;
    ClickGate gate_;
    QWidget* internetBar_ = nullptr;
    ViewerPage* page_ = nullptr;
    QWebEngineView* view_ = nullptr;
    QWidget* findBar_ = nullptr;
    QLineEdit* findText_ = nullptr;
    QLabel* findCount_ = nullptr;
    QLabel* statusLink_ = nullptr;
    QLabel* loadState_ = nullptr;
    QAction* escape_ = nullptr;
    std::unique_ptr<QPrinter> printer_;
    TemporaryFolder opened_; // packed files handed to the desktop; gone when the viewer ends
    double zoom_ = 1.0;

    ViewerSettings settings_; // the first archive's, for the whole run
    std::optional<OutputMemory::ReaderState> remembered_; // as the last run left it
    QString lastPage_;
    QString resumePage_; // until the first page has loaded
    QPushButton* continue_ = nullptr;
    bool rebuilt_ = false; // a reload for a rebuild is under way

    QLineEdit* searchField_ = nullptr;
    QWidget* searchBar_ = nullptr; // holds the field when there is no toolbar
    QUrl findOnLoad_;              // a page a search result opens, and
    QString findWords_;            // the words to find there once loaded
};

} // namespace qv::view
