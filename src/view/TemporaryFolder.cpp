#include "TemporaryFolder.h"

#include <cerrno>
#include <cstring>

#include <QRegularExpression>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace qv::view {
namespace {

const char* const kPrefix = "quorvane-view-";

// A folder locked here, or -1 when it is gone or someone else holds it.
int LockFolder(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

TemporaryFolder::TemporaryFolder(const QString& parent)
{
    // Made under a name no sweep looks at and locked before it takes its
    // real one, so another viewer starting now never sees it unlocked.
    QByteArray staging = QFile::encodeName(parent + QStringLiteral("/.%1XXXXXX").arg(QLatin1String(kPrefix)));
    if (!::mkdtemp(staging.data())) {
        error_ = QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    const int fd = LockFolder(staging);
    const QString name = QFile::decodeName(staging);
    const QString named = parent + QLatin1Char('/') + QLatin1String(kPrefix) +
                          QString::number(::getpid()) + QLatin1Char('-') + name.right(6);
    if (fd < 0 || ::rename(staging.constData(), QFile::encodeName(named).constData()) != 0) {
        error_ = QString::fromLocal8Bit(std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        ::rmdir(staging.constData());
        return;
    }
    path_ = named;
    lock_ = fd;
}

TemporaryFolder::~TemporaryFolder()
{
    if (lock_ < 0)
        return;
    QDir(path_).removeRecursively();
    ::close(lock_);
}

int TemporaryFolder::RemoveAbandoned(const QString& parent)
{
    static const QRegularExpression kName(QStringLiteral("^%1[0-9]+-[A-Za-z0-9]{6}$").arg(QLatin1String(kPrefix)));
    int removed = 0;
    const QStringList names =
        QDir(parent).entryList({QLatin1String(kPrefix) + QLatin1Char('*')}, QDir::Dirs | QDir::Hidden | QDir::NoSymLinks);
    for (const QString& name : names) {
        const QString path = parent + QLatin1Char('/') + name;
        const QByteArray native = QFile::encodeName(path);
        struct stat info {};
        if (!kName.match(name).hasMatch() || ::lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
            info.st_uid != ::getuid())
            continue;
        const int fd = LockFolder(native);
        if (fd < 0)
            continue;
        removed += QDir(path).removeRecursively() ? 1 : 0;
        ::close(fd);
    }
    return removed;
}

} // namespace qv::view
