#pragma once
#include <QByteArray>
#include <QString>
#include <QTcpServer>
#include <QThreadPool>
#include <QUrl>

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>

namespace qv {
class SiteArchive;
class SiteSearch;
struct SearchRequest;
}

namespace qv::view {

class Connection;
class HeadReader;

// One answered request, as the viewer's tests and status see it.
struct ServedRequest {
    QByteArray method;
    QString addressPath; // the path as requested, still escaped ("/sub/a%20b.html")
    int status = 0;
    QByteArray range;     // the Range header, if any
    QByteArray userAgent; // the User-Agent header
};

// Serves the entries of one output over HTTP on 127.0.0.1 at a random port,
// at the root of an origin of its own, http://TOKEN.localhost:PORT/, whose
// host name carries a random token: only this program's pages can reach
// them, root-relative references ("/css/site.css") resolve in the site,
// and everything a page may do on a web server (fetch, XMLHttpRequest,
// byte ranges for media) works. The engine resolves names under
// "localhost" to the loopback address itself and counts them secure.
//
// HTTP/1.1, GET and HEAD, one request per connection. A request whose Host
// is not TOKEN.localhost:PORT is refused; any other method gets a short
// page telling that forms go nowhere (405); a missing entry gets a short
// "not found" page, a damaged one an error page; a folder named without its
// final "/" is redirected there; Range requests are answered 206 or 416.
// Text is sent with the charset its bytes show (SiteArchive::ContentTypeOf).
// "/-search-?q=WORDS&page=N" is the results page of the output's search
// index (never the "-search-" entry itself), where its settings allow
// searching; the index is opened at the first search of each site served.
// Whatever other local programs do, they cannot stall the pages: a request
// head is read on the server's own thread and must be complete within
// kHeadTimeoutMs, only complete requests reach the worker threads (which
// read the output in place through SiteArchive), and at most
// kMaxConnections are open at once (when full, the one silent longest gives
// way to a new one). Life cycle: construct,
// Start, then use until destroyed (which waits for the workers).
class PageServer : public QTcpServer {
    Q_OBJECT
public:
    static constexpr int kHeadTimeoutMs = 2000;
    static constexpr int kMaxConnections = 128;

    explicit PageServer(std::shared_ptr<const SiteArchive> site, QObject* parent = nullptr);
    ~PageServer() override;

    // Listens; false (with errorString()) when no port could be had.
    bool Start();
    const QString& Token() const { return token_; }
    // "TOKEN.localhost", the host of every address of this server.
    QString HostName() const;
    // The address of a site path given as an address path ("/index.html").
    QUrl UrlOf(const QString& addressPath) const;
    // Whether `url` is one of this server's (its origin exactly): then
    // `addressPath` is its path, still escaped ("/" at least).
    bool Owns(const QUrl& url, QString* addressPath = nullptr) const;
    // Whether the content policy of the pages served from now on lets them
    // reach the internet; safe from any thread.
    void SetInternetAllowed(bool allowed) { internetAllowed_ = allowed; }
    // Serves `site` from now on, from any thread; requests already being
    // answered finish from the site they started with.
    void ReplaceSite(std::shared_ptr<const SiteArchive> site);

signals:
    // Emitted on the server's thread for every answered request.
    void Served(const qv::view::ServedRequest& request);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    friend class HeadReader;
    void Drop(HeadReader* reader);
    void HeadRead(HeadReader* reader);
    void Serve(qintptr descriptor, const QByteArray& head);
    void Answer(Connection& connection, ServedRequest& served, int status, const std::string& html,
                const QByteArray& extra = {});
    void ServeEntry(Connection& connection, ServedRequest& served);
    void ServeSearch(Connection& connection, ServedRequest& served, const SearchRequest& request);

    std::shared_ptr<const SiteArchive> Site() const;

    mutable std::mutex siteLock_;
    std::shared_ptr<const SiteArchive> site_; // under siteLock_
    // The index of the site last searched; one query at a time, since a
    // SiteSearch serves one thread at a time. Holding the site keeps the
    // archive the index reads alive.
    std::mutex searchLock_;
    std::shared_ptr<const SiteArchive> searchedSite_; // under searchLock_
    std::unique_ptr<SiteSearch> search_;               // under searchLock_
    QString token_;
    QByteArray host_; // the Host header of every request of ours
    QThreadPool pool_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> internetAllowed_{false};
    // Connections still sending their head, oldest first (server's thread).
    std::list<HeadReader*> reading_;
    // Connections open: reading their head, queued or with a worker.
    std::atomic<int> open_{0};
};

} // namespace qv::view
