// Searching every page of an output in quorvane-view: the real window, the
// real engine and an index the real build job packed.
#include "ViewTestSupport.h"

#include "PageServer.h"
#include "Viewer.h"
#include "ViewerWindow.h"

#include "quorvane/viewercore/StartRules.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QWebEngineView>

#include <memory>

using namespace qv::view;

class ViewSearchTest : public QObject {
    Q_OBJECT

    QTemporaryDir temp_;
    QString site_;
    ScriptedViewDialogs dialogs_;
    RecordingShell shell_;
    std::unique_ptr<Viewer> viewer_;

    // The test site with its index, and the settings changed by `adjust`.
    QString Output(const QString& name, const std::function<void(qv::ProjectSettingsRecord&)>& adjust = {})
    {
        const QString output = temp_.filePath(name);
        if (!BuildOutput(site_, "index.html", output, [&](qv::ProjectSettingsRecord& s) {
                s.SearchIndex = true;
                if (adjust)
                    adjust(s);
            }))
            qFatal("the site was not built");
        return output;
    }

    ViewerWindow* OpenAtHome(const QString& output)
    {
        viewer_ = std::make_unique<Viewer>(ViewServices{dialogs_, shell_});
        if (viewer_->Start({output}) != Viewer::kRunning)
            return nullptr;
        ViewerWindow* w = viewer_->Window();
        QApplication::setActiveWindow(w);
        return WaitForPage(Page(w), "/index.html") ? w : nullptr;
    }

    static QWebEnginePage* Page(ViewerWindow* w) { return w->View()->page(); }
    static QLineEdit* Field(ViewerWindow* w) { return w->findChild<QLineEdit*>("searchfield"); }
    static QString Js(ViewerWindow* w, const QString& code) { return RunJs(Page(w), code).toString(); }

    // Ctrl+K from the page, the words typed, Enter: the results page.
    static bool Search(ViewerWindow* w, const QString& words)
    {
        QTest::keyClick(w->View()->focusProxy(), Qt::Key_K, Qt::ControlModifier);
        if (!QTest::qWaitFor([&] { return QApplication::focusWidget() == Field(w); }, 10000))
            return false;
        QTest::keyClicks(Field(w), words);
        QTest::keyClick(Field(w), Qt::Key_Return);
        return WaitForPage(Page(w), "/-search-");
    }

