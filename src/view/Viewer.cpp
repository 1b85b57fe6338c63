#include "Viewer.h"

#include "OutputWatcher.h"
#include "TemporaryFolder.h"
#include "ViewerWindow.h"

#include "quorvane/base/Error.h"
#include "quorvane/viewercore/SiteFile.h"
#include "quorvane/update/VersionRecord.h"
#include "quorvane/viewercore/StartRules.h"

#include <QApplication>
#include <QDate>
#include <QFileInfo>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qv::view {
namespace {

const char* const kUsage =
    "Usage: quorvane-view [FILE]\n"
    "Shows a compiled site (a .qpf file, or an .exe output) straight from the file.\n"
    "Without FILE a file dialog asks for one.\n"
    "  -h, --help  show this text\n"
    "  --version   show the version\n";

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

// Whether Chromium runs its pages without its sandbox, as Qt WebEngine
// decides it.
bool SandboxOff()
{
    if (qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        return true;
    return qEnvironmentVariable("QTWEBENGINE_CHROMIUM_FLAGS")
        .split(QLatin1Char(' '), Qt::SkipEmptyParts)
        .contains(QLatin1String("--no-sandbox"));
}

// SIGINT, SIGTERM and SIGHUP end the event loop as closing the window does,
// so that everything the viewer made goes on the way out. The handler only
// writes the signal's number to a pipe; the loop reads it.
class QuitOnSignals {
public:
    QuitOnSignals()
    {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        read_ = ends[0];
        writeEnd_ = ends[1];
        notifier_ = std::make_unique<QSocketNotifier>(read_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
            unsigned char number = 0;
            while (::read(read_, &number, 1) == 1)
                received_ = number;
            QCoreApplication::quit();
        });
        for (size_t i = 0; i < kSignals.size(); ++i)
            ::sigaction(kSignals[i], nullptr, &previous_[i]);
        Install();
    }
    ~QuitOnSignals()
    {
        if (read_ < 0)
            return;
        for (size_t i = 0; i < kSignals.size(); ++i)
            ::sigaction(kSignals[i], &previous_[i], nullptr);
        notifier_.reset();
        ::close(writeEnd_);
        ::close(read_);
        writeEnd_ = -1;
    }
    QuitOnSignals(const QuitOnSignals&) = delete;
    QuitOnSignals& operator=(const QuitOnSignals&) = delete;

    // Again once Qt WebEngine has started: Chromium sets these signals
    // back to their defaults when it starts.
    void Install()
    {
        if (read_ < 0)
            return;
        struct sigaction action {};
        action.sa_handler = &Handle;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (const int number : kSignals)
            ::sigaction(number, &action, nullptr);
    }

    // The signal that ended the loop, or 0.
    int Received() const { return received_; }

private:
    static constexpr std::array kSignals{SIGINT, SIGTERM, SIGHUP};

    static void Handle(int number)
    {
        const int saved = errno;
        const auto byte = static_cast<unsigned char>(number);
        [[maybe_unused]] const ssize_t written = ::write(writeEnd_, &byte, 1);
        errno = saved;
    }

    static inline volatile std::sig_atomic_t writeEnd_ = -1;
    int read_ = -1;
    int received_ = 0;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::array<struct sigaction, kSignals.size()> previous_{};
};

} // namespace

Viewer::Viewer(ViewServices services) : services_(services) {}

Viewer::~Viewer()
{
    // The window and its server go before the archive they read, and what
    // hands rebuilds to the window before the window.
    watcher_.reset();
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
    FileState opened;
    try {
        site_ = OpenSiteFile(QFileInfo(path).absoluteFilePath().toStdString(), &opened);
        Prompts prompts(services_.dialogs);
        // Nothing is served before the rules let the viewer open.
        if (!RunStartRules(site_->Settings(), site_->Codec(), today < 0 ? LocalToday() : today, prompts))
            return kRefusedExitStatus;
        window_ = std::make_unique<ViewerWindow>(site_, path, services_);
    } catch (const std::exception& e) {
        services_.dialogs.Message(nullptr, ViewerName(),
                                  QString::fromStdString(ErrorBoxText(e.what())), ViewDialogs::Icon::Error);
        return 1;
    }
    watcher_ = std::make_unique<OutputWatcher>(
        path, opened, [window = window_.get()](std::shared_ptr<const SiteArchive> site) {
            window->TakeRebuild(std::move(site));
        });
    window_->Present();
    return kRunning;
}

int AnswerWithoutDisplay(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("quorvane-view %s\n", own_version::kVersion);
            return 0;
        }
    }
    return -1;
}

int RunViewer(int argc, char** argv, ViewServices services, const std::function<void(Viewer&)>& started)
{
    // Before the application object, which needs a display.
    if (const int status = AnswerWithoutDisplay(argc, argv); status >= 0)
        return status;
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quorvane-view"));
    QuitOnSignals stop;
    TemporaryFolder::RemoveAbandoned();
    Viewer viewer(services);
    const int status = viewer.Start(QApplication::arguments().mid(1));
    stop.Install();
    // A signal ends the program with the status a shell gives for it.
    if (stop.Received())
        return 128 + stop.Received();
    if (status != Viewer::kRunning)
        return status;
    if (SandboxOff())
        std::fputs("quorvane-view: warning: the page sandbox is off; open only outputs you trust\n", stderr);
    if (started)
        started(viewer);
    QApplication::exec();
    return stop.Received() ? 128 + stop.Received() : 0;
}

} // namespace qv::view
