// quorvane-view as a process: the start rules end it with status 1, an EXE
// output opens as a QPF does, and the real binary answers its arguments.
#include "ViewTestSupport.h"

#include "quorvane/update/VersionRecord.h"

#include <QProcess>
#include <QTemporaryDir>

namespace {

struct Run {
    int status = -1;
    QString out;
    QString errors;
};

Run Start(const QString& program, const QStringList& args, const QString& passwords = {}, bool display = true)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QV_VIEW_PASSWORDS", passwords);
    if (!display)
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
    process.setProcessEnvironment(env);
    process.start(program, args);
    Run run;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        qWarning("the viewer did not end by itself");
        return run;
    }
    if (process.exitStatus() == QProcess::NormalExit)
        run.status = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// The boxes the scripted program showed, one line each.
QStringList Boxes(const Run& run)
{
    QStringList boxes;
    for (const QString& line : run.errors.split('\n'))
        if (line.startsWith('['))
            boxes << line;
    return boxes;
}

Run Scripted(const QString& output, const QString& passwords = {})
{
    return Start(QStringLiteral(QV_SCRIPTED_BINARY), {output}, passwords);
}

const QString kAsk = "[password] Password required: This file is protected. Please enter the password:";
const QString kWrong = "[message] Password required: Wrong password.";

} // namespace

class ViewProcessTest : public QObject {
    Q_OBJECT

    QTemporaryDir temp_;
    QString site_;

    QString Output(const QString& name, const std::function<void(qv::ProjectSettingsRecord&)>& adjust = {})
    {
        const QString output = temp_.filePath(name);
        if (!BuildOutput(site_, "index.html", output, adjust))
            qFatal("the site was not built");
        return output;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(temp_.isValid());
        site_ = temp_.filePath("site");
        WriteBytes(site_ + "/index.html", "<html><head><title>Process home</title></head><body>Hello there</body></html>");
    }

    void passwordRightOpensTheHomePage()
    {
        const QString output = Output("locked.qpf", [](qv::ProjectSettingsRecord& s) { s.Password = "sesame"; });
        const Run run = Scripted(output, "nope\nsesame");
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, QStringLiteral("Process home\nHello there\n"));
        QCOMPARE(Boxes(run), QStringList({kAsk, kWrong, kAsk}));
    }

    void threeWrongPasswordsOrCancelEndWithStatusOne()
    {
        const QString output = Output("locked3.qpf", [](qv::ProjectSettingsRecord& s) { s.Password = "sesame"; });
        const Run wrong = Scripted(output, "a\nSesame\nsesame \nsesame");
        QCOMPARE(wrong.status, 1);
        QCOMPARE(Boxes(wrong), QStringList({kAsk, kWrong, kAsk, kWrong, kAsk, kWrong}));
        QVERIFY(wrong.out.isEmpty());

        const Run cancel = Scripted(output, "<cancel>");
        QCOMPARE(cancel.status, 1);
        QCOMPARE(Boxes(cancel), QStringList{kAsk});
        QVERIFY(cancel.out.isEmpty());
    }

    void expiredOutputEndsWithStatusOne()
    {
        const QString expired = Output("expired.qpf", [](qv::ProjectSettingsRecord& s) {
            s.ExpiryEnabled = true;
            s.ExpiryDate = 40000; // 6 July 2009
            s.Password = "never asked";
        });
        const Run run = Scripted(expired);
        QCOMPARE(run.status, 1);
        QCOMPARE(Boxes(run), QStringList{"[message] Expired: This file has expired and can no longer be opened."});

        const QString later = Output("later.qpf", [](qv::ProjectSettingsRecord& s) {
            s.ExpiryEnabled = true;
            s.ExpiryDate = 80000; // in 2119
        });
        QCOMPARE(Scripted(later).status, 0);
    }

    void exeOutputOpensLikeAQpf()
    {
        if (!QFile::exists(QV_RUNTIME_DIR "/viewer.exe"))
            QSKIP("viewer.exe was not built (no mingw-w64)");
        const QString exe = Output("site.exe");
        QVERIFY(QFileInfo(exe).size() > QFileInfo(QV_RUNTIME_DIR "/viewer.exe").size());
        const Run run = Scripted(exe);
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, QStringLiteral("Process home\nHello there\n"));
    }

    void argumentsAndUnreadableFiles()
    {
        // Answered without a display to open.
        const Run help = Start(QStringLiteral(QV_VIEW_BINARY), {"--help"}, {}, false);
        QCOMPARE(help.status, 0);
        QVERIFY(help.out.startsWith("Usage: quorvane-view [FILE]"));
        const Run version = Start(QStringLiteral(QV_VIEW_BINARY), {"--version"}, {}, false);
        QCOMPARE(version.status, 0);
        QCOMPARE(version.out, QStringLiteral("quorvane-view %1\n").arg(qv::own_version::kVersion));
        QCOMPARE(Start(QStringLiteral(QV_VIEW_BINARY), {"a.qpf", "b.qpf"}).status, 2);

        WriteBytes(temp_.filePath("plain.txt"), "no archive here, just text that is long enough to hold a trailer");
        const Run plain = Scripted(temp_.filePath("plain.txt"));
        QCOMPARE(plain.status, 1);
        QVERIFY2(plain.errors.contains("[message] Quorvane Viewer: " + temp_.filePath("plain.txt") +
                                       ": No archive found"),
                 qPrintable(plain.errors));
    }
};

QTEST_GUILESS_MAIN(ViewProcessTest)
#include "view_process_test.moc"
