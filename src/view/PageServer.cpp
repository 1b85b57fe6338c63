#include "PageServer.h"

#include "NetworkWall.h"

#include "quorvane/base/Error.h"
#include "quorvane/viewercore/ByteRanges.h"
#include "quorvane/viewercore/ReplyPages.h"
#include "quorvane/viewercore/SearchPage.h"
#include "quorvane/viewercore/SiteArchive.h"
#include "quorvane/viewercore/SiteSearch.h"

#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

namespace qv::view {
namespace {

constexpr int kMaxHead = 32 * 1024;
constexpr int kWaitSliceMs = 200;
constexpr int kSendLimitMs = 30000;
constexpr int kDrainLimitMs = 2000;
constexpr qint64 kMaxDrain = 16 * 1024 * 1024;
constexpr qint64 kWriteBacklog = 512 * 1024;

// The peer went away or the server is stopping: nothing more to send.
struct ConnectionGone {};

struct Request {
    QByteArray method;
    QByteArray target;
    QByteArray host;
    QByteArray range;
    QByteArray userAgent;
};

std::optional<Request> ParseHead(const QByteArray& head)
{
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    if (first.size() != 3 || !first[2].startsWith("HTTP/1."))
        return std::nullopt;
    Request r{first[0], first[1], {}, {}, {}};
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        if (name == "host")
            r.host = line.mid(colon + 1).trimmed();
        else if (name == "range")
            r.range = line.mid(colon + 1).trimmed();
        else if (name == "user-agent")
            r.userAgent = line.mid(colon + 1).trimmed();
    }
    return r;
}

} // namespace

// A connection while its request head comes in, read on the server's
// thread as bytes arrive: a peer that sends nothing costs a descriptor and
// a timer, never a worker, and is let go when its time is up.
class HeadReader : public QObject {
public:
    HeadReader(qintptr descriptor, PageServer& server)
        : QObject(&server), server_(server), descriptor_(descriptor), notifier_(descriptor, QSocketNotifier::Read)
    {
        connect(&notifier_, &QSocketNotifier::activated, this, [this] { Read(); });
        deadline_.setSingleShot(true);
        // A head that came while the loop was busy elsewhere still counts.
        connect(&deadline_, &QTimer::timeout, this, [this] {
            if (Read())
                server_.Drop(this);
        });
        deadline_.start(PageServer::kHeadTimeoutMs);
    }

    const QByteArray& Head() const { return head_; }

    // Stops watching; the descriptor is the caller's from now on.
    qintptr Release()
    {
        notifier_.setEnabled(false);
        deadline_.stop();
        return descriptor_;
    }

private:
    // Takes what has come; true while the head is still incomplete.
    bool Read()
    {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(static_cast<int>(descriptor_), buffer, sizeof buffer, MSG_DONTWAIT);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return true;
            if (n > 0)
                head_.append(buffer, n);
            if (n > 0 && head_.contains("\r\n\r\n")) {
                server_.HeadRead(this);
                return false;
            }
            if (n <= 0 || head_.size() > kMaxHead) {
                server_.Drop(this); // gone, failed or talking nonsense
                return false;
            }
        }
    }

    PageServer& server_;
    qintptr descriptor_;
    QSocketNotifier notifier_;
    QTimer deadline_;
    QByteArray head_;
};

// One client's socket, used with the blocking calls of a worker thread.
class Connection {
public:
    Connection(QTcpSocket& socket, const std::atomic<bool>& stopping) : socket_(socket), stopping_(stopping) {}

    void Write(const char* data, qint64 size)
    {
        if (socket_.write(data, size) != size)
            throw ConnectionGone{};
        while (socket_.bytesToWrite() > kWriteBacklog) {
            if (stopping_ || socket_.state() != QAbstractSocket::ConnectedState)
                throw ConnectionGone{};
            socket_.waitForBytesWritten(kWaitSliceMs);
        }
    }
    void Write(const QByteArray& bytes) { Write(bytes.constData(), bytes.size()); }

    // With `drain`, what the peer still sends (a request's body) is read
    // and dropped until it closes: closing on unread bytes resets the
    // connection, and the browser loses the answer with it.
    void Finish(bool drain)
    {
        QDeadlineTimer limit(kSendLimitMs);
        while (socket_.bytesToWrite() > 0 && socket_.state() == QAbstractSocket::ConnectedState && !stopping_ &&
               !limit.hasExpired())
            socket_.waitForBytesWritten(kWaitSliceMs);
        if (drain && socket_.state() == QAbstractSocket::ConnectedState && socket_.bytesToWrite() == 0) {
            ::shutdown(static_cast<int>(socket_.socketDescriptor()), SHUT_WR);
            const QDeadlineTimer drainLimit(kDrainLimitMs);
            qint64 dropped = 0;
            while (socket_.state() == QAbstractSocket::ConnectedState && !stopping_ && !drainLimit.hasExpired() &&
                   dropped < kMaxDrain)
                if (socket_.waitForReadyRead(kWaitSliceMs))
                    dropped += socket_.readAll().size();
        }
        socket_.disconnectFromHost();
        if (socket_.state() != QAbstractSocket::UnconnectedState)
            socket_.waitForDisconnected(kWaitSliceMs);
    }

private:
    QTcpSocket& socket_;
    const std::atomic<bool>& stopping_;
};

