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
// With "search", the figure is instead the viewer's memory while searching
// the Python 3.11 documentation (python3.11-doc) built with its index by
// quorvanec: the resident memory of this process (the viewer; Chromium's
// own processes apart, as the sum over this process's descendants) after
// the home page has loaded, after six ordinary pages, after six searches
// served by its page server, and after the same six searches again.
// Usage: view_bench [folder] [big|many|idle|search]
//   folder: where the sites and outputs are made (default: the system
//   temporary folder); about 2.2 GiB are needed for "big".
#include "SiteBuild.h"
#include "ViewServices.h"
#include "Viewer.h"
#include "PageServer.h"
#include "ViewerWindow.h"

#include "quorvane/project/ProjectFile.h"
#include "quorvane/viewercore/SearchPage.h"
#include "quorvane/viewercore/SiteFile.h"

#include "BenchSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpSocket>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
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

// A viewer showing `output`, from Start until its home page has loaded.
class Shown {
public:
    explicit Shown(const stdfs::path& output) : viewer_({dialogs_, shell_})
    {
        QElapsedTimer timer;
        timer.start();
        if (viewer_.Start({QString::fromStdString(output.string())}) != qv::view::Viewer::kRunning)
            std::exit(1);
        ms = Loaded(Page(), timer, output);
    }
    qv::view::ViewerWindow* Window() const { return viewer_.Window(); }
    QWebEnginePage* Page() const { return viewer_.Window()->View()->page(); }

    double ms = 0; // from Start until the home page had loaded

private:
    NoDialogs dialogs_;
    NoShell shell_;
    qv::view::Viewer viewer_;
};

// Milliseconds from Start until the home page has loaded; with `idle`,
// instead those of a reload with that many silent connections open.
double ShowOnce(const stdfs::path& output, int idle = 0)
{
    Shown viewer(output);
    QWebEnginePage* page = viewer.Page();
    if (idle == 0)
        return viewer.ms;
    QElapsedTimer timer;
    std::vector<std::unique_ptr<QTcpSocket>> silent;
    for (int i = 0; i < idle; ++i) {
        silent.push_back(std::make_unique<QTcpSocket>());
        silent.back()->connectToHost(QHostAddress::LocalHost, viewer.Window()->Server().serverPort());
        if (!silent.back()->waitForConnected(5000))
            std::exit(1);
    }
    timer.start();
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

// The resident memory of this process's descendants (Chromium's processes).
double DescendantsMiB()
{
    std::vector<std::pair<std::string, std::string>> parents; // pid, its parent
    for (const auto& e : stdfs::directory_iterator("/proc")) {
        const std::string pid = e.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(e.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const size_t close = line.rfind(')');
        if (close == std::string::npos || close + 4 >= line.size())
            continue;
        const size_t from = line.find(' ', close + 3);
        if (from == std::string::npos)
            continue;
        parents.emplace_back(pid, line.substr(from + 1, line.find(' ', from + 1) - from - 1));
    }
    std::set<std::string> family = {std::to_string(getpid())};
    for (size_t before = 0; before != family.size();) {
        before = family.size();
        for (const auto& [pid, parent] : parents)
            if (family.count(parent))
                family.insert(pid);
    }
    family.erase(std::to_string(getpid()));
    double mib = 0;
    for (const std::string& pid : family)
        mib += qvbench::StatusMiB("VmRSS", pid);
    return mib;
}

void LoadAndWait(QWebEnginePage* page, const QUrl& url, const stdfs::path& output)
{
    QElapsedTimer timer;
    timer.start();
    page->load(url);
    Loaded(page, timer, output);
}

// How many results with snippets the page shows.
int Snippets(QWebEnginePage* page)
{
    QEventLoop loop;
    int count = -1;
    page->runJavaScript(QStringLiteral("document.querySelectorAll('li p.snippet').length"), [&](const QVariant& v) {
        count = v.toInt();
        loop.quit();
    });
    loop.exec();
    return count;
}

void MeasureSearch(const stdfs::path& work)
{
    const stdfs::path docs = "/usr/share/doc/python3.11/html";
    if (!stdfs::exists(docs / "index.html")) {
        std::printf("searching: skipped, %s is missing (install python3.11-doc)\n", (docs / "index.html").c_str());
        return;
    }
    // Built by quorvanec, so that the build leaves nothing in this process.
    qv::ProjectSettingsRecord s;
    s.HomePage = (docs / "index.html").string();
    s.OutputIsExe = false;
    s.OutputPath = (work / "python.qpf").string();
    s.IncludeMask = "*.*;";
    s.SearchIndex = true;
    const std::string project = (work / "python.qp").string();
    if (!qv::SaveProject(project, s, nullptr))
        std::exit(1);
    qvbench::Spawn({QV_QUORVANEC, "build", "-q", "-j", "2", project});
    const stdfs::path output = work / "python.qpf";

    const Shown viewer(output);
    QWebEnginePage* page = viewer.Page();
    const qv::view::PageServer& server = viewer.Window()->Server();
    auto report = [](const char* when) {
        std::printf("  %-34s viewer %6.1f MiB (peak %6.1f)   its Chromium processes %7.1f MiB\n", when,
                    qvbench::StatusMiB("VmRSS"), qvbench::StatusMiB("VmHWM"), DescendantsMiB());
        std::fflush(stdout);
        return qvbench::StatusMiB("VmRSS");
    };
    std::printf("Python docs with the index (%lld bytes), resident memory:\n",
                static_cast<long long>(stdfs::file_size(output)));
    const double home = report("home page loaded");
    for (const char* address : {"/library/index.html", "/tutorial/index.html", "/reference/index.html",
                                "/howto/index.html", "/faq/index.html", "/glossary.html"})
        LoadAndWait(page, server.UrlOf(QString::fromLatin1(address)), output);
    const double ordinary = report("after 6 ordinary pages");
    const std::vector<qv::SearchRequest> searches = {{"list comprehension", 1}, {"asyncio*", 1},
                                                     {"\"context manager\"", 1}, {"dictionary -deprecated", 1},
                                                     {"socket timeout", 2}, {"unicode normalization", 1}};
    double searched = 0;
    for (int round = 0; round < 2; ++round) {
        for (const qv::SearchRequest& request : searches) {
            LoadAndWait(page, server.UrlOf(QString::fromStdString("/" + qv::SearchPageAddress(request))), output);
            if (Snippets(page) <= 0) {
                std::fprintf(stderr, "the search for %s showed no results\n", request.query.c_str());
                std::exit(1);
            }
        }
        searched = report(round == 0 ? "after 6 searches" : "after the 6 searches again");
    }
    std::printf("  growth while searching: %.1f MiB since the home page, %.1f MiB since the ordinary pages "
                "(goal <= 32 MiB)\n",
                searched - home, searched - ordinary);
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

    if (only == "search") {
        stdfs::create_directories(work);
        MeasureSearch(work);
        stdfs::remove_all(work);
        return 0;
    }
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
