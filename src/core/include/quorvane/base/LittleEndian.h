#pragma once
#include "quorvane/base/Error.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

// Little-endian fields: the one checked reader and the one writer behind
// every binary layout we read or write (archive, settings image, PE headers,
// icons, version information). Portable: the Windows viewer compiles it too.
namespace qv {

// "0x1a": how offsets appear in the messages about binary layouts.
std::string Hex(uint64_t value);

// A read that would pass the end of the bytes; offset() is where it began.
class ByteRangeError : public Error {
public:
    ByteRangeError(const std::string& message, uint64_t offset) : Error(message), offset_(offset) {}
    uint64_t offset() const noexcept { return offset_; }

private:
    uint64_t offset_;
};

template <typename T>
concept LeField = (std::is_integral_v<T> && !std::is_same_v<T, bool>) || std::is_same_v<T, double>;

template <typename T>
struct LeBitsOf {
    using type = std::make_unsigned_t<T>;
};
template <>
struct LeBitsOf<double> {
    using type = uint64_t;
};
template <LeField T>
using LeBits = typename LeBitsOf<T>::type;

// Reads fields from bytes that came from outside, at an offset (Get, Bytes)
// or from a cursor (Read, ReadBytes). Every read is checked against the end
// before it happens, with offsets and counts in 64 bits so that sums of
// 32-bit fields cannot wrap. A read past the end fails with the problem
// "<what> runs past the end of <limit>" at the offset base + offset: through
// `fail` when one is given (it must throw), else as ByteRangeError with
// " (offset 0x..)" added. The bytes are borrowed.
class LeReader {
public:
    using Failure = void (*)(const std::string& problem, uint64_t offset);

    // `limit` names the end for messages ("the file", "the resource
    // section"); `base` is the file offset of the first byte.
    explicit LeReader(std::span<const uint8_t> bytes, uint64_t base = 0, const char* limit = "the data",
                      Failure fail = nullptr)
        : bytes_(bytes), base_(base), limit_(limit), fail_(fail)
    {
    }

    uint64_t size() const { return bytes_.size(); }
    uint64_t base() const { return base_; }
    bool Has(uint64_t offset, uint64_t count) const { return offset <= size() && count <= size() - offset; }
    void Require(uint64_t offset, uint64_t count, std::string_view what) const
    {
        if (!Has(offset, count))
            Fail(offset, what);
    }

    template <LeField T>
    T Get(uint64_t offset, std::string_view what = "a field") const
    {
        Require(offset, sizeof(T), what);
        LeBits<T> bits = 0;
        for (size_t i = 0; i < sizeof(T); ++i)
            bits = static_cast<LeBits<T>>(bits | static_cast<LeBits<T>>(bytes_[offset + i]) << (8 * i));
        return std::bit_cast<T>(bits);
    }
    std::span<const uint8_t> Bytes(uint64_t offset, uint64_t count, std::string_view what) const
    {
        Require(offset, count, what);
        return bytes_.subspan(offset, count);
    }

    uint64_t Position() const { return position_; }
    void Seek(uint64_t offset, std::string_view what)
    {
        Require(offset, 0, what);
        position_ = offset;
    }
    template <LeField T>
    T Read(std::string_view what = "a field")
    {
        const T value = Get<T>(position_, what);
        position_ += sizeof(T);
        return value;
    }
    std::span<const uint8_t> ReadBytes(uint64_t count, std::string_view what)
    {
        const auto bytes = Bytes(position_, count, what);
        position_ += count;
        return bytes;
    }

private:
    [[noreturn]] void Fail(uint64_t offset, std::string_view what) const;

    std::span<const uint8_t> bytes_;
    uint64_t base_;
    const char* limit_;
    Failure fail_;
    uint64_t position_ = 0;
};

// A write outside the bytes is a fault of ours, never of the input.
[[noreturn]] void FailWrite(uint64_t offset, size_t count, size_t size);

// Writes `value` little-endian at `offset`, which must leave room for it.
template <LeField T>
void PutLE(std::span<uint8_t> out, uint64_t offset, T value)
{
    if (offset > out.size() || sizeof(T) > out.size() - offset)
        FailWrite(offset, sizeof(T), out.size());
    const auto bits = std::bit_cast<LeBits<T>>(value);
    for (size_t i = 0; i < sizeof(T); ++i)
        out[offset + i] = static_cast<uint8_t>(bits >> (8 * i));
}

// Appends `value` little-endian to a byte container (vector or string).
template <LeField T, typename Bytes>
void AppendLE(Bytes& out, T value)
{
    const auto bits = std::bit_cast<LeBits<T>>(value);
    for (size_t i = 0; i < sizeof(T); ++i)
        out.push_back(static_cast<typename Bytes::value_type>(static_cast<uint8_t>(bits >> (8 * i))));
}

} // namespace qv
