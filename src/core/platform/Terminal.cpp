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
        // The destructor ends the wait with a signal of the set; the
        // timeout is only a safety net.
        const timespec wait{1, 0};
        while (!stop_) {
            if (sigtimedwait(&set, nullptr, &wait) > 0 && !stop_ && !interrupted_.exchange(true))
                onInterrupt_();
        }
    });
}

CancelOnInterrupt::~CancelOnInterrupt()
{
    stop_ = true;
    // Without this the end of every build would wait out the watcher's sleep.
    pthread_kill(watcher_.native_handle(), SIGTERM);
    watcher_.join();
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

} // namespace qv::term
