#include "browser/ResScheme.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

namespace qv::app {
namespace {

const QByteArray kScheme = "res";

} // namespace

void RegisterResScheme()
{
    QWebEngineUrlScheme scheme(kScheme);
    // Path syntax keeps the address hierarchical, so the page's bare
    // picture names resolve against it; secure and local like the file it
    // stands for, so the page can be shown without mixed-content rules
    // and web pages cannot reach into the program.
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::LocalScheme);
    QWebEngineUrlScheme::registerScheme(scheme);
}

void InstallResScheme(QWebEngineProfile* profile)
{
    if (!profile->urlSchemeHandler(kScheme))
        profile->installUrlSchemeHandler(kScheme, new ResSchemeHandler(profile));
}

QUrl ResourceUrl(const QString& name)
{
    QUrl url = QUrl::fromLocalFile(QCoreApplication::applicationFilePath() + QLatin1Char('/') + name);
    url.setScheme(QString::fromLatin1(kScheme));
    return url;
}

bool LookUpResource(const QUrl& url, QByteArray& bytes, QByteArray& mimeType)
{
    if (url.scheme() != QLatin1String(kScheme))
        return false;
    const QString program = QCoreApplication::applicationFilePath() + QLatin1Char('/');
    const QString path = url.path(QUrl::FullyDecoded);
    if (!path.startsWith(program))
        return false;
    QString name = path.mid(program.size());
    if (name.startsWith(QLatin1String("23/")))
        name = name.mid(3);
    // Resource names are matched without regard to case.
    name = name.toUpper();
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return false;
    QFile file(QStringLiteral(":/html/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bytes = file.readAll();
    mimeType = bytes.startsWith("GIF8") ? "image/gif" : "text/html";
    return true;
}

void ResSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job)
{
    QByteArray bytes, mimeType;
    if (!LookUpResource(job->requestUrl(), bytes, mimeType)) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    auto* buffer = new QBuffer(job);
    buffer->setData(bytes);
    buffer->open(QIODevice::ReadOnly);
    job->reply(mimeType, buffer);
}

} // namespace qv::app
