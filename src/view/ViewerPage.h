#pragma once
#include <QWebEnginePage>

#include <functional>

namespace qv::view {

// The page of the viewer: it asks the window where each navigation may go,
// and drops the copy commands when copying is not allowed.
class ViewerPage : public QWebEnginePage {
    Q_OBJECT
public:
    // Called for every navigation; true to load it here. The window sends
    // what it does not show to the desktop.
    using NavigationFilter = std::function<bool(const QUrl& url, bool isMainFrame)>;

    ViewerPage(QWebEngineProfile* profile, NavigationFilter filter, QObject* parent = nullptr);

    void SetCopyAllowed(bool allowed) { copyAllowed_ = allowed; }
    static bool IsCopyAction(WebAction action);
    void triggerAction(WebAction action, bool checked = false) override;

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;

private:
    NavigationFilter filter_;
    bool copyAllowed_ = true;
};

} // namespace qv::view
