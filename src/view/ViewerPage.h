#pragma once
#include <QWebEnginePage>

#include <functional>

namespace qv::view {

// The page of the viewer: it asks the window where each navigation may go,
// drops the copy commands when copying is not allowed, and tells what its
// content policy stopped.
class ViewerPage : public QWebEnginePage {
    Q_OBJECT
public:
    // Called for every navigation; true to load it here. The window sends
    // what it does not show to the desktop.
    using NavigationFilter = std::function<bool(const QUrl& url, NavigationType type, bool isMainFrame)>;

    ViewerPage(QWebEngineProfile* profile, NavigationFilter filter, QObject* parent = nullptr);

    void SetCopyAllowed(bool allowed) { copyAllowed_ = allowed; }
    static bool IsCopyAction(WebAction action);
    void triggerAction(WebAction action, bool checked = false) override;

signals:
    // A request of any frame that the content policy refused.
    void PolicyRefused(const QUrl& blocked);

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                  const QString& source) override;

private:
    NavigationFilter filter_;
    bool copyAllowed_ = true;
    QString reportKey_; // begins the console lines of our own script, which the page cannot see
};

} // namespace qv::view
