#include "quorvane/base/Stream.h"

#include "quorvane/base/Error.h"

#include <algorithm>
#include <cstring>

namespace qv {

void Stream::ReadExact(void* buffer, size_t count)
{
    if (Read(buffer, count) != count)
        throw Error("Stream read error");
}

void Stream::CopyFrom(Stream& source, int64_t count)
{
    if (count == 0) {
        source.Seek(0);
        count = source.Size();
    }
    // Bytes already in memory go across in one write, without a bounce buffer.
    if (auto* memory = dynamic_cast<MemoryStream*>(&source)) {
        const int64_t at = memory->Position();
        if (at + count > memory->Size())
            throw Error("Stream read error");
        Write(memory->Data() + at, static_cast<size_t>(count));
        memory->Seek(at + count);
        return;
    }
    std::vector<uint8_t> block(static_cast<size_t>(std::min<int64_t>(count, 1 << 16)));
    while (count > 0) {
        const size_t n = static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(block.size())));
        source.ReadExact(block.data(), n);
        Write(block.data(), n);
        count -= static_cast<int64_t>(n);
    }
}

void MemoryStream::Seek(int64_t position)
{
    if (position < 0)
        throw Error("Stream seek error");
    position_ = position;
}

size_t MemoryStream::Read(void* buffer, size_t count)
{
    if (position_ >= Size())
        return 0;
    const size_t n = std::min(count, static_cast<size_t>(Size() - position_));
    std::memcpy(buffer, data_.data() + position_, n);
    position_ += static_cast<int64_t>(n);
    return n;
}

void MemoryStream::Write(const void* buffer, size_t count)
{
    if (count == 0)
        return;
    const size_t end = static_cast<size_t>(position_) + count;
    if (end > data_.size())
        data_.resize(end);
    std::memcpy(data_.data() + position_, buffer, count);
    position_ = static_cast<int64_t>(end);
}

void MemoryStream::SetSize(int64_t size)
{
    if (size < 0)
        throw Error("Stream size error");
    data_.resize(static_cast<size_t>(size));
}

void MemoryStream::Clear()
{
    data_.clear();
    position_ = 0;
}

} // namespace qv
