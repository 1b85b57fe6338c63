// The program as a user's scripts run it: its real binary in a process of
// its own, with the offscreen platform.
#include "AppTestSupport.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run {
    int status = -1;
    QString errors;
};

class AppProcessTest : public QObject {
    Q_OBJECT

    QTemporaryDir temp_;
    QString config_;

    QProcess* Start(const QString& program, const QStringList& args)
    {
        auto* process = new QProcess(this);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", config_);
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(temp_.path());
        process->start(program, args);
        return process;
    }

    Run Finish(QProcess* process)
    {
        Run run;
        if (!process->waitForFinished(90000)) {
            process->kill();
            process->waitForFinished();
            qWarning("the program did not end by itself");
        } else if (process->exitStatus() == QProcess::NormalExit) {
            run.status = process->exitCode();
        }
        run.errors = QString::fromLocal8Bit(process->readAllStandardError());
        delete process;
        return run;
    }

    Run Program(const QStringList& args) { return Finish(Start(QStringLiteral(QV_APP_BINARY), args)); }
    Run Scripted(const QStringList& args) { return Finish(Start(QStringLiteral(QV_SCRIPTED_BINARY), args)); }

private slots:
    void initTestCase()
    {
        QVERIFY(temp_.isValid());
        config_ = temp_.filePath("config");
        QDir().mkpath(config_);
    }

    void compileBuildsAndEndsWithSuccess()
    {
        const QString project = MakeProject(temp_.path(), "good");
        const QString settings = config_ + "/quorvane.xml";
        const QByteArray before = "<Config>\n  <mru number=\"1\" name=\"x\" />\n  <mru0 name=\"/old/one.qp\" />\n</Config>\n";
        WriteText(settings, before);
        const Run run = Program({"/COMPILE", project});
        QCOMPARE(run.status, 0);
        QVERIFY(QFileInfo(temp_.filePath("good.qpf")).size() > 36);
        // Nothing of the build's own temporary folder is left.
        QVERIFY(QDir(temp_.path()).entryList({".quorvane-*"}, QDir::AllEntries | QDir::Hidden).isEmpty());
        // The settings file is neither read back nor rewritten.
        QCOMPARE(ReadBytes(settings), before);

        // The switch in other letter case, and no settings file at all.
        QFile::remove(settings);
        QFile::remove(temp_.filePath("good.qpf"));
        QCOMPARE(Program({"/compile", "good.qp"}).status, 0); // relative to the current folder
        QVERIFY(QFile::exists(temp_.filePath("good.qpf")));
        QVERIFY(!QFile::exists(settings));
    }

    void compileOfABrokenProjectEndsWithFailure()
    {
        WriteText(temp_.filePath("broken.qp"), "<QVProject Version=\"2\"><General/></QVProject>");
        const Run run = Scripted({"/COMPILE", temp_.filePath("broken.qp")});
        QCOMPARE(run.status, 1);
        QVERIFY2(run.errors.contains("[error] Could not load project: "), qPrintable(run.errors));
    }

    void compileWhoseBuildFailsEndsWithFailure()
    {
        const QString project = MakeProject(temp_.filePath("nowhere"), "lost");
        // The output folder does not exist any more.
        QVERIFY(QFile::remove(temp_.filePath("nowhere/lost.qp")));
        qv::ProjectSettingsRecord s;
        s.HomePage = temp_.filePath("nowhere/lost-site/index.html").toStdString();
        s.OutputIsExe = false;
        s.OutputPath = temp_.filePath("missing-folder/lost.qpf").toStdString();
        QVERIFY(qv::SaveProject(project.toStdString(), s, [](const std::string&) {}));
        const Run run = Scripted({"/COMPILE", project});
        QCOMPARE(run.status, 1);
        QVERIFY2(run.errors.contains("[error] "), qPrintable(run.errors));
        QVERIFY(!QFile::exists(temp_.filePath("missing-folder")));
    }

    void twoCopiesRunSideBySide()
    {
        // Output folders of their own: a build's temporary archive has a
        // fixed name in its output folder.
        const QString a = MakeProject(temp_.filePath("pair/a"), "a");
        const QString b = MakeProject(temp_.filePath("pair/b"), "b");
        QProcess* first = Start(QStringLiteral(QV_SCRIPTED_BINARY), {"/COMPILE", a});
        QProcess* second = Start(QStringLiteral(QV_SCRIPTED_BINARY), {"/COMPILE", b});
        const Run one = Finish(first), two = Finish(second);
        QVERIFY2(!one.errors.contains("[error]") && !two.errors.contains("[error]"), qPrintable(one.errors + two.errors));
        QCOMPARE(one.status, 0);
        QCOMPARE(two.status, 0);
        QVERIFY(QFile::exists(temp_.filePath("pair/a/a.qpf")));
        QVERIFY(QFile::exists(temp_.filePath("pair/b/b.qpf")));
    }
};

} // namespace

QTEST_GUILESS_MAIN(AppProcessTest)
#include "app_process_test.moc"
