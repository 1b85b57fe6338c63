// quorvane-view through its real window and pages, in one process (Qt
// WebEngine starts once), on outputs made by the real build job.
#include "TestSite.h"
#include "ViewTestSupport.h"

#include "NetworkWall.h"
#include "OutputWatcher.h"
#include "PageServer.h"
#include "Viewer.h"
#include "ViewerPage.h"
#include "ViewerWindow.h"

#include "quorvane/archive/ArchiveFile.h"
#include "quorvane/project/ProjectFile.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMimeData>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTcpSocket>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QWebEngineFindTextResult>
#include <QWebEngineView>

#include <cstdio>
#include <memory>

using namespace qv::view;

class ViewWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir temp_;
    QString site_;
    QByteArray clip_;
    QByteArray zip_;
    ScriptedViewDialogs dialogs_;
    RecordingShell shell_;
    std::unique_ptr<Viewer> viewer_;
    QList<ServedRequest> served_;
    LoopbackListener listener_;
    QString hostile_;

    ViewerWindow* Open(const QString& output, int expectedStatus = Viewer::kRunning)
    {
        viewer_.reset();
        dialogs_.asked.clear();
        shell_.opened.clear();
        served_.clear();
        viewer_ = std::make_unique<Viewer>(ViewServices{dialogs_, shell_});
        const int status = viewer_->Start({output});
        if (status != expectedStatus) {
            qWarning("Start gave %d", status);
            return nullptr;
        }
        ViewerWindow* window = viewer_->Window();
        if (window)
            connect(&window->Server(), &PageServer::Served, this, [this](const ServedRequest& r) { served_ << r; },
                    Qt::QueuedConnection);
        return window;
    }

    // Open, once the home page has loaded.
    ViewerWindow* OpenAtHome(const QString& output)
    {
        ViewerWindow* w = Open(output);
        return w && WaitForPage(PageOf(w), "/index.html") ? w : nullptr;
    }

    // An output of the test site with the settings changed by `adjust`.
    QString Output(const QString& name, const std::function<void(qv::ProjectSettingsRecord&)>& adjust = {})
    {
        const QString output = temp_.filePath(name);
        if (!BuildOutput(site_, "index.html", output, adjust))
            qFatal("the site was not built");
        return output;
    }

    QWebEnginePage* PageOf(ViewerWindow* w) { return w->View()->page(); }
    QWidget* InternetBar(ViewerWindow* w) { return w->findChild<QWidget*>("internetbar"); }
    QByteArray Port() const { return QByteArray::number(listener_.Port()); }
    QWidget* Keys(ViewerWindow* w) { return w->View()->focusProxy(); }

    // The centre of an element, scrolled into view, in the view's pixels.
    QPoint PointOf(ViewerWindow* w, const char* id)
    {
        const QVariantList at = RunJs(PageOf(w), QStringLiteral(R"((() => {
              const e = document.getElementById('%1'); e.scrollIntoView({block: 'center'});
              const r = e.getBoundingClientRect(); return [r.left + r.width / 2, r.top + r.height / 2]; })())")
                                                      .arg(id))
                                    .toList();
        const double zoom = w->View()->zoomFactor();
        return at.size() == 2 ? QPoint(int(at[0].toDouble() * zoom), int(at[1].toDouble() * zoom)) : QPoint(-1, -1);
    }

    // A click of the mouse on an element, as a user's: the page sees a
    // user gesture, which history and external links ask for.
    bool Click(ViewerWindow* w, const char* id)
    {
        const QPoint at = PointOf(w, id);
        if (at.x() < 0 || !Keys(w))
            return false;
        QTest::mouseClick(Keys(w), Qt::LeftButton, {}, at);
        return true;
    }

    // Every setting that can be switched off, off.
    static void Restricted(qv::ProjectSettingsRecord& s)
    {
        s.ShowToolbar = false;
        s.ShowStatusbar = false;
        s.EnableCopy = false;
        s.EnableSearch = false;
        s.EnablePrint = false;
        s.EnableFont = false;
        s.ContextMenu = false;
        s.HideScrollbars = true;
        s.BorderType = 1;
        s.ViewWidth = 620;
        s.ViewHeight = 410;
    }

    // What the clipboard holds after Ctrl+C on a page whose text is all
    // selected. A page that copies does so while handling the key, before
    // it answers a script sent after the key.
    QString CopiedByKeys(ViewerWindow* w, bool expectCopy)
    {
        QApplication::clipboard()->setText(QStringLiteral("before"));
        RunJs(PageOf(w), "document.execCommand('selectAll'); true");
        w->View()->setFocus();
        QTest::keyClick(Keys(w), Qt::Key_C, Qt::ControlModifier);
        RunJs(PageOf(w), "true");
        if (expectCopy && !QTest::qWaitFor([] { return QApplication::clipboard()->text() != "before"; }, 20000))
            qWarning("nothing was copied");
        return QApplication::clipboard()->text();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(temp_.isValid());
        qputenv("XDG_CONFIG_HOME", temp_.filePath("config").toUtf8());
        listener_.body = ImageBytes(20, 10, "PNG");
        listener_.type = "image/png";
        QVERIFY(listener_.Start());
        hostile_ = temp_.filePath("hostile");
        WriteBytes(hostile_ + "/index.html", QByteArray(kHostile).replace("PORT", Port()));
        WriteBytes(hostile_ + "/internet.html", QByteArray(kInternetPage).replace("PORT", Port()));
        WriteBytes(hostile_ + "/files/payload.desktop", "[Desktop Entry]\nType=Application\nExec=touch /tmp/owned\n");
        WriteBytes(hostile_ + "/docs/guide.pdf", PdfBytes("Packed guide"));
        WriteBytes(hostile_ + "/downloads/setup.exe", "MZ not packed");
        site_ = temp_.filePath("site");
        WriteBytes(site_ + "/index.html", kHome);
        WriteBytes(site_ + "/pages/sub page.html", kSubPage);
        WriteBytes(site_ + QString::fromUtf8("/caf\xC3\xA9.html"),
                   "<html><head><title>Caf\xC3\xA9</title><meta charset='utf-8'></head><body>menu</body></html>");
        WriteBytes(site_ + "/untitled.html", "<html><body>no title here</body></html>");
        WriteBytes(site_ + "/find.html", "<html><head><title>Find</title></head>"
                                         "<body><p>alpha beta alpha gamma alpha</p></body></html>");
        WriteBytes(site_ + "/css/site.css", "body { color: rgb(1, 2, 3); } #pic { width: 40px; }");
        WriteBytes(site_ + "/js/app.js", "document.addEventListener('DOMContentLoaded', () => "
                                         "document.body.dataset.script = 'ran');");
        WriteBytes(site_ + "/images/pic.png", ImageBytes(20, 10, "PNG"));
        WriteBytes(site_ + "/data/info.json", R"({"answer": 42})");
        WriteBytes(site_ + "/media/clip.webm", NoiseBytes(300000, 7));
        WriteBytes(site_ + "/docs/guide.pdf", PdfBytes("Packed guide"));
        WriteBytes(site_ + "/downloads/setup.exe", "MZ not packed");
        WriteBytes(site_ + "/forum/topic.php", kScriptPage);
        WriteBytes(site_ + "/notes/README", "\n<!doctype html><p>saved notes</p>");
        WriteBytes(site_ + "/css/root.css", "h1 { color: rgb(4, 5, 6); }");
        WriteBytes(site_ + "/other.html", "<title>Other</title><p>other page</p>");
        WriteBytes(site_ + "/docs/index.htm", "<title>Docs</title><img id='pic' src='../images/pic.png'>");
        WriteBytes(temp_.filePath("logo.ico"), ImageBytes(32, 32, "ICO"));
        clip_ = NoiseBytes(300000, 7);
        zip_ = "PK\x03\x04" + NoiseBytes(5000, 9);
        WriteBytes(site_ + "/files/data.zip", zip_);
    }

    void cleanup() { viewer_.reset(); }

    void pagesWorkAsOnAWebServer()
    {
        const QString output = Output("site.qpf", [this](qv::ProjectSettingsRecord& s) {
            s.ViewWidth = 700;
            s.ViewHeight = 500;
            s.Centered = true;
            s.LogoPath = temp_.filePath("logo.ico").toStdString();
            s.UserAgent = "QuorvaneTest/1.0";
        });
        ViewerWindow* w = OpenAtHome(output);
        QVERIFY(w);
        QWebEnginePage* page = PageOf(w);
        QCOMPARE(w->windowTitle(), QStringLiteral("Home page"));
        QCOMPARE(w->size(), QSize(700, 500));
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY((w->geometry().center() - screen.center()).manhattanLength() <= 2);
        QVERIFY(!w->windowIcon().isNull());
        QCOMPARE(w->windowIcon().availableSizes().value(0), QSize(32, 32));

        QCOMPARE(RunJs(page, "getComputedStyle(document.body).color").toString(), QStringLiteral("rgb(1, 2, 3)"));
        QVERIFY(WaitJs(page, "document.getElementById('pic').naturalWidth", 20));
        QCOMPARE(RunJs(page, "document.body.dataset.script").toString(), QStringLiteral("ran"));
        RunJs(page, "window.__x = undefined; var q = new XMLHttpRequest(); q.open('GET', 'data/info.json');"
                    "q.onload = () => window.__x = JSON.parse(q.responseText).answer; q.send(); true");
        QVERIFY(WaitJs(page, "window.__x", 42));
        RunJs(page, "window.__f = undefined; fetch('data/info.json').then(r => r.json())"
                    ".then(j => window.__f = j.answer); true");
        QVERIFY(WaitJs(page, "window.__f", 42));
        QCOMPARE(RunJs(page, "navigator.userAgent").toString(), QStringLiteral("QuorvaneTest/1.0"));
        QTRY_VERIFY(!served_.isEmpty());
        QCOMPARE(served_.first().userAgent, QByteArray("QuorvaneTest/1.0"));

        // A seek in a packed video is a byte range of its entry.
        RunJs(page, FetchScript("media/clip.webm", "bytes=100000-100999"));
        QVERIFY(WaitJs(page, "window.__r",
                       QStringLiteral("206 bytes 100000-100999/300000 1000 ") + Sum(clip_.mid(100000, 1000))));
        RunJs(page, FetchScript("media/clip.webm", "bytes=-10"));
        QVERIFY(WaitJs(page, "window.__r", QStringLiteral("206 bytes 299990-299999/300000 10 ") + Sum(clip_.right(10))));
        RunJs(page, FetchScript("media/clip.webm", ""));
        QVERIFY(WaitJs(page, "window.__r", QStringLiteral("200 - 300000 ") + Sum(clip_)));
        RunJs(page, FetchScript("media/clip.webm", "bytes=300000-"));
        QVERIFY(WaitJs(page, "window.__r", QStringLiteral("416 bytes */300000 0 0")));
        // The viewer's own entries are no pages.
        RunJs(page, FetchScript("-config-", ""));
        QVERIFY(WaitJs(page, "window.__r.split(' ')[0]", QStringLiteral("404")));

        // Without the token nothing is served.
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, w->Server().UrlOf("/").port());
        probe.write("GET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        QByteArray answer;
        QVERIFY(QTest::qWaitFor([&] {
            answer += probe.readAll();
            return probe.state() == QAbstractSocket::UnconnectedState;
        }, 10000));
        QVERIFY2(answer.startsWith("HTTP/1.1 403"), answer.constData());
        QVERIFY2(answer.contains("\r\nContent-Security-Policy: default-src 'self' 'unsafe-inline' 'unsafe-eval' data: "
                                 "blob:\r\n"),
                 answer.constData());
    }

    void linksFragmentsAndMissingPages()
    {
        ViewerWindow* w = OpenAtHome(Output("links.qpf"));
        QVERIFY(w);
        QWebEnginePage* page = PageOf(w);

        QVERIFY(Click(w, "sub"));
        QVERIFY(WaitForPage(page, "/pages/sub%20page.html"));
        QTRY_COMPARE(w->windowTitle(), QStringLiteral("Sub page"));
        QVERIFY(WaitJs(page, "document.getElementById('pic').naturalWidth", 20));
        QCOMPARE(RunJs(page, "getComputedStyle(document.body).color").toString(), QStringLiteral("rgb(1, 2, 3)"));
        w->findChild<QAction*>("back")->trigger();
        QVERIFY(WaitForPage(page, "/index.html"));
        QTest::keyClick(Keys(w), Qt::Key_Right, Qt::AltModifier);
        QVERIFY(WaitForPage(page, "/pages/sub%20page.html"));
        QTest::keyClick(Keys(w), Qt::Key_Left, Qt::AltModifier);
        QVERIFY(WaitForPage(page, "/index.html"));
        QVERIFY(Click(w, "sub"));
        QVERIFY(WaitForPage(page, "/pages/sub%20page.html"));
        w->View()->setFocus();
        QTest::keyClick(Keys(w), Qt::Key_Backspace);
        QVERIFY(WaitForPage(page, "/index.html"));

        QVERIFY(Click(w, "cafe"));
        QVERIFY(WaitForPage(page, "/caf%C3%A9.html"));
        QTRY_COMPARE(w->windowTitle(), QString::fromUtf8("Caf\xC3\xA9"));
        w->findChild<QAction*>("home")->trigger();
        QVERIFY(WaitForPage(page, "/index.html"));

        QVERIFY(Click(w, "frag"));
        QTRY_COMPARE(page->url().fragment(), QStringLiteral("end"));
        QVERIFY(WaitJs(page, "window.scrollY > 2000", true));

        QVERIFY(Click(w, "missing"));
        QVERIFY(WaitForPage(page, "/nothing/here.html"));
        QCOMPARE(RunJs(page, "document.body.innerText").toString(),
                 QStringLiteral("Not found\n\nThis file holds no page named \"nothing/here.html\"."));
        QTRY_VERIFY(std::any_of(served_.begin(), served_.end(), [](const ServedRequest& r) {
            return r.addressPath == "/nothing/here.html" && r.status == 404;
        }));

        // A page without a title keeps the output's name as the caption.
        page->load(w->Server().UrlOf("/untitled.html"));
        QVERIFY(WaitForPage(page, "/untitled.html"));
        QCOMPARE(w->windowTitle(), QStringLiteral("links.qpf"));
        QTest::keyClick(Keys(w), Qt::Key_F5);
        QVERIFY(WaitForPage(page, "/untitled.html"));
    }

    void theSiteIsServedAtTheRootOfItsOwnOrigin()
    {
        ViewerWindow* w = OpenAtHome(Output("root.qpf"));
        QVERIFY(w);
        QWebEnginePage* page = PageOf(w);
        page->load(w->Server().UrlOf("/forum/topic.php"));
        QVERIFY(WaitForPage(page, "/forum/topic.php"));
        // An origin of its own that the engine counts secure, for the
        // clipboard and the like.
        QCOMPARE(RunJs(page, "location.origin").toString(),
                 QStringLiteral("http://%1:%2").arg(w->Server().HostName()).arg(w->Server().serverPort()));
        QCOMPARE(RunJs(page, "window.isSecureContext").toBool(), true);
        QCOMPARE(RunJs(page, "document.querySelector('h1').textContent").toString(), QString::fromUtf8("Caf\xC3\xA9 menu"));
        QCOMPARE(RunJs(page, "getComputedStyle(document.querySelector('h1')).color").toString(),
                 QStringLiteral("rgb(4, 5, 6)"));
        QVERIFY(WaitJs(page, "document.getElementById('logo').naturalWidth", 20));

        QVERIFY(Click(w, "other"));
        QVERIFY(WaitForPage(page, "/other.html"));
        QTRY_COMPARE(w->windowTitle(), QStringLiteral("Other"));
        page->triggerAction(QWebEnginePage::Back);
        QVERIFY(WaitForPage(page, "/forum/topic.php"));
        // A folder without its final "/" shows its page, whose relative
        // references then resolve inside it.
        QVERIFY(Click(w, "folder"));
        QVERIFY(WaitForPage(page, "/docs/"));
        QTRY_COMPARE(w->windowTitle(), QStringLiteral("Docs"));
        QVERIFY(WaitJs(page, "document.getElementById('pic').naturalWidth", 20));
        page->triggerAction(QWebEnginePage::Back);
        QVERIFY(WaitForPage(page, "/forum/topic.php"));
        // A form with more than the server reads with the request's head.
        RunJs(page, "document.querySelector('input').value = 'x'.repeat(4 << 20); true");
        QVERIFY(Click(w, "send"));
        QVERIFY(WaitJs(page, "!!document.body && document.body.innerText.startsWith('Form not sent')", true));
        QVERIFY(shell_.opened.isEmpty());
        QVERIFY(dialogs_.asked.empty());
        QTRY_VERIFY(std::any_of(served_.begin(), served_.end(), [](const ServedRequest& r) {
            return r.method == "POST" && r.status == 405;
        }));
    }

    void otherAddressesGoToTheDesktopAfterAClick()
    {
        ViewerWindow* w = OpenAtHome(Output("external.qpf"));
        QVERIFY(w);
        QWebEnginePage* page = PageOf(w);
        const QUrl home = page->url();
        // The file beside the output opens only once the box is confirmed.
        dialogs_.confirms = {false, true};
        struct Step {
            const char* id;
            qsizetype opened;
            size_t asked;
        };
        for (const Step step : {Step{"ext", 1, 0}, {"mail", 2, 0}, {"blank", 3, 0}, {"direct", 3, 1}, {"direct", 4, 2}}) {
            QVERIFY(Click(w, step.id));
            QTRY_COMPARE_WITH_TIMEOUT(dialogs_.asked.size(), step.asked, 20000);
            QTRY_COMPARE_WITH_TIMEOUT(shell_.opened.size(), step.opened, 20000);
        }
        QCOMPARE(shell_.opened, QList<QUrl>({QUrl("https://example.com/x?y=1"), QUrl("mailto:someone@example.com"),
                                             QUrl("https://example.org/"),
                                             QUrl::fromLocalFile(temp_.filePath("downloads/setup.exe"))}));
        for (const auto& asked : dialogs_.asked) {
            QCOMPARE(asked.kind, QStringLiteral("confirm"));
            QVERIFY2(asked.text.startsWith("Open \"downloads/setup.exe\" with ") &&
                         asked.text.contains("in the folder of the file you are viewing"),
                     qPrintable(asked.text));
        }
        QCOMPARE(page->url(), home);
        QVERIFY(!std::any_of(served_.begin(), served_.end(), [](const ServedRequest& r) {
            return r.addressPath.contains("setup.exe");
        }));
    }

    void packedFilesChromiumCannotShowGoThroughATemporaryCopy()
    {
        ViewerWindow* w = OpenAtHome(Output("files.qpf"));
        QVERIFY(w);
        QWebEnginePage* page = PageOf(w);
        dialogs_.confirms = {true};
        QVERIFY(Click(w, "zip"));
        QTRY_COMPARE_WITH_TIMEOUT(shell_.opened.size(), 1, 20000);
        QCOMPARE(dialogs_.Kinds(), QStringList{"confirm"});
        QVERIFY(dialogs_.asked[0].text.contains("\"files/data.zip\""));
        QVERIFY(dialogs_.asked[0].text.contains("packed in the file you are viewing"));
        const QString copy = shell_.opened[0].toLocalFile();
        QCOMPARE(QFileInfo(copy).fileName(), QStringLiteral("data.zip"));
        QCOMPARE(ReadBytes(copy), zip_);
        viewer_.reset();
        QVERIFY(!QFile::exists(copy));

        // A PDF shows in the view's own PDF viewer.
        w = OpenAtHome(temp_.filePath("files.qpf"));
        QVERIFY(w);
        page = PageOf(w);
        QVERIFY(Click(w, "guide"));
        QVERIFY(WaitForPage(page, "/docs/guide.pdf"));
        QVERIFY(WaitJs(page, "document.querySelector('embed').type", QStringLiteral("application/pdf")));
        QVERIFY(shell_.opened.isEmpty());

        // A page is shown here even when a link asks to save it.
        page->triggerAction(QWebEnginePage::Back);
        QVERIFY(WaitForPage(page, "/index.html"));
        QVERIFY(Click(w, "saved"));
        QVERIFY(WaitForPage(page, "/notes/README"));
        QCOMPARE(RunJs(page, "document.body.innerText").toString(), QStringLiteral("saved notes"));
        QVERIFY(shell_.opened.isEmpty());
        QVERIFY(dialogs_.asked.empty());
    }

    void aPageWithoutAClickReachesNothing()
    {
        const QString output = temp_.filePath("hostile.qpf");
        QVERIFY(BuildOutput(hostile_, "index.html", output));
        WriteBytes(temp_.filePath("downloads/setup.exe"), "MZ beside");
        listener_.connections = 0;
        ViewerWindow* w = Open(output);
        QVERIFY(w);
        QWebEnginePage* page = PageOf(w);
        QStringList said;
        connect(w->statusBar(), &QStatusBar::messageChanged, this, [&said](const QString& m) { said << m; });
        QVERIFY(WaitJs(page, "window.__done", QStringList(15, "refused").join(' ')));
        // Each way out is refused in the browser process, after the page's
        // part of it has ended: wait for the refusals themselves.
        for (const char* refused : {"files/payload.desktop", "docs/guide.pdf", "downloads/setup.exe", "/away"})
            QTRY_VERIFY2_WITH_TIMEOUT(said.filter(refused).size() == 1, refused, 20000);
        QTRY_VERIFY(InternetBar(w)->isVisible());
        QVERIFY(shell_.opened.isEmpty());
        QVERIFY(dialogs_.asked.empty());
        QCOMPARE(listener_.connections, 0);
        QVERIFY(page->url().path().endsWith("/index.html"));

        // Clicked, a packed program is still not handed over.
        QVERIFY(Click(w, "payload"));
        QVERIFY(WaitJs(page, "document.body.innerText.includes('\"files/payload.desktop\" is a program')", true));
        QVERIFY(shell_.opened.isEmpty());
        QVERIFY(dialogs_.asked.empty());
    }

    void theInternetOnlyWhenTheReaderAllowsIt()
    {
        const QString output = temp_.filePath("internet.qpf");
        QVERIFY(BuildOutput(hostile_, "internet.html", output));
        listener_.connections = 0;
        listener_.heads.clear();
        auto open = [&] {
            ViewerWindow* w = Open(output);
            return w && WaitForPage(PageOf(w), "/internet.html") ? w : nullptr;
        };
        ViewerWindow* w = open();
        QVERIFY(w);
        QTRY_VERIFY(InternetBar(w)->isVisible());
        QVERIFY(WaitJs(PageOf(w), "window.__local", QStringLiteral("refused refused")));
        QCOMPARE(RunJs(PageOf(w), "document.getElementById('net').naturalWidth").toInt(), 0);
        QCOMPARE(listener_.connections, 0);

        // Allowed, the internet loads; this machine stays out of reach.
        w->findChild<QPushButton*>("allowonce")->click();
        QVERIFY(WaitJs(PageOf(w), "document.getElementById('net').naturalWidth", 20));
        QVERIFY(WaitJs(PageOf(w), "window.__local", QStringLiteral("refused refused")));
        QVERIFY(!InternetBar(w)->isVisible());
        QVERIFY(!listener_.heads.isEmpty());
        for (const QByteArray& head : listener_.heads)
            QVERIFY2(head.contains("\r\nHost: internet.test:" + Port() + "\r\n"), head.constData());

        // Once is for this run; always is for this file from now on.
        w = open();
        QVERIFY(w);
        QTRY_VERIFY(InternetBar(w)->isVisible());
        w->findChild<QPushButton*>("allowalways")->click();
        QVERIFY(WaitJs(PageOf(w), "document.getElementById('net').naturalWidth", 20));
        w = open();
        QVERIFY(w);
        QVERIFY(WaitJs(PageOf(w), "document.getElementById('net').naturalWidth", 20));
        QVERIFY(!InternetBar(w)->isVisible());
        QVERIFY(ReadBytes(temp_.filePath("config/quorvane-view/outputs.ini"))
                    .contains(QFileInfo(output).canonicalFilePath().toUtf8()));
    }

    void onlyTheInternetIsTheInternet()
    {
        const auto own = [](const QUrl& url) { return url.port() == 4242 && url.host() == "token.localhost"; };
        for (const char* local :
             {"http://127.0.0.1:4242/", "http://other.localhost:4242/", "http://token.localhost:4243/",
              "http://127.0.0.1:8080/", "http://127.9.9.9/", "ws://127.0.0.1:4243/", "http://localhost/",
              "https://Foo.LOCALHOST./", "http://[::1]:80/", "http://[::ffff:7f00:1]/", "http://[::ffff:10.1.2.3]/",
              "http://10.0.0.1/", "http://172.16.5.5/", "http://172.31.255.255/", "http://192.168.1.1/",
              "http://169.254.169.254/latest", "http://[fe80::1]/", "http://[fd12::1]/", "http://0.0.0.0:631/",
              "http://printer/", "http://nas.local/", "wss://router.home.arpa/", "ftp://example.com/"})
            QVERIFY2(ReachOf(QUrl(local), own) == Reach::Local, local);
        for (const char* internet : {"https://example.com/a.png", "http://172.32.0.1/", "http://8.8.8.8/",
                                     "wss://internet.test:9/", "http://[2001:db8::1]/", "http://192.169.0.1/"})
            QVERIFY2(ReachOf(QUrl(internet), own) == Reach::Internet, internet);
        QVERIFY(ReachOf(QUrl("http://token.localhost:4242/x.html"), own) == Reach::Own);
        for (const char* inside : {"data:text/plain,x", "blob:http://token.localhost:4242/1", "about:blank"})
            QVERIFY2(ReachOf(QUrl(inside), own) == Reach::NotNetwork, inside);
    }

    void aDamagedEntryGivesAnErrorPage()
    {
        const QString output = Output("damaged.qpf");
        {
            qv::ArchiveFile archive(output.toStdString());
            const int css = archive.Reader().IndexOf("css\\site.css");
            QVERIFY(css >= 0);
            QFile f(output);
            QVERIFY(f.open(QIODevice::ReadWrite));
            f.seek(archive.Reader().Entry(css).Offset + 5);
            const char b = f.read(1)[0];
            f.seek(archive.Reader().Entry(css).Offset + 5);
            f.write(QByteArray(1, static_cast<char>(b ^ 0x55)));
        }
        ViewerWindow* w = OpenAtHome(output);
        QVERIFY(w);
        QWebEnginePage* page = PageOf(w);
        RunJs(page, "window.__t = undefined; fetch('css/site.css').then(async r => "
                    "window.__t = r.status + ' ' + (await r.text()).includes('Damaged page')); true");
        QVERIFY(WaitJs(page, "window.__t", QStringLiteral("500 true")));
        QVERIFY(RunJs(page, "getComputedStyle(document.body).color").toString() != QStringLiteral("rgb(1, 2, 3)"));
    }

    void everyCommandWhereAllowed()
    {
        ViewerWindow* w = OpenAtHome(Output("commands.qpf"));
        QVERIFY(w);
        QWebEnginePage* page = PageOf(w);
        auto* toolbar = w->findChild<QToolBar*>("toolbar");
        QVERIFY(toolbar->isVisible());
        QCOMPARE(toolbar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QStringList names;
        for (QAction* a : toolbar->actions())
            names << a->objectName();
        QCOMPARE(names, QStringList({"back", "forward", "home", "print", "find", "textsize", "copy"}));
        QVERIFY(w->statusBar()->isVisible());
        QCOMPARE(w->findChild<QLabel*>("loadstate")->text(), QStringLiteral("Done"));
        QTest::mouseMove(Keys(w), PointOf(w, "sub"));
        QTRY_COMPARE(w->findChild<QLabel*>("statuslink")->text(), QStringLiteral("pages/sub page.html"));
        QVERIFY(RunJs(page, "window.innerWidth - document.documentElement.clientWidth").toInt() > 0);

        // The drop-downs list their entries, not their own button.
        const auto entries = [w, toolbar](const char* name) {
            auto* button = qobject_cast<QToolButton*>(toolbar->widgetForAction(w->findChild<QAction*>(name)));
            QStringList texts;
            for (QAction* a : button && button->menu() ? button->menu()->actions() : QList<QAction*>())
                texts << a->text() + (a->menu() ? ">" : "");
            return texts;
        };
        QCOMPARE(entries("print"), QStringList({"Print...", "Print to PDF..."}));
        QCOMPARE(entries("textsize"), QStringList({"Bigger", "Smaller", "Normal"}));

        // Text size, kept from page to page.
        w->View()->setFocus();
        QTest::keyClick(Keys(w), Qt::Key_Plus, Qt::ControlModifier);
        QTest::keyClick(Keys(w), Qt::Key_Equal, Qt::ControlModifier);
        QCOMPARE(w->TextZoom(), 1.25);
        QVERIFY(WaitJs(page, "Math.round(window.devicePixelRatio * 100)", 125));
        QVERIFY(Click(w, "sub"));
        QVERIFY(WaitForPage(page, "/pages/sub%20page.html"));
        QVERIFY(WaitJs(page, "Math.round(window.devicePixelRatio * 100)", 125));
        QTest::keyClick(Keys(w), Qt::Key_Minus, Qt::ControlModifier);
        QVERIFY(WaitJs(page, "Math.round(window.devicePixelRatio * 100)", 110));
        QTest::keyClick(Keys(w), Qt::Key_0, Qt::ControlModifier);
        QVERIFY(WaitJs(page, "Math.round(window.devicePixelRatio * 100)", 100));
        w->findChild<QAction*>("home")->trigger();
        QVERIFY(WaitForPage(page, "/index.html"));

        // Copy, by key and by the button; the context menu offers it.
        QVERIFY(CopiedByKeys(w, true).contains("Welcome"));
        QApplication::clipboard()->setText("before");
        w->findChild<QAction*>("copy")->trigger();
        QTRY_VERIFY(QApplication::clipboard()->text().contains("apple pear"));
        QTest::mouseClick(Keys(w), Qt::RightButton, {}, PointOf(w, "words"));
        QTRY_VERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget()));
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu->actions().contains(page->action(QWebEnginePage::Copy)));
        QVERIFY(!menu->actions().contains(page->action(QWebEnginePage::ViewSource)));
        menu->close();

        // Print, and print to PDF; pdftotext reads back what was printed.
        const QString printed = temp_.filePath("printed.pdf");
        dialogs_.printAnswer = [&](QPrinter& printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setResolution(96); // the pages are pictures: keep them small
            printer.setOutputFileName(printed);
            return true;
        };
        QSignalSpy printDone(w->View(), &QWebEngineView::printFinished);
        QTest::keyClick(Keys(w), Qt::Key_P, Qt::ControlModifier);
        QVERIFY(printDone.wait(60000));
        QCOMPARE(printDone.first().first().toBool(), true);
        dialogs_.pdfAnswer = temp_.filePath("page.pdf");
        QSignalSpy pdfDone(page, &QWebEnginePage::pdfPrintingFinished);
        w->findChild<QAction*>("printpdf")->trigger();
        QVERIFY(pdfDone.wait(60000));
        QCOMPARE(dialogs_.Kinds(), QStringList({"print", "pdf"}));
        QVERIFY(ReadBytes(printed).startsWith("%PDF-"));
        QVERIFY(ReadBytes(dialogs_.pdfAnswer).startsWith("%PDF-"));
        // The printer gets the pages as pictures; the PDF keeps the text.
        if (!QString(QV_PDFTOTEXT).isEmpty()) {
            QProcess text;
            text.start(QV_PDFTOTEXT, {dialogs_.pdfAnswer, "-"});
            QVERIFY(text.waitForFinished(30000));
            const QByteArray words = text.readAllStandardOutput();
            QVERIFY2(words.contains("apple pear apple"), words.constData());
        }
    }

    void disallowedCommandsAndTheirKeysDoNothing()
    {
        ViewerWindow* w = OpenAtHome(Output("restricted.qpf", Restricted));
        QVERIFY(w);
        QWebEnginePage* page = PageOf(w);
        QVERIFY(!w->findChild<QToolBar*>("toolbar")->isVisible());
        QVERIFY(!w->statusBar()->isVisible());
        for (const char* name : {"print", "printpdf", "find", "findnext", "findprevious", "textsize", "bigger", "copy"})
            QVERIFY2(!w->findChild<QAction*>(name), name);
        QCOMPARE(w->minimumSize(), QSize(620, 410));
        QCOMPARE(w->maximumSize(), QSize(620, 410));
        QCOMPARE(RunJs(page, "window.innerWidth - document.documentElement.clientWidth").toInt(), 0);

        w->View()->setFocus();
        QTest::keyClick(Keys(w), Qt::Key_F, Qt::ControlModifier);
        QTest::keyClick(Keys(w), Qt::Key_P, Qt::ControlModifier);
        QTest::keyClick(Keys(w), Qt::Key_Plus, Qt::ControlModifier);
        RunJs(page, "window.print(); true");
        QCOMPARE(CopiedByKeys(w, false), QStringLiteral("before"));
        QTest::mouseClick(Keys(w), Qt::RightButton, {}, PointOf(w, "words"));
        RunJs(page, "true");
        QTest::keyClick(Keys(w), Qt::Key_F3);
        QVERIFY(!w->findChild<QWidget*>("findbar"));
        QVERIFY(dialogs_.asked.empty());
        QCOMPARE(w->View()->zoomFactor(), 1.0);
        QCOMPARE(RunJs(page, "window.devicePixelRatio").toDouble(), 1.0);
        QVERIFY(!QApplication::activePopupWidget());
        page->triggerAction(QWebEnginePage::Copy);
        RunJs(page, "true");
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("before"));
    }

    void findBarKeysWorkAsInABrowser()
    {
        ViewerWindow* w = Open(Output("find.qpf"));
        QVERIFY(w);
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        QWebEnginePage* page = PageOf(w);
        page->load(w->Server().UrlOf("/find.html"));
        QVERIFY(WaitForPage(page, "/find.html"));
        auto* bar = w->findChild<QWidget*>("findbar");
        auto* text = w->findChild<QLineEdit*>("findtext");
        auto* count = w->findChild<QLabel*>("findcount");
        // The bar's count, and the engine's own word for it.
        QSignalSpy found(page, &QWebEnginePage::findTextFinished);
        const auto engine = [&found] {
            const auto r = found.isEmpty() ? QWebEngineFindTextResult()
                                           : found.last().first().value<QWebEngineFindTextResult>();
            return QStringLiteral("%1 of %2").arg(r.activeMatch()).arg(r.numberOfMatches());
        };
#define QV_COUNT(shown)                                                                                                \
    QTRY_COMPARE(count->text(), QStringLiteral(shown));                                                                \
    QCOMPARE(engine(), QStringLiteral(shown))

        QTest::keyClick(Keys(w), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(bar->isVisible());
        QVERIFY(text->hasFocus());
        // Typing stays on the match being extended: "a" is the first of
        // nine, "al" the first of three.
        QTest::keyClick(text, Qt::Key_A);
        QV_COUNT("1 of 9");
        QTest::keyClicks(text, "lp");
        QV_COUNT("1 of 3");
        QTest::keyClick(text, Qt::Key_Return);
        QV_COUNT("2 of 3");
        QTest::keyClick(text, Qt::Key_Return);
        QV_COUNT("3 of 3");
        QTest::keyClick(text, Qt::Key_Return, Qt::ShiftModifier);
        QV_COUNT("2 of 3");
        QTest::keyClick(text, Qt::Key_H);
        QV_COUNT("2 of 3");
        // F3 and Shift+F3 from the page too.
        w->View()->setFocus();
        QTest::keyClick(Keys(w), Qt::Key_F3, Qt::ShiftModifier);
        QV_COUNT("1 of 3");
        QTest::keyClick(Keys(w), Qt::Key_F3);
        QV_COUNT("2 of 3");

        // Escape closes the bar; F3 opens it again.
        text->setFocus();
        QTest::keyClick(text, Qt::Key_Escape);
        QVERIFY(!bar->isVisible());
        QVERIFY(count->text().isEmpty());
        QTest::keyClick(Keys(w), Qt::Key_F3);
        QVERIFY(bar->isVisible());
        QTRY_VERIFY(count->text().endsWith(" of 3"));
        QCOMPARE(engine(), count->text());

        // Another page starts without a count.
        page->load(w->Server().UrlOf("/index.html"));
        QVERIFY(WaitForPage(page, "/index.html"));
        QVERIFY(count->text().isEmpty());
        QTest::keyClick(text, Qt::Key_Return);
        QTRY_COMPARE(count->text(), QStringLiteral("No matches"));
        text->setText("apple");
        QV_COUNT("1 of 3");
    }

    void copyMeansCopy()
    {
        QClipboard* clipboard = QApplication::clipboard();
        const bool primary = clipboard->supportsSelection();
        const auto mark = [&] {
            clipboard->setText("before");
            if (primary)
                clipboard->setText("before", QClipboard::Selection);
        };
        // The page's selection once it has had the input events sent so
        // far; the engine takes input apart from scripts.
        const auto selected = [this](ViewerWindow* w, const char* lastInput) {
            if (!WaitJs(PageOf(w), lastInput, true))
                return QStringLiteral("(input not seen)");
            return RunJs(PageOf(w), "window.getSelection().toString()").toString();
        };
        // The text of "words" dragged over with the mouse.
        const auto dragOver = [this, selected](ViewerWindow* w) {
            RunJs(PageOf(w), "window.getSelection().removeAllRanges(); window.__up = window.__a = false;"
                             "addEventListener('mouseup', () => window.__up = true);"
                             "addEventListener('keyup', e => { if (e.key === 'a') window.__a = true; }); true");
            const QPoint middle = PointOf(w, "words");
            const int half = RunJs(PageOf(w), "document.getElementById('words').getBoundingClientRect().width / 2")
                                 .toInt();
            QTest::mousePress(Keys(w), Qt::LeftButton, {}, middle - QPoint(half - 2, 0));
            for (int x = -half + 10; x <= half; x += 10)
                QTest::mouseMove(Keys(w), middle + QPoint(x, 0));
            QTest::mouseRelease(Keys(w), Qt::LeftButton, {}, middle + QPoint(half, 0));
            return selected(w, "window.__up");
        };
        const char* const pageCopies = R"(
            document.addEventListener('copy', e => { e.clipboardData.setData('text/plain', 'planted');
                                                     e.preventDefault(); });
            window.getSelection().selectAllChildren(document.getElementById('words'));
            window.__w = undefined;
            navigator.clipboard.writeText('x').then(() => window.__w = 'written', e => window.__w = e.name);
            document.execCommand('copy'); document.execCommand('cut'); true)";

        ViewerWindow* w = OpenAtHome(Output("nocopy.qpf", [](qv::ProjectSettingsRecord& s) { s.EnableCopy = false; }));
        QVERIFY(w);
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        w->View()->clearFocus();
        mark();
        w->View()->setFocus();
        QVERIFY(dragOver(w).isEmpty());
        QTest::mouseDClick(Keys(w), Qt::LeftButton, {}, PointOf(w, "words"));
        QTest::keyClick(Keys(w), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(selected(w, "window.__a"), QString());
        RunJs(PageOf(w), pageCopies);
        QVERIFY(WaitJs(PageOf(w), "window.__w", QStringLiteral("NotAllowedError")));
        QCOMPARE(RunJs(PageOf(w), "window.getSelection().toString()").toString(),
                 QStringLiteral("apple pear apple plum apple"));
        QCOMPARE(clipboard->text(), QStringLiteral("before"));
        if (primary)
            QCOMPARE(clipboard->text(QClipboard::Selection), QStringLiteral("before"));

        // Allowed, the reader selects and the page's copy buttons work.
        w = OpenAtHome(Output("copy.qpf"));
        QVERIFY(w);
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        w->View()->setFocus();
        mark();
        QCOMPARE(dragOver(w), QStringLiteral("apple pear apple plum apple"));
        if (primary)
            QTRY_COMPARE(clipboard->text(QClipboard::Selection), QStringLiteral("apple pear apple plum apple"));
        RunJs(PageOf(w), "window.__w = undefined;"
                         "navigator.clipboard.writeText('x').then(() => window.__w = 'written', e => window.__w = e.name);"
                         "true");
        QVERIFY(WaitJs(PageOf(w), "window.__w", QStringLiteral("written")));
        QTRY_COMPARE(clipboard->text(), QStringLiteral("x"));
    }

    void bordersAndFullScreen()
    {
        ViewerWindow* w = OpenAtHome(Output("frameless.qpf", [](qv::ProjectSettingsRecord& s) {
            s.BorderType = 0;
            s.ShowCaptions = false;
        }));
        QVERIFY(w);
        QVERIFY(w->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(w->findChild<QToolBar*>("toolbar")->toolButtonStyle(), Qt::ToolButtonIconOnly);
        // Without a frame the keys are the way out.
        QTest::keyClick(Keys(w), Qt::Key_Q, Qt::ControlModifier);
        QTRY_VERIFY(!w->isVisible());

        // A page's full screen has the screen to itself; Escape gives the
        // window back as it was, bars and all.
        const auto bars = [](ViewerWindow* shown) {
            return QList<bool>{shown->findChild<QToolBar*>("toolbar")->isVisible(), shown->statusBar()->isVisible(),
                               shown->findChild<QWidget*>("findbar")->isVisible()};
        };
        const QList<bool> none = {false, false, false};
        w = OpenAtHome(Output("sizable.qpf", [](qv::ProjectSettingsRecord& s) { s.BorderType = 2; }));
        QVERIFY(w);
        QWebEnginePage* page = PageOf(w);
        const QSize size = w->size();
        w->findChild<QAction*>("find")->trigger();
        QCOMPARE(bars(w), QList<bool>({true, true, true}));
        QVERIFY(Click(w, "full"));
        QTRY_VERIFY(w->isFullScreen());
        QVERIFY(WaitJs(page, "document.fullscreenElement === document.documentElement", true));
        QCOMPARE(bars(w), none);
        QTest::keyClick(Keys(w), Qt::Key_Escape);
        QTRY_VERIFY(!w->isFullScreen());
        QVERIFY(WaitJs(page, "document.fullscreenElement", QVariant()));
        QCOMPARE(bars(w), QList<bool>({true, true, true}));
        QTRY_COMPARE(w->size(), size);

        // BorderType 3 is full screen for good; Escape still ends the
        // page's own full screen first.
        w = OpenAtHome(Output("full.qpf", [](qv::ProjectSettingsRecord& s) { s.BorderType = 3; }));
        QVERIFY(w);
        page = PageOf(w);
        QVERIFY(w->isFullScreen());
        QVERIFY(Click(w, "full"));
        QVERIFY(WaitJs(page, "document.fullscreenElement === document.documentElement", true));
        QCOMPARE(bars(w), none);
        QTest::keyClick(Keys(w), Qt::Key_Escape);
        QVERIFY(WaitJs(page, "document.fullscreenElement", QVariant()));
        QCOMPARE(bars(w), QList<bool>({true, true, false}));
        QVERIFY(w->isFullScreen());
        QTest::keyClick(Keys(w), Qt::Key_Escape);
        RunJs(page, "true");
        QVERIFY(w->isFullScreen());
        QCOMPARE(bars(w), QList<bool>({true, true, false}));
    }

    // The output rebuilt under the viewer: a temporary file renamed over
    // it, or the file rewritten in place.
    void aRebuildIsShownOnceItIsComplete()
    {
        const QString folder = temp_.filePath("rebuilt");
        const QString output = temp_.filePath("rebuilt.qpf");
        const QString next = output + ".new";
        auto build = [&](const QByteArray& version, bool secondPage, const QString& to) {
            QDir(folder).removeRecursively();
            WriteBytes(folder + "/index.html", "<html><body><p id='v'>" + version + " home</p></body></html>");
            if (secondPage)
                WriteBytes(folder + "/second.html", "<html><body><p id='v'>" + version + " second</p></body></html>");
            return BuildOutput(folder, "index.html", to);
        };
        auto renameOver = [&](const QString& from) { return std::rename(qPrintable(from), qPrintable(output)) == 0; };
        QVERIFY(build("one", true, output));
        ViewerWindow* w = OpenAtHome(output);
        QVERIFY(w);
        QWebEnginePage* page = PageOf(w);
        page->load(w->Server().UrlOf("/second.html"));
        QVERIFY(WaitForPage(page, "/second.html"));
        QSignalSpy tried(viewer_->Watcher(), &OutputWatcher::Tried);
        QSignalSpy loaded(page, &QWebEnginePage::loadFinished);
        const QString shown = "document.getElementById('v').textContent";

        // Half an output is refused, and the old one, whose name it took,
        // still serves its pages whole.
        QVERIFY(build("two", true, next));
        const QByteArray two = ReadBytes(next);
        WriteBytes(output + ".part", two.left(two.size() / 2));
        QVERIFY(renameOver(output + ".part"));
        QVERIFY(tried.wait(30000));
        QCOMPARE(tried.last().value(0).toBool(), false);
        QVERIFY(loaded.isEmpty());
        page->triggerAction(QWebEnginePage::Reload);
        QVERIFY(loaded.wait(30000));
        QCOMPARE(RunJs(page, shown).toString(), QStringLiteral("one second"));
        QVERIFY(w->statusBar()->currentMessage().isEmpty());

        // Completed in place, it is taken: the same page, rebuilt.
        loaded.clear();
        {
            QFile file(output);
            QVERIFY(file.open(QIODevice::Append));
            QCOMPARE(file.write(two.mid(two.size() / 2)), two.size() - two.size() / 2);
        }
        QVERIFY(loaded.wait(30000));
        QVERIFY(WaitForPage(page, "/second.html"));
        QCOMPARE(RunJs(page, shown).toString(), QStringLiteral("two second"));
        QCOMPARE(w->statusBar()->currentMessage(), QStringLiteral("Rebuilt \u2014 reloaded"));
        QCOMPARE(tried.last().value(0).toBool(), true);

        // A rebuild without the page shows the home page.
        loaded.clear();
        QVERIFY(build("three", false, next));
        QVERIFY(renameOver(next));
        QVERIFY(loaded.wait(30000));
        QVERIFY(WaitForPage(page, "/index.html"));
        QCOMPARE(RunJs(page, shown).toString(), QStringLiteral("three home"));
        QTRY_VERIFY(!served_.isEmpty());
        for (const ServedRequest& r : served_)
            QVERIFY2(r.status < 500, qPrintable(r.addressPath));
    }

    // Window, text size and last page of an output, from one run to the next.
    void theReaderIsRememberedPerOutput()
    {
        const QString output = Output("remembered.qpf", [](qv::ProjectSettingsRecord& s) {
            s.ViewWidth = 640;
            s.ViewHeight = 480;
            s.Centered = true;
        });
        ViewerWindow* w = OpenAtHome(output);
        QVERIFY(w);
        QVERIFY(!w->findChild<QPushButton*>("continue")->isVisible());
        const QRect place(40, 50, 500, 400);
        w->setGeometry(place);
        w->findChild<QAction*>("bigger")->trigger();
        w->findChild<QAction*>("bigger")->trigger();
        PageOf(w)->load(w->Server().UrlOf("/pages/sub%20page.html"));
        QVERIFY(WaitForPage(PageOf(w), "/pages/sub%20page.html"));
        w->close();

        // Rebuilt meanwhile: the reader's place is the output's, whatever
        // its bytes.
        Output("remembered.qpf", [](qv::ProjectSettingsRecord& s) { s.Centered = true; });
        w = OpenAtHome(output);
        QVERIFY(w);
        QCOMPARE(w->geometry(), place);
        QCOMPARE(w->TextZoom(), 1.25);
        QCOMPARE(w->View()->zoomFactor(), 1.25);
        auto* resume = w->findChild<QPushButton*>("continue");
        QVERIFY(resume->isVisible());
        QCOMPARE(resume->text(), QStringLiteral("Continue where you left off"));
        QTest::mouseClick(resume, Qt::LeftButton);
        QVERIFY(WaitForPage(PageOf(w), "/pages/sub%20page.html"));
        QVERIFY(!resume->isVisible());

        // A place off the screen comes back onto it.
        w->setGeometry(5000, 4000, 3000, 2000);
        w->close();
        w = OpenAtHome(output);
        QVERIFY(w);
        const QRect area = w->screen()->availableGeometry();
        QVERIFY2(area.contains(w->frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                    .arg(w->frameGeometry().x())
                                                                    .arg(w->frameGeometry().y())
                                                                    .arg(w->frameGeometry().width())
                                                                    .arg(w->frameGeometry().height())));
    }

    // Run on a 1000 x 700 screen (ctest's view_small_screen): a window too
    // large for it fits, frame included, whatever its border, and closes.
    void windowsFitASmallScreen()
    {
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        if (area.width() != 1000)
            QSKIP("needs the screen of tests/view/small-screen.json");
        for (const int border : {0, 1, 2, 3}) {
            for (const bool centred : {false, true}) {
                const QString name = QStringLiteral("big%1%2.qpf").arg(border).arg(centred);
                ViewerWindow* w = OpenAtHome(Output(name, [=](qv::ProjectSettingsRecord& s) {
                    s.BorderType = border;
                    s.Centered = centred;
                    s.ViewWidth = 2000;
                    s.ViewHeight = 1400;
                }));
                QVERIFY(w);
                const QRect frame = w->isFullScreen() ? w->geometry() : w->frameGeometry();
                QVERIFY2(area.contains(frame), qPrintable(QStringLiteral("%1: %2,%3 %4x%5")
                                                              .arg(name)
                                                              .arg(frame.x())
                                                              .arg(frame.y())
                                                              .arg(frame.width())
                                                              .arg(frame.height())));
                QTest::keyClick(Keys(w), Qt::Key_W, Qt::ControlModifier);
                QTRY_VERIFY(!w->isVisible());
            }
        }
    }

    void withoutAFileTheFileDialogAsks()
    {
        Viewer viewer(ViewServices{dialogs_, shell_});
        dialogs_.asked.clear();
        dialogs_.openAnswer.clear();
        QCOMPARE(viewer.Start({}), 0);
        QCOMPARE(dialogs_.Kinds(), QStringList{"open"});
        dialogs_.openAnswer = Output("chosen.qpf");
        QCOMPARE(viewer.Start({}), Viewer::kRunning);
        QVERIFY(WaitForPage(viewer.Window()->View()->page(), "/index.html"));
    }

    // QV_SCREENSHOT_DIR=<folder> writes view-sample.png: the sample site
    // in the viewer (run under xvfb-run with QT_QPA_PLATFORM=xcb).
    void sampleSiteScreenshot()
    {
        const QString folder = qEnvironmentVariable("QV_SCREENSHOT_DIR");
        if (folder.isEmpty())
            QSKIP("QV_SCREENSHOT_DIR is not set");
        qv::ProjectSettingsRecord s;
        qv::LoadProject(QV_SOURCE_DIR "/examples/sample-qpf.qp", s);
        const QString output = temp_.filePath("northwind.qpf");
        s.OutputPath = output.toStdString();
        QVERIFY(qvtest::BuildSite(s, {}).ok);
        ViewerWindow* w = OpenAtHome(output);
        QVERIFY(w);
        QVERIFY(WaitJs(PageOf(w), "[...document.images].every(i => i.complete && i.naturalWidth > 0)", true));
        QTest::mouseMove(Keys(w), QPoint(5, 5));
        RunJs(PageOf(w), "new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)))");
        QVERIFY(w->grab().save(folder + "/view-sample.png"));
    }
};

int main(int argc, char** argv)
{
    // internet.test is the test's listener; every other name fails without
    // a lookup, so nothing the pages try leaves this machine.
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
            qgetenv("QTWEBENGINE_CHROMIUM_FLAGS") +
                " \"--host-resolver-rules=MAP internet.test 127.0.0.1, MAP * ~NOTFOUND, EXCLUDE 127.0.0.1, EXCLUDE *.localhost\"");
    QApplication application(argc, argv);
    application.setAttribute(Qt::AA_Use96Dpi, true);
    QTEST_DISABLE_KEYPAD_NAVIGATION
    ViewWindowTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "view_window_test.moc"
