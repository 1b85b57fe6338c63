#include "quorvane/platform/FileSystem.h"
#include "quorvane/base/Text.h"

#include "quorvane/base/Error.h"
#include "quorvane/base/PathParts.h"
#include "quorvane/base/Stream.h"
#include "quorvane/platform/FileFaults.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace qv::fs {
namespace {

std::string Join(const std::string& folder, const std::string& name)
{
    if (!folder.empty() && folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

const char* SpecialKind(bool pipe, bool socket, bool device)
{
    return pipe ? "named pipe" : socket ? "socket" : device ? "device" : nullptr;
}

} // namespace

std::vector<DirEntry> ListFolder(const std::string& folder)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        RaiseOsError("Cannot open folder", folder, errno);
    std::vector<DirEntry> out;
    for (;;) {
        // readdir reports errors only through errno, which stat below may set.
        errno = 0;
        dirent* e = ::readdir(dir);
        if (!e)
            break;
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        DirEntry entry;
        entry.name = name;
        // The entry's own type saves a stat; links and file systems that do
        // not report it are looked up.
        if (e->d_type == DT_REG) {
            entry.isFile = true;
        } else if (e->d_type == DT_DIR) {
            entry.isFolder = true;
        } else if (e->d_type == DT_FIFO || e->d_type == DT_SOCK || e->d_type == DT_CHR || e->d_type == DT_BLK) {
            entry.special = SpecialKind(e->d_type == DT_FIFO, e->d_type == DT_SOCK, true);
        } else if (struct stat st {}; ::stat(Join(folder, name).c_str(), &st) == 0) {
            entry.isFolder = S_ISDIR(st.st_mode);
            entry.isFile = S_ISREG(st.st_mode);
            entry.special = SpecialKind(S_ISFIFO(st.st_mode), S_ISSOCK(st.st_mode),
                                        S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode));
        }
        out.push_back(std::move(entry));
    }
    const int err = errno;
    ::closedir(dir);
    if (err != 0)
        RaiseOsError("Cannot read folder", folder, err);
    std::sort(out.begin(), out.end(), [](const DirEntry& a, const DirEntry& b) {
        const int c = CompareAsciiNoCase(a.name, b.name);
        return c != 0 ? c < 0 : a.name < b.name;
    });
    return out;
}

bool GetFolderId(const std::string& folder, FolderId& id)
{
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0)
        return false;
    id.device = static_cast<uint64_t>(st.st_dev);
    id.inode = static_cast<uint64_t>(st.st_ino);
    return true;
}

bool FileExists(const std::string& path)
{
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool FolderExists(const std::string& path)
{
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path)
{
    struct stat st {};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

bool DeleteFileIfExists(const std::string& path)
{
    if (!PathExists(path))
        return true;
    if (FolderExists(path))
        return false;
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

void DeleteFileOrThrow(const std::string& path)
{
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        RaiseOsError("Cannot delete file", path, errno);
}

void CopyFile(const std::string& from, const std::string& to)
{
    FileStream in(from, FileStream::Mode::OpenRead);
    FileStream out(to, FileStream::Mode::Create);
    out.CopyFrom(in, 0);
    out.Close();
}

void MoveFile(const std::string& from, const std::string& to)
{
    int err = InjectedFault({FileOp::Rename, from});
    if (err == 0) {
        if (::rename(from.c_str(), to.c_str()) == 0)
            return;
        err = errno;
    }
    if (err != EXDEV)
        RaiseOsError("Cannot move file", from, err);
    try {
        CopyFile(from, to);
    } catch (...) {
        // Half a copy on the other volume is no file; the source stays whole.
        ::unlink(to.c_str());
        throw;
    }
    DeleteFileOrThrow(from);
}

namespace {

// The file a chain of symbolic links ends at, or `path` itself when it is
// no link; the file need not exist yet.
std::string LinkTarget(const std::string& path)
{
    std::string current = path;
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        if (hops == 40)
            RaiseOsError("Cannot open file", path, ELOOP);
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink(current.c_str(), buffer, sizeof buffer);
        if (n < 0 || static_cast<size_t>(n) >= sizeof buffer)
            RaiseOsError("Cannot open file", path, n < 0 ? errno : ENAMETOOLONG);
        std::string next(buffer, static_cast<size_t>(n));
        current = !next.empty() && next.front() == '/' ? next : FolderOf(current) + next;
    }
}

void WriteAll(int fd, std::span<const uint8_t> bytes, const std::string& path)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            RaiseOsError("Cannot write file", path, n < 0 ? errno : EIO);
        done += static_cast<size_t>(n);
    }
}

} // namespace

void WriteFileAtomic(const std::string& path, std::span<const uint8_t> bytes,
                     const std::function<void(const std::string&)>& beforeRename)
{
    const std::string target = LinkTarget(path);
    struct stat original {};
    const bool replacing = ::stat(target.c_str(), &original) == 0;
    if (!replacing && errno != ENOENT)
        RaiseOsError("Cannot open file", path, errno);

    std::string temp = target + ".tmpXXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0)
        RaiseOsError("Cannot create file", path, errno);
    try {
        WriteAll(fd, bytes, path);
        if (::fchmod(fd, replacing ? (original.st_mode & 07777) : 0644) != 0)
            RaiseOsError("Cannot write file", path, errno);
        // Only a privileged process may give the file away; others keep
        // their own ownership, as a copy would.
        if (replacing && ::geteuid() == 0 && ::fchown(fd, original.st_uid, original.st_gid) != 0)
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
    const std::string folder = FolderOf(target);
    const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

std::string AbsolutePath(const std::string& path)
{
    if (path.empty())
        return path;
    return std::filesystem::absolute(path).lexically_normal().string();
}

std::string FolderOf(const std::string& path)
{
    return std::string(CutAtLastSeparator(path, separators::kSlash).folder);
}

std::string FileNameOf(const std::string& path)
{
    return std::string(CutAtLastSeparator(path, separators::kSlash).name);
}

std::string ProgramFolder()
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return CurrentFolder();
    return FolderOf(std::string(buffer, static_cast<size_t>(n)));
}

std::string ProgramFile(const std::string& programFolder, const std::string& name)
{
    const std::string beside = programFolder + name;
    if (FileExists(beside))
        return beside;
    const std::string installed = AbsolutePath(Join(programFolder + QV_DATA_FOLDER_FROM_PROGRAMS, name));
    return FileExists(installed) ? installed : beside;
}

std::string ProgramFile(const std::string& name)
{
    return ProgramFile(ProgramFolder(), name);
}

std::string CurrentFolder()
{
    std::error_code ec;
    std::string cwd = std::filesystem::current_path(ec).string();
    if (!cwd.empty() && cwd.back() != '/')
        cwd += '/';
    return cwd;
}

int64_t FileSize(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st {};
    const int64_t size = ::fstat(fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
    ::close(fd);
    return size;
}

} // namespace qv::fs
