#include "ViewerWindow.h"

#include "NetworkWall.h"
#include "PageServer.h"
#include "ToolIcons.h"
#include "ViewerPage.h"

#include "quorvane/base/Error.h"
#include "quorvane/viewercore/HandOver.h"
#include "quorvane/viewercore/MimeTypes.h"
#include "quorvane/viewercore/SearchPage.h"
#include "quorvane/viewercore/SiteArchive.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>
#include <QWebEngineDownloadRequest>
#include <QWebEngineFindTextResult>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineHistory>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <algorithm>
#include <array>
#include <cmath>

namespace qv::view {
namespace {

constexpr std::array<double, 13> kZoomSteps = {0.5, 0.67, 0.75, 0.8, 0.9, 1.0, 1.1, 1.25, 1.5, 1.75, 2.0, 2.5, 3.0};

// Backspace goes back unless a field of the page takes it; the page hears
// the key first, so its own handlers and text fields keep working.
const char* const kBackspaceScript = R"(
addEventListener('keydown', function (e) {
  if (e.key !== 'Backspace' || e.defaultPrevented || e.altKey || e.ctrlKey || e.metaKey) return;
  var t = e.target;
  if (t && (t.isContentEditable || /^(INPUT|TEXTAREA|SELECT)$/.test(t.tagName))) return;
  e.preventDefault();
  history.back();
});
)";

// With copying off, nothing the reader selects or drags leaves the page,
// and the page cannot copy for itself. Heard first, in a world of its own,
// so the page's handlers never see these events to put data on the way.
const char* const kNoCopyScript = R"(
for (const type of ['copy', 'cut', 'dragstart', 'selectstart'])
  window.addEventListener(type, function (e) { e.preventDefault(); e.stopImmediatePropagation(); }, true);
)";

// A script of the viewer's: it runs before the page's own, in a world the
// page cannot reach.
void AddViewerScript(QWebEnginePage* page, const char* name, const char* source, bool subFrames)
{
    QWebEngineScript script;
    script.setName(QString::fromLatin1(name));
    script.setSourceCode(QString::fromLatin1(source));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setRunsOnSubFrames(subFrames);
    page->scripts().insert(script);
}

// A toolbar button that drops down `entries` only, never its own action.
void DropDown(QToolBar* toolbar, QAction* action, const QList<QAction*>& entries,
              QToolButton::ToolButtonPopupMode mode)
{
    toolbar->addAction(action);
    auto* button = qobject_cast<QToolButton*>(toolbar->widgetForAction(action));
    if (!button)
        return;
    auto* menu = new QMenu(button);
    menu->setObjectName(action->objectName() + QStringLiteral("menu"));
    menu->addActions(entries);
    button->setMenu(menu);
    button->setPopupMode(mode);
}

// The context menu of the page, without the entries that would save,
// inspect or open elsewhere what the site shows, and without the copy
// entries when copying is not allowed.
class SiteView final : public QWebEngineView {
public:
    using QWebEngineView::QWebEngineView;
    bool copyAllowed = true;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override
    {
        QMenu* menu = createStandardContextMenu();
        static constexpr QWebEnginePage::WebAction kDropped[] = {
            QWebEnginePage::SavePage, QWebEnginePage::ViewSource, QWebEnginePage::InspectElement,
            QWebEnginePage::DownloadLinkToDisk, QWebEnginePage::DownloadImageToDisk,
            QWebEnginePage::DownloadMediaToDisk, QWebEnginePage::OpenLinkInNewWindow,
            QWebEnginePage::OpenLinkInNewTab, QWebEnginePage::OpenLinkInNewBackgroundTab};
        for (QAction* action : menu->actions()) {
            bool drop = false;
            for (const auto dropped : kDropped)
                drop = drop || action == page()->action(dropped);
            for (int a = 0; !copyAllowed && a < QWebEnginePage::WebActionCount; ++a)
                drop = drop || (ViewerPage::IsCopyAction(static_cast<QWebEnginePage::WebAction>(a)) &&
                                action == page()->action(static_cast<QWebEnginePage::WebAction>(a)));
            if (drop)
                menu->removeAction(action);
        }
        menu->setObjectName(QStringLiteral("contextmenu"));
        menu->setAttribute(Qt::WA_DeleteOnClose, true);
        menu->popup(event->globalPos());
    }
};

bool IsCopyKey(const QKeyEvent* key)
{
    return key->matches(QKeySequence::Copy) || key->matches(QKeySequence::Cut);
}

QString Text(std::string_view utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

} // namespace

