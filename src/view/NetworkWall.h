#pragma once
#include <QByteArray>
#include <QUrl>
#include <QWebEngineUrlRequestInterceptor>

#include <atomic>
#include <functional>

namespace qv::view {

// Where a request of a page would go.
enum class Reach {
    Own,        // the viewer's own page server
    Internet,   // a host on the internet
    Local,      // this machine or its network: loopback, private, link-local, unique-local, 0.0.0.0,
                // local names; also ftp:, which no page of a file needs
    NotNetwork  // data:, blob:, the engine's own schemes: nothing leaves the process
};

// `own` tells the viewer's own addresses apart. A host given as a name is
// judged by its name: what it resolves to is not known here.
Reach ReachOf(const QUrl& url, const std::function<bool(const QUrl&)>& own);

// The Content-Security-Policy of every page the viewer serves: the page's
// own server, inline code, data: and blob:, and with `internet` also every
// http, https, ws and wss address (the request wall still keeps local
// ones out). The engine applies it to WebSockets and beacons too.
QByteArray ContentPolicy(bool internet);

// The profile's second wall behind the content policy: refuses every
// request to a local address, and to the internet unless allowed, and
// tells of the internet requests it refused.
class RequestWall final : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT
public:
    RequestWall(std::function<bool(const QUrl&)> own, QObject* parent = nullptr);

    void SetInternetAllowed(bool allowed) { internet_ = allowed; }
    void interceptRequest(QWebEngineUrlRequestInfo& info) override;

signals:
    void InternetRefused(const QUrl& url);

private:
    std::function<bool(const QUrl&)> own_;
    std::atomic<bool> internet_{false};
};

} // namespace qv::view
