// The version resource parser on arbitrary bytes.
#include "quorvane/base/Error.h"
#include "quorvane/resources/VersionResource.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const uint8_t kNone = 0;
    auto details = qv::CreateFromData<qv::VersionInfoResourceDetails>(nullptr, size ? data : &kNone, size, "16",
                                                                       "1", 0);
    try {
        (void)details->StringValues();
        (void)details->Translations();
    } catch (const qv::Error&) {
    }
    return 0;
}