namespace {

QByteArray ReasonOf(int status)
{
    switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 416: return "Range Not Satisfiable";
    default: return "Internal Server Error";
    }
}

QByteArray Head(int status, const QByteArray& type, qint64 length, bool internet, const QByteArray& extra = {})
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + " " + ReasonOf(status) + "\r\n";
    if (!type.isEmpty())
        head += "Content-Type: " + type + "\r\n";
    head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    head += "Content-Security-Policy: " + ContentPolicy(internet) + "\r\n";
    head += "X-Content-Type-Options: nosniff\r\n";
    head += "Accept-Ranges: bytes\r\nCache-Control: no-cache\r\nConnection: close\r\n" + extra + "\r\n";
    return head;
}

} // namespace

PageServer::PageServer(std::shared_ptr<const SiteArchive> site, QObject* parent)
    : QTcpServer(parent), site_(std::move(site))
{
    // 128 random bits: no other program on the machine can guess the way in.
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    for (const quint32 w : words)
        token_ += QStringLiteral("%1").arg(w, 8, 16, QLatin1Char('0'));
    pool_.setMaxThreadCount(8);
}

PageServer::~PageServer()
{
    close();
    stopping_ = true;
    while (!reading_.empty())
        Drop(reading_.front());
    pool_.waitForDone();
}

void PageServer::ReplaceSite(std::shared_ptr<const SiteArchive> site)
{
    {
        const std::lock_guard lock(siteLock_);
        site_ = std::move(site);
    }
    // The old site's index lets go of the old file now, not at the next search.
    const std::lock_guard lock(searchLock_);
    search_.reset();
    searchedSite_.reset();
}

std::shared_ptr<const SiteArchive> PageServer::Site() const
{
    const std::lock_guard lock(siteLock_);
    return site_;
}

bool PageServer::Start()
{
    // A burst of connections waits in the kernel's queue, not a fd of ours;
    // a full queue would drop the viewer's own connection for a second.
    setListenBacklogSize(1024);
    if (!listen(QHostAddress::LocalHost, 0))
        return false;
    host_ = HostName().toLatin1() + ":" + QByteArray::number(serverPort());
    return true;
}

QString PageServer::HostName() const
{
    return token_ + QStringLiteral(".localhost");
}

QUrl PageServer::UrlOf(const QString& addressPath) const
{
    QString path = addressPath;
    if (!path.startsWith(QLatin1Char('/')))
        path.prepend(QLatin1Char('/'));
    return QUrl(QStringLiteral("http://%1:%2%3").arg(HostName()).arg(serverPort()).arg(path));
}

bool PageServer::Owns(const QUrl& url, QString* addressPath) const
{
    if (url.scheme() != QLatin1String("http") || url.host() != HostName() || url.port() != serverPort())
        return false;
    if (addressPath) {
        *addressPath = url.path(QUrl::FullyEncoded);
        if (addressPath->isEmpty())
            *addressPath = QStringLiteral("/");
    }
    return true;
}

void PageServer::incomingConnection(qintptr descriptor)
{
    // When full, the connection that has kept silent longest makes room:
    // a crowd of idle ones cannot shut out the viewer's own page.
    if (open_ >= kMaxConnections && !reading_.empty())
        Drop(reading_.front());
    if (open_ >= kMaxConnections || stopping_) {
        ::close(static_cast<int>(descriptor));
        return;
    }
    ++open_;
    reading_.push_back(new HeadReader(descriptor, *this));
}

void PageServer::Drop(HeadReader* reader)
{
    ::close(static_cast<int>(reader->Release()));
    reading_.remove(reader);
    reader->deleteLater();
    --open_;
}

void PageServer::HeadRead(HeadReader* reader)
{
    const qintptr descriptor = reader->Release();
    const QByteArray head = reader->Head();
    reading_.remove(reader);
    reader->deleteLater();
    pool_.start([this, descriptor, head] {
        Serve(descriptor, head.left(head.indexOf("\r\n\r\n")));
        --open_;
    });
}

void PageServer::Serve(qintptr descriptor, const QByteArray& head)
{
    QTcpSocket socket;
    if (!socket.setSocketDescriptor(descriptor)) {
        ::close(static_cast<int>(descriptor));
        return;
    }
    if (!socket.peerAddress().isLoopback()) {
        socket.abort();
        return;
    }
    Connection connection(socket, stopping_);
    ServedRequest served;
    try {
        const std::optional<Request> request = ParseHead(head);
        if (request) {
            served.method = request->method;
            served.range = request->range;
            served.userAgent = request->userAgent;
        }
        const bool reading = request && (request->method == "GET" || request->method == "HEAD");
        // The token is the host name: any other name for this address would
        // let a page of a site that resolves to 127.0.0.1 read ours.
        if (!request)
            Answer(connection, served, 400, ReplyPage("Bad request", "This is not a request the viewer understands."));
        else if (request->host.toLower() != host_ || !request->target.startsWith('/'))
            Answer(connection, served, 403, ReplyPage("Forbidden", "Only the viewer's own pages are served here."));
        else if (!reading)
            Answer(connection, served, 405, FormRefusedPage(), "Allow: GET, HEAD\r\n");
        else {
            served.addressPath = QString::fromLatin1(request->target);
            ServeEntry(connection, served);
        }
        connection.Finish(request && !reading);
    } catch (const ConnectionGone&) {
        socket.abort();
    }
    emit Served(served);
}

