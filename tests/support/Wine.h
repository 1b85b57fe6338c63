#pragma once
// wine as the tests' Windows loader: one program, one prefix, one
// environment. Tests added with qv_add_test(... WINE) reach the suite's own
// through TestWine(); CMake gives them its paths, the label "wine" and a
// turn of their own at the prefix.
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace qvtest {

struct WineRun {
    int status = -1; // exit status; -1 when the program was killed
    bool timedOut = false;
    std::string out, err;
};

struct WineRunOptions {
    std::chrono::seconds timeout{300};
    // Only a test that means to open windows asks for the desktop's display:
    // without one, a message box fails at once instead of waiting forever.
    bool display = false;
};

class Wine {
public:
    Wine(std::filesystem::path program, std::filesystem::path prefix);

    // The wine program exists.
    bool Available() const;
    const std::filesystem::path& Prefix() const { return prefix_; }

    // The environment of every run, as "NAME=value": this process's own
    // with the prefix, no debug channels, no Mono or Gecko installers,
    // 64-bit, and no display unless asked for.
    std::vector<std::string> Environment(bool display = false) const;

    // Makes the prefix on its first start, which takes a while and talks on
    // stderr; once made (by any process) it is left as it is. False when
    // wine could not make it.
    bool Prepare();

    // Runs a Windows program under wine with `args` as they are, its
    // standard input empty, after Prepare(). A run that outlives the
    // timeout is killed.
    WineRun Run(const std::filesystem::path& program, const std::vector<std::string>& args = {},
                const WineRunOptions& options = {});

    // Keeps the wine server up for `seconds` after the last program ends,
    // so that many short runs do not each start it; StopServer ends it and
    // every program still running in the prefix.
    void KeepServer(int seconds);
    void StopServer();

    // The path under drive Z: (the Unix root) that names `path` for a
    // Windows program.
    static std::string WinPath(const std::filesystem::path& path);

private:
    WineRun Spawn(const std::vector<std::string>& argv, const WineRunOptions& options) const;
    std::filesystem::path Server() const;

    std::filesystem::path program_, prefix_;
    bool prepared_ = false;
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
#endif

} // namespace qvtest
