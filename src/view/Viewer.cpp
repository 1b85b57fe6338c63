#include "Viewer.h"

#include "ViewerWindow.h"

#include "quorvane/base/Error.h"
#include "quorvane/viewercore/SiteFile.h"
#include "quorvane/viewercore/StartRules.h"

#include <QApplication>
#include <QDate>
#include <QFileInfo>

#include <cstdio>

namespace qv::view {
namespace {

const char* const kUsage =
    "Usage: quorvane-view [FILE]\n"
    "Shows a compiled site (a .qpf file, or an .exe output) straight from the file.\n"
    "Without FILE a file dialog asks for one.\n";

QString Text(std::string_view utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

// The start rules' boxes, shown by the viewer's dialog service.
class Prompts final : public StartPrompts {
public:
    explicit Prompts(ViewDialogs& dialogs) : dialogs_(dialogs) {}
    void Message(std::string_view caption, std::string_view text) override
    {
        dialogs_.Message(nullptr, Text(caption), Text(text), ViewDialogs::Icon::Warning);
    }
    std::optional<std::string> AskPassword(std::string_view caption, std::string_view text) override
    {
        const std::optional<QString> typed = dialogs_.Password(nullptr, Text(caption), Text(text));
        if (!typed)
            return std::nullopt;
        return typed->toStdString();
    }

private:
    ViewDialogs& dialogs_;
};

int32_t LocalToday()
{
    const QDate today = QDate::currentDate();
    return DateSerial(today.year(), today.month(), today.day());
}

} // namespace

Viewer::Viewer(ViewServices services) : services_(services) {}

Viewer::~Viewer()
{
    // The window and its server go before the archive they read.
    window_.reset();
}

int Viewer::Start(const QStringList& arguments, int32_t today)
{
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (arguments.size() > 1 || (!arguments.isEmpty() && arguments[0].startsWith(QLatin1String("--")))) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    QString path = arguments.value(0);
    if (path.isEmpty()) {
        path = services_.dialogs.OpenOutput(nullptr);
        if (path.isEmpty())
            return 0;
    }
    try {
        site_ = OpenSiteFile(QFileInfo(path).absoluteFilePath().toStdString());
        Prompts prompts(services_.dialogs);
        // Nothing is served before the rules let the viewer open.
        if (!RunStartRules(site_->Settings(), site_->Codec(), today < 0 ? LocalToday() : today, prompts))
            return kRefusedExitStatus;
        window_ = std::make_unique<ViewerWindow>(site_, path, services_);
    } catch (const std::exception& e) {
        services_.dialogs.Message(nullptr, QApplication::applicationDisplayName(),
                                  QString::fromStdString(ErrorBoxText(e.what())), ViewDialogs::Icon::Error);
        return 1;
    }
    window_->Present();
    return kRunning;
}

int RunViewer(int argc, char** argv, ViewServices services, const std::function<void(Viewer&)>& started)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quorvane-view"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quorvane Viewer"));
    Viewer viewer(services);
    const int status = viewer.Start(QApplication::arguments().mid(1));
    if (status != Viewer::kRunning)
        return status;
    if (started)
        started(viewer);
    QApplication::exec();
    return 0;
}

} // namespace qv::view
