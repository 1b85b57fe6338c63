// Reads resources from arbitrary bytes; whatever reads, we must be able to
// write back (or refuse cleanly), and our own output must read back as
// exactly the list we wrote.
#include "quorvane/platform/pe/PeResources.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> image(data, size);
    std::vector<qv::pe::ResourceEntry> entries;
    try {
        entries = qv::pe::ReadResources(image);
    } catch (const qv::Error&) {
        return 0;
    }
    std::vector<uint8_t> rewritten;
    try {
        rewritten = qv::pe::ReplaceResources(image, entries);
    } catch (const qv::Error&) {
        return 0;  // a layout we cannot grow, or an identifier we cannot store
    }
    if (qv::pe::ReadResources(rewritten) != qv::pe::CanonicalResources(entries))
        std::abort();
    return 0;
}