    // A click of the mouse, as a reader's, on the element `selector` names.
    static bool Click(ViewerWindow* w, const QString& selector)
    {
        const QVariantList at = RunJs(Page(w), QStringLiteral(R"((() => {
              const e = document.querySelector('%1'); if (!e) return [];
              e.scrollIntoView({block: 'center'}); const r = e.getBoundingClientRect(); return [r.left + r.width / 2, r.top + r.height / 2]; })())")
                                                        .arg(selector))
                                    .toList();
        if (at.size() != 2)
            return false;
        QTest::mouseClick(w->View()->focusProxy(), Qt::LeftButton, {}, QPoint(int(at[0].toDouble()), int(at[1].toDouble())));
        return true;
    }

    // What a promise the page makes settles to.
    static QString Settled(ViewerWindow* w, const QString& promise)
    {
        RunJs(Page(w), "window.__r = undefined; (" + promise + ").then(v => { window.__r = String(v); }); true");
        QString value;
        if (!QTest::qWaitFor(
                [&] {
                    const QVariant r = RunJs(Page(w), "window.__r");
                    value = r.toString();
                    return r.isValid() && !r.isNull();
                },
                20000))
            qWarning("the promise did not settle: %s", qPrintable(promise));
        return value;
    }

    static QString Titles(ViewerWindow* w)
    {
        return Js(w, "[...document.querySelectorAll('li a')].map(a => a.textContent).join('|')");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(temp_.isValid());
        qputenv("XDG_CONFIG_HOME", temp_.filePath("config").toUtf8());
        site_ = temp_.filePath("site");
        WriteBytes(site_ + "/index.html", "<!DOCTYPE html><title>Home</title><p>Welcome aboard</p>");
        WriteBytes(site_ + "/sub/tides.html",
                   "<!DOCTYPE html><meta charset=utf-8><title>Tides &amp; &lt;b&gt;times&lt;/b&gt;</title>"
                   "<h1>Tides</h1><p>Boats leave the Harbour at high water.</p><p>Back in the harbour by noon.</p>");
        WriteBytes(site_ + "/untitled.html", "<p>a quiet harbour wall</p>");
        for (int i = 1; i <= 12; ++i)
            WriteBytes(site_ + QStringLiteral("/notes/gull%1.html").arg(i, 2, 10, QLatin1Char('0')),
                       QStringLiteral("<title>Gull note %1</title><p>A gull sat on the mast.</p>").arg(i).toUtf8());
    }

    void cleanup() { viewer_.reset(); }

    void findsEveryPageAndOpensAResultOnItsWords()
    {
        ViewerWindow* w = OpenAtHome(Output("search.qpf"));
        QVERIFY(w);
        QVERIFY(Field(w) && Field(w)->isVisible());
        QCOMPARE(Field(w)->placeholderText(), QStringLiteral("Search all pages"));

        QVERIFY(Search(w, "harbour"));
        QCOMPARE(Js(w, "document.querySelector('.count').textContent"), QStringLiteral("2 pages found"));
        // The title came from the page as text; the untitled page (shorter,
        // so ranked first) shows its address.
        QCOMPARE(Titles(w), QStringLiteral("untitled.html|Tides & <b>times</b>"));
        QCOMPARE(Js(w, "[...document.querySelectorAll('mark')].map(m => m.textContent).join('|')"),
                 QStringLiteral("harbour|Harbour|harbour"));
        QCOMPARE(w->windowTitle(), QStringLiteral("Search: harbour"));

        // The page opens without the words in its address, and the find bar
        // holds the page's own spelling of the first match.
        QVERIFY(Click(w, "a[href^=sub]"));
        QVERIFY(WaitForPage(Page(w), "/sub/tides.html"));
        QCOMPARE(Js(w, "location.search"), QString());
        auto* findText = w->findChild<QLineEdit*>("findtext");
        QTRY_COMPARE(findText->text(), QStringLiteral("Harbour"));
        QVERIFY(w->findChild<QWidget*>("findbar")->isVisible());
        QTRY_VERIFY2(w->findChild<QLabel*>("findcount")->text().contains(QStringLiteral(" of 2")),
                     qPrintable(w->findChild<QLabel*>("findcount")->text()));

        // Ten to a page; the page's own form asks again, and the field follows.
        Field(w)->clear();
        QVERIFY(Search(w, "gull"));
        QCOMPARE(Js(w, "document.querySelector('.count').textContent"), QStringLiteral("12 pages found"));
        QCOMPARE(Js(w, "String(document.querySelectorAll('li').length)"), QStringLiteral("10"));
        QVERIFY(Click(w, "a[rel=next]"));
        QTRY_COMPARE(Js(w, "String(document.querySelectorAll('li').length)"), QStringLiteral("2"));
        QCOMPARE(Js(w, "document.querySelector('nav span').textContent"), QStringLiteral("Page 2 of 2"));
        RunJs(Page(w), "document.querySelector('input[name=q]').value = 'tides'; document.forms[0].submit(); true");
        QVERIFY(WaitJs(Page(w), "document.querySelector('.count') && document.querySelector('.count').textContent",
                       QStringLiteral("1 page found")));
        QTRY_COMPARE(Field(w)->text(), QStringLiteral("tides"));

        // The index itself is never served: its name is the results page.
        QCOMPARE(Settled(w, "fetch('/-search-').then(r => r.text()).then(t => t.startsWith('SQLite'))"),
                 QStringLiteral("false"));
    }

    void withoutAToolbarCtrlKShowsTheFieldWhileItIsUsed()
    {
        ViewerWindow* w = OpenAtHome(Output("bare.qpf", [](qv::ProjectSettingsRecord& s) { s.ShowToolbar = false; }));
        QVERIFY(w);
        auto* bar = w->findChild<QWidget*>("searchbar");
        QVERIFY(bar && !bar->isVisible());
        QVERIFY(Search(w, "tides"));
        QCOMPARE(Titles(w), QStringLiteral("Tides & <b>times</b>"));
        QTRY_VERIFY(!bar->isVisible());
    }

    void noFieldWithoutAnIndexOrWhereSearchingIsOff()
    {
        ViewerWindow* w = OpenAtHome(Output("plain.qpf", [](qv::ProjectSettingsRecord& s) { s.SearchIndex = false; }));
        QVERIFY(w);
        QVERIFY(!Field(w));
        QVERIFY(!w->findChild<QAction*>("search"));
        QCOMPARE(Settled(w, "fetch('/-search-?q=harbour').then(r => r.text()).then(t => "
                       "new DOMParser().parseFromString(t, 'text/html').body.innerText.trim())"),
                 QStringLiteral("Search\nThis file has no search index"));

        w = OpenAtHome(Output("nofind.qpf", [](qv::ProjectSettingsRecord& s) { s.EnableSearch = false; }));
        QVERIFY(w);
        QVERIFY(!Field(w));
        QCOMPARE(Settled(w, "fetch('/-search-?q=harbour').then(r => r.status)"), QStringLiteral("404"));
    }

    void aRefusedPasswordOpensNeitherWindowNorIndex()
    {
        const QString output = Output("locked.qpf", [](qv::ProjectSettingsRecord& s) { s.Password = "sesame"; });
        dialogs_.passwords = {"harbour", "gull", ScriptedViewDialogs::kCancel};
        viewer_ = std::make_unique<Viewer>(ViewServices{dialogs_, shell_});
        QCOMPARE(viewer_->Start({output}), qv::kRefusedExitStatus);
        QVERIFY(!viewer_->Window());
    }
};

QTEST_MAIN(ViewSearchTest)
#include "view_search_test.moc"
