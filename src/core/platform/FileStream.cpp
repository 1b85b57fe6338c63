#include "quorvane/base/Error.h"
#include "quorvane/base/Stream.h"
#include "quorvane/platform/FileFaults.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace qv {

namespace fs {
namespace {
std::atomic<const FaultHook*> installedHook{nullptr};
// A build reads files on several threads; the hooks, written for tests,
// need not be thread-safe themselves.
std::mutex hookCalls;
} // namespace

ScopedFaultHook::ScopedFaultHook(FaultHook hook) : hook_(std::move(hook))
{
    installedHook.store(&hook_, std::memory_order_release);
}

ScopedFaultHook::~ScopedFaultHook()
{
    installedHook.store(nullptr, std::memory_order_release);
}

int InjectedFault(const FileAccess& access)
{
    const FaultHook* hook = installedHook.load(std::memory_order_acquire);
    if (!hook || !*hook)
        return 0;
    const std::lock_guard lock(hookCalls);
    return (*hook)(access);
}
} // namespace fs

FileStream::FileStream(const std::string& path, Mode mode) : path_(path)
{
    const char* failure = mode == Mode::Create ? "Cannot create file" : "Cannot open file";
    if (const int err = fs::InjectedFault({mode == Mode::Create ? fs::FileOp::Create : fs::FileOp::Open, path}))
        RaiseOsError(failure, path, err);
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::Create: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    // Opening a named pipe for reading waits for a writer, for ever if none
    // comes; without blocking we get to refuse it below.
    case Mode::OpenRead: flags |= O_RDONLY | O_NONBLOCK; break;
    case Mode::OpenReadWrite: flags |= O_RDWR; break;
    }
    fd_ = ::open(path.c_str(), flags, 0644);
    if (fd_ < 0)
        RaiseOsError(failure, path, errno);
    struct stat st {};
    const bool known = ::fstat(fd_, &st) == 0;
    if (known && S_ISDIR(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        RaiseOsError("Cannot open file", path, EISDIR);
    }
    if (mode == Mode::OpenRead) {
        // Everything read here is sized first; pipes, sockets and devices
        // have no size to trust.
        if (known && !S_ISREG(st.st_mode)) {
            ::close(fd_);
            fd_ = -1;
            throw OsError("Cannot open file \"" + path + "\". It is a named pipe, socket or device, not a regular file",
                          EINVAL);
        }
        // O_NONBLOCK stays: it means nothing to a regular file, and two
        // calls per file count on a site of many small pages.
        if (known)
            readSize_ = static_cast<int64_t>(st.st_size);
    }
}

FileStream::~FileStream()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void FileStream::Close()
{
    if (fd_ < 0)
        return;
    const int fd = fd_;
    fd_ = -1;
    const int injected = fs::InjectedFault({fs::FileOp::Close, path_});
    if (::close(fd) != 0)
        RaiseOsError("Cannot write file", path_, errno);
    if (injected)
        RaiseOsError("Cannot write file", path_, injected);
}

int64_t FileStream::Size() const
{
    if (readSize_ >= 0 && fd_ >= 0)
        return readSize_;
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        return 0;
    return static_cast<int64_t>(st.st_size);
}

void FileStream::Seek(int64_t position)
{
    if (position < 0)
        throw Error("Stream seek error");
    position_ = position;
}

size_t FileStream::Read(void* buffer, size_t count)
{
    const size_t done = ReadAt(position_, buffer, count);
    position_ += static_cast<int64_t>(done);
    return done;
}

