#include "OutputWatcher.h"

#include "quorvane/viewercore/SiteFile.h"

#include <QFileInfo>

namespace qv::view {

OutputWatcher::OutputWatcher(const QString& path, const FileState& shown, Replaced replaced, QObject* parent)
    : QObject(parent), path_(QFileInfo(path).absoluteFilePath()), shown_(shown), replaced_(std::move(replaced))
{
    worker_.setMaxThreadCount(1);
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    connect(&settle_, &QTimer::timeout, this, &OutputWatcher::Settled);
    connect(&watch_, &QFileSystemWatcher::fileChanged, this, &OutputWatcher::Changed);
    connect(&watch_, &QFileSystemWatcher::directoryChanged, this, &OutputWatcher::Changed);
    watch_.addPath(QFileInfo(path_).absolutePath());
    watch_.addPath(path_);
}

OutputWatcher::~OutputWatcher()
{
    // Its answer is dropped with this object; the archive it opened goes.
    worker_.waitForDone();
}

void OutputWatcher::Changed()
{
    // A file renamed over the path is a new file, which the watch of the
    // old one (kept alive by the archive reading it) does not see.
    watch_.removePath(path_);
    if (QFileInfo::exists(path_))
        watch_.addPath(path_);
    settle_.start();
}

void OutputWatcher::Settled()
{
    if (opening_) {
        changedMeanwhile_ = true;
        return;
    }
    const std::optional<FileState> now = FileStream::StateOf(path_.toStdString());
    if (!now || *now == shown_)
        return; // gone for now (its replacement brings an event) or a change of the folder only
    opening_ = true;
    worker_.start([this, path = path_.toStdString()] {
        std::shared_ptr<const SiteArchive> site;
        FileState state;
        QString problem;
        try {
            site = OpenSiteFile(path, &state, true);
        } catch (const std::exception& e) {
            problem = QString::fromStdString(e.what());
        }
        QMetaObject::invokeMethod(
            this, [this, site, state, problem] { Opened(site, state, problem); }, Qt::QueuedConnection);
    });
}

void OutputWatcher::Opened(std::shared_ptr<const SiteArchive> site, const FileState& state, const QString& problem)
{
    opening_ = false;
    const bool taken = site != nullptr;
    if (taken) {
        shown_ = state;
        replaced_(std::move(site));
    }
    emit Tried(taken, problem);
    if (changedMeanwhile_) {
        changedMeanwhile_ = false;
        settle_.start();
    }
}

} // namespace qv::view
