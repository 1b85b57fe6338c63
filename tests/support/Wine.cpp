#include "Wine.h"

#include "TestSupport.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/personality.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace qvtest {

namespace fs = std::filesystem;

namespace {

const char* const kOwnVariables[] = {"WINEPREFIX", "WINEDEBUG", "WINEDLLOVERRIDES", "WINEARCH"};

bool NameIs(const std::string& entry, const char* name)
{
    const std::string n = name;
    return entry.size() > n.size() && entry.compare(0, n.size(), n) == 0 && entry[n.size()] == '=';
}

std::string ReadAll(int fd)
{
    std::string text;
    lseek(fd, 0, SEEK_SET);
    char buffer[65536];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    return text;
}

std::vector<char*> Pointers(std::vector<std::string>& texts)
{
    std::vector<char*> out;
    for (std::string& t : texts)
        out.push_back(t.data());
    out.push_back(nullptr);
    return out;
}

// Waits for `pid` to end, at most `timeout`; true when it did.
bool WaitUntilEnded(pid_t pid, std::chrono::milliseconds timeout)
{
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0)
        return true; // no way to wait with a limit here: waitpid blocks
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int ready = -1;
    while (ready < 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{pidfd, POLLIN, 0};
        ready = poll(&p, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
        if (ready < 0 && errno != EINTR)
            ready = 1;
    }
    close(pidfd);
    return ready > 0;
}

// `name` beside `folder`, else on the PATH; empty when it is nowhere.
fs::path Which(const std::string& name, const fs::path& folder)
{
    if (fs::exists(folder / name))
        return folder / name;
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "";
    for (size_t start = 0; start <= folders.size();) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        const fs::path candidate = fs::path(folders.substr(start, end - start)) / name;
        if (end > start && fs::exists(candidate))
            return candidate;
        start = end + 1;
    }
    return {};
}

} // namespace

WineProcess::WineProcess(pid_t pid, int out, int err, std::chrono::seconds timeout)
    : pid_(pid), out_(out), err_(err), timeout_(timeout)
{
}

WineProcess::WineProcess(WineProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), out_(std::exchange(other.out_, -1)), err_(std::exchange(other.err_, -1)),
      timeout_(other.timeout_)
{
}

WineProcess::~WineProcess()
{
    // Still running here means the test failed before it could end it.
    Kill();
    Wait();
}

void WineProcess::Kill(int signal)
{
    if (pid_ > 0) {
        kill(-pid_, signal);
        kill(pid_, signal);
    }
}

WineRun WineProcess::Wait()
{
    WineRun run;
    if (pid_ > 0) {
        if (!WaitUntilEnded(pid_, timeout_)) {
            run.timedOut = true;
            Kill();
        }
        int raw = 0;
        while (waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
        }
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    } else {
        run.err = "cannot start the program";
    }
    pid_ = -1;
    for (auto [fd, text] : {std::pair{&out_, &run.out}, std::pair{&err_, &run.err}}) {
        if (*fd >= 0) {
            *text = ReadAll(*fd);
            close(std::exchange(*fd, -1));
        }
    }
    return run;
}

Wine::Wine(fs::path program, fs::path prefix) : program_(std::move(program)), prefix_(std::move(prefix)) {}

Wine::~Wine()
{
    StopDisplay();
}

bool Wine::Available() const
{
    return !program_.empty() && fs::exists(program_);
}

std::vector<std::string> Wine::Environment() const
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool drop = NameIs(entry, "DISPLAY") || NameIs(entry, "WAYLAND_DISPLAY");
        for (const char* own : kOwnVariables)
            drop = drop || NameIs(entry, own);
        if (!drop)
            env.push_back(entry);
    }
    env.push_back("WINEPREFIX=" + prefix_.string());
    env.push_back("WINEDEBUG=-all");
    env.push_back("WINEDLLOVERRIDES=mscoree,mshtml=");
    env.push_back("WINEARCH=win64");
    if (!displayName_.empty())
        env.push_back("DISPLAY=" + displayName_);
    return env;
}

