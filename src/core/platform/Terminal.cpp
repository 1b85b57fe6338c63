#include "quorvane/platform/Terminal.h"

#include <csignal>
#include <ctime>
#include <pthread.h>
#include <unistd.h>

namespace qv::term {

bool IsTerminal(std::FILE* stream)
{
    return ::isatty(::fileno(stream)) == 1;
}

CancelOnInterrupt::CancelOnInterrupt(std::function<void()> onInterrupt) : onInterrupt_(std::move(onInterrupt))
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    watcher_ = std::thread([this, set] {
        // A short timeout lets the destructor end the watcher without
        // sending it a signal.
        const timespec wait{0, 100'000'000};
        while (!stop_) {
            if (sigtimedwait(&set, nullptr, &wait) > 0 && !interrupted_.exchange(true))
                onInterrupt_();
        }
    });
}

CancelOnInterrupt::~CancelOnInterrupt()
{
    stop_ = true;
    watcher_.join();
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

} // namespace qv::term
