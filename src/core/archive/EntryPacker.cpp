#include "quorvane/archive/EntryPacker.h"

#include "quorvane/archive/Crc32.h"
#include "quorvane/base/Error.h"

#include <algorithm>
#include <limits>
#include <string>
#include <zlib.h>

namespace qv {
namespace {

constexpr size_t kReadBlockSize = 61440;
constexpr size_t kDeflateBufferSize = 65536;

int ZLibLevel(CompressionLevel level)
{
    switch (level) {
    case CompressionLevel::None: return 0;
    case CompressionLevel::Fastest: return 1;
    case CompressionLevel::Default: return Z_DEFAULT_COMPRESSION;
    case CompressionLevel::Maximum: return 9;
    }
    return Z_DEFAULT_COMPRESSION;
}

} // namespace

// Collects the zlib output in a 65,536-byte buffer and hands every full
// buffer to the sink, then reports how much input it has consumed. The
// final, partial buffer is not reported.
class EntryPacker::Deflater {
public:
    Deflater() : buffer_(kDeflateBufferSize) {}
    ~Deflater()
    {
        if (ready_)
            deflateEnd(&z_);
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    void Begin(int level, PackSink& sink, int64_t total)
    {
        if (ready_ && level != level_) {
            deflateEnd(&z_);
            ready_ = false;
        }
        if (!ready_) {
            z_ = z_stream{};
            Check(deflateInit2(&z_, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY));
            ready_ = true;
            level_ = level;
        } else {
            Check(deflateReset(&z_));
        }
        sink_ = &sink;
        total_ = total;
        consumed_ = 0;
        produced_ = 0;
        z_.next_out = buffer_.data();
        z_.avail_out = static_cast<uInt>(buffer_.size());
    }

    void Write(const uint8_t* data, size_t size)
    {
        while (size > 0) {
            // zlib counts its input in 32 bits.
            const size_t slice = std::min<size_t>(size, std::numeric_limits<uInt>::max());
            z_.next_in = const_cast<Bytef*>(data);
            z_.avail_in = static_cast<uInt>(slice);
            while (z_.avail_in > 0) {
                const uInt before = z_.avail_in;
                Check(deflate(&z_, Z_NO_FLUSH));
                consumed_ += before - z_.avail_in;
                if (z_.avail_out == 0)
                    FlushFull();
            }
            data += slice;
            size -= slice;
        }
    }

    int64_t Finish()
    {
        z_.next_in = nullptr;
        z_.avail_in = 0;
        for (;;) {
            const int rc = deflate(&z_, Z_FINISH);
            Check(rc);
            if (z_.avail_out == 0)
                FlushFull();
            if (rc == Z_STREAM_END)
                break;
        }
        const size_t pending = buffer_.size() - z_.avail_out;
        if (pending > 0)
            sink_->Data(buffer_.data(), pending);
        sink_ = nullptr;
        return produced_ + static_cast<int64_t>(pending);
    }

private:
    void FlushFull()
    {
        sink_->Data(buffer_.data(), buffer_.size());
        produced_ += static_cast<int64_t>(buffer_.size());
        z_.next_out = buffer_.data();
        z_.avail_out = static_cast<uInt>(buffer_.size());
        sink_->Progress(consumed_, total_);
    }

    static void Check(int rc)
    {
        if (rc != Z_OK && rc != Z_STREAM_END)
            throw Error("Compression error (zlib " + std::to_string(rc) + ")");
    }

    z_stream z_{};
    bool ready_ = false;
    int level_ = 0;
    std::vector<uint8_t> buffer_;
    PackSink* sink_ = nullptr;
    int64_t total_ = 0;
    int64_t consumed_ = 0;
    int64_t produced_ = 0;
};

EntryPacker::EntryPacker() : deflater_(std::make_unique<Deflater>()) {}
EntryPacker::~EntryPacker() = default;

void EntryPacker::Begin(CompressionLevel level, PackSink& sink, int64_t total)
{
    deflater_->Begin(ZLibLevel(level), sink, total);
}

void EntryPacker::Write(const uint8_t* data, size_t size) { deflater_->Write(data, size); }

int64_t EntryPacker::Finish() { return deflater_->Finish(); }

PackResult EntryPacker::Pack(Stream& source, CompressionLevel level, PackSink& sink,
                             const std::function<bool()>& stop)
{
    PackResult result;
    result.Level = level;
    result.SourceSize = source.Size();
    Begin(level, sink, result.SourceSize);
    source.Seek(0);
    const size_t blockSize = static_cast<size_t>(std::min<int64_t>(result.SourceSize, kReadBlockSize));
    block_.resize(blockSize);
    uint32_t crc = 0xFFFFFFFFu;
    int64_t remaining = result.SourceSize;
    while (remaining != 0 && !(stop && stop())) {
        const size_t n = static_cast<size_t>(std::min<int64_t>(remaining, static_cast<int64_t>(blockSize)));
        if (static_cast<int64_t>(n) == remaining)
            source.ReadLast(block_.data(), n);
        else
            source.ReadPromised(block_.data(), n);
        crc = UpdateCRC32(crc, block_.data(), n);
        Write(block_.data(), n);
        remaining -= static_cast<int64_t>(n);
    }
    if (result.SourceSize == 0)
        source.ExpectEnd();
    result.Consumed = result.SourceSize - remaining;
    result.CRC = result.Consumed > 0 ? crc ^ 0xFFFFFFFFu : 0;
    result.CompressedSize = Finish();
    return result;
}

} // namespace qv
