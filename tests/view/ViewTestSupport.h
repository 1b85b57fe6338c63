#pragma once
#include "SiteBuild.h"
#include "ViewServices.h"

#include "quorvane/project/ProjectSettings.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QVariant>
#include <QWebEnginePage>

#include <deque>
#include <functional>
#include <optional>

// The viewer's dialogs answered from a script, with a record of each one.
class ScriptedViewDialogs final : public qv::view::ViewDialogs {
public:
    struct Asked {
        QString kind; // "message", "password", "open", "print", "pdf", "confirm"
        QString caption;
        QString text;
    };
    std::vector<Asked> asked;
    static inline const QString kCancel = QStringLiteral("<cancel>");
    std::deque<QString> passwords; // kCancel, or none left: Cancel
    std::deque<bool> confirms;     // none left: Cancel
    QString openAnswer;
    QString pdfAnswer;
    std::function<bool(QPrinter&)> printAnswer; // none: the dialog is cancelled
    std::function<void(const Asked&)> onAsked;

    void Message(QWidget*, const QString& caption, const QString& text, Icon) override
    {
        Note("message", caption, text);
    }
    std::optional<QString> Password(QWidget*, const QString& caption, const QString& text) override
    {
        Note("password", caption, text);
        if (passwords.empty())
            return std::nullopt;
        const QString answer = passwords.front();
        passwords.pop_front();
        if (answer == kCancel)
            return std::nullopt;
        return answer;
    }
    QString OpenOutput(QWidget*) override
    {
        Note("open", {}, {});
        return openAnswer;
    }
    bool Print(QWidget*, QPrinter& printer) override
    {
        Note("print", {}, {});
        return printAnswer && printAnswer(printer);
    }
    QString SavePdf(QWidget*, const QString& suggested) override
    {
        Note("pdf", {}, suggested);
        return pdfAnswer;
    }
    bool Confirm(QWidget*, const QString& caption, const QString& text) override
    {
        Note("confirm", caption, text);
        if (confirms.empty())
            return false;
        const bool answer = confirms.front();
        confirms.pop_front();
        return answer;
    }
    QStringList Kinds() const
    {
        QStringList kinds;
        for (const Asked& a : asked)
            kinds << a.kind;
        return kinds;
    }

private:
    void Note(const char* kind, const QString& caption, const QString& text)
    {
        asked.push_back({QString::fromLatin1(kind), caption, text});
        if (onAsked)
            onAsked(asked.back());
    }
};

// Takes the desktop's "open" requests and keeps them.
class RecordingShell final : public qv::view::ViewShell {
public:
    QList<QUrl> opened;
    bool Open(const QUrl& target) override
    {
        opened << target;
        return true;
    }
};

// A web server of the test's own on 127.0.0.1: it counts the connections
// it gets, keeps each request's head and answers every request with `body`.
class LoopbackListener {
public:
    QTcpServer server;
    int connections = 0;
    QList<QByteArray> heads;
    QByteArray body;
    QByteArray type;

    bool Start()
    {
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                ++connections;
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    QByteArray& head = pending_[socket];
                    head += socket->readAll();
                    const qsizetype end = head.indexOf("\r\n\r\n");
                    if (end < 0)
                        return;
                    heads << head.left(end);
                    pending_.remove(socket);
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\nContent-Length: " +
                                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
            }
        });
        return server.listen(QHostAddress::LocalHost, 0);
    }
    int Port() const { return server.serverPort(); }

private:
    QHash<QTcpSocket*, QByteArray> pending_;
};

inline void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

inline QByteArray ReadBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline QByteArray ImageBytes(int width, int height, const char* format)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(QColor(0x2f, 0x80, 0xd1));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

inline QByteArray PdfBytes(const QString& text)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    QPainter painter(&writer);
    painter.drawText(QPointF(200, 400), text);
    painter.end();
    return bytes;
}

// Noise that does not compress, so it is stored as it is.
inline QByteArray NoiseBytes(qint64 size, quint32 seed)
{
    QByteArray noise(size, '\0');
    quint32 x = seed * 2654435761u + 1;
    for (char& c : noise) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return noise;
}

// Builds `site` (a folder holding `home`) into `output` with the real build
// job; `adjust` changes the project's settings first.
inline bool BuildOutput(const QString& site, const QString& home, const QString& output,
                        const std::function<void(qv::ProjectSettingsRecord&)>& adjust = {})
{
    qv::ProjectSettingsRecord s;
    s.HomePage = (site + "/" + home).toStdString();
    s.OutputIsExe = output.endsWith(".exe");
    s.OutputPath = output.toStdString();
    if (adjust)
        adjust(s);
    QFile::remove(output);
    const qvtest::SiteBuildResult result = qvtest::BuildSite(s, QV_RUNTIME_DIR "/");
    if (!result.ok)
        qWarning("build failed: %s", result.error.c_str());
    return result.ok;
}

// A script's value; an invalid QVariant when the page did not answer.
inline QVariant RunJs(QWebEnginePage* page, const QString& code)
{
    QVariant result;
    bool done = false;
    page->runJavaScript(code, [&](const QVariant& v) {
        result = v;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 20000))
        qWarning("script did not answer: %s", qPrintable(code));
    return result;
}

// Waits until a script's value is `expected` (for what a page does later).
inline bool WaitJs(QWebEnginePage* page, const QString& code, const QVariant& expected, int timeout = 30000)
{
    QVariant last;
    const bool ok = QTest::qWaitFor(
        [&] {
            last = RunJs(page, code);
            return last == expected;
        },
        timeout);
    if (!ok)
        qWarning("%s gave %s, not %s", qPrintable(code), qPrintable(last.toString()), qPrintable(expected.toString()));
    return ok;
}

// Waits until the page shows an address whose path ends with `ending` and
// has loaded it completely.
inline bool WaitForPage(QWebEnginePage* page, const QString& ending, int timeout = 30000)
{
    const bool ok = QTest::qWaitFor(
        [&] {
            return page->url().path(QUrl::FullyEncoded).endsWith(ending) && !page->isLoading() &&
                   RunJs(page, "document.readyState").toString() == QLatin1String("complete");
        },
        timeout);
    if (!ok)
        qWarning("page %s not loaded, at %s", qPrintable(ending), qPrintable(page->url().toString()));
    return ok;
}
