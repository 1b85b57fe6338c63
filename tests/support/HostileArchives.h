#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Outputs made to cost their reader: each is small on disk and, read
// naively, takes far more memory or disk than it holds. A sound reader
// refuses each quickly (see archive_reader_test and hostile_bench).
namespace qvtest {

// About 1 MB: its "-config-" truly inflates to 1 GiB of zeros.
std::vector<uint8_t> ConfigBomb();
// A directory of about 214 KB, one record repeated 112,000 times, whose
// trailer claims records of 1,000 times its size.
std::vector<uint8_t> DirectoryBomb();
// About 65 KB: four entries name one zlib run of 64 MiB of zeros.
std::vector<uint8_t> SharedRunBomb();

// The zlib stream of `piece` repeated `times` times, made without holding
// (or compressing) the whole.
std::vector<uint8_t> DeflateRepeated(const std::vector<uint8_t>& piece, size_t times);

} // namespace qvtest
