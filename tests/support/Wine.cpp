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
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

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

} // namespace

Wine::Wine(fs::path program, fs::path prefix) : program_(std::move(program)), prefix_(std::move(prefix)) {}

bool Wine::Available() const
{
    return !program_.empty() && fs::exists(program_);
}

std::vector<std::string> Wine::Environment(bool display) const
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool drop = !display && (NameIs(entry, "DISPLAY") || NameIs(entry, "WAYLAND_DISPLAY"));
        for (const char* own : kOwnVariables)
            drop = drop || NameIs(entry, own);
        if (!drop)
            env.push_back(entry);
    }
    env.push_back("WINEPREFIX=" + prefix_.string());
    env.push_back("WINEDEBUG=-all");
    env.push_back("WINEDLLOVERRIDES=mscoree,mshtml=");
    env.push_back("WINEARCH=win64");
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
    if (!fs::exists(ready) && Spawn({program_.string(), "wineboot", "-i"}, {}).status == 0)
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
    std::vector<std::string> argv = {program_.string(), program.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return Spawn(argv, options);
}

void Wine::KeepServer(int seconds)
{
    if (Prepare() && !Server().empty())
        Spawn({Server().string(), "-p" + std::to_string(seconds)}, {});
}

void Wine::StopServer()
{
    if (Available() && !Server().empty())
        Spawn({Server().string(), "-k"}, {});
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

fs::path Wine::Server() const
{
    const fs::path beside = program_.parent_path() / "wineserver";
    if (fs::exists(beside))
        return beside;
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "";
    for (size_t start = 0; start <= folders.size();) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        const fs::path candidate = fs::path(folders.substr(start, end - start)) / "wineserver";
        if (end > start && fs::exists(candidate))
            return candidate;
        start = end + 1;
    }
    return {};
}

WineRun Wine::Spawn(const std::vector<std::string>& argv, const WineRunOptions& options) const
{
    std::vector<std::string> args = argv, env = Environment(options.display);
    std::vector<char*> argp = Pointers(args), envp = Pointers(env);
    const int out = memfd_create("wine-stdout", MFD_CLOEXEC);
    const int err = memfd_create("wine-stderr", MFD_CLOEXEC);
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    WineRun run;
    if (out < 0 || err < 0 || in < 0) {
        run.err = "cannot make the run's streams";
        return run;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        // A group of its own, so that a run that hangs goes with its children.
        setpgid(0, 0);
        dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        execve(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    if (pid > 0) {
        if (!WaitUntilEnded(pid, options.timeout)) {
            run.timedOut = true;
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
        }
        int raw = 0;
        while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
        }
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    run.out = ReadAll(out);
    run.err = ReadAll(err) + (pid < 0 ? "cannot start " + argv[0] : "");
    close(in);
    close(out);
    close(err);
    return run;
}

} // namespace qvtest
