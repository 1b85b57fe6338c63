// The page server against peers that do not play along, through real
// sockets; and quorvane-view as a process, for what it leaves on disk.
// Answers are read with QNetworkAccessManager where a well-behaved client
// will do, so the server's HTTP is checked by a reader that is not ours.
#include "ViewTestSupport.h"

#include "PageServer.h"

#include "quorvane/viewercore/SiteFile.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <memory>
#include <vector>

using namespace qv::view;

namespace {

const QByteArray kSandboxWarning = "quorvane-view: warning: the page sandbox is off; open only outputs you trust\n";
const QByteArray kPage = "<!DOCTYPE html><html><head><title>Served</title></head><body>served page</body></html>";

// Whether the server has closed a connection the client has not yet read.
bool ClosedByServer(QTcpSocket& socket)
{
    if (socket.state() != QAbstractSocket::ConnectedState)
        return true;
    char c;
    const ssize_t n = ::recv(static_cast<int>(socket.socketDescriptor()), &c, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

int OpenFiles()
{
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

// Opens `count` connections to `port` from a child process, which writes
// how many it made to `link` and holds them until `link` is closed.
pid_t HoldConnections(quint16 port, int count, int& link)
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child != 0) {
        ::close(ends[1]);
        link = ends[0];
        return child;
    }
    // Only system calls from here on: the parent has threads.
    ::close(ends[0]);
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int made = 0;
    for (int i = 0; i < count; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            ++made;
    }
    char c;
    const bool told = ::write(ends[1], &made, sizeof made) == sizeof made;
    ::_exit(told && ::read(ends[1], &c, 1) == 0 ? 0 : 1);
}

} // namespace

class PageServerTest : public QObject {
    Q_OBJECT

    QTemporaryDir temp_;
    QString output_;
    std::unique_ptr<PageServer> server_;
    QNetworkAccessManager network_;

    quint16 Port() const { return static_cast<quint16>(server_->serverPort()); }