ViewerWindow::ViewerWindow(std::shared_ptr<const SiteArchive> site, const QString& outputPath, ViewServices services,
                           QWidget* parent)
    : QMainWindow(parent), site_(std::move(site)), outputPath_(outputPath), services_(services),
      memory_(outputPath, site_->Reader().Trailer().ArchiveCRC)
{
    settings_ = site_->Settings();
    remembered_ = memory_.Reader();
    setObjectName(QStringLiteral("viewer"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    server_ = std::make_unique<PageServer>(site_);
    if (!server_->Start())
        throw Error("Cannot serve the pages on 127.0.0.1: " + server_->errorString().toStdString());
    internetAllowed_ = memory_.InternetAllowed();
    server_->SetInternetAllowed(internetAllowed_);

    // Off the record: nothing of the site is kept on disk after the viewer.
    profile_ = new QWebEngineProfile(this);
    if (!Settings().UserAgent.empty())
        profile_->setHttpUserAgent(Text(site_->Codec().FromAnsi(Settings().UserAgent)));
    wall_ = new RequestWall([server = server_.get()](const QUrl& url) { return server->Owns(url); }, profile_);
    wall_->SetInternetAllowed(internetAllowed_);
    profile_->setUrlRequestInterceptor(wall_);
    connect(wall_, &RequestWall::InternetRefused, this, &ViewerWindow::InternetWanted);
    connect(profile_, &QWebEngineProfile::downloadRequested, this, [this](QWebEngineDownloadRequest* download) {
        // Chromium cannot show it: a packed file the reader clicked for may
        // go to the desktop through a temporary copy; nothing from
        // elsewhere is saved.
        const QUrl url = download->url();
        download->cancel();
        QString addressPath;
        if (!server_->Owns(url, &addressPath))
            return;
        if (!gate_.TakeDownload(url))
            NotOpened(url);
        else // the box waits for the reader, which the engine's signal must not
            QMetaObject::invokeMethod(this, [this, addressPath] { OpenPackedFile(addressPath); }, Qt::QueuedConnection);
    });

    page_ = new ViewerPage(
        profile_,
        [this](const QUrl& url, QWebEnginePage::NavigationType type, bool isMainFrame) {
            return AcceptNavigation(url, type, isMainFrame);
        },
        this);
    connect(page_, &ViewerPage::PolicyRefused, this, &ViewerWindow::InternetWanted);
    QWebEngineSettings* settings = page_->settings();
    settings->setAttribute(QWebEngineSettings::ShowScrollBars, !Settings().HideScrollbars);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, true);
    settings->setAttribute(QWebEngineSettings::PdfViewerEnabled, true);
    settings->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, true);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    // A prefetched name is a lookup no policy sees.
    settings->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);

    AddViewerScript(page_, "backspace", kBackspaceScript, false);

    auto* view = new SiteView(this);
    view->copyAllowed = Settings().EnableCopy;
    view_ = view;
    view_->setObjectName(QStringLiteral("view"));
    view_->setPage(page_);
    view_->setContextMenuPolicy(Settings().ContextMenu ? Qt::DefaultContextMenu : Qt::NoContextMenu);
    WatchKeys(view_);
    for (QObject* child : view_->children())
        WatchKeys(child);
    GuardCopy();

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(view_, 1);
    setCentralWidget(central);

    BuildCommands();
    BuildInternetBar(central);
    if (Settings().EnableSearch)
        BuildFindBar(central);
    BuildSearch(central);
    BuildStatusBar();

    connect(page_, &QWebEnginePage::titleChanged, this, &ViewerWindow::ApplyTitle);
    connect(page_, &QWebEnginePage::newWindowRequested, this, [this](QWebEngineNewWindowRequest& request) {
        // One window: a page asking for another gets this one.
        const bool clicked = request.isUserInitiated() && gate_.Take();
        if (Route(request.requestedUrl(), true, clicked))
            page_->load(request.requestedUrl());
    });
    connect(page_, &QWebEnginePage::fullScreenRequested, this, [this](QWebEngineFullScreenRequest request) {
        request.accept(); // the engine asks only where FullScreenSupportEnabled allows it
        PageFullScreen(request.toggleOn());
    });
    connect(page_, &QWebEnginePage::printRequested, this, [this] {
        if (Settings().EnablePrint)
            Print();
    });
    connect(page_, &QWebEnginePage::loadFinished, this, [this] {
        // Text size is the viewer's, kept from page to page.
        if (!qFuzzyCompare(view_->zoomFactor(), zoom_))
            view_->setZoomFactor(zoom_);
    });
    connect(view_, &QWebEngineView::printFinished, this, [this] { printer_.reset(); });

    ApplyTitle({});
    const std::vector<uint8_t> logo = site_->Logo();
    QPixmap icon;
    if (!logo.empty() && icon.loadFromData(logo.data(), static_cast<uint>(logo.size()), "ICO"))
        setWindowIcon(QIcon(icon));
    BuildReader();
    ApplyWindowSettings();
}

ViewerWindow::~ViewerWindow()
{
    // Ended by a signal rather than closed: the reader's place is kept all
    // the same.
    if (isVisible())
        SaveReader();
    // The page must go before its profile, which is a child made earlier.
    delete view_;
    view_ = nullptr;
    delete page_;
    page_ = nullptr;
}

const ViewerSettings& ViewerWindow::Settings() const
{
    return settings_;
}

QAction* ViewerWindow::Command(const char* name, const QString& text, const QIcon& icon,
                               const QList<QKeySequence>& keys)
{
    auto* action = new QAction(icon, text, this);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    addAction(action);
    return action;
}

