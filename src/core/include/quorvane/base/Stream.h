#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qv {

// A seekable byte stream with 64-bit size and position. Writes either write
// everything or throw; reads return what they got, ReadExact throws
// "Stream read error" on a short read.
class Stream {
public:
    virtual ~Stream() = default;
    virtual int64_t Size() const = 0;
    virtual int64_t Position() const = 0;
    virtual void Seek(int64_t position) = 0;
    virtual size_t Read(void* buffer, size_t count) = 0;
    virtual void Write(const void* buffer, size_t count) = 0;
    // Truncates or extends; the position stays where it was.
    virtual void SetSize(int64_t size) = 0;

    void ReadExact(void* buffer, size_t count);
    // Reading a source whole, as far as Size() said at the start: a short
    // read, and more left after that much (ExpectEnd), mean the source
    // changed while it was read. Bytes in memory cannot change.
    virtual void ReadPromised(void* buffer, size_t count) { ReadExact(buffer, count); }
    virtual void ExpectEnd() {}
    // The promised read of a source's last block, then ExpectEnd.
    virtual void ReadLast(void* buffer, size_t count)
    {
        ReadPromised(buffer, count);
        ExpectEnd();
    }
    // Copies `count` bytes from the source's current position; a count of 0
    // copies the whole source from its start.
    void CopyFrom(Stream& source, int64_t count);
};

class MemoryStream final : public Stream {
public:
    MemoryStream() = default;
    explicit MemoryStream(std::vector<uint8_t> bytes) : data_(std::move(bytes)) {}

    int64_t Size() const override { return static_cast<int64_t>(data_.size()); }
    int64_t Position() const override { return position_; }
    void Seek(int64_t position) override;
    size_t Read(void* buffer, size_t count) override;
    void Write(const void* buffer, size_t count) override;
    void SetSize(int64_t size) override;

    // Empties the stream; the allocation is kept for reuse.
    void Clear();
    void LoadFromFile(const std::string& path);
    const uint8_t* Data() const { return data_.data(); }
    uint8_t* Data() { return data_.data(); }
    const std::vector<uint8_t>& Bytes() const { return data_; }

private:
    std::vector<uint8_t> data_;
    int64_t position_ = 0;
};

// Which file a path names, and its bytes as of their last change: a file
// renamed over the path, or one rewritten in place, has another state.
struct FileState {
    uint64_t device = 0, inode = 0;
    int64_t size = 0, modifiedNs = 0;
    friend bool operator==(const FileState&, const FileState&) = default;
};

// A file on disk. Opening failures raise OsError naming the file; for
// reading only regular files open (never waiting on a named pipe). Every
// operation passes the file layer's fault seam (platform/FileFaults.h).
class FileStream final : public Stream {
public:
    enum class Mode { Create, OpenRead, OpenReadWrite };
    FileStream(const std::string& path, Mode mode);
    ~FileStream() override;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    // Opened for reading: the size the file had when it was opened.
    int64_t Size() const override;
    int64_t Position() const override { return position_; }
    void Seek(int64_t position) override;
    size_t Read(void* buffer, size_t count) override;
    void Write(const void* buffer, size_t count) override;
    void SetSize(int64_t size) override;
    // Reads at `at` without moving the position, so one thread may read
    // what another has written, each at its own place.
    size_t ReadAt(int64_t at, void* buffer, size_t count) const;

    // A file that ends sooner or goes on fails naming the file, so a file
    // changed while it is packed never passes as whole.
    void ReadPromised(void* buffer, size_t count) override;
    void ExpectEnd() override;
    void ReadLast(void* buffer, size_t count) override;

    const std::string& Path() const { return path_; }
    // Reads `count` bytes from the current position that must be all the
    // rest of the file (ReadPromised in blocks, then ExpectEnd).
    void ReadWhole(void* buffer, size_t count);
    // Flushes to the device and closes; failures raise OsError. The
    // destructor closes silently.
    void Close();

    // Another stream on the same open file, with a position of its own:
    // what it reads stays that file's even after another file is renamed
    // over the path. Throws OsError naming the file.
    std::unique_ptr<FileStream> Duplicate() const;
    // The open file's state; StateOf gives the state of whatever the path
    // names now, nullopt when nothing regular is there.
    FileState State() const;
    static std::optional<FileState> StateOf(const std::string& path);

private:
    std::string path_;
    int fd_ = -1;
    int64_t position_ = 0;
    // A file opened for reading is sized once: what it promises is checked
    // as it is read, and a site of small files would pay a call per file.
    int64_t readSize_ = -1;

    FileStream(std::string path, int fd, int64_t readSize) : path_(std::move(path)), fd_(fd), readSize_(readSize) {}
};

} // namespace qv