    // A finished reply (deleted with the test's network manager).
    QNetworkReply* Finished(QNetworkReply* reply)
    {
        if (!reply->isFinished())
            QSignalSpy(reply, &QNetworkReply::finished).wait(30000);
        return reply;
    }
    // A request of the server's own address. The system's resolver may not
    // know names under "localhost" as the engine does, so it goes to the
    // loopback address with the name as Host.
    QNetworkRequest Request(const QString& addressPath)
    {
        QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(Port()).arg(addressPath)));
        request.setRawHeader("Host", OwnHost());
        return request;
    }
    QByteArray OwnHost() const { return server_->HostName().toLatin1() + ":" + QByteArray::number(Port()); }
    QNetworkReply* Get(const QString& addressPath) { return Finished(network_.get(Request(addressPath))); }

    // A request written by hand; the whole answer once the server closes.
    QByteArray Exchange(const QByteArray& request)
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, Port());
        socket.write(request);
        QByteArray answer;
        if (!QTest::qWaitFor(
                [&] {
                    answer += socket.readAll();
                    return socket.state() == QAbstractSocket::UnconnectedState;
                },
                30000))
            qWarning("the server did not close the connection");
        return answer + socket.readAll();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(temp_.isValid());
        WriteBytes(temp_.filePath("site/index.html"), kPage);
        WriteBytes(temp_.filePath("site/sub/index.htm"), "<p>sub caf\xC3\xA9</p>");
        WriteBytes(temp_.filePath("site/old.htm"), "<p>caf\xE9</p>");
        WriteBytes(temp_.filePath("site/declared.html"), "<meta charset=\"iso-8859-2\"><p>\xB1</p>");
        WriteBytes(temp_.filePath("site/forum/view.php"), "<p>thread</p>");
        WriteBytes(temp_.filePath("site/notes/README"), "\xEF\xBB\xBF<!DOCTYPE html><p>notes</p>");
        WriteBytes(temp_.filePath("site/subs/en.vtt"), "WEBVTT\n");
        output_ = temp_.filePath("served.qpf");
        QVERIFY(BuildOutput(temp_.filePath("site"), "index.html", output_));
        server_ = std::make_unique<PageServer>(qv::OpenSiteFile(output_.toStdString()));
        QVERIFY(server_->Start());
    }

    void idleConnectionsDoNotHoldUpAPage()
    {
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < 16; ++i) {
            idle.push_back(std::make_unique<QTcpSocket>());
            idle.back()->connectToHost(QHostAddress::LocalHost, Port());
            QVERIFY(idle.back()->waitForConnected(10000));
        }
        // Accepted in the order they connected: the page comes after them all.
        QNetworkReply* page = Get("/index.html");
        QCOMPARE(page->error(), QNetworkReply::NoError);
        QCOMPARE(page->readAll(), kPage);
        for (auto& socket : idle)
            QVERIFY(!ClosedByServer(*socket));

        for (auto& socket : idle) {
            QVERIFY(QTest::qWaitFor([&] { return ClosedByServer(*socket); }, 20000));
            QCOMPARE(socket->readAll(), QByteArray());
        }
    }

    void aFloodOfConnectionsKeepsFilesFewAndPagesServed()
    {
        {
            int link = -1;
            const pid_t child = HoldConnections(Port(), 3000, link);
            QVERIFY(child > 0);
            const auto release = qScopeGuard([&] {
                ::close(link);
                ::waitpid(child, nullptr, 0);
            });
            // The server accepts on this thread's loop while the child connects.
            QSocketNotifier readable(link, QSocketNotifier::Read);
            int made = 0;
            if (QSignalSpy(&readable, &QSocketNotifier::activated).wait(120000) &&
                ::read(link, &made, sizeof made) != sizeof made)
                made = -1;
            QCOMPARE(made, 3000);
            const int filesDuringFlood = OpenFiles();
            QVERIFY2(filesDuringFlood < 1024, qPrintable(QString::number(filesDuringFlood)));

            // All 3,000 still open on the child's side.
            QNetworkReply* page = Get("/index.html");
            QCOMPARE(page->error(), QNetworkReply::NoError);
            QCOMPARE(page->readAll(), kPage);
            const int filesAfterPage = OpenFiles();
            QVERIFY2(filesAfterPage < 1024, qPrintable(QString::number(filesAfterPage)));
        }
        QCOMPARE(Get("/index.html")->readAll(), kPage);
    }

    void refusalsAreShortPagesAndNothingIsSniffed()
    {
        QNetworkReply* page = Get("/index.html");
        QCOMPARE(page->rawHeader("X-Content-Type-Options"), QByteArray("nosniff"));

        QNetworkReply* missing = Get("/no/such.html");
        QCOMPARE(missing->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 404);
        QCOMPARE(missing->rawHeader("X-Content-Type-Options"), QByteArray("nosniff"));
        QVERIFY(missing->header(QNetworkRequest::ContentTypeHeader).toString().startsWith("text/html"));
        QVERIFY(missing->readAll().contains("This file holds no page named \"no/such.html\"."));

        // A form gets a page saying it went nowhere, whole although its
        // body was never wanted.
        QNetworkRequest form = Request("/index.html");
        form.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
        QNetworkReply* posted = Finished(network_.post(form, "x=" + QByteArray(4 << 20, 'y')));
        QCOMPARE(posted->error(), QNetworkReply::ContentOperationNotPermittedError);
        QCOMPARE(posted->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 405);
        QCOMPARE(posted->rawHeader("Allow"), QByteArray("GET, HEAD"));
        QCOMPARE(posted->rawHeader("X-Content-Type-Options"), QByteArray("nosniff"));
        QVERIFY(posted->readAll().endsWith("<h1>Form not sent</h1>\n<p>The pages of this file are saved pages, which "
                                           "cannot receive forms: what you entered was not sent anywhere.</p>"
                                           "</body></html>\n"));

        // Only the server's own name as Host: another name for 127.0.0.1
        // is how a page of some other site would come in.
        const QByteArray target = "GET /index.html HTTP/1.1\r\n";
        const QByteArray port = QByteArray::number(Port());
        const QByteArray right = Exchange(target + "Host: " + OwnHost() + "\r\n\r\n");
        QVERIFY2(right.startsWith("HTTP/1.1 200 ") && right.endsWith(kPage), right.constData());
        const QByteArray name = server_->HostName().toLatin1();
        for (const QByteArray& host : QList<QByteArray>{
                 "Host: 127.0.0.1:" + port + "\r\n", "Host: localhost:" + port + "\r\n",
                 "Host: other.localhost:" + port + "\r\n", "Host: attacker.example:" + port + "\r\n",
                 "Host: " + name + ":" + QByteArray::number(Port() + 1) + "\r\n", "Host: " + name + "\r\n",
                 "Host: " + name + ".attacker.example:" + port + "\r\n", QByteArray()}) {
            const QByteArray answer = Exchange(target + host + "\r\n");
            QVERIFY2(answer.startsWith("HTTP/1.1 403 ") && answer.contains("X-Content-Type-Options: nosniff\r\n") &&
                         answer.contains("<h1>Forbidden</h1>") && !answer.contains("served page"),
                     (host + answer).constData());
        }
        // The viewer's own addresses are exactly the server's origin.
        QString path;
        QVERIFY(server_->Owns(server_->UrlOf("/sub/a%20b.html"), &path));
        QCOMPARE(path, QStringLiteral("/sub/a%20b.html"));
        QVERIFY(server_->Owns(QUrl("http://" + OwnHost().toUpper()), &path));
        QCOMPARE(path, QStringLiteral("/"));
        for (const QByteArray& other : {"https://" + OwnHost() + "/", "ws://" + OwnHost() + "/",
                                        "http://127.0.0.1:" + port + "/", "http://other.localhost:" + port + "/",
                                        "http://" + name + ":" + QByteArray::number(Port() + 1) + "/"})
            QVERIFY2(!server_->Owns(QUrl(QString::fromLatin1(other))), other.constData());

        const QByteArray absolute = Exchange("GET http://" + OwnHost() + "/index.html HTTP/1.1\r\nHost: " + OwnHost() +
                                             "\r\n\r\n");
        QVERIFY2(absolute.startsWith("HTTP/1.1 403 "), absolute.constData());
        const QByteArray nonsense = Exchange("hello there\r\n\r\n");
        QVERIFY2(nonsense.startsWith("HTTP/1.1 400 ") && nonsense.contains("<h1>Bad request</h1>"), nonsense.constData());
    }

    void typesCharsetsAndFolders()
    {
        const std::pair<const char*, const char*> types[] = {
            {"/index.html", "text/html; charset=utf-8"},      {"/old.htm", "text/html; charset=windows-1252"},
            {"/declared.html", "text/html"},                  {"/forum/view.php", "text/html; charset=utf-8"},
            {"/notes/README", "text/html"},                    {"/subs/en.vtt", "text/vtt"},
            {"/sub/", "text/html; charset=utf-8"}};
        for (const auto& [path, type] : types) {
            QNetworkReply* reply = Get(path);
            QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
            QVERIFY2(reply->rawHeader("Content-Type") == type, path);
        }
        QCOMPARE(Get("/sub/")->readAll(), QByteArray("<p>sub caf\xC3\xA9</p>"));
        QNetworkRequest range = Request("/old.htm");
        range.setRawHeader("Range", "bytes=3-5");
        QNetworkReply* part = Finished(network_.get(range));
        QCOMPARE(part->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 206);
        QCOMPARE(part->readAll(), QByteArray("caf"));

        // A folder named without its final "/" is sent there, query and all.
        const QByteArray moved = Exchange("GET /sub?x=1 HTTP/1.1\r\nHost: " + OwnHost() + "\r\n\r\n");
        QVERIFY2(moved.startsWith("HTTP/1.1 302 ") && moved.contains("\r\nLocation: /sub/?x=1\r\n"),
                 moved.constData());
        QVERIFY(Get("/forum/")->readAll().contains("This file holds no page named \"forum\"."));
    }

    void aSignalLeavesNoTemporaryFolder_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void aSignalLeavesNoTemporaryFolder()
    {
        QFETCH(int, signal);
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        // Left by viewers that crashed: one with a pid nobody has, one with
        // a pid given since to a live process (this one); and the folder of
        // a viewer still running, which holds its lock.
        QProcess gone;
        gone.start("true");
        QVERIFY(gone.waitForStarted());
        const qint64 goneId = gone.processId();
        QVERIFY(gone.waitForFinished());
        const QString dead = tmp.filePath(QStringLiteral("quorvane-view-%1-aB3dE9").arg(goneId));
        const QString reused = tmp.filePath(QStringLiteral("quorvane-view-%1-Zz0123").arg(::getpid()));
        const QString running = tmp.filePath(QStringLiteral("quorvane-view-%1-Run123").arg(::getpid()));
        for (const QString& folder : {dead, reused, running})
            WriteBytes(folder + "/1/report.pdf", "%PDF-1.4");
        const int lock = ::open(QFile::encodeName(running).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        QVERIFY(lock >= 0 && ::flock(lock, LOCK_EX | LOCK_NB) == 0);

        QProcess viewer;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", tmp.path());
        viewer.setProcessEnvironment(env);
        QSignalSpy said(&viewer, &QProcess::readyReadStandardError);
        viewer.start(QStringLiteral(QV_VIEW_BINARY), {output_});
        QVERIFY(viewer.waitForStarted());
        const qint64 id = viewer.processId();
        // The warning comes once the window is up and the signals are ours.
        QByteArray errors;
        while (!errors.contains(kSandboxWarning) && viewer.state() == QProcess::Running) {
            QVERIFY(said.wait(60000));
            errors += viewer.readAllStandardError();
        }
        const QStringList own =
            QDir(tmp.path()).entryList({QStringLiteral("quorvane-view-%1-*").arg(id)}, QDir::Dirs);
        QVERIFY2(own.size() == 1, errors.constData());
        const QString folder = tmp.filePath(own[0]);
        // Swept before the viewer made its own.
        QVERIFY(!QFile::exists(dead));
        QVERIFY(!QFile::exists(reused));
        QVERIFY(QFile::exists(running + "/1/report.pdf"));
        WriteBytes(folder + "/3/handed.zip", "PK");

        QCOMPARE(::kill(static_cast<pid_t>(id), signal), 0);
        QVERIFY(viewer.waitForFinished(60000));
        QCOMPARE(viewer.exitStatus(), QProcess::NormalExit);
        QCOMPARE(viewer.exitCode(), 128 + signal);
        QVERIFY(!QFile::exists(folder));
        QVERIFY(QFile::exists(running + "/1/report.pdf"));
        ::close(lock);

        // Run as root in the tests, so without the sandbox: said once.
        errors += viewer.readAllStandardError();
        QCOMPARE(errors.count(kSandboxWarning), 1);
    }
};

QTEST_GUILESS_MAIN(PageServerTest)
#include "page_server_test.moc"