void ViewerWindow::BuildCommands()
{
    const ViewerSettings& s = Settings();
    auto* toolbar = new QToolBar(QStringLiteral("Toolbar"), this);
    toolbar->setObjectName(QStringLiteral("toolbar"));
    toolbar->setMovable(false);
    toolbar->setIconSize(QSize(24, 24));
    toolbar->setToolButtonStyle(s.ShowCaptions ? Qt::ToolButtonTextUnderIcon : Qt::ToolButtonIconOnly);
    toolbar->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::TopToolBarArea, toolbar);
    toolbar->setVisible(s.ShowToolbar);

    QAction* back = Command("back", QStringLiteral("Back"), ToolIcon(Tool::Back),
                            {QKeySequence(Qt::ALT | Qt::Key_Left)});
    connect(back, &QAction::triggered, page_, [this] { page_->triggerAction(QWebEnginePage::Back); });
    QAction* forward = Command("forward", QStringLiteral("Forward"), ToolIcon(Tool::Forward),
                               {QKeySequence(Qt::ALT | Qt::Key_Right)});
    connect(forward, &QAction::triggered, page_, [this] { page_->triggerAction(QWebEnginePage::Forward); });
    QAction* home = Command("home", QStringLiteral("Home"), ToolIcon(Tool::Home), {QKeySequence(Qt::ALT | Qt::Key_Home)});
    connect(home, &QAction::triggered, this, &ViewerWindow::ShowHome);
    QAction* reload = Command("reload", QStringLiteral("Reload"), ToolIcon(Tool::Reload), {QKeySequence(Qt::Key_F5)});
    connect(reload, &QAction::triggered, page_, [this] { page_->triggerAction(QWebEnginePage::Reload); });
    auto history = [this, back, forward] {
        back->setEnabled(page_->history()->canGoBack());
        forward->setEnabled(page_->history()->canGoForward());
    };
    connect(page_, &QWebEnginePage::urlChanged, this, history);
    connect(page_, &QWebEnginePage::loadFinished, this, history);
    history();
    toolbar->addAction(back);
    toolbar->addAction(forward);
    toolbar->addAction(home);

    if (s.EnablePrint) {
        QAction* print = Command("print", QStringLiteral("Print"), ToolIcon(Tool::Print), {QKeySequence::Print});
        connect(print, &QAction::triggered, this, &ViewerWindow::Print);
        QAction* page = Command("printpage", QStringLiteral("Print..."), ToolIcon(Tool::Print), {});
        connect(page, &QAction::triggered, this, &ViewerWindow::Print);
        QAction* pdf = Command("printpdf", QStringLiteral("Print to PDF..."), ToolIcon(Tool::Print), {});
        connect(pdf, &QAction::triggered, this, &ViewerWindow::PrintToPdf);
        DropDown(toolbar, print, {page, pdf}, QToolButton::MenuButtonPopup);
    }
    if (s.EnableSearch) {
        QAction* find = Command("find", QStringLiteral("Find"), ToolIcon(Tool::Find), {QKeySequence::Find});
        connect(find, &QAction::triggered, this, &ViewerWindow::OpenFindBar);
        toolbar->addAction(find);
    }
    if (s.EnableFont) {
        QAction* size = Command("textsize", QStringLiteral("Text size"), ToolIcon(Tool::TextSize), {});
        QAction* bigger = Command("bigger", QStringLiteral("Bigger"), {},
                                  {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
        QAction* smaller = Command("smaller", QStringLiteral("Smaller"), {}, {QKeySequence(Qt::CTRL | Qt::Key_Minus)});
        QAction* normal = Command("normalsize", QStringLiteral("Normal"), {}, {QKeySequence(Qt::CTRL | Qt::Key_0)});
        connect(bigger, &QAction::triggered, this, [this] { Zoom(1); });
        connect(smaller, &QAction::triggered, this, [this] { Zoom(-1); });
        connect(normal, &QAction::triggered, this, [this] { Zoom(0); });
        DropDown(toolbar, size, {bigger, smaller, normal}, QToolButton::InstantPopup);
    }
    if (s.EnableCopy) {
        // Ctrl+C reaches the page itself; the button copies its selection.
        QAction* copy = Command("copy", QStringLiteral("Copy"), ToolIcon(Tool::Copy), {});
        connect(copy, &QAction::triggered, page_, [this] { page_->triggerAction(QWebEnginePage::Copy); });
        toolbar->addAction(copy);
    }

    escape_ = Command("leavefullscreen", QStringLiteral("Leave full screen"), {}, {QKeySequence(Qt::Key_Escape)});
    escape_->setEnabled(false);
    connect(escape_, &QAction::triggered, this, [this] {
        page_->triggerAction(QWebEnginePage::ExitFullScreen);
        PageFullScreen(false);
    });
}

void ViewerWindow::BuildFindBar(QWidget* host)
{
    findBar_ = new QWidget(host);
    findBar_->setObjectName(QStringLiteral("findbar"));
    auto* row = new QHBoxLayout(findBar_);
    row->setContentsMargins(6, 3, 6, 3);
    row->addWidget(new QLabel(QStringLiteral("Find:"), findBar_));
    findText_ = new QLineEdit(findBar_);
    findText_->setObjectName(QStringLiteral("findtext"));
    findText_->setClearButtonEnabled(true);
    findText_->installEventFilter(this); // Enter, Shift+Enter, Escape
    row->addWidget(findText_, 1);
    auto button = [this, row](const char* name, const QString& text, QKeySequence::StandardKey keys, bool backward) {
        // The keys work from the page too, and open a closed bar.
        QAction* action = Command(name, text, {}, QKeySequence::keyBindings(keys));
        connect(action, &QAction::triggered, this, [this, backward] { Find(backward); });
        auto* b = new QToolButton(findBar_);
        b->setDefaultAction(action);
        row->addWidget(b);
    };
    button("findprevious", QStringLiteral("Previous"), QKeySequence::FindPrevious, true);
    button("findnext", QStringLiteral("Next"), QKeySequence::FindNext, false);
    findCount_ = new QLabel(findBar_);
    findCount_->setObjectName(QStringLiteral("findcount"));
    findCount_->setMinimumWidth(90);
    row->addWidget(findCount_);
    auto* close = new QToolButton(findBar_);
    close->setText(QStringLiteral("Close"));
    connect(close, &QToolButton::clicked, this, &ViewerWindow::CloseFindBar);
    row->addWidget(close);
    // The engine goes on from the current match as long as the text only
    // grows, so typing keeps the match where the reader is.
    connect(findText_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (text.isEmpty()) {
            page_->findText(QString());
            findCount_->clear();
        } else {
            page_->findText(text);
        }
    });
    connect(page_, &QWebEnginePage::findTextFinished, this, [this](const QWebEngineFindTextResult& result) {
        if (findBar_->isHidden() || findText_->text().isEmpty())
            findCount_->clear();
        else if (result.numberOfMatches() == 0)
            findCount_->setText(QStringLiteral("No matches"));
        else
            findCount_->setText(QStringLiteral("%1 of %2").arg(result.activeMatch()).arg(result.numberOfMatches()));
    });
    // A count belongs to the page it was made on.
    connect(page_, &QWebEnginePage::loadStarted, findCount_, &QLabel::clear);
    static_cast<QVBoxLayout*>(host->layout())->addWidget(findBar_);
    findBar_->hide();
}

