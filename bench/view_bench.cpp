// quorvane-view from start to its home page, on outputs that stress the
// opening: one with a 1 GiB entry (the whole archive's CRC is never read at
// start) and one with 100,000 entries (the directory is read and indexed).
//
// Each output is built by the real build job, then shown three times by the
// viewer in this process; the figure is the time from Viewer::Start (open
// the file, read the directory and settings, start the page server, make
// the window) until the home page has loaded, best of three. A small output
// is shown first so that starting Qt WebEngine itself is not counted; its
// time is printed apart.
// With "idle", the figure is instead how long the home page takes to load
// again while 16 connections that send nothing are open to the viewer's
// page server, as any other local user could hold them.
// Usage: view_bench [folder] [big|many|idle]
//   folder: where the sites and outputs are made (default: the system
//   temporary folder); about 2.2 GiB are needed for "big".
#include "SiteBuild.h"
#include "ViewServices.h"
#include "Viewer.h"
#include "PageServer.h"
#include "ViewerWindow.h"

#include "quorvane/viewercore/SiteFile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpSocket>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <vector>

namespace {

namespace stdfs = std::filesystem;

// Answers nothing: the outputs have no password and no expiry.
class NoDialogs final : public qv::view::ViewDialogs {
public:
    void Message(QWidget*, const QString&, const QString& text, Icon) override
    {
        std::fprintf(stderr, "box: %s\n", qPrintable(text));
    }
    std::optional<QString> Password(QWidget*, const QString&, const QString&) override { return std::nullopt; }
    QString OpenOutput(QWidget*) override { return {}; }
    bool Print(QWidget*, QPrinter&) override { return false; }
    QString SavePdf(QWidget*, const QString&) override { return {}; }
    bool Confirm(QWidget*, const QString&, const QString&) override { return false; }
};

class NoShell final : public qv::view::ViewShell {
public:
    bool Open(const QUrl&) override { return false; }
};

void Write(const stdfs::path& p, const std::string& text)
{
    stdfs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

// Incompressible bytes written in blocks, so 1 GiB needs no 1 GiB buffer.
void WriteNoise(const stdfs::path& p, uint64_t size)
{
    stdfs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary);
    std::vector<uint64_t> block(1 << 17);
    uint64_t x = 88172645463325252ull;
    for (uint64_t done = 0; done < size;) {
        for (uint64_t& v : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            v = x;
        }
        const uint64_t n = std::min<uint64_t>(size - done, block.size() * sizeof(uint64_t));
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
        done += n;
    }
    if (!out.flush()) {
        std::fprintf(stderr, "cannot write %s\n", p.c_str());
        std::exit(1);
    }
}

std::string Page(const std::string& title)
{
    return "<html><head><title>" + title + "</title></head><body><h1>" + title + "</h1></body></html>";
}

stdfs::path Build(const stdfs::path& site, const stdfs::path& out, int compression)
{
    qv::ProjectSettingsRecord s;
    s.HomePage = (site / "index.html").string();
    s.OutputIsExe = false;
    s.OutputPath = out.string();
    s.CompressionLevel = compression;
    stdfs::remove(out);
    const qvtest::SiteBuildResult result = qvtest::BuildSite(s, {});
    if (!result.ok) {
        std::fprintf(stderr, "build failed: %s\n", result.error.c_str());
        std::exit(1);
    }
    return out;
}

// Waits for the page being loaded; milliseconds since `timer` started.
double Loaded(QWebEnginePage* page, const QElapsedTimer& timer, const stdfs::path& output)
{
    QEventLoop loop;
    bool loaded = false;
    QObject::connect(page, &QWebEnginePage::loadFinished, &loop, [&](bool ok) {
        loaded = ok;
        loop.quit();
    });
    loop.exec();
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    if (!loaded) {
        std::fprintf(stderr, "the home page of %s did not load\n", output.c_str());
        std::exit(1);
    }
    return ms;
}

// Milliseconds from Start until the home page has loaded; with `idle`,
// instead those of a reload with that many silent connections open.
double ShowOnce(const stdfs::path& output, int idle = 0)
{
    NoDialogs dialogs;
    NoShell shell;
    qv::view::Viewer viewer({dialogs, shell});
    QElapsedTimer timer;
    timer.start();
    if (viewer.Start({QString::fromStdString(output.string())}) != qv::view::Viewer::kRunning)
        std::exit(1);
    QWebEnginePage* page = viewer.Window()->View()->page();
    const double ms = Loaded(page, timer, output);
    if (idle == 0)
        return ms;
    std::vector<std::unique_ptr<QTcpSocket>> silent;
    for (int i = 0; i < idle; ++i) {
        silent.push_back(std::make_unique<QTcpSocket>());
        silent.back()->connectToHost(QHostAddress::LocalHost, viewer.Window()->Server().serverPort());
        if (!silent.back()->waitForConnected(5000))
            std::exit(1);
    }
    timer.restart();
    page->triggerAction(QWebEnginePage::ReloadAndBypassCache);
    return Loaded(page, timer, output);
}

void Measure(const char* title, const stdfs::path& output)
{
    double best = 1e12;
    for (int round = 0; round < 3; ++round)
        best = std::min(best, ShowOnce(output));
    QElapsedTimer open;
    open.start();
    const auto site = qv::OpenSiteFile(output.string());
    const double openMs = static_cast<double>(open.nsecsElapsed()) / 1e6;
    std::printf("%-36s start to home page %8.1f ms   (opening the output alone %7.1f ms, %zu entries)\n", title,
                best, openMs, site->Reader().Count());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    // Headless, and without the renderer's sandbox, which refuses root.
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").isEmpty())
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    QApplication application(argc, argv);
    const stdfs::path base = argc > 1 ? stdfs::path(argv[1]) : stdfs::temp_directory_path();
    const std::string only = argc > 2 ? argv[2] : "";
    const stdfs::path work = base / "qv-view-bench";
    stdfs::remove_all(work);

    Write(work / "small" / "index.html", Page("Small"));
    const stdfs::path small = Build(work / "small", work / "small.qpf", 0);
    std::printf("%-36s start to home page %8.1f ms   (Qt WebEngine starting)\n", "first output shown",
                ShowOnce(small));

    if (only == "idle") {
        double best = 1e12;
        for (int round = 0; round < 3; ++round)
            best = std::min(best, ShowOnce(small, 16));
        std::printf("%-36s reload of the home page %8.1f ms\n", "16 idle connections open", best);
        stdfs::remove_all(work);
        return 0;
    }
    if (only != "many") {
        Write(work / "big" / "index.html", Page("Big"));
        WriteNoise(work / "big" / "media" / "film.mp4", uint64_t{1} << 30);
        // Stored without compression, as video is: the build takes seconds.
        Measure("1 GiB output (one 1 GiB entry)", Build(work / "big", work / "big.qpf", 3));
        stdfs::remove_all(work / "big");
        stdfs::remove(work / "big.qpf");
    }
    if (only != "big") {
        Write(work / "many" / "index.html", Page("Many"));
        for (int i = 0; i < 99998; ++i) // with index.html and -config-: 100,000
            Write(work / "many" / ("d" + std::to_string(i % 100)) / ("p" + std::to_string(i) + ".html"),
                  Page("Page " + std::to_string(i)));
        Measure("100,000-entry output", Build(work / "many", work / "many.qpf", 0));
    }
    stdfs::remove_all(work);
    return 0;
}
