// The settings image reader the viewers use, on arbitrary bytes. An image
// written from what it read must read back to the same record.
#include "quorvane/base/Error.h"
#include "quorvane/project/ProjectSettings.h"

#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    qv::ProjectSettingsRecord read;
    try {
        read = qv::ReadSettingsImage(std::span<const uint8_t>(data, size));
    } catch (const qv::Error&) {
        return 0;
    }
    const auto image = qv::WriteSettingsImage(read);
    if (qv::WriteSettingsImage(qv::ReadSettingsImage(image)) != image)
        __builtin_trap();
    return 0;
}