void ViewerWindow::BuildStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("statusbar"));
    statusLink_ = new QLabel(bar);
    statusLink_->setObjectName(QStringLiteral("statuslink"));
    loadState_ = new QLabel(bar);
    loadState_->setObjectName(QStringLiteral("loadstate"));
    bar->addWidget(statusLink_, 1);
    bar->addPermanentWidget(loadState_);
    bar->setVisible(Settings().ShowStatusbar);
    connect(page_, &QWebEnginePage::linkHovered, this, [this](const QString& link) {
        // The site's own links read as site paths, not as the server's.
        QString addressPath;
        if (server_->Owns(QUrl(link), &addressPath))
            statusLink_->setText(QUrl::fromPercentEncoding(addressPath.mid(1).toUtf8()));
        else
            statusLink_->setText(link);
    });
    connect(page_, &QWebEnginePage::loadStarted, this, [this] { loadState_->setText(QStringLiteral("Loading...")); });
    connect(page_, &QWebEnginePage::loadProgress, this, [this](int percent) {
        if (page_->isLoading())
            loadState_->setText(QStringLiteral("Loading... %1%").arg(percent));
    });
    connect(page_, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        loadState_->setText(ok ? QStringLiteral("Done") : QStringLiteral("Failed"));
    });
}

void ViewerWindow::ApplyWindowSettings()
{
    if (Settings().BorderKind() == ViewerSettings::NoBorder)
        setWindowFlag(Qt::FramelessWindowHint, true);
    FitToScreen();
}

void ViewerWindow::Present()
{
    if (Settings().BorderKind() == ViewerSettings::FullScreen) {
        showFullScreen();
    } else {
        show();
        FitToScreen(); // again, now that the frame may be known
    }
    ShowHome();
}

void ViewerWindow::ShowHome()
{
    page_->load(server_->UrlOf(QString::fromStdString(site_->HomeAddress())));
}

void ViewerWindow::ApplyTitle(const QString& title)
{
    // A page without a title gets its address as one, which says nothing.
    if (title.isEmpty() || title.contains(server_->Token()))
        setWindowTitle(QFileInfo(outputPath_).fileName());
    else
        setWindowTitle(title);
}

bool ViewerWindow::AcceptNavigation(const QUrl& url, QWebEnginePage::NavigationType type, bool isMainFrame)
{
    if (isMainFrame && FindOnArrival(url))
        return false;
    // The engine calls a script's navigation a link too; only an input
    // event of the reader's just before it makes it a click.
    const bool clicked = isMainFrame && type == QWebEnginePage::NavigationTypeLinkClicked && gate_.Take();
    return Route(url, isMainFrame, clicked);
}

bool ViewerWindow::Route(const QUrl& url, bool isMainFrame, bool clicked)
{
    QString addressPath;
    if (server_->Owns(url, &addressPath)) {
        const SiteArchive::Target target = site_->Find(addressPath.toStdString());
        if (target.kind != SiteArchive::Target::Kind::Direct) {
            if (clicked) // it may turn out a file the view cannot show
                gate_.Expect(url);
            return true;
        }
        if (isMainFrame && clicked)
            QMetaObject::invokeMethod(
                this, [this, sitePath = Text(target.sitePath)] { OpenBeside(sitePath); }, Qt::QueuedConnection);
        else
            NotOpened(url);
        return false;
    }
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("about") || scheme == QLatin1String("data") || scheme == QLatin1String("blob"))
        return true;
    if (!isMainFrame)
        return internetAllowed_ && IsInternet(url);
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("mailto")) {
        if (clicked)
            services_.shell.Open(url);
        else
            NotOpened(url);
    }
    return false;
}

