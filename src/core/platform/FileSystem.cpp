#include "quorvane/platform/FileSystem.h"
#include "quorvane/base/Text.h"

#include "quorvane/base/Error.h"
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

void WriteFileAtomic(const std::string& path, const std::string& bytes)
{
    std::string temp = path + ".tmpXXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        RaiseOsError("Cannot create file", path, errno);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = errno;
            ::close(fd);
            ::unlink(temp.c_str());
            RaiseOsError("Cannot write file", path, err);
        }
        done += static_cast<size_t>(n);
    }
    // Keep the permissions of the file being replaced.
    struct stat st {};
    ::fchmod(fd, ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        RaiseOsError("Cannot write file", path, err);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        RaiseOsError("Cannot write file", path, err);
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
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string FileNameOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ProgramFolder()
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return CurrentFolder();
    return FolderOf(std::string(buffer, static_cast<size_t>(n)));
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
