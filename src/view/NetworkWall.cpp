#include "NetworkWall.h"

#include "quorvane/viewercore/HostRules.h"

#include <QWebEngineUrlRequestInfo>

#include <utility>

namespace qv::view {

Reach ReachOf(const QUrl& url, const std::function<bool(const QUrl&)>& own)
{
    const QString scheme = url.scheme().toLower();
    const bool web = scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
                     scheme == QLatin1String("ws") || scheme == QLatin1String("wss");
    if (!web)
        return scheme == QLatin1String("ftp") ? Reach::Local : Reach::NotNetwork;
    if (own(url))
        return Reach::Own;
    // The same rules as viewer.exe's, on the host as the engine parsed it.
    QString host = url.host(QUrl::FullyDecoded).toLower();
    while (host.endsWith(QLatin1Char('.')))
        host.chop(1);
    return IsLocalHost(host.toStdWString()) ? Reach::Local : Reach::Internet;
}

QByteArray ContentPolicy(bool internet)
{
    QByteArray policy = "default-src 'self' 'unsafe-inline' 'unsafe-eval' data: blob:";
    if (internet)
        policy += " http: https: ws: wss:";
    return policy;
}

RequestWall::RequestWall(std::function<bool(const QUrl&)> own, QObject* parent)
    : QWebEngineUrlRequestInterceptor(parent), own_(std::move(own))
{
}

void RequestWall::interceptRequest(QWebEngineUrlRequestInfo& info)
{
    switch (ReachOf(info.requestUrl(), own_)) {
    case Reach::Own:
    case Reach::NotNetwork:
        return;
    case Reach::Local:
        info.block(true);
        return;
    case Reach::Internet:
        if (!internet_) {
            info.block(true);
            emit InternetRefused(info.requestUrl());
        }
        return;
    }
}

} // namespace qv::view
