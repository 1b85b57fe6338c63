// What hostile outputs cost quorvanec: the three archives of
// tests/support/HostileArchives are written to a work folder and each of
// list, verify, extract and config runs on each as a child process,
// measured by wait4 (wall time, peak memory) with its exit status.
// "--version" gives the floor: the program doing nothing.
//
// Usage: hostile_bench [--work FOLDER] (default: a fresh temporary folder,
//        removed at the end; a given one is kept, with the bombs in it).
#include "HostileArchives.h"
#include "TestSupport.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace stdfs = std::filesystem;

struct Measure {
    int status = -1;
    double seconds = 0;
    double mib = 0;
};

Measure Run(std::vector<std::string> args, const stdfs::path& folder)
{
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0 || !std::freopen("/dev/null", "w", stdout) ||
            !std::freopen("/dev/null", "w", stderr))
            _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage ru{};
    Measure m;
    if (pid < 0 || wait4(pid, &status, 0, &ru) != pid)
        return m;
    m.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    m.mib = static_cast<double>(ru.ru_maxrss) / 1024.0;
    return m;
}

} // namespace

int main(int argc, char** argv)
{
    stdfs::path work;
    if (argc == 3 && std::string(argv[1]) == "--work") {
        work = argv[2];
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: hostile_bench [--work FOLDER]\n");
        return 2;
    }
    std::unique_ptr<qvtest::TempDir> temp;
    if (work.empty()) {
        temp = std::make_unique<qvtest::TempDir>();
        work = temp->path();
    }
    stdfs::create_directories(work);
    const std::pair<const char*, std::vector<uint8_t>> bombs[] = {
        {"config-bomb.qpf", qvtest::ConfigBomb()},
        {"directory-bomb.qpf", qvtest::DirectoryBomb()},
        {"shared-run-bomb.qpf", qvtest::SharedRunBomb()},
    };
    const Measure floor = Run({QV_QUORVANEC, "--version"}, work);
    std::printf("quorvanec --version: %.1f MiB, %.3f s\n\n", floor.mib, floor.seconds);
    std::printf("%-20s %10s  %-8s %6s %10s %9s\n", "output", "bytes", "command", "exit", "peak MiB", "seconds");
    for (const auto& [name, bytes] : bombs) {
        qvtest::WriteFile(work / name, bytes);
        for (const char* command : {"list", "verify", "extract", "config"}) {
            std::vector<std::string> args = {QV_QUORVANEC, command, name};
            if (std::string(command) == "extract")
                args.push_back("extracted");
            const Measure m = Run(args, work);
            std::printf("%-20s %10zu  %-8s %6d %10.1f %9.3f\n", name, bytes.size(), command, m.status, m.mib,
                        m.seconds);
            stdfs::remove_all(work / "extracted");
        }
    }
    return 0;
}
