#include "services/QtDispatcher.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <exception>

namespace qv::app {

QtDispatcher::QtDispatcher(QObject* parent) : QObject(parent) {}

void QtDispatcher::Synchronize(const std::function<void()>& work)
{
    if (QThread::currentThread() == thread()) {
        work();
        return;
    }
    std::exception_ptr error;
    QMetaObject::invokeMethod(
        this,
        [&] {
            try {
                work();
            } catch (...) {
                error = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (error)
        std::rethrow_exception(error);
}

void QtDispatcher::ServeUntil(const std::function<bool()>& done)
{
    // A worker ends with a Wake; the timer only keeps a missed one from
    // hanging the wait.
    QTimer poll;
    poll.start(50);
    while (!done())
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
}

void QtDispatcher::Wake()
{
    QMetaObject::invokeMethod(this, [] {}, Qt::QueuedConnection);
}

} // namespace qv::app
