#pragma once
#include "ViewServices.h"

#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

namespace qv {
class SiteArchive;
}

namespace qv::view {

class OutputWatcher;
class ViewerWindow;

// The program quorvane-view without its event loop, so tests drive it in
// one process: `quorvane-view FILE` shows an output (QPF or EXE), and
// without FILE a file dialog asks for one.
class Viewer {
public:
    // Start returns this while the window is up: run the event loop.
    static constexpr int kRunning = -1;

    explicit Viewer(ViewServices services);
    ~Viewer();
    Viewer(const Viewer&) = delete;
    Viewer& operator=(const Viewer&) = delete;

    // Chooses the output, opens it, applies the start rules on `today`
    // (days since 30 December 1899; the local date when negative) and shows
    // the window with the home page. Returns kRunning, or the exit status:
    // 0 for --help or a cancelled file dialog, 1 when the output cannot be
    // opened or the start rules refuse it, 2 for wrong arguments.
    int Start(const QStringList& arguments, int32_t today = -1);

    // The window, once Start has returned kRunning.
    ViewerWindow* Window() const { return window_.get(); }
    // What follows the output's rebuilds into the window, with it.
    OutputWatcher* Watcher() const { return watcher_.get(); }

private:
    ViewServices services_;
    std::shared_ptr<const SiteArchive> site_;
    std::unique_ptr<ViewerWindow> window_;
    std::unique_ptr<OutputWatcher> watcher_;
};

// Answers --help and --version, which need no display; other arguments
// are Start's. Returns the exit status, or -1 when the program should go on.
int AnswerWithoutDisplay(int argc, char** argv);

// The whole program: the application object, Start, the event loop.
// `started`, when given, runs once the window is up.
int RunViewer(int argc, char** argv, ViewServices services, const std::function<void(Viewer&)>& started = {});

} // namespace qv::view
