#include "ViewerPage.h"

namespace qv::view {

ViewerPage::ViewerPage(QWebEngineProfile* profile, NavigationFilter filter, QObject* parent)
    : QWebEnginePage(profile, parent), filter_(std::move(filter))
{
}

bool ViewerPage::IsCopyAction(WebAction action)
{
    switch (action) {
    case Copy:
    case Cut:
    case CopyLinkToClipboard:
    case CopyImageToClipboard:
    case CopyImageUrlToClipboard:
    case CopyMediaUrlToClipboard:
        return true;
    default:
        return false;
    }
}

void ViewerPage::triggerAction(WebAction action, bool checked)
{
    if (!copyAllowed_ && IsCopyAction(action))
        return;
    QWebEnginePage::triggerAction(action, checked);
}

bool ViewerPage::acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame)
{
    return filter_(url, isMainFrame);
}

} // namespace qv::view