void ViewerWindow::NotOpened(const QUrl& url)
{
    QString addressPath;
    const QString shown = server_->Owns(url, &addressPath)
                              ? QUrl::fromPercentEncoding(addressPath.mid(1).toUtf8())
                              : url.toDisplayString();
    statusBar()->showMessage(QStringLiteral("Not opened without a click: %1").arg(shown), 10000);
}

bool ViewerWindow::Confirmed(const QString& sitePath, const QString& handler, bool beside)
{
    return services_.dialogs.Confirm(
        this, ViewerName(),
        Text(HandOverQuestion(sitePath.toStdString(), handler.toStdString(), beside)));
}

void ViewerWindow::OpenBeside(const QString& sitePath)
{
    const QString path = QFileInfo(outputPath_).absoluteDir().filePath(sitePath);
    if (Confirmed(sitePath, services_.shell.HandlerOf(path), true))
        services_.shell.Open(QUrl::fromLocalFile(path));
}

void ViewerWindow::OpenPackedFile(const QString& addressPath)
{
    const SiteArchive::Target target = site_->Find(addressPath.toStdString());
    if (target.kind != SiteArchive::Target::Kind::Entry)
        return;
    if (IsProgramFile(target.sitePath)) {
        page_->setHtml(Text(ProgramRefusedPage(target.sitePath)));
        return;
    }
    // A page asked for as a download is still shown here: a desktop browser
    // would give a stranger's page a local file's rights.
    std::string type;
    try {
        type = site_->ContentTypeOf(target.index);
    } catch (const Error&) {
        // damaged: the copy below fails and says so
    }
    if (IsPageType(type)) {
        page_->load(server_->UrlOf(addressPath));
        return;
    }
    const QString sitePath = Text(target.sitePath);
    const QString name = QFileInfo(sitePath).fileName();
    if (!Confirmed(sitePath, services_.shell.HandlerOf(name), false))
        return;
    if (!opened_.isValid()) {
        services_.dialogs.Message(this, ViewerName(),
                                  QStringLiteral("Cannot open \"%1\": no temporary folder for its copy (%2).")
                                      .arg(sitePath, opened_.errorString()),
                                  ViewDialogs::Icon::Error);
        return;
    }
    // A folder per file keeps its own name and lets two files share one.
    const QString folder = opened_.filePath(QString::number(target.index));
    const QString path = folder + QLatin1Char('/') + name;
    if (!QFile::exists(path)) {
        QDir().mkpath(folder);
        QFile file(path);
        try {
            if (!file.open(QIODevice::WriteOnly))
                throw Error("Cannot write " + path.toStdString());
            const ArchiveEntry& entry = site_->Reader().Entry(target.index);
            site_->Read(target.index, 0, entry.FileSize, [&file](const uint8_t* bytes, size_t n) {
                if (file.write(reinterpret_cast<const char*>(bytes), static_cast<qint64>(n)) != static_cast<qint64>(n))
                    throw Error("Cannot write " + file.fileName().toStdString());
            });
            file.close();
        } catch (const std::exception& e) {
            file.remove();
            services_.dialogs.Message(this, ViewerName(),
                                      QString::fromStdString(ErrorBoxText(e.what())), ViewDialogs::Icon::Error);
            return;
        }
    }
    services_.shell.Open(QUrl::fromLocalFile(path));
}

void ViewerWindow::BuildInternetBar(QWidget* host)
{
    internetBar_ = new QWidget(host);
    internetBar_->setObjectName(QStringLiteral("internetbar"));
    internetBar_->setAutoFillBackground(true);
    internetBar_->setBackgroundRole(QPalette::ToolTipBase);
    auto* row = new QHBoxLayout(internetBar_);
    row->setContentsMargins(8, 4, 8, 4);
    auto* text = new QLabel(QStringLiteral("This file wants to load content from the internet."), internetBar_);
    text->setForegroundRole(QPalette::ToolTipText);
    row->addWidget(text, 1);
    auto button = [this, row](const char* name, const QString& caption, bool always) {
        auto* b = new QPushButton(caption, internetBar_);
        b->setObjectName(QString::fromLatin1(name));
        connect(b, &QPushButton::clicked, this, [this, always] { AllowInternet(always); });
        row->addWidget(b);
    };
    button("allowonce", QStringLiteral("Allow once"), false);
    button("allowalways", QStringLiteral("Always for this file"), true);
    static_cast<QVBoxLayout*>(host->layout())->insertWidget(0, internetBar_);
    internetBar_->hide();
}

bool ViewerWindow::IsInternet(const QUrl& url) const
{
    return ReachOf(url, [this](const QUrl& u) { return server_->Owns(u); }) == Reach::Internet;
}