size_t FileStream::ReadAt(int64_t at, void* buffer, size_t count) const
{
    if (const int err = fs::InjectedFault({fs::FileOp::Read, path_, at, count}))
        RaiseOsError("Cannot read file", path_, err);
    size_t done = 0;
    auto* out = static_cast<char*>(buffer);
    while (done < count) {
        const ssize_t n = ::pread(fd_, out + done, count - done, at + static_cast<int64_t>(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            RaiseOsError("Cannot read file", path_, errno);
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

void FileStream::Write(const void* buffer, size_t count)
{
    if (const int err = fs::InjectedFault({fs::FileOp::Write, path_, position_, count}))
        RaiseOsError("Cannot write file", path_, err);
    size_t done = 0;
    const auto* in = static_cast<const char*>(buffer);
    while (done < count) {
        const ssize_t n = ::pwrite(fd_, in + done, count - done, position_);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            RaiseOsError("Cannot write file", path_, errno);
        }
        done += static_cast<size_t>(n);
        position_ += n;
    }
}

void FileStream::SetSize(int64_t size)
{
    if (const int err = fs::InjectedFault({fs::FileOp::Write, path_, size, 0}))
        RaiseOsError("Cannot write file", path_, err);
    if (::ftruncate(fd_, size) != 0)
        RaiseOsError("Cannot write file", path_, errno);
}

// Lives beside FileStream so that Stream.cpp stays free of any file system
// and can be built into the Windows viewer as it is.
void MemoryStream::LoadFromFile(const std::string& path)
{
    FileStream file(path, FileStream::Mode::OpenRead);
    Clear();
    data_.resize(static_cast<size_t>(file.Size()));
    file.ReadWhole(data_.data(), data_.size());
    position_ = 0;
}

void FileStream::ReadPromised(void* buffer, size_t count)
{
    if (Read(buffer, count) != count)
        throw Error("Cannot read file \"" + path_ + "\". It became shorter while it was being read");
}

void FileStream::ExpectEnd()
{
    uint8_t more;
    if (Read(&more, 1) != 0)
        throw Error("Cannot read file \"" + path_ + "\". It became longer while it was being read");
}

void FileStream::ReadLast(void* buffer, size_t count)
{
    if (const int err = fs::InjectedFault({fs::FileOp::Read, path_, position_, count}))
        RaiseOsError("Cannot read file", path_, err);
    // One byte asked past the promise: a short read of a regular file is
    // its end, so the same call tells whether the file went on.
    uint8_t more = 0;
    iovec parts[2] = {{buffer, count}, {&more, 1}};
    ssize_t n = 0;
    do
        n = ::preadv(fd_, parts, 2, position_);
    while (n < 0 && errno == EINTR);
    if (n < 0)
        RaiseOsError("Cannot read file", path_, errno);
    const auto got = static_cast<size_t>(n);
    if (got > count)
        throw Error("Cannot read file \"" + path_ + "\". It became longer while it was being read");
    position_ += n;
    if (got < count) {
        ReadPromised(static_cast<uint8_t*>(buffer) + got, count - got);
        ExpectEnd();
    }
}

void FileStream::ReadWhole(void* buffer, size_t count)
{
    // In blocks, so that a failure in the middle of a big file is one of
    // the file layer's operations like any other.
    constexpr size_t kBlock = 256 * 1024;
    auto* out = static_cast<uint8_t*>(buffer);
    if (count == 0)
        ExpectEnd();
    for (size_t done = 0; done < count;) {
        const size_t want = std::min(kBlock, count - done);
        if (done + want == count)
            ReadLast(out + done, want);
        else
            ReadPromised(out + done, want);
        done += want;
    }
}

namespace {

FileState StateOfStat(const struct stat& st)
{
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), static_cast<int64_t>(st.st_size),
            static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

} // namespace

std::unique_ptr<FileStream> FileStream::Duplicate() const
{
    const int fd = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        RaiseOsError("Cannot open file", path_, errno);
    return std::unique_ptr<FileStream>(new FileStream(path_, fd, readSize_));
}

FileState FileStream::State() const
{
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        return {};
    return StateOfStat(st);
}

std::optional<FileState> FileStream::StateOf(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return StateOfStat(st);
}

} // namespace qv
