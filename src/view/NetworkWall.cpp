#include "NetworkWall.h"

#include <QHostAddress>
#include <QWebEngineUrlRequestInfo>

#include <array>
#include <utility>

namespace qv::view {
namespace {

// Addresses that are not on the internet, whatever a page says.
bool IsLocalAddress(const QHostAddress& given)
{
    static const std::array<std::pair<QHostAddress, int>, 16> kLocal = [] {
        std::array<std::pair<QHostAddress, int>, 16> nets;
        const char* const texts[] = {"0.0.0.0/8",    "10.0.0.0/8",     "100.64.0.0/10", "127.0.0.0/8",
                                     "169.254.0.0/16", "172.16.0.0/12", "192.0.0.0/24",  "192.168.0.0/16",
                                     "224.0.0.0/3",  "::/127",         "fc00::/7",      "fe80::/10",
                                     "fec0::/10",    "ff00::/8",       "64:ff9b:1::/48", "100::/64"};
        for (size_t i = 0; i < nets.size(); ++i)
            nets[i] = QHostAddress::parseSubnet(QString::fromLatin1(texts[i]));
        return nets;
    }();
    QHostAddress address = given;
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped) // ::ffff:127.0.0.1 is 127.0.0.1
        address = QHostAddress(v4);
    for (const auto& [net, bits] : kLocal)
        if (address.isInSubnet(net, bits))
            return true;
    return false;
}

bool IsLocalName(QString name)
{
    name = name.toLower();
    while (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    // A name without a dot is looked up on the local network.
    if (!name.contains(QLatin1Char('.')))
        return true;
    for (const char* suffix : {".localhost", ".local", ".localdomain", ".internal", ".lan", ".home.arpa", ".intranet"})
        if (name.endsWith(QLatin1String(suffix)))
            return true;
    return false;
}

} // namespace

Reach ReachOf(const QUrl& url, const std::function<bool(const QUrl&)>& own)
{
    const QString scheme = url.scheme().toLower();
    const bool web = scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
                     scheme == QLatin1String("ws") || scheme == QLatin1String("wss");
    if (!web)
        return scheme == QLatin1String("ftp") ? Reach::Local : Reach::NotNetwork;
    if (own(url))
        return Reach::Own;
    const QString host = url.host();
    QHostAddress address;
    if (address.setAddress(host))
        return IsLocalAddress(address) ? Reach::Local : Reach::Internet;
    return IsLocalName(host) ? Reach::Local : Reach::Internet;
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
