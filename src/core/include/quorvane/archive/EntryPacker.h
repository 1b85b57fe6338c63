#pragma once
#include "quorvane/base/Stream.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace qv {

// How hard an entry is compressed. The numbers are what a record's Level
// byte holds.
enum class CompressionLevel : uint8_t { None = 0, Fastest = 1, Default = 2, Maximum = 3 };

// Where a compressor's zlib stream and its progress go, in order.
class PackSink {
public:
    virtual ~PackSink() = default;
    // Each full 65,536-byte output block as it is handed on, then the last,
    // partial one.
    virtual void Data(const uint8_t* bytes, size_t size) = 0;
    // After each full block: source bytes the compressor has taken so far,
    // out of `total`.
    virtual void Progress(int64_t consumed, int64_t total) = 0;
};

// What compressing one source gave.
struct PackResult {
    int64_t SourceSize = 0;      // what the source measured when compression began
    int64_t Consumed = 0;        // bytes fed to the compressor; less when stopped
    uint32_t CRC = 0;            // CRC-32 of the bytes fed
    int64_t CompressedSize = 0;  // length of the zlib stream
    CompressionLevel Level{};

    bool Complete() const { return Consumed == SourceSize; }
};

// Turns sources into zlib streams (method 8, window bits 15, memory level 8,
// default strategy), one after another on one thread, with one deflate state
// reused through deflateReset: a fraction of deflateInit2's cost, the same
// bytes. Sources are fed in 61,440-byte blocks into a 65,536-byte output
// buffer; level 0's stored blocks depend on both sizes, so they are fixed.
class EntryPacker {
public:
    EntryPacker();
    ~EntryPacker();
    EntryPacker(const EntryPacker&) = delete;
    EntryPacker& operator=(const EntryPacker&) = delete;

    // The whole of Source from its start, block by block, CRC-32 in the same
    // pass. `stop` is asked before each block; when it holds, the stream is
    // finished with what was fed. Source failures propagate; so do the sink's.
    PackResult Pack(Stream& source, CompressionLevel level, PackSink& sink, const std::function<bool()>& stop);

    // The same stream piecemeal, for input already in memory. Progress totals
    // are `total`.
    void Begin(CompressionLevel level, PackSink& sink, int64_t total);
    void Write(const uint8_t* data, size_t size);
    // Returns the length of the finished stream.
    int64_t Finish();

private:
    class Deflater;
    std::unique_ptr<Deflater> deflater_;
    std::vector<uint8_t> block_;
};

} // namespace qv