void PageServer::Answer(Connection& connection, ServedRequest& served, int status, const std::string& html,
                        const QByteArray& extra)
{
    served.status = status;
    const QByteArray body = QByteArray::fromStdString(html);
    connection.Write(Head(status, "text/html; charset=utf-8", body.size(), internetAllowed_, extra));
    if (served.method != "HEAD")
        connection.Write(body);
}

void PageServer::ServeEntry(Connection& connection, ServedRequest& served)
{
    if (const std::optional<SearchRequest> search = SearchRequestOf(served.addressPath.toStdString())) {
        ServeSearch(connection, served, *search);
        return;
    }
    const std::shared_ptr<const SiteArchive> site = Site();
    const SiteArchive::Target found = site->Find(served.addressPath.toStdString());
    if (found.kind != SiteArchive::Target::Kind::Entry) {
        Answer(connection, served, 404, NotFoundPage(found.sitePath));
        return;
    }
    if (found.slashMissing) {
        // The folder's page, at an address whose relative links stay in it.
        QByteArray location = served.addressPath.toLatin1();
        const qsizetype end = location.indexOf('?');
        location.insert(end < 0 ? location.size() : end, '/');
        served.status = 302;
        connection.Write(Head(302, {}, 0, internetAllowed_, "Location: " + location + "\r\n"));
        return;
    }
    std::vector<uint8_t> whole;
    QByteArray type;
    try {
        type = QByteArray::fromStdString(site->ContentTypeOf(found.index, &whole));
    } catch (const qv::Error& e) {
        Answer(connection, served, 500, DamagedPage(e.what()));
        return;
    }
    const ArchiveEntry& entry = site->Reader().Entry(found.index);
    const qint64 size = entry.FileSize;
    const RangeRequest asked = ReadRangeHeader(std::string_view(served.range.constData(), served.range.size()), size);
    if (asked.kind == RangeRequest::Kind::Unsatisfiable) {
        served.status = 416;
        connection.Write(Head(416, {}, 0, internetAllowed_, "Content-Range: bytes */" + QByteArray::number(size) + "\r\n"));
        return;
    }
    const bool part = asked.kind == RangeRequest::Kind::Part;
    const qint64 first = part ? asked.first : 0;
    const qint64 count = part ? asked.Count() : size;
    served.status = part ? 206 : 200;
    QByteArray extra;
    if (part)
        extra = "Content-Range: bytes " + QByteArray::number(first) + "-" + QByteArray::number(first + count - 1) +
                "/" + QByteArray::number(size) + "\r\n";
    const QByteArray head = Head(served.status, type, count, internetAllowed_, extra);
    if (!whole.empty()) { // read already to judge its type
        connection.Write(head);
        if (served.method == "GET")
            connection.Write(reinterpret_cast<const char*>(whole.data()) + first, count);
        return;
    }
    bool started = false;
    auto start = [&] {
        if (!started)
            connection.Write(head);
        started = true;
    };
    try {
        if (served.method == "GET")
            site->Read(found.index, first, count, [&](const uint8_t* data, size_t n) {
                start();
                connection.Write(reinterpret_cast<const char*>(data), static_cast<qint64>(n));
            });
        start();
    } catch (const qv::Error& e) {
        // Read checks an entry before its first byte goes out, so a failure
        // after that can only be the output changing under us: cut it short.
        if (started)
            throw ConnectionGone{};
        Answer(connection, served, 500, DamagedPage(e.what()));
    }
}

void PageServer::ServeSearch(Connection& connection, ServedRequest& served, const SearchRequest& request)
{
    const std::shared_ptr<const SiteArchive> site = Site();
    if (!site->Settings().EnableSearch) {
        Answer(connection, served, 404, NotFoundPage("-search-"));
        return;
    }
    std::string html;
    try {
        std::lock_guard lock(searchLock_);
        if (searchedSite_ != site) {
            search_.reset();
            searchedSite_.reset();
            try {
                search_ = std::make_unique<SiteSearch>(*site);
            } catch (const NoSearchIndex&) {
                // answered as such below
            }
            searchedSite_ = site;
        }
        html = AnswerSearch(search_.get(), request);
    } catch (const qv::Error& e) {
        Answer(connection, served, 500, DamagedPage(e.what()));
        return;
    }
    Answer(connection, served, 200, html);
}

} // namespace qv::view
