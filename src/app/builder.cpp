#include "builder.h"

#include "browser/ResScheme.h"
#include "about.h"
#include "main.h"
#include "options.h"
#include "wizard.h"

#include "quorvane/platform/NamedMutex.h"

#include <QApplication>

#include <memory>
#include <vector>

namespace qv::app {

void RegisterBeforeApplication()
{
    RegisterResScheme();
    RegisterWizard();
    RegisterAbout();
    RegisterOptions();
}

void SetUpApplication()
{
    QApplication::setApplicationName(QStringLiteral("quorvane"));
}

int Builder(int argc, char** argv)
{
    const platform::NamedMutex lock("TALMERIDEX");
    RegisterBeforeApplication();
    QApplication application(argc, argv);
    SetUpApplication();

    int status = 0;
    {
        MainWindow mainform(QApplication::arguments().mid(1));
        // The application owns these; they live until the end.
        std::vector<std::unique_ptr<QWidget>> windows;
        for (AppWindow kind : {AppWindow::Wizard, AppWindow::About, AppWindow::Options}) {
            if (const AppWindowMaker* make = AppWindowMakerFor(kind)) {
                windows.emplace_back((*make)(mainform));
                mainform.SetWindow(kind, windows.back().get());
            }
        }
        mainform.show();
        status = QApplication::exec();
        windows.clear();
    }
    return status;
}

} // namespace qv::app
