#include "ViewerPage.h"

#include <QRandomGenerator>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

namespace qv::view {

ViewerPage::ViewerPage(QWebEngineProfile* profile, NavigationFilter filter, QObject* parent)
    : QWebEnginePage(profile, parent), filter_(std::move(filter))
{
    // The policy stops a request before any interceptor sees it; its
    // violation events are how the viewer learns what a page wanted. They
    // are heard in a world of their own, so a page can neither silence nor
    // forge them.
    reportKey_ = QStringLiteral("qv-policy-%1 ").arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
    QWebEngineScript report;
    report.setName(QStringLiteral("policyreport"));
    report.setSourceCode(QStringLiteral("document.addEventListener('securitypolicyviolation', function (e) {"
                                        " console.log('%1' + e.blockedURI); }, true);")
                             .arg(reportKey_));
    report.setInjectionPoint(QWebEngineScript::DocumentCreation);
    report.setWorldId(QWebEngineScript::ApplicationWorld);
    report.setRunsOnSubFrames(true);
    scripts().insert(report);
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

bool ViewerPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame)
{
    return filter_(url, type, isMainFrame);
}

void ViewerPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                          const QString& source)
{
    if (message.startsWith(reportKey_)) {
        emit PolicyRefused(QUrl(message.mid(reportKey_.size())));
        return;
    }
    QWebEnginePage::javaScriptConsoleMessage(level, message, line, source);
}

} // namespace qv::view
