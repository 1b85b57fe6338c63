#pragma once
#include <QDir>
#include <QString>

namespace qv::view {

// The viewer's temporary folder, for the packed files it hands to the
// desktop: "quorvane-view-<pid>-XXXXXX" below the system's temporary
// folder, locked (flock on the folder itself) for as long as it exists,
// and removed with this object. A viewer that crashed leaves its folder
// unlocked, so the next one can tell it from the folder of a viewer still
// running, even when the dead one's pid has been given to another process.
class TemporaryFolder {
public:
    explicit TemporaryFolder(const QString& parent = QDir::tempPath());
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    // QTemporaryDir's names, so that the window can use either.
    bool isValid() const { return lock_ >= 0; }
    QString path() const { return path_; }
    QString filePath(const QString& name) const { return path_ + QLatin1Char('/') + name; }
    // Why it could not be made, when it is not valid.
    QString errorString() const { return error_; }

    // Removes the folders of this user's viewers in `parent` that nothing
    // holds locked any more; returns how many went.
    static int RemoveAbandoned(const QString& parent = QDir::tempPath());

private:
    QString path_;
    QString error_;
    int lock_ = -1;
};

} // namespace qv::view
