// Opens any bytes as an archive, lists it and extracts every entry. Errors
// are the expected outcome; crashes, hangs and huge allocations are not.
#include "quorvane/archive/ArchivePaths.h"
#include "quorvane/archive/ArchiveReader.h"
#include "quorvane/base/Stream.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // With the checksum on, almost every input stops there; without it the
    // directory and the entries see the mutations too.
    for (const bool verify : {false, true}) {
        qv::MemoryStream stream(std::vector<uint8_t>(data, data + size));
        try {
            qv::ArchiveReader::Options options;
            options.VerifyArchiveCRC = verify;
            qv::ArchiveReader reader(stream, options);
            for (size_t i = 0; i < reader.Count(); ++i) {
                const auto& entry = reader.Entry(i);
                (void)qv::UnsafeExtractionReason(entry.ArchiveName());
                (void)reader.IndexOf(entry.ArchiveName());
                try {
                    size_t total = 0;
                    reader.Extract(i, [&total](const uint8_t*, size_t n) { total += n; });
                    if (total != static_cast<size_t>(entry.FileSize))
                        __builtin_trap();
                    (void)reader.Extract(i);
                } catch (const qv::Error&) {
                }
            }
        } catch (const qv::Error&) {
        }
    }
    return 0;
}
