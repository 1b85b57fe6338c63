#pragma once
// The one place where the viewer's tests start wine: programs run in the
// shared prefix (QV_WINEPREFIX) with WINEDEBUG=-all and no Mono or Gecko,
// either without any display (a window would wait for ever, so none may
// open) or on an X server of their own (Xvfb), where windows open and a
// probe looks at them.
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qvtest {

struct RunResult {
    int status = -1; // the exit status; -1 when killed after the time limit
    std::string out;
    std::string err;
};

// A program started under wine; one not waited for is ended on destruction.
class WineProcess {
public:
    WineProcess(pid_t pid, std::filesystem::path out, std::filesystem::path err);
    WineProcess(WineProcess&& other) noexcept;
    WineProcess(const WineProcess&) = delete;
    WineProcess& operator=(const WineProcess&) = delete;
    ~WineProcess();
    // Waits for the end (at most two minutes, then the program is killed).
    RunResult Wait();
    // Ends the program now, for a test that has already failed.
    void Kill();

private:
    pid_t pid_;
    std::filesystem::path out_;
    std::filesystem::path err_;
};

class WineRunner {
public:
    // Why wine cannot run the tests here, or "" when it can.
    static std::string Missing();
    // Makes the prefix ready (once per process) after any wine server of an
    // earlier test program has ended; `display`: start an X server too.
    explicit WineRunner(bool display);
    ~WineRunner();
    WineRunner(const WineRunner&) = delete;
    WineRunner& operator=(const WineRunner&) = delete;

    bool Ready() const { return ready_; }
    bool HasDisplay() const { return xvfb_ > 0; }

    WineProcess Start(const std::filesystem::path& exe, const std::vector<std::string>& args,
                      const std::filesystem::path& scratch);
    RunResult Run(const std::filesystem::path& exe, const std::vector<std::string>& args,
                  const std::filesystem::path& scratch);

    // Z:\... : a Unix path as wine's drive Z: shows it.
    static std::string WindowsPath(const std::filesystem::path& path);
    // The Unix path of a path on wine's drive C:.
    static std::filesystem::path UnixPath(const std::string& windowsPath);

private:
    void StartDisplay();
    static void WaitForServer();

    pid_t xvfb_ = -1;
    bool ready_ = false;
};

} // namespace qvtest
