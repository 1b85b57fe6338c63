#pragma once
// wine as the tests' Windows loader: one program, one prefix, one
// environment. Tests added with qv_add_test(... WINE) reach the suite's own
// through TestWine(); CMake gives them its paths, the label "wine" and a
// turn of their own at the prefix.
#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qvtest {

struct WineRun {
    int status = -1; // exit status; -1 when the program was killed
    bool timedOut = false;
    std::string out, err;
};

struct WineRunOptions {
    std::chrono::seconds timeout{300};
};

// A program started in a process group of its own, its standard input
// empty; one still running on destruction is killed with its group.
class WineProcess {
public:
    WineProcess(pid_t pid, int out, int err, std::chrono::seconds timeout);
    WineProcess(WineProcess&& other) noexcept;
    WineProcess(const WineProcess&) = delete;
    WineProcess& operator=(const WineProcess&) = delete;
    ~WineProcess();

    // Waits for the end, at most the run's timeout, then kills it.
    WineRun Wait();
    // Ends the program now, for a test that has already failed.
    void Kill(int signal = SIGKILL);

private:
    pid_t pid_;
    int out_, err_;
    std::chrono::seconds timeout_;
};

class Wine {
public:
    Wine(std::filesystem::path program, std::filesystem::path prefix);
    ~Wine();
    Wine(const Wine&) = delete;
    Wine& operator=(const Wine&) = delete;

    // The wine program exists.
    bool Available() const;
    const std::filesystem::path& Prefix() const { return prefix_; }

    // The environment of every run, as "NAME=value": this process's own
    // with the prefix, no debug channels, no Mono or Gecko installers,
    // 64-bit, and no display but the X server of StartDisplay.
    std::vector<std::string> Environment() const;

    // Makes the prefix on its first start, which takes a while and talks on
    // stderr; once made (by any process) it is left as it is. False when
    // wine could not make it.
    bool Prepare();

    // Runs a Windows program under wine with `args` as they are, after
    // Prepare(). A run that outlives the timeout is killed.
    WineRun Run(const std::filesystem::path& program, const std::vector<std::string>& args = {},
                const WineRunOptions& options = {});
    // The same, not waited for.
    WineProcess Start(const std::filesystem::path& program, const std::vector<std::string>& args = {},
                      const WineRunOptions& options = {});

    // Keeps the wine server up for `seconds` after the last program ends,
    // so that many short runs do not each start it; StopServer ends it and
    // every program still running in the prefix, once they are gone.
    void KeepServer(int seconds);
    void StopServer();

    // An X server of our own (Xvfb, 1280x1024) for the programs that open
    // windows; without one a message box fails at once instead of waiting
    // for ever. A wine server that knew no display is ended first, and
    // StopDisplay ends the one that knew this display before the display
    // goes. False when Xvfb could not start.
    bool StartDisplay();
    bool HasDisplay() const { return display_.has_value(); }
    void StopDisplay();

    // The path under drive Z: (the Unix root) that names `path` for a
    // Windows program.
    static std::string WinPath(const std::filesystem::path& path);
    // The Unix path of `windowsPath` on the prefix's drive C:.
    std::filesystem::path UnixPath(const std::string& windowsPath) const;

private:
    WineProcess Spawn(const std::vector<std::string>& argv, const WineRunOptions& options, int displayFd = -1) const;

    std::filesystem::path program_, prefix_;
    bool prepared_ = false;
    std::optional<WineProcess> display_;
    std::string displayName_;
};

// One of the Windows programs and libraries Debian's wine ships (64-bit),
// or an empty path.
std::filesystem::path WineProgram(const std::string& name);

#if defined(QV_WINE) && defined(QV_WINEPREFIX)
// The suite's wine and prefix.
inline Wine& TestWine()
{
    static Wine wine(QV_WINE, QV_WINEPREFIX);
    return wine;
}

// For a fixture's SetUp: skips where wine, or `program` (made only by the
// mingw-w64 cross compiler), is missing; fails where the prefix cannot be made.
#define QV_SKIP_UNLESS_WINE_RUNS(program)                                                                         \
    do {                                                                                                          \
        const std::filesystem::path wineProgram_(program);                                                        \
        if (!qvtest::TestWine().Available())                                                                      \
            GTEST_SKIP() << "wine is not installed";                                                              \
        if (wineProgram_.empty() || !std::filesystem::exists(wineProgram_))                                       \
            GTEST_SKIP() << wineProgram_.filename().string() << " was not built (no mingw-w64 cross compiler)";   \
        ASSERT_TRUE(qvtest::TestWine().Prepare()) << "wine could not prepare its prefix " << QV_WINEPREFIX;       \
    } while (false)
#endif

} // namespace qvtest
