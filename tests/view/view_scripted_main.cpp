// quorvane-view with its boxes answered from the environment instead of a
// person, for the runs whose boxes would otherwise wait:
//   QV_VIEW_PASSWORDS  the passwords typed, one per line; a line "<cancel>"
//                      (ScriptedViewDialogs::kCancel) presses Cancel, as
//                      does running out of lines.
// Every box goes to standard error as "[kind] caption: text". Once the home
// page has loaded, its title and text go to standard output and the program
// ends with status 0 (3 when the page failed to load).
#include "ViewTestSupport.h"

#include "Viewer.h"
#include "ViewerWindow.h"

#include <QCoreApplication>
#include <QWebEngineView>

#include <cstdio>

int main(int argc, char** argv)
{
    ScriptedViewDialogs dialogs;
    for (const QString& line : qEnvironmentVariable("QV_VIEW_PASSWORDS").split('\n', Qt::SkipEmptyParts))
        dialogs.passwords.push_back(line);
    dialogs.onAsked = [](const ScriptedViewDialogs::Asked& a) {
        std::fprintf(stderr, "[%s] %s: %s\n", qPrintable(a.kind), qPrintable(a.caption), qPrintable(a.text));
    };
    RecordingShell shell;
    return qv::view::RunViewer(argc, argv, {dialogs, shell}, [](qv::view::Viewer& viewer) {
        QWebEnginePage* page = viewer.Window()->View()->page();
        QObject::connect(page, &QWebEnginePage::loadFinished, page, [page](bool ok) {
            page->runJavaScript("document.body.innerText", [page, ok](const QVariant& text) {
                std::printf("%s\n%s\n", qPrintable(page->title()), qPrintable(text.toString()));
                std::fflush(stdout);
                QCoreApplication::exit(ok ? 0 : 3);
            });
        });
    });
}
