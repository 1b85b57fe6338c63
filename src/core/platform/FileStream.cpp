#include "quorvane/base/Error.h"
#include "quorvane/base/Stream.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

FileStream::FileStream(const std::string& path, Mode mode) : path_(path)
{
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::Create: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case Mode::OpenRead: flags |= O_RDONLY; break;
    case Mode::OpenReadWrite: flags |= O_RDWR; break;
    }
    fd_ = ::open(path.c_str(), flags, 0644);
    if (fd_ < 0)
        RaiseOsError(mode == Mode::Create ? "Cannot create file" : "Cannot open file", path, errno);
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        RaiseOsError("Cannot open file", path, EISDIR);
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
    if (::close(fd) != 0)
        RaiseOsError("Cannot write file", path_, errno);
}

int64_t FileStream::Size() const
{
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
    file.ReadExact(data_.data(), data_.size());
    position_ = 0;
}

} // namespace qv