void ViewerWindow::InternetWanted(const QUrl& url)
{
    if (internetAllowed_ || !IsInternet(url))
        return;
    if (!fullScreenReturn_.active)
        internetBar_->show();
    else if (!fullScreenReturn_.hidden.contains(internetBar_)) // shown when the page's full screen ends
        fullScreenReturn_.hidden << internetBar_;
}

void ViewerWindow::AllowInternet(bool always)
{
    if (always && !memory_.SetInternetAllowed(true))
        services_.dialogs.Message(this, ViewerName(),
                                  QStringLiteral("Cannot remember the choice for this file in %1.")
                                      .arg(OutputMemory::StorePath()),
                                  ViewDialogs::Icon::Warning);
    internetAllowed_ = true;
    server_->SetInternetAllowed(true);
    wall_->SetInternetAllowed(true);
    internetBar_->hide();
    page_->triggerAction(QWebEnginePage::ReloadAndBypassCache);
}

void ViewerWindow::Zoom(int steps)
{
    if (steps == 0) {
        zoom_ = 1.0;
    } else {
        const auto at = std::min_element(kZoomSteps.begin(), kZoomSteps.end(), [this](double a, double b) {
            return std::abs(a - zoom_) < std::abs(b - zoom_);
        });
        const auto index = std::clamp<std::ptrdiff_t>(at - kZoomSteps.begin() + steps, 0,
                                                       static_cast<std::ptrdiff_t>(kZoomSteps.size()) - 1);
        zoom_ = kZoomSteps[static_cast<size_t>(index)];
    }
    view_->setZoomFactor(zoom_);
}

void ViewerWindow::OpenFindBar()
{
    if (fullScreenReturn_.active) // the bar has no place over a page's full screen
        escape_->trigger();
    findBar_->show();
    findText_->setFocus();
    findText_->selectAll();
}

void ViewerWindow::CloseFindBar()
{
    findBar_->hide();
    findCount_->clear();
    page_->findText(QString());
    view_->setFocus();
}

void ViewerWindow::Find(bool backward)
{
    if (findBar_->isHidden() || findText_->text().isEmpty())
        OpenFindBar();
    if (!findText_->text().isEmpty())
        page_->findText(findText_->text(), backward ? QWebEnginePage::FindBackward : QWebEnginePage::FindFlags());
}

void ViewerWindow::Print()
{
    if (printer_)
        return; // one print at a time
    printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer_->setDocName(windowTitle());
    if (!services_.dialogs.Print(this, *printer_)) {
        printer_.reset();
        return;
    }
    view_->print(printer_.get());
}

void ViewerWindow::PrintToPdf()
{
    const QString path = services_.dialogs.SavePdf(this, QFileInfo(outputPath_).completeBaseName() + ".pdf");
    if (!path.isEmpty())
        page_->printToPdf(path);
}

void ViewerWindow::PageFullScreen(bool on)
{
    PageFullScreenReturn& back = fullScreenReturn_;
    if (on == back.active)
        return;
    back.active = on;
    escape_->setEnabled(on);
    if (on) {
        back.state = windowState();
        back.minimum = minimumSize();
        back.maximum = maximumSize();
        back.hidden.clear();
        QList<QWidget*> bars = {statusBar(), findBar_, internetBar_};
        for (QToolBar* toolbar : findChildren<QToolBar*>())
            bars << toolbar;
        for (QWidget* bar : bars) {
            if (bar && !bar->isHidden()) {
                bar->hide();
                back.hidden << bar;
            }
        }
        // A fixed window must be let grow to the screen.
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        showFullScreen();
    } else {
        for (QWidget* bar : std::as_const(back.hidden))
            bar->show();
        back.hidden.clear();
        setWindowState(back.state); // still full screen where the output is shown so
        setMinimumSize(back.minimum);
        setMaximumSize(back.maximum);
    }
}

void ViewerWindow::GuardCopy()
{
    // Copy buttons of documentation pages write with the clipboard API;
    // no page reads the reader's clipboard.
    QWebEngineSettings* settings = page_->settings();
    settings->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, Settings().EnableCopy);
    settings->setAttribute(QWebEngineSettings::JavascriptCanPaste, false);
    page_->SetCopyAllowed(Settings().EnableCopy);
    if (Settings().EnableCopy)
        return;
    AddViewerScript(page_, "nocopy", kNoCopyScript, true);
    // The engine puts a selection of the reader's on X11's primary
    // selection, which a middle click pastes anywhere.
    QClipboard* clipboard = QGuiApplication::clipboard();
    connect(clipboard, &QClipboard::selectionChanged, this, [this, clipboard] {
        const QWidget* focus = QApplication::focusWidget();
        if (clipboard->ownsSelection() && focus && (focus == view_ || view_->isAncestorOf(focus)))
            clipboard->clear(QClipboard::Selection);
    });
}

void ViewerWindow::WatchKeys(QObject* target)
{
    target->installEventFilter(this);
}

