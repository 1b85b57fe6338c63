#pragma once
#include "TemporaryFolder.h"
#include "ViewServices.h"

#include <QMainWindow>
#include <QUrl>

#include <memory>

class QAction;
class QLabel;
class QLineEdit;
class QPrinter;
class QWebEngineProfile;
class QWebEngineView;

namespace qv {
class SiteArchive;
struct ViewerSettings;
}

namespace qv::view {

class PageServer;
class ViewerPage;

// The viewer's window: the output's pages in a web view, presented as its
// settings say (size and border, toolbar, status bar, allowed commands,
// scroll bars, context menu, user agent). Pages come from a PageServer of
// its own through an off-the-record profile; what is not part of the site
// goes to the desktop through the shell service.
//
// Widgets and actions carry object names for tests: "view", "toolbar",
// "statusbar", "statuslink", "loadstate", "findbar", "findtext",
// "findcount", actions "back", "forward", "home", "reload", "print",
// "printpdf", "find", "findnext", "findprevious", "textsize", "bigger",
// "smaller", "normalsize", "copy". A command the settings do not allow has
// no action at all, so neither a button nor a key reaches it.
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
    // Files DirectMask keeps beside the output and external addresses go
    // to the shell (only for the main frame); anything else stays out.
    bool AcceptNavigation(const QUrl& url, bool isMainFrame);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

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
    void OpenPackedFile(const QString& addressPath);
    void WatchKeys(QObject* target);

    std::shared_ptr<const SiteArchive> site_;
    QString outputPath_;
    ViewServices services_;
    std::unique_ptr<PageServer> server_;
    QWebEngineProfile* profile_ = nullptr;
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
};

} // namespace qv::view
