// The icon file reader on arbitrary bytes, and the picture queries of the
// images it accepts.
#include "quorvane/base/Error.h"
#include "quorvane/resources/IconFile.h"
#include "quorvane/resources/PictureResources.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    qv::IconFileReader icon;
    try {
        icon.LoadFromBytes(std::span<const uint8_t>(data, size));
    } catch (const qv::Error&) {
        return 0;
    }
    for (int i = 0; i < icon.ImageCount(); ++i) {
        const qv::IconFileImage& image = icon.GetImage(i);
        auto details = qv::CreateFromData<qv::IconImageResourceDetails>(nullptr, image.Bytes.data(), image.Bytes.size(),
                                                                    "3", "1", 0);
        try {
            (void)details->GetWidth();
            (void)details->GetHeight();
            (void)details->GetPixelFormat();
        } catch (const qv::Error&) {
        }
    }
    return 0;
}
