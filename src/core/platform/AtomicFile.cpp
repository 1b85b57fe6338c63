#include "AtomicFile.h"

#include "quorvane/base/Error.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv::detail {

namespace {

std::string ResolvedPath(const std::string& path)
{
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real)
        RaiseOsError("Cannot open file", path, errno);
    std::string out = real;
    std::free(real);
    return out;
}

void WriteAll(int fd, std::span<const uint8_t> bytes, const std::string& path)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            RaiseOsError("Cannot write file", path, errno);
        }
        done += static_cast<size_t>(n);
    }
}

} // namespace

void ReplaceFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                           const std::function<void(const std::string&)>& beforeRename)
{
    const std::string target = ResolvedPath(path);
    struct stat original {};
    if (::stat(target.c_str(), &original) != 0)
        RaiseOsError("Cannot open file", path, errno);

    std::string temp = target + ".tmpXXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0)
        RaiseOsError("Cannot create file", path, errno);
    try {
        WriteAll(fd, bytes, path);
        if (::fchmod(fd, original.st_mode & 07777) != 0)
            RaiseOsError("Cannot write file", path, errno);
        // Only a privileged process may give the file away; others keep
        // their own ownership, as a copy would.
        if (::geteuid() == 0 && ::fchown(fd, original.st_uid, original.st_gid) != 0)
            RaiseOsError("Cannot write file", path, errno);
        if (::fsync(fd) != 0)
            RaiseOsError("Cannot write file", path, errno);
        const int closing = fd;
        fd = -1;
        if (::close(closing) != 0)
            RaiseOsError("Cannot write file", path, errno);
        if (beforeRename)
            beforeRename(temp);
        if (::rename(temp.c_str(), target.c_str()) != 0)
            RaiseOsError("Cannot replace file", path, errno);
    } catch (...) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(temp.c_str());
        throw;
    }
    // The rename itself should survive a crash too; a folder that cannot be
    // synced leaves the new file in place all the same.
    const std::string folder = target.substr(0, target.find_last_of('/') + 1);
    const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

} // namespace qv::detail
