#include "WineRunner.h"

#include "TestSupport.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/personality.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace qvtest {

namespace fs = std::filesystem;

namespace {

pid_t Spawn(const std::vector<std::string>& argv, const fs::path& out, const fs::path& err, int extraFd = -1)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (extraFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, extraFd, 3);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

std::string Text(const fs::path& file)
{
    if (!fs::exists(file))
        return {};
    const std::vector<uint8_t> bytes = ReadFile(file);
    return std::string(bytes.begin(), bytes.end());
}

fs::path Scratch(const fs::path& folder, const char* kind)
{
    static std::atomic<int> counter{0};
    return folder / (std::string("wine-") + kind + "-" + std::to_string(++counter) + ".txt");
}

int WaitStatus(pid_t pid, int seconds)
{
    // Polls the child's end: a bounded wait on that one condition.
    const timespec step = {0, 20 * 1000 * 1000};
    for (int waited = 0; waited < seconds * 50; ++waited) {
        int raw = 0;
        const pid_t done = waitpid(pid, &raw, WNOHANG);
        if (done == pid)
            return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        if (done < 0 && errno != EINTR)
            return -1;
        nanosleep(&step, nullptr);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

} // namespace

WineProcess::WineProcess(pid_t pid, fs::path out, fs::path err) : pid_(pid), out_(std::move(out)), err_(std::move(err))
{
}

WineProcess::WineProcess(WineProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), out_(std::move(other.out_)), err_(std::move(other.err_))
{
}

WineProcess::~WineProcess()
{
    // Still running here means the test failed before it could end it.
    Kill();
    if (pid_ > 0)
        Wait();
}

void WineProcess::Kill()
{
    if (pid_ > 0)
        kill(pid_, SIGKILL);
}

RunResult WineProcess::Wait()
{
    RunResult r;
    if (pid_ > 0)
        r.status = WaitStatus(std::exchange(pid_, -1), 120);
    r.out = Text(out_);
    r.err = Text(err_);
    return r;
}

std::string WineRunner::Missing()
{
    if (std::string(QV_WINE).empty() || !fs::exists(QV_WINE))
        return "wine is not installed";
    return {};
}

WineRunner::WineRunner(bool display)
{
    setenv("WINEPREFIX", QV_WINEPREFIX, 1);
    setenv("WINEDEBUG", "-all", 1);
    // No Mono or Gecko installer prompts; without Gecko no page is drawn.
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    // Wine maps its shared user data at one fixed address. In a randomised
    // address space a library now and then lands there first, and about one
    // start in three hundred dies before the program runs ("failed to map
    // the shared user data"); wine's processes get the plain layout.
    personality(static_cast<unsigned long>(personality(0xffffffff)) | ADDR_NO_RANDOMIZE);
    if (!Missing().empty())
        return;
    // A server left by an earlier test program may know another display.
    WaitForServer();
    if (display)
        StartDisplay();
    if (display && xvfb_ <= 0)
        return;
    TempDir scratch;
    ready_ = Run("wineboot", {"-i"}, scratch.path()).status == 0;
}

WineRunner::~WineRunner()
{
    if (xvfb_ > 0) {
        // The desktop process goes with the server, before its display does.
        WaitForServer();
        kill(xvfb_, SIGTERM);
        waitpid(xvfb_, nullptr, 0);
    }
}

void WineRunner::WaitForServer()
{
    const fs::path server = fs::path(QV_WINE).parent_path() / "wineserver";
    if (!fs::exists(server))
        return;
    TempDir scratch;
    const pid_t pid = Spawn({server.string(), "-w"}, scratch / "out.txt", scratch / "err.txt");
    if (pid > 0)
        WaitStatus(pid, 60);
}

void WineRunner::StartDisplay()
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return;
    TempDir scratch;
    xvfb_ = Spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"},
                  "/dev/null", "/dev/null", pipeFds[1]);
    close(pipeFds[1]);
    // Xvfb writes its display number once it accepts clients.
    std::string number;
    char c = 0;
    while (xvfb_ > 0 && read(pipeFds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(pipeFds[0]);
    if (number.empty()) {
        if (xvfb_ > 0)
            WaitStatus(xvfb_, 1);
        xvfb_ = -1;
        return;
    }
    setenv("DISPLAY", (":" + number).c_str(), 1);
}

WineProcess WineRunner::Start(const fs::path& exe, const std::vector<std::string>& args, const fs::path& scratch)
{
    std::vector<std::string> argv = {QV_WINE, exe.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    const fs::path out = Scratch(scratch, "out"), err = Scratch(scratch, "err");
    return WineProcess(Spawn(argv, out, err), out, err);
}

RunResult WineRunner::Run(const fs::path& exe, const std::vector<std::string>& args, const fs::path& scratch)
{
    return Start(exe, args, scratch).Wait();
}

std::string WineRunner::WindowsPath(const fs::path& path)
{
    std::string p = "Z:" + path.string();
    for (char& c : p)
        if (c == '/')
            c = '\\';
    return p;
}

fs::path WineRunner::UnixPath(const std::string& windowsPath)
{
    std::string rest = windowsPath.substr(windowsPath.find(':') + 1);
    for (char& c : rest)
        if (c == '\\')
            c = '/';
    return fs::path(QV_WINEPREFIX) / "drive_c" / rest.substr(rest.find_first_not_of('/'));
}

} // namespace qvtest