bool ViewerWindow::eventFilter(QObject* watched, QEvent* event)
{
    // The page's render widget comes and goes; each one is watched.
    if (watched == view_ && event->type() == QEvent::ChildAdded)
        WatchKeys(static_cast<QChildEvent*>(event)->child());
    if (watched == findText_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            Find(key->modifiers() & Qt::ShiftModifier);
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            CloseFindBar();
            return true;
        }
    }
    if (watched != view_ && watched->parent() == view_) {
        const auto type = event->type();
        if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease) {
            if (static_cast<QMouseEvent*>(event)->button() & (Qt::LeftButton | Qt::MiddleButton))
                gate_.Arm();
        } else if (type == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space)
                gate_.Arm();
        }
        if ((type == QEvent::KeyPress || type == QEvent::ShortcutOverride) && !Settings().EnableCopy &&
            IsCopyKey(static_cast<QKeyEvent*>(event))) {
            event->accept();
            return true;
        }
        if (type == QEvent::Wheel && !Settings().EnableFont &&
            (static_cast<QWheelEvent*>(event)->modifiers() & Qt::ControlModifier))
            return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void ViewerWindow::BuildReader()
{
    // The only way out of a window without a frame, toolbar or menu.
    QAction* close = Command("close", QStringLiteral("Close"), {},
                             {QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::CTRL | Qt::Key_Q)});
    connect(close, &QAction::triggered, this, &QWidget::close);

    if (remembered_) {
        if (Settings().EnableFont && std::isfinite(remembered_->textZoom))
            zoom_ = std::clamp(remembered_->textZoom, kZoomSteps.front(), kZoomSteps.back());
        lastPage_ = remembered_->lastPage;
        resumePage_ = lastPage_;
    }
    continue_ = new QPushButton(QStringLiteral("Continue where you left off"), statusBar());
    continue_->setObjectName(QStringLiteral("continue"));
    continue_->setFlat(true);
    continue_->setCursor(Qt::PointingHandCursor);
    continue_->hide();
    statusBar()->addPermanentWidget(continue_);
    connect(continue_, &QPushButton::clicked, this, [this, page = resumePage_] {
        continue_->hide();
        page_->load(server_->UrlOf(page));
    });
    connect(page_, &QWebEnginePage::loadFinished, this, &ViewerWindow::PageShown);
}

void ViewerWindow::PageShown(bool ok)
{
    const std::optional<size_t> shown = EntryShown();
    const SiteArchive::Target home = site_->Find(site_->HomeAddress());
    const bool atHome = shown && home.kind == SiteArchive::Target::Kind::Entry && *shown == home.index;
    // Offered once, on the home page the run starts with, and only where the
    // last run ended elsewhere in a page the output still holds.
    if (!resumePage_.isEmpty()) {
        const SiteArchive::Target last = site_->Find(resumePage_.toStdString());
        continue_->setVisible(atHome && last.kind == SiteArchive::Target::Kind::Entry && last.index != home.index);
        resumePage_.clear();
    } else if (!atHome) {
        continue_->hide();
    }
    QString addressPath;
    if (ok && shown && server_->Owns(page_->url(), &addressPath) && addressPath != lastPage_) {
        lastPage_ = addressPath;
        memory_.SetLastPage(lastPage_);
    }
    if (rebuilt_) {
        rebuilt_ = false;
        statusBar()->showMessage(QStringLiteral("Rebuilt \u2014 reloaded"), 10000);
    }
}

std::optional<size_t> ViewerWindow::EntryShown() const
{
    QString addressPath;
    if (!server_->Owns(page_->url(), &addressPath))
        return std::nullopt;
    const SiteArchive::Target target = site_->Find(addressPath.toStdString());
    if (target.kind != SiteArchive::Target::Kind::Entry)
        return std::nullopt;
    return target.index;
}

namespace {

// The client area `wanted`, shrunk and moved as little as needed to lie
// within `room`.
QRect FittedInto(const QRect& wanted, const QRect& room)
{
    const QSize size = wanted.size().boundedTo(room.size());
    const QPoint at(std::clamp(wanted.x(), room.left(), room.left() + room.width() - size.width()),
                    std::clamp(wanted.y(), room.top(), room.top() + room.height() - size.height()));
    return {at, size};
}

} // namespace

void ViewerWindow::FitToScreen()
{
    const ViewerSettings& s = Settings();
    const std::optional<QRect> place =
        s.BorderKind() == ViewerSettings::Sizable && remembered_ ? remembered_->place : std::nullopt;
    QScreen* screen = place ? QGuiApplication::screenAt(place->center()) : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // The frame is the platform's, known once the window is shown, if at all.
    const QMargins frame = s.BorderKind() != ViewerSettings::NoBorder && windowHandle()
                               ? windowHandle()->frameMargins()
                               : QMargins();
    const QRect room = screen->availableGeometry().marginsRemoved(frame);
    QRect wanted = place.value_or(QRect(room.topLeft(), QSize(s.ClientWidth(), s.ClientHeight())));
    if (!place && s.Centered)
        wanted.moveCenter(room.center());
    const QRect fitted = FittedInto(wanted, room);
    if (s.BorderKind() == ViewerSettings::Fixed)
        setFixedSize(fitted.size());
    setGeometry(fitted);
}

void ViewerWindow::SaveReader()
{
    OutputMemory::ReaderState state;
    if (Settings().BorderKind() == ViewerSettings::Sizable)
        state.place = normalGeometry();
    state.textZoom = zoom_;
    state.lastPage = lastPage_;
    memory_.SetReader(state);
}

