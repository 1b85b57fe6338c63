#pragma once
#include "quorvane/compile/Dispatcher.h"

#include <QObject>

namespace qv::app {

// Hands a worker's work to the Qt GUI thread: Synchronize is a blocking
// queued call, so the worker waits while the event loop (the main one, a
// modal window's, or ServeUntil's) runs it.
class QtDispatcher final : public QObject, public Dispatcher {
    Q_OBJECT
public:
    explicit QtDispatcher(QObject* parent = nullptr);

    void Synchronize(const std::function<void()>& work) override;
    // Serves hand-overs but no user input, so nothing can be chosen while
    // the program waits for a worker.
    void ServeUntil(const std::function<bool()>& done) override;
    void Wake() override;
};

} // namespace qv::app