bool Wine::Prepare()
{
    if (prepared_ || !Available())
        return prepared_;
    fs::create_directories(prefix_.parent_path());
    const fs::path ready = prefix_ / ".qv-ready";
    // Processes started outside CTest's turns may come here together.
    const int lock = open((prefix_.string() + ".lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    if (lock >= 0)
        flock(lock, LOCK_EX);
    if (!fs::exists(ready) && Spawn({program_.string(), "wineboot", "-i"}, {}).Wait().status == 0)
        WriteFile(ready, std::string());
    if (lock >= 0)
        close(lock);
    prepared_ = fs::exists(ready);
    return prepared_;
}

WineRun Wine::Run(const fs::path& program, const std::vector<std::string>& args, const WineRunOptions& options)
{
    if (!Prepare()) {
        WineRun failed;
        failed.err = "wine could not prepare its prefix " + prefix_.string();
        return failed;
    }
    return Start(program, args, options).Wait();
}

WineProcess Wine::Start(const fs::path& program, const std::vector<std::string>& args, const WineRunOptions& options)
{
    Prepare();
    std::vector<std::string> argv = {program_.string(), program.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return Spawn(argv, options);
}

void Wine::KeepServer(int seconds)
{
    const fs::path server = Which("wineserver", program_.parent_path());
    if (Prepare() && !server.empty())
        Spawn({server.string(), "-p" + std::to_string(seconds)}, {}).Wait();
}

void Wine::StopServer()
{
    const fs::path server = Which("wineserver", program_.parent_path());
    if (Available() && !server.empty())
        Spawn({server.string(), "-k"}, {}).Wait();
}

bool Wine::StartDisplay()
{
    const fs::path xvfb = Which("Xvfb", {});
    int pipeFds[2];
    if (display_ || xvfb.empty() || pipe2(pipeFds, O_CLOEXEC) != 0)
        return display_.has_value();
    StopServer();
    WineProcess server = Spawn({xvfb.string(), "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"},
                               {std::chrono::seconds(60)}, pipeFds[1]);
    close(pipeFds[1]);
    // Xvfb writes its display number once it accepts clients.
    std::string number;
    char c = 0;
    for (ssize_t n; (n = read(pipeFds[0], &c, 1)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || c == '\n')
            break;
        number += c;
    }
    close(pipeFds[0]);
    if (number.empty())
        return false;
    display_.emplace(std::move(server));
    displayName_ = ":" + number;
    return true;
}

void Wine::StopDisplay()
{
    if (!display_)
        return;
    // The desktop process goes with the server, before its display does.
    StopServer();
    display_->Kill(SIGTERM);
    display_->Wait();
    display_.reset();
    displayName_.clear();
}

fs::path WineProgram(const std::string& name)
{
    const fs::path p = fs::path("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows") / name;
    return fs::exists(p) ? p : fs::path();
}

std::string Wine::WinPath(const fs::path& path)
{
    std::string out = "Z:" + fs::absolute(path).string();
    for (char& c : out)
        if (c == '/')
            c = '\\';
    return out;
}

fs::path Wine::UnixPath(const std::string& windowsPath) const
{
    std::string rest = windowsPath.substr(windowsPath.find(':') + 1);
    for (char& c : rest)
        if (c == '\\')
            c = '/';
    return prefix_ / "drive_c" / rest.substr(rest.find_first_not_of('/'));
}

WineProcess Wine::Spawn(const std::vector<std::string>& argv, const WineRunOptions& options, int displayFd) const
{
    std::vector<std::string> args = argv, env = Environment();
    std::vector<char*> argp = Pointers(args), envp = Pointers(env);
    const int out = memfd_create("wine-stdout", MFD_CLOEXEC);
    const int err = memfd_create("wine-stderr", MFD_CLOEXEC);
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t pid = out < 0 || err < 0 || in < 0 ? -1 : fork();
    if (pid == 0) {
        // A group of its own, so that a run that hangs goes with its children.
        setpgid(0, 0);
        // Wine maps its shared user data at one fixed address. In a
        // randomised address space a library now and then lands there
        // first, and about one start in three hundred dies before the
        // program runs ("failed to map the shared user data").
        personality(static_cast<unsigned long>(personality(0xffffffff)) | ADDR_NO_RANDOMIZE);
        dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        if (displayFd == 3)
            fcntl(3, F_SETFD, 0);
        else if (displayFd >= 0)
            dup2(displayFd, 3);
        execve(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    if (in >= 0)
        close(in);
    return WineProcess(pid, out, err, options.timeout);
}

} // namespace qvtest