void ViewerWindow::closeEvent(QCloseEvent* event)
{
    SaveReader();
    QMainWindow::closeEvent(event);
}

void ViewerWindow::TakeRebuild(std::shared_ptr<const SiteArchive> site)
{
    site_ = std::move(site);
    server_->ReplaceSite(site_);
    // Consent was given to the file that was; a changed file asks afresh.
    memory_ = OutputMemory(outputPath_, site_->Reader().Trailer().ArchiveCRC);
    internetAllowed_ = memory_.InternetAllowed();
    server_->SetInternetAllowed(internetAllowed_);
    wall_->SetInternetAllowed(internetAllowed_);
    internetBar_->hide();
    rebuilt_ = true;
    // A results page is asked again of the new index.
    QString addressPath;
    const bool searchShown =
        server_->Owns(page_->url(), &addressPath) && SearchRequestOf(addressPath.toStdString()).has_value();
    if (EntryShown() || searchShown)
        page_->triggerAction(QWebEnginePage::ReloadAndBypassCache);
    else
        ShowHome();
}

void ViewerWindow::BuildSearch(QWidget* host)
{
    if (!OffersSearch(*site_))
        return;
    searchField_ = new QLineEdit(this);
    searchField_->setObjectName(QStringLiteral("searchfield"));
    searchField_->setPlaceholderText(QStringLiteral("Search all pages"));
    searchField_->setClearButtonEnabled(true);
    searchField_->setMaximumWidth(260);
    auto* toolbar = findChild<QToolBar*>(QStringLiteral("toolbar"), Qt::FindDirectChildrenOnly);
    if (toolbar && Settings().ShowToolbar) {
        auto* spacer = new QWidget(toolbar);
        spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        toolbar->addWidget(spacer);
        toolbar->addWidget(searchField_);
    } else {
        // Without a toolbar the field shows only while it is used.
        searchBar_ = new QWidget(host);
        searchBar_->setObjectName(QStringLiteral("searchbar"));
        auto* row = new QHBoxLayout(searchBar_);
        row->setContentsMargins(6, 3, 6, 3);
        row->addWidget(new QLabel(QStringLiteral("Search:"), searchBar_));
        searchField_->setParent(searchBar_);
        searchField_->setMaximumWidth(QWIDGETSIZE_MAX);
        row->addWidget(searchField_, 1);
        static_cast<QVBoxLayout*>(host->layout())->addWidget(searchBar_);
        searchBar_->hide();
        connect(searchField_, &QLineEdit::editingFinished, searchBar_, &QWidget::hide);
    }
    QAction* search = Command("search", QStringLiteral("Search all pages"), {}, {QKeySequence(Qt::CTRL | Qt::Key_K)});
    connect(search, &QAction::triggered, this, [this] {
        if (searchBar_)
            searchBar_->show();
        searchField_->setFocus(Qt::ShortcutFocusReason);
        searchField_->selectAll();
    });
    connect(searchField_, &QLineEdit::returnPressed, this, [this] { SearchFor(searchField_->text()); });
    // The field holds the query of the results page shown, also one sent
    // from the page's own form.
    connect(page_, &QWebEnginePage::urlChanged, this, [this](const QUrl& url) {
        QString addressPath;
        if (!server_->Owns(url, &addressPath))
            return;
        const std::optional<SearchRequest> request =
            SearchRequestOf((addressPath + QLatin1Char('?') + url.query(QUrl::FullyEncoded)).toStdString());
        if (request && !searchField_->hasFocus())
            searchField_->setText(Text(request->query));
    });
    connect(page_, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        if (findOnLoad_.isEmpty() || page_->url() != findOnLoad_)
            return;
        findOnLoad_.clear();
        if (ok)
            HighlightWords(findWords_);
    });
}

void ViewerWindow::SearchFor(const QString& words)
{
    const QString address = Text(SearchPageAddress({words.toStdString(), 1}));
    page_->load(server_->UrlOf(QStringLiteral("/")).resolved(QUrl(address, QUrl::StrictMode)));
    view_->setFocus();
}

bool ViewerWindow::FindOnArrival(const QUrl& url)
{
    // A result's link names the words to find; the page is loaded without
    // them, so its scripts see the address they were written for.
    if (!searchField_ || !server_->Owns(url))
        return false;
    const std::optional<FindRequest> find = FindRequestOf(url.toString(QUrl::FullyEncoded).toStdString());
    if (!find)
        return false;
    gate_.Take();
    findOnLoad_ = QUrl(Text(find->address), QUrl::StrictMode);
    findWords_ = Text(find->words);
    QMetaObject::invokeMethod(this, [this, target = findOnLoad_] { page_->load(target); }, Qt::QueuedConnection);
    return true;
}

void ViewerWindow::HighlightWords(const QString& words)
{
    if (words.isEmpty())
        return;
    // The find bar's own reaction to its text does the finding; the same
    // text again is not a change, so that one is asked for.
    findBar_->show();
    if (findText_->text() == words)
        Find(false);
    else
        findText_->setText(words);
}

} // namespace qv::view
