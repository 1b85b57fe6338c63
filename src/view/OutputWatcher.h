#pragma once
#include "quorvane/base/Stream.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <functional>
#include <memory>

namespace qv {
class SiteArchive;
}

namespace qv::view {

// Follows an output on disk while it is shown: when a build replaces it
// (a temporary file renamed over it, or the file rewritten in place), the
// new file is opened on a worker thread once changes have paused for
// kSettleMs, and handed to `replaced` on the watcher's thread only when it
// opens as a complete archive whose CRC matches. Anything less (a file half
// written, gone, damaged) keeps the current one, and the next change is
// tried again. The file watch goes when the file is renamed over, so the
// folder is watched too.
class OutputWatcher : public QObject {
    Q_OBJECT
public:
    static constexpr int kSettleMs = 300;
    using Replaced = std::function<void(std::shared_ptr<const SiteArchive>)>;

    // `shown` is the state of the file the current archive was opened from.
    OutputWatcher(const QString& path, const FileState& shown, Replaced replaced, QObject* parent = nullptr);
    ~OutputWatcher() override;

signals:
    // After each attempt to open a changed output: whether it was taken,
    // and if not, why.
    void Tried(bool taken, const QString& problem);

private:
    void Changed();
    void Settled();
    void Opened(std::shared_ptr<const SiteArchive> site, const FileState& state, const QString& problem);

    QString path_;
    FileState shown_;
    Replaced replaced_;
    QFileSystemWatcher watch_;
    QTimer settle_;
    QThreadPool worker_;
    bool opening_ = false;
    bool changedMeanwhile_ = false;
};

} // namespace qv::view
